#pragma once

#include "printer/RespuestasImpresora.h"
#include "support/ErrorEjecucion.h"

#include <QByteArrayView>
#include <QDeadlineTimer>
#include <QList>
#include <QString>
#include <QtGlobal>
#include <functional>
#include <optional>
#include <string_view>

// The printer control: binds to one printer port at a time (an "LPT" port
// written through the parallel-port layer, or one of four "COM" ports),
// keeps the printer's dialect (1 Epson, 2 Citizen, 3 Star) and emits every
// command, text and the logo in that dialect.
//
// Failures are Boolean results and event-log lines. A port name whose fourth
// character is not a digit throws ErrorEjecucion (13, type mismatch) to the
// caller. A port name is read by NombrePuerto; any other name by its first
// four characters ("LPT1 de la cocina" is LPT1, "USB1" of an unknown kind).
// With the card's own registers (the "directo" backend) LPTn is the card's
// base plus n - 1, so LPT0 and a port past
// NombrePuerto::kUltimoParaleloDirecto are refused ("P") without touching a
// register.
//
// Serial ports: ConfigurarPuerto opens port n where setting
// ORLAN/Puertos/COMn leads (a serial device, a network printer tcp:HOST:PORT
// or a USB printer, see ports/PuertoCom.h) and asks for the paper status; a
// network printer that does not take the connection within 2 s cannot be
// printed on ("P"). Any state but "A" and "C" is followed in the event log by
// a line naming the printer, its port and the cause. The port stays open until
// CerrarPuerto(n), the next ConfigurarPuerto of a name with the digit n (an
// "LPTn" name too), or, for port 1, Recibir. A
// settings text that is omitted keeps the port's current settings (9600,N,8,1
// until changed). The parity letters "P" and "I" of the configuration form's
// "Par" and "Impar" open the port with even and odd parity. Port numbers
// outside 1 to 4 have no serial object: their classification gives "P" and
// nothing is sent to them.
//
// State values written to the settings store, section = port name:
// "Estado" (state number), "EstadoPapel" (serial answer byte), "EstadoReal"
// (parallel status byte, -1 when the port could not be read, which counts as
// "P"), and "<kind>" = "Desconocida" for an unknown port kind.
class PuertoCom;

class ctlImpresora {
public:
    ctlImpresora();
    ~ctlImpresora();
    ctlImpresora(const ctlImpresora&) = delete;
    ctlImpresora& operator=(const ctlImpresora&) = delete;

    // The public operations.
    bool InicializarPuerto(const QString& impresora, QString* estado_impresora = nullptr);
    void CerrarPuerto(qint16 NumberPort);
    bool ConfigurarPuerto(const QString& impresora, const QString& modo, const QString& settings = QString(),
                          QString* estado_impresora = nullptr);
    bool Imprimirln(QString& PsCadena);
    QString Recibir(); // throws ErrorRecibir on a time-out or a failed port
    void Cortar();
    bool Abrircaja();
    void Negrita(bool active);
    void Subrayado(bool active);
    void Invertido(bool active);
    void Color(bool active);
    void Avanzar(qint16 nLines = 0);
    bool Imprimir(const QString& PsCadena);
    void Expandido(bool active);
    void ExtraExpandido(bool active);
    void ResetCaracter();
    void ResetPrinter();
    void DocumentType(const QString& Tipo);
    QString GetNameModo() const;
    void SetModo(qint16 nModo);
    void PrintLogo();

    // After a job on a serial printer that answered the paper-status request
    // when its port was initialised, or on any network or USB printer: sends
    // GS r 1, which the printer answers only after it processed every byte
    // before it, and is true only when it answers paper present. Input left
    // unread (automatic status back, late answers) is discarded first, and
    // only a byte in the answer's format counts. The wait lasts while the
    // printer is still taking bytes (the unsent count keeps falling), then
    // kEsperaEstado plus the time to print a full receive buffer at the
    // slowest supported speed; never more than that plus the job's bytes at
    // that speed. A network or USB printer that the probe at its status
    // request found silent to GS r 1 (logged once; see SoloTiempoReal), and
    // every printer in Star mode, is asked DLE EOT 4 instead, and on a
    // network or USB printer that answer opens a window (VentanaPendiente).
    // A printer that answers GS r 1 but is silent to it after a job, and
    // answers DLE EOT 4, gets the same window for that job and is probed
    // again at its next status request: one slow answer is no verdict. A
    // late answer to GS r 1, with the DLE EOT answer or after it, shows a
    // printer that only stood still: it is asked GS r 1 again. A network printer that closed
    // its sending half (FIN) cannot answer on that connection: once it took
    // the job's bytes the connection is closed and the request goes on a new
    // one, which a network printer serves only after the one before it, so
    // the answer still comes after the job is printed. False when it went
    // silent, lost its connection or ran out of paper; Causa() then says
    // which. Serial printers that did not answer before, and parallel ports,
    // are not asked: true.
    bool ConfirmarRecepcion();

