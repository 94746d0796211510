#pragma once

#include "impresora-virtual/ImpresoraVirtual.h"

#include <QString>
#include <chrono>
#include <optional>
#include <vector>

// A network receipt printer on 127.0.0.1 (or another address of this machine,
// for programs on the LAN): the program under test connects to
// Destino() ("tcp:127.0.0.1:PORT") as its port. Each connection is a stream
// of the printer's bytes; a status request is answered on the connection it
// came on (see ImpresoraVirtual). Connections are taken as they come, several
// at a time if need be.
//
// A Conducta makes it misbehave as real network printers do:
//   NoLee              takes the connection and never reads from it
//   ReiniciaTrasListo  answers ready to a connection's first status request,
//                      throws away what comes after it (nothing is printed)
//                      and resets the connection at the next request
//   Inunda             sends bytes (0x55) on every connection without pause
//   AceptaLento        takes each connection kDemoraAceptar ms after it came
//   Tarda              answers every status request kDemoraRespuesta ms late
//   MedioCierre        closes its sending half (FIN) on taking a connection
//                      and keeps reading and printing
//   MedioCierreTarde   the same after its first answer on a connection
// With a model (UsarModelo) a printer that is off refuses connections.
// A printer that refuses connections is one that was Cerrar()ed.
class ImpresoraTcp final : public ImpresoraVirtual {
public:
    enum class Conducta { Normal, NoLee, ReiniciaTrasListo, Inunda, AceptaLento, Tarda, MedioCierre, MedioCierreTarde };
    static constexpr int kDemoraAceptar = 2500;   // ms
    static constexpr int kDemoraRespuesta = 1500; // ms

    // "normal", "no-lee", "reinicia", "inunda", "acepta-lento", "tarda",
    // "medio-cierre", "medio-cierre-tarde"; nullopt
    // for any other name.
    static std::optional<Conducta> ConductaDeNombre(const QString& nombre);

    // Listens on `puerto`, or on one the system picks when it is 0, at
    // `direccion` (an IPv4 address; 127.0.0.1 when empty).
    explicit ImpresoraTcp(quint16 puerto = 0, const QString& direccion = QString());
    ~ImpresoraTcp() override;

    // An IPv4 address in dotted form, as the constructor takes it.
    static bool DireccionValida(const QString& direccion);

    // False when the port could not be had; Error() says why.
    bool Abierta() const { return m_escucha >= 0; }
    const QString& Error() const { return m_error; }

    quint16 Puerto() const { return m_puerto; }
    // The text for setting ORLAN/Puertos/COMn.
    QString Destino() const { return QStringLiteral("tcp:%1:%2").arg(m_direccion).arg(m_puerto); }

    QList<Pieza> AtenderPiezas(int milisegundos) override;

    void EstablecerConducta(Conducta c) { m_conducta = c; }

    // As a network printer does: one connection at a time, the next one
    // waiting in the backlog until the one being served closes.
    void EstablecerUnaALaVez(bool una) { m_unaALaVez = una; }

    // Closes a connection that sent nothing for `milisegundos`, as a
    // network printer frees itself from a client that went quiet (0: never).
    void EstablecerInactividad(int milisegundos) { m_inactividad = milisegundos; }

    // Connections taken so far.
    int Conexiones() const { return m_conexiones; }

    // Stops listening and drops every connection.
    void Cerrar();

private:
    using Instante = std::chrono::steady_clock::time_point;
    struct Cliente {
        int fd;
        int estadoPedido;
        int id;
        bool respondio = false;           // ReiniciaTrasListo, MedioCierreTarde: an answer was given
        std::vector<Instante> respuestas; // Tarda: when each answer is due
        Instante ultimo{};                // when it last sent bytes, or connected
    };

    // Reads from a client that has bytes; false when it is gone.
    bool Leer(Cliente& c, QList<Pieza>& piezas);
    // Binds and listens on m_puerto (any port while 0).
    bool Escuchar();
    // With a model: follows its power (see UsarModelo), feeds it what was
    // read, prints and sends its answers.
    void SeguirEnergia(QList<Pieza>& piezas);
    void Responder(int conexion, const QByteArray& bytes);
    void Entregar(const ModeloImpresora::Salida& salida, QList<Pieza>& piezas);
    void Aceptar();

    int m_escucha = -1;
    quint16 m_puerto = 0;
    QString m_direccion;
    QString m_error;
    std::atomic<bool> m_unaALaVez{false};
    std::atomic<int> m_inactividad{0}; // ms
    std::vector<Cliente> m_clientes;
    std::atomic<int> m_conexiones{0};
    std::atomic<Conducta> m_conducta{Conducta::Normal};
    Instante m_esperandoDesde{}; // AceptaLento: a connection waits since
    bool m_sinEnergia = false;   // model off: not listening
};
