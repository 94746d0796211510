#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <chrono>
#include <deque>
#include <optional>
#include <vector>

// The hardware of a receipt printer as the way to it sees it: a receive
// buffer of a few kilobytes that stops taking bytes while full, a mechanism
// that empties it at print speed, and status requests of two kinds:
//
//   DLE EOT n (10 04 n)   real-time: answered the moment it arrives, ahead of
//                         everything still in the buffer (4: paper sensor,
//                         0x12 ready, 0x1E paper near its end, 0x72 out)
//   GS r n (1D 72 n)      answered when printing reaches it, that is after
//   GS ( H (1D 28 48 ..)  every byte before it (GS r 1: 0x00 ready, 0x03
//   GS I n (1D 49 n)      near end, 0x0F out; GS ( H: 37 22 d1-d4 00)
//
// GS a n (1D 61 n) with n other than 0 asks for automatic status back: four
// bytes (10 00 00 00 ready) at once and at every change of state; the option
// Asb sends them unasked on every connection, as printers set up that way do.
// A power cut loses the buffer and every request still in it. The option
// gsrTardeMs holds back the first answer to GS r 1, as a printer busy with
// something else for a while does once; the answers after it are on time.
//
// The model knows nothing of sockets or terminals: ImpresoraTcp and
// ImpresoraPty hand it what they read, as far as Espacio() lets them, and
// send the answers it gives to the connection that asked.
class ModeloImpresora {
public:
    enum class Estado { Lista, PapelBajo, SinPapel, TapaAbierta, FueraDeLinea };
    // "lista", "papel-bajo", "sin-papel", "tapa-abierta", "fuera-de-linea".
    static std::optional<Estado> EstadoDeNombre(const QString& nombre);

    struct Opciones {
        qsizetype bufer = 4096;         // receive buffer, bytes (0: no limit)
        int velocidad = 2500;           // bytes printed a second (0: at once)
        bool respondeEnOrden = true;    // GS r, GS ( H and GS I are answered
        bool respondeTiempoReal = true; // DLE EOT is answered
        bool asb = false;               // automatic status back on every connection
        int gsrTardeMs = 0;             // the first answer to GS r 1 goes out this late (0: on time)
    };

    using Reloj = std::chrono::steady_clock;

    explicit ModeloImpresora(const Opciones& opciones);

    // What the model gives back: bytes that reached paper, by connection, and
    // answers, by connection.
    struct Salida {
        struct Parte {
            int conexion;
            QByteArray bytes;
        };
        QList<Parte> impreso;
        QList<Parte> respuestas;
    };

    // Bytes it can take now (0 while the buffer is full); the way reads no
    // more than this. A printer that is off takes everything and keeps
    // nothing, as the line of a serial adapter does.
    qsizetype Espacio() const;

    // A connection begins (automatic status back, when set up for it) or a
    // new piece of one arrives. Answers to real-time requests go out at once.
    void Conectada(int conexion, Salida& salida);
    void Tomar(int conexion, QByteArrayView bytes, Salida& salida);

    // Prints what the speed allowed since the last call; in-order requests
    // reached are answered.
    void Imprimir(Salida& salida);

    // Milliseconds until Imprimir has something to do (-1: nothing pending):
    // a line to print or a late answer due.
    int HastaProximo() const;

    // A power cut: the buffer and its requests are lost. With `corte`, the
    // time the power went, what the speed printed until then still reaches
    // paper, given out by the next Imprimir.
    void Apagar(std::optional<Reloj::time_point> corte = std::nullopt);
    void Encender();
    bool Encendida() const { return m_encendida; }

    // Status back for the change goes out with the next Imprimir.
    void EstablecerEstado(Estado estado);
    Estado EstadoActual() const { return m_estado; }

    // Bytes still waiting to be printed.
    qsizetype EnBufer() const { return m_enBufer; }

private:
    struct Segmento {
        int conexion;
        QByteArray bytes;
    };
    struct Pedido {
        qint64 posicion; // answered once this many bytes were printed
        int conexion;
        QByteArray comando;
    };
    // Recognises the status requests in a connection's stream; an unfinished
    // command waits in `resto` for its other bytes.
    void Examinar(int conexion, QByteArray& resto, Salida& salida);
    QByteArray RespuestaTiempoReal(char n) const;
    QByteArray RespuestaEnOrden(const QByteArray& comando) const;
    QByteArray Asb() const;
    bool Detenida() const;
    // Prints what the speed allowed up to `ahora`.
    void Avanzar(Reloj::time_point ahora, Salida& salida);

    Opciones m_opciones;
    Estado m_estado = Estado::Lista;
    bool m_encendida = true;
    std::deque<Segmento> m_bufer;
    qsizetype m_enBufer = 0;
    qint64 m_tomados = 0;  // bytes taken since the model was made
    qint64 m_impresos = 0; // of them printed or lost in a power cut
    std::vector<Pedido> m_pedidos;
    std::vector<std::pair<int, QByteArray>> m_restos; // per connection
    std::vector<int> m_conAsb;                        // connections that asked for status back
    QList<Salida::Parte> m_avisos;                    // status back not yet sent
    QList<Salida::Parte> m_antesDelCorte;             // printed before a power cut, not yet given out
    Reloj::time_point m_ultimo = Reloj::now();        // printing is counted from here
    // The late answer to GS r 1 and when it is due; whether it was given or lost.
    std::optional<std::pair<Reloj::time_point, Salida::Parte>> m_tardia;
    bool m_gsrTardeDada = false;
};