    // The slowest printer the waits are sized for (bytes of text a second)
    // and the largest receive buffer they allow for.
    static constexpr qint64 kVelocidadMinima = 500;
    static constexpr qint64 kBuferImpresora = 4096;

    // Late in-order answers kept between requests: a printer that sends
    // without pause keeps only its newest ones, and is logged once.
    static constexpr qsizetype kTardiasMaximas = 4096;

    // The devices (PuertoCom::Dispositivo) of printers that answer DLE EOT
    // but not GS r 1, as last probed (by this process or, through the
    // settings, an earlier one): their answer comes ahead of their buffer.
    static bool SoloTiempoReal(const QString& dispositivo);

    // The paper-sensor answer last stored for port `puerto` ("EstadoPapel")
    // says paper near its end and not out.
    static bool PapelBajoSegunAjustes(const QString& puerto);

    // How long a probe's verdict stands before the printer is asked again.
    static constexpr qint64 kVigenciaSondeo = 3600; // seconds

    // The bound network printer took the connection but did not answer the
    // status request, although it answered before: another sender holds it
    // (a network printer serves one connection at a time), or it is still
    // taking the bytes of a connection before ours. Its state is "F"; nothing
    // should be sent to it until it answers.
    bool Ocupada() const { return m_ocupada; }

    // Closes every connection to a network or USB printer, so that other
    // programs can print on it, but those on which a job's confirmation
    // window (see Ventana) is still open or not yet proven. Serial and
    // parallel ports stay as they are.
    void LiberarPuertos();

    // A job confirmed by DLE EOT 4 on a network or USB printer: that answer
    // comes as soon as the bytes arrive, ahead of the printing, and a power
    // cut empties the printer's buffer and always drops its connection. Such
    // a job is on paper only once the connection it came on has stayed up
    // for as long as printing it (and what is ahead of it in the printer)
    // takes at kVelocidadMinima. ConfirmarRecepcion then returns true and
    // leaves the job's window here; until RevisarVentana says Cumplida, the
    // job is not confirmed. Other jobs may be printed meanwhile: the
    // connection is kept for them.
    struct Ventana {
        qint16 puerto = 0;
        quint64 conexion = 0; // which opening of the port
        qint64 fin = 0;       // monotonic ms (QDeadlineTimer::current())
    };
    const std::optional<Ventana>& VentanaPendiente() const { return m_ventana; }
    // Abierta: wait. Cumplida: the connection stayed up through the window
    // and the printer answers ready on it. Perdida: the connection was lost
    // or closed, or the printer does not answer ready: the job may not be on
    // paper and is to be printed again.
    enum class Cierre { Abierta, Cumplida, Perdida };
    Cierre RevisarVentana(const Ventana& ventana);

    // The last answer of the bound network or USB printer said paper near
    // its end: it still prints.
    bool PapelBajo() const { return m_papelBajo; }

    // The last classification of the bound serial printer got no answer
    // although the same port answered before (since the program started).
    bool CalloTrasResponder() const { return m_calloTrasResponder; }

    // The bound port leads to a network or USB printer: the device taking the
    // bytes says nothing about the printer having them.
    bool SinLinea() const { return m_sinLinea; }

    // Called every fraction of a second while the control waits on a printer
    // (a job's confirmation, a connection draining), so that its user can
    // keep alive what it holds meanwhile; none by default. It must not throw.
    void EstablecerLatido(std::function<void()> latido) { m_latido = std::move(latido); }

    // Why the bound printer is failing, after a classification other than
    // "A" or "C" or a failed confirmation ("sin papel", "no contesta", ...).
    const QString& Causa() const { return m_causa; }

    // One user at a time: a job (or a test page) holds a Uso from its
    // InicializarPuerto to its last byte, and anyone else who would bind the
    // control to another port meanwhile asks EnUso() first.
    class Uso {
    public:
        explicit Uso(ctlImpresora& pr) : m_pr(pr) { ++m_pr.m_usos; }
        ~Uso() { --m_pr.m_usos; }
        Uso(const Uso&) = delete;
        Uso& operator=(const Uso&) = delete;

    private:
        ctlImpresora& m_pr;
    };
    bool EnUso() const { return m_usos > 0; }

    // A network or USB printer's job may take this long from the binding of
    // its port (ms); afterwards the port is closed and the rest of the job
    // fails at once, well within systemd's 90-s stop limit.
    static constexpr qint64 kPlazoTrabajo = 60000;

    qint16 ModoImpresora() const { return m_modoImpresora; }
    bool EsLpt() const { return m_esLpt; }
    qint16 NumeroPuerto() const { return m_numeroPuerto; }
    qint16 DireccionLpt() const { return m_direccionLpt; }

