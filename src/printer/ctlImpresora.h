#pragma once

#include "printer/Confirmacion.h"
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

    // The confirmation's limits, see Confirmacion.
    static constexpr qint64 kVelocidadMinima = Confirmacion::kVelocidadMinima;
    static constexpr qint64 kBuferImpresora = Confirmacion::kBuferImpresora;

    // The devices (PuertoCom::Dispositivo) of printers that answer DLE EOT
    // but not GS r 1, as last probed (by this process or, through the
    // settings, an earlier one): their answer comes ahead of their buffer.
    static bool SoloTiempoReal(const QString& dispositivo);

    // The paper-sensor answer last stored for port `puerto` ("EstadoPapel")
    // says paper near its end and not out.
    static bool PapelBajoSegunAjustes(const QString& puerto);

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
    using Ventana = Confirmacion::Ventana;
    const std::optional<Ventana>& VentanaPendiente() const { return m_confirmacion.VentanaPendiente(); }
    // Abierta: wait. Cumplida: the connection stayed up through the window
    // and the printer answers ready on it. Perdida: the connection was lost
    // or closed, or the printer does not answer ready: the job may not be on
    // paper and is to be printed again.
    using Cierre = Confirmacion::Cierre;
    Cierre RevisarVentana(const Ventana& ventana);

    // The last answer of the bound network or USB printer said paper near
    // its end: it still prints.
    bool PapelBajo() const { return m_papelBajo; }

    // The last classification of the bound serial printer got no answer
    // although the same port answered before (since the program started).
    bool CalloTrasResponder() const { return m_calloTrasResponder; }

    // The bound port leads to a network or USB printer: the device taking the
    // bytes says nothing about the printer having them.
    bool SinLinea() const { return m_confirmacion.SinLinea(); }

    // Called every fraction of a second while the control waits on a printer
    // (a job's confirmation, a connection draining), so that its user can
    // keep alive what it holds meanwhile; none by default. It must not throw.
    void EstablecerLatido(std::function<void()> latido) { m_confirmacion.EstablecerLatido(std::move(latido)); }

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
    bool m_papelBajo = false;
    bool m_calloTrasResponder = false;
    bool m_ocupada = false;
    QDeadlineTimer m_plazoTrabajo; // see kPlazoTrabajo
    QString m_causa;
    int m_usos = 0;
    Privado* d = nullptr;        // serial objects
    Confirmacion m_confirmacion; // works on d's serial objects
};

// The time-out of Recibir: number 200, source "Time Out", description
// "Error de Comunicación".
class ErrorRecibir : public ErrorEjecucion {
public:
    ErrorRecibir() : ErrorEjecucion(kNumero, QStringLiteral("Error de Comunicación")) {}
    QString Origen() const { return QStringLiteral("Time Out"); }

    static constexpr qint64 kNumero = 200;
};
