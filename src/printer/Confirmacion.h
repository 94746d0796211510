#pragma once

#include "printer/RespuestasImpresora.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QtGlobal>
#include <array>
#include <functional>
#include <optional>

class PuertoCom;

// How the printer control learns that a printer took a job: the paper-status
// request of a status check, the probe of a network or USB printer for GS r 1,
// the request after a job, the confirmation windows of jobs confirmed by
// DLE EOT 4, and the bookkeeping of each opening of a port that the windows
// are tied to. It works on the control's four serial objects; which one is
// bound, and the printer's mode, the control passes in.
class Confirmacion {
public:
    explicit Confirmacion(std::array<PuertoCom, 4>& puertos);
    Confirmacion(const Confirmacion&) = delete;
    Confirmacion& operator=(const Confirmacion&) = delete;

    // The slowest printer the waits are sized for (bytes of text a second)
    // and the largest receive buffer they allow for.
    static constexpr qint64 kVelocidadMinima = 500;
    static constexpr qint64 kBuferImpresora = 4096;

    // Late in-order answers kept between requests: a printer that sends
    // without pause keeps only its newest ones, and is logged once.
    static constexpr qsizetype kTardiasMaximas = 4096;

    // How long a probe's verdict stands before the printer is asked again.
    static constexpr qint64 kVigenciaSondeo = 3600; // seconds

    // How long a printer has to answer the paper-status request, in ms.
    static constexpr qint64 kEsperaEstado = 2000;

    // The control's port `numero` (1-4); null for any other number.
    PuertoCom* Serie(qint16 numero) const;

    // Blocking waits are cut into slices this long (ms), so that a deadline
    // on the wall clock (which tests and clock changes can move) is seen soon.
    static constexpr qint64 kTramoEspera = 200;

    // See ctlImpresora::Ventana.
    struct Ventana {
        qint16 puerto = 0;
        quint64 conexion = 0; // which opening of the port
        qint64 fin = 0;       // monotonic ms (QDeadlineTimer::current())
    };
    // See ctlImpresora::RevisarVentana.
    enum class Cierre { Abierta, Cumplida, Perdida };

    // A new binding of the control to a port: what the last one learnt is
    // forgotten. On a connection kept for windows (`reutilizada`) the
    // requests still owed an answer belong to the connection and are kept:
    // a late answer must still settle the request it answers.
    void Vincular(bool reutilizada);
    // The bound port leads to a network or USB printer.
    void EstablecerSinLinea(bool sinLinea) { m_sinLinea = sinLinea; }
    bool SinLinea() const { return m_sinLinea; }
    // Where the bound serial object led when it was opened; a reconnection
    // must lead there too.
    void AnotarDestino(const QString& destino) { m_destino = destino; }
    // The serial printer answered the status request at its binding: its
    // jobs are confirmed.
    void AnotarRespuestaEstado(bool respondio) { m_respondioEstado = respondio; }
    // Bytes sent on the bound port since its binding or its last confirmation.
    void ContarEnviados(qint64 bytes) { m_enviados += bytes; }

    // Opens port `numero` (1 to 4) if closed, as a new opening; a null
    // settings text keeps the object's own settings.
    bool Abrir(qint16 numero, const QString& settings);
    // Port `numero` is a network or USB connection with a window still open
    // or not yet proven, still leading where the port's setting leads.
    bool ConVentana(qint16 numero) const;
    // The printer on port `numero` answered ready on its current opening now.
    void AnotarLista(qint16 numero);

    // Asks the paper status (DLE EOT 4) on port `numero`, waiting up to
    // `milisegundos` on a serial printer; a network or USB printer is asked
    // as a job's confirmation would ask it, and only an answer in DLE EOT's
    // format counts. `respuesta` is 0 when none came. False when the port
    // failed or the connection was lost.
    bool LeerEstadoPapel(qint16 numero, int& respuesta, qint64 milisegundos);
    // Asks the bound network or USB printer, with nothing in its buffer from
    // us, whether it answers GS r 1, and remembers the answer for `puerto`;
    // a verdict younger than kVigenciaSondeo is taken from the settings
    // instead. False when the connection was lost.
    // One silent probe is no verdict (the printer may be printing an
    // earlier connection's bytes): the job is then confirmed as one without
    // GS r 1 would be, and the printer is probed again.
    bool Sondear(PuertoCom& p, const QString& puerto);