    // The settings text a serial port is opened with: the configuration form
    // stores the first letter of the Spanish parity names, so "P" (Par) and
    // "I" (Impar) become "E" (even) and "O" (odd). "E" keeps its serial
    // meaning, even, which is also what the form's "Espacio" has always given.
    // Any other text passes unchanged.
    static QString SettingsSerie(const QString& settings);

private:
    struct Privado;

    bool LeerEstadoPapel(int& respuesta, qint64 milisegundos);
    // Asks the bound network or USB printer, with nothing in its buffer from
    // us, whether it answers GS r 1, and remembers the answer for `puerto`;
    // a verdict younger than kVigenciaSondeo is taken from the settings
    // instead. False when the connection was lost.
    // One silent probe is no verdict (the printer may be printing an
    // earlier connection's bytes): the job is then confirmed as one without
    // GS r 1 would be, and the printer is probed again.
    bool Sondear(PuertoCom& p, const QString& puerto);
    // What may still be ahead of a request on port `numero`'s connection,
    // in bytes.
    qint64 EnCamino(PuertoCom& p, qint16 numero);
    // Sends `pedido` and waits for its answer as ConfirmarRecepcion says;
    // `respuesta` is -1 when none came. False when the connection was lost.
    // Sondeo is GS r 1 on an empty buffer: its answer takes milliseconds.
    enum class Pedido { TiempoReal, EnOrden, Sondeo };
    // A network printer that closed its sending half gets no request: the
    // answer is -1 at once and m_medioCerrada says why.
    bool Preguntar(PuertoCom& p, Pedido pedido, qint64 bytesAntes, int& respuesta);
    // Ends a half-closed network connection once the printer took its
    // `bytesAntes` bytes (or stopped taking them) and opens a new one to the
    // same printer; false when it cannot be opened or the port now leads
    // elsewhere.
    bool Reconectar(PuertoCom& p, qint64 bytesAntes);
    // What arrived, sorted by answer format; automatic status back is skipped.
    using Llegadas = LlegadasImpresora;
    Llegadas Respuestas(QByteArrayView bytes);
    // Late in-order answers settle the requests that went unanswered, oldest
    // first; what is left over is returned.
    QList<int> Saldar(QList<int> enOrden);
    // Adds `nuevas` to the late answers, keeping the newest kTardiasMaximas.
    void GuardarTardias(const QList<int>& nuevas, const PuertoCom& p);
    void Logo(QByteArrayView datos, QByteArrayView inicio);
    // Sends through the bound port: ImprimirCadena on a parallel port, Output
    // of the serial object otherwise. False only on a run-time failure.
    bool Enviar(QByteArrayView bytes);
    void EnviarComando(QByteArrayView bytes, std::string_view textoError);
    bool EnviarTexto(QStringView texto, bool conFinDeLinea);
    // Output through a serial object; see kPlazoTrabajo.
    bool Salida(PuertoCom& p, QByteArrayView bytes);

    qint16 m_modoImpresora = 0;
    bool m_esLpt = false;
    qint16 m_numeroPuerto = 0;
    qint16 m_direccionLpt = 0;
    bool m_respondioEstado = false; // the serial printer answered at InicializarPuerto
    bool m_sinLinea = false;        // network or USB printer
    qint64 m_enviados = 0;          // bytes sent since the port was bound or last confirmed
    qint64 m_sinRespuesta = 0;      // in-order status requests on this port not answered in time
    int m_restoAsb = 0;             // bytes of an automatic status back still to skip
    QList<int> m_tardias;           // in-order answers that came during the last request, unasked
    std::function<void()> m_latido;
    bool m_medioCerrada = false; // the last request found the network printer's sending half closed
    QString m_destino;           // where the bound serial object led when it was opened
    bool m_papelBajo = false;
    bool m_calloTrasResponder = false;
    bool m_ocupada = false;
    bool m_sondeoCallado = false;     // the last probe got no answer, see Sondear
    bool m_reutilizada = false;       // the bound connection was kept for windows
    std::optional<Ventana> m_ventana; // of the last ConfirmarRecepcion
    QDeadlineTimer m_plazoTrabajo;    // see kPlazoTrabajo
    QString m_causa;
    int m_usos = 0;
    Privado* d = nullptr; // serial objects and the rest of the implementation
};

// The time-out of Recibir: number 200, source "Time Out", description
// "Error de Comunicación".
class ErrorRecibir : public ErrorEjecucion {
public:
    ErrorRecibir() : ErrorEjecucion(kNumero, QStringLiteral("Error de Comunicación")) {}
    QString Origen() const { return QStringLiteral("Time Out"); }

    static constexpr qint64 kNumero = 200;
};