    // See ctlImpresora::ConfirmarRecepcion. `p` is the bound serial object
    // of port `numero`, null for a parallel port; `modo` the printer's mode.
    // On a failure `causa` says why; `papelBajo` is set once the printer
    // answered.
    bool Confirmar(PuertoCom* p, qint16 numero, qint16 modo, QString& causa, bool& papelBajo);
    const std::optional<Ventana>& VentanaPendiente() const { return m_ventana; }
    Cierre RevisarVentana(const Ventana& ventana);

    // See ctlImpresora::EstablecerLatido.
    void EstablecerLatido(std::function<void()> latido) { m_latido = std::move(latido); }

    // The devices (PuertoCom::Dispositivo) of printers that answer DLE EOT
    // but not GS r 1, as last probed (by this process or, through the
    // settings, an earlier one): their answer comes ahead of their buffer.
    static bool SoloTiempoReal(const QString& dispositivo);
    // The printer at `dispositivo` is probed again at its next status request.
    static void SondearDeNuevo(const QString& dispositivo);
    // A probe's verdict for `dispositivo` is kept in the section of port
    // `puerto`, however old.
    static bool VeredictoGuardado(const QString& puerto, const QString& dispositivo);
    // Paper near its end is logged once per device, until it reports
    // otherwise, whichever request told it (DLE EOT 4 before a job, GS r 1
    // after it). `quien` names the printer in the log.
    static void RegistrarPapelBajo(const QString& dispositivo, bool bajo, const QString& quien);

private:
    // One opening of a port: where it led, and the confirmation windows of
    // the jobs sent on it (monotonic ms).
    struct Apertura {
        quint64 numero = 0;
        QString destino;
        qint64 finVentana = 0; // the end of the last window opened on it; 0: none
        qint64 comprobada = 0; // when the printer last answered ready on it
    };
    static constexpr qsizetype kProbadas = 64;

    Apertura& De(qint16 numero) { return m_aperturas[static_cast<std::size_t>(numero - 1)]; }
    const Apertura& De(qint16 numero) const { return m_aperturas[static_cast<std::size_t>(numero - 1)]; }

    // What may still be ahead of a request on port `numero`'s connection,
    // in bytes.
    qint64 EnCamino(PuertoCom& p, qint16 numero);
    // Sends `pedido` and waits for its answer as
    // ctlImpresora::ConfirmarRecepcion says; `respuesta` is -1 when none came. False when
    // the connection was lost.
    // Sondeo is GS r 1 on an empty buffer: its answer takes milliseconds.
    enum class Pedido { TiempoReal, EnOrden, Sondeo };
    // A network printer that closed its sending half gets no request: the
    // answer is -1 at once and m_medioCerrada says why.
    bool Preguntar(PuertoCom& p, Pedido pedido, qint64 bytesAntes, int& respuesta);
    // Ends a half-closed network connection on port `numero` once the
    // printer took its `bytesAntes` bytes (or stopped taking them) and opens
    // a new one to the same printer; false when it cannot be opened or the
    // port now leads elsewhere.
    bool Reconectar(PuertoCom& p, qint16 numero, qint64 bytesAntes);
    // What arrived, sorted by answer format; automatic status back is skipped.
    using Llegadas = LlegadasImpresora;
    Llegadas Respuestas(QByteArrayView bytes);
    // Late in-order answers settle the requests that went unanswered, oldest
    // first; what is left over is returned.
    QList<int> Saldar(QList<int> enOrden);
    // Adds `nuevas` to the late answers, keeping the newest kTardiasMaximas.
    void GuardarTardias(const QList<int>& nuevas, const PuertoCom& p);

    std::array<PuertoCom, 4>& m_puertos;
    std::array<Apertura, 4> m_aperturas;
    // Earlier openings that carried windows, and when the printer last
    // answered ready on each: the windows the server has not looked at yet
    // that ended before that are proven. The newest kept.
    std::array<QMap<quint64, qint64>, 4> m_probadas;

    bool m_respondioEstado = false; // the serial printer answered at InicializarPuerto
    bool m_sinLinea = false;        // network or USB printer
    qint64 m_enviados = 0;          // bytes sent since the port was bound or last confirmed
    qint64 m_sinRespuesta = 0;      // in-order status requests on this port not answered in time
    int m_restoAsb = 0;             // bytes of an automatic status back still to skip
    QList<int> m_tardias;           // in-order answers that came during the last request, unasked
    std::function<void()> m_latido;
    bool m_medioCerrada = false;      // the last request found the network printer's sending half closed
    QString m_destino;                // where the bound serial object led when it was opened
    bool m_sondeoCallado = false;     // the last probe got no answer, see Sondear
    bool m_reutilizada = false;       // the bound connection was kept for windows
    std::optional<Ventana> m_ventana; // of the last Confirmar
};
