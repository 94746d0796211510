#pragma once

#include "database/AvisoCambios.h"
#include "database/BaseDatos.h"
#include "database/RepositorioCola.h"
#include "printer/ctlImpresora.h"
#include "support/ErrorEjecucion.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

// The queue server without its window: the printer control `pr2`, the timer
// `Timer1` and the service flag `Activo`. The server window owns one; service
// mode runs one on its own.
class ServidorCola : public QObject {
    Q_OBJECT
public:
    explicit ServidorCola(qint16 numeroTerminal, QObject* parent = nullptr);

    // The load step's work that needs no window: configure the printer control
    // for every printer of the terminal, log the start, switch service on.
    // False (after the log line and ManejarErrorBD) when a statement failed.
    // With [Cola] Despertar = 1 it also starts listening to the database
    // (AvisoCambios) for the wake-ups of Despertar.
    bool Cargar();

    // Makes this process the terminal's only server: a lock on a file of the
    // terminal's data folder that the kernel drops with the process. Taken
    // the first time, the claims the terminal's previous server left are
    // given back and their jobs printed again at once, each marked as a
    // possible copy. False (logged) when another process holds the lock.
    // Throws ErrorEjecucion when a statement fails.
    bool TomarTerminal();

    // The first part of that: read the terminal's printers, write each one's
    // name into its port's settings section and configure its port on pr2.
    // Throws ErrorEjecucion when the statement fails.
    // Reads this terminal's printers, writes each one's name and mode into
    // its port's section and opens its port; `soloNuevas`: only the printers
    // not read before (added while the server runs).
    void CargarImpresoras(bool soloNuevas = false);

    // One tick of the queue: every pending job of this terminal's printers, in
    // ascending job number. Does nothing while Activo is false, and refuses to
    // start while another tick is running (the parallel-port wait lets events
    // through, the timer among them).
    void Timer1_Timer();

    // Work may be waiting: a tick runs as soon as the event loop is free and
    // the last tick ended at least 100 ms ago, next to Timer1, which keeps its
    // period. A burst of wake-ups runs one tick; one that comes during a tick
    // runs one tick after it.
    void Despertar();

    // Whether the notices read between a tick's jobs name a printer of
    // `propias` (this terminal's) without a job from `desde` on in the
    // tick's `trabajos`. Notices for other terminals' printers are not this
    // tick's business.
    static bool OtraImpresora(const QSet<QString>& avisos, const QSet<qint64>& propias,
                              const QVector<TrabajoCola>& trabajos, qsizetype desde);
    // The rest of a tick after such a notice: the fresh snapshot `nuevos`
    // without the jobs already served, those of printers with no job in
    // `resto` (what was left of the tick) first. Each printer's jobs keep
    // their ascending order: a printer one of whose served jobs is still
    // queued gets no later job in this tick.
    static QVector<TrabajoCola> Adelantar(const QVector<TrabajoCola>& resto, const QVector<TrabajoCola>& nuevos,
                                          const QSet<qint64>& servidos);

    // What the server is doing, for the service manager's status line:
    // "sirviendo 3 impresoras, 1 en respaldo" (the terminal's printers and how
    // many of them send their jobs elsewhere), and for printers that cannot
    // print, "sirviendo 3 de 4 impresoras; Cocina: no existe /dev/usb/lp0".
    QString Resumen();

    // Why each of this terminal's printers cannot print, as this server last
    // found it (printer id -> cause); a printer that prints is not in it.
    const QHash<qint64, QString>& Fallas() const { return m_fallas; }
    // The database's words when Cargar failed on a statement; empty otherwise.
    const QString& CausaCarga() const { return m_causaCarga; }

    bool Activo() const { return m_activo; }
    void EstablecerActivo(bool activo) { m_activo = activo; }
    // A tick is running (possibly waiting on a busy printer, with events let through).
    bool EnTick() const { return m_enTick; }
    // Ticks run since the server was made.
    qint64 Ticks() const { return m_ticks; }

    QTimer& Timer1() { return m_timer1; }
    ctlImpresora& pr2() { return m_pr2; }

signals:
    // A job was printed whole and its lines deleted: its number, the printer
    // that served it (id and port), its type and user, and how many lines it had.
    void TrabajoImpreso(qint64 idTrabajo, qint64 idImpresora, const QString& puerto, const QString& tipo,
                        const QString& usuario, int renglones);

private:
    void Tick();
    void ServirTrabajo(const TrabajoCola& trabajo);
    void Redirigir(const ImpresoraCola& impresora, const QString& estado);
    // With [Cola] ApartarTrabajosDefectuosos = 1 every line of the job in
    // m_rsDetalle is read before anything is printed; a job the renderer could
    // not finish (a "<" with no ">" after it) is set aside, Escribiendo = 2, a
    // value no writer uses, and logged. True when the job was set aside.
    // Without the setting such a job stays at the head of its printer's queue
    // and ends every tick that reaches it.
    bool Apartar(qint64 idTrabajo);
    // With [Cola] EdadMaxima set, a job that has waited more whole minutes
    // than that by the database's clock is set aside (Escribiendo = 2)
    // instead of printed, and logged; asked only once its printer can take
    // it. True when it was set aside. A job without an age never is.
    bool ApartarVencido(const TrabajoCola& trabajo, const ImpresoraCola& impresora);
    // Whether ColaImpresion has FechaHora, asked once; without it EdadMaxima
    // says so once and sets nothing aside.
    bool ColumnaFechaHora();
    // A line of the job as it is rendered: without its NUL bytes, and with
    // [Cola] FiltrarControl = 1 without its other control characters but the
    // line ends; what is dropped is logged.
    QString TextoImprimible(qint64 idTrabajo, const RenglonCola& renglon) const;
    // A job whose last server may have printed it (a claim taken back at
    // start or taken over when it expired) begins with a line "*** COPIA:
    // puede estar repetido ***", unless [Cola] MarcarCopias = 0; the log says
    // which job and why either way.
    void MarcarCopia(qint64 idTrabajo);
    // While a job prints or waits for its window, its claim gets a new
    // number every 5 s, so that the other servers never see it stand long
    // enough to expire.
    void RenovarReclamo();
    // After a job printed whole on `impresora`: whether the printer confirmed
    // it. A failure is counted per printer and per job and sends the
    // printer's jobs to its backup with state "F" (see Retener when it has
    // none).
    // EnVentana: the printer took it and answered, but only the time to
    // print it on a connection that stays up proves it on paper (see
    // ctlImpresora::Ventana): it waits in m_enVentana.
    enum class Confirmacion { Si, No, EnVentana };
    Confirmacion Confirmado(const ImpresoraCola& impresora, qint64 idTrabajo);
    // A job printed whole and confirmed: its lines go, the job is announced.
    void Impreso(const TrabajoCola& trabajo, const ImpresoraCola& impresora, int renglones);
    // Settles the jobs whose window has passed: confirmed, or printed again
    // (marked as a possible copy) when their printer's connection was lost.
    // Their claims are kept meanwhile.
    void RevisarVentanas();
    // At the program's end: the windows still open are waited for, at most
    // kEsperaVentanasMs, well within systemd's 90-s stop limit.
    void CerrarVentanas();
    static constexpr qint64 kEsperaVentanasMs = 20000;
    // A network printer that took the connection but is silent although it
    // answered before (ctlImpresora::Ocupada): its jobs wait for later ticks,
    // logged once, and nothing is sent. One still busy after kPlazoOcupada is
    // failing, as one that does not answer.
    bool Ocupada(const ImpresoraCola& impresora);
    static constexpr qint64 kPlazoOcupada =
        ctlImpresora::kPlazoTrabajo + ctlImpresora::kBuferImpresora * 1000 / ctlImpresora::kVelocidadMinima;
    // Claims `trabajo` for this server before anything of it is sent to
    // printer `idImpresora`, which serves it in the tick's snapshot, and
    // reads its lines into m_rsDetalle. True when this server prints it: the
    // job is still released and routed to that printer, its lines are still
    // there if it had any when the snapshot was taken, and no other server
    // holds a claim on it that has not expired. With the table
    // ReclamoTrabajo the claim and the lines are one statement on
    // PostgreSQL; without the table the same conditions are only checked,
    // in the statement that reads the lines.
    bool Reclamar(const TrabajoCola& trabajo, qint64 idImpresora);
    // Once a tick, when a job was served or a window settled: the header
    // cleanup and the claims of headers gone (RepositorioCola::Barrer).
    void Barrer();
    // Gives back this server's claim on a job left for another tick, if it
    // holds one. (A printed job's claim goes with its header, in Barrer.)
    // `dudoso`: something of it was sent and the printer did not confirm it
    // (or the job was cut short): whoever prints it next marks it as a copy.
    void Soltar(qint64 idTrabajo, bool dudoso = false);
    // Whether ReclamoTrabajo exists, asked once; says in the log when not.
    void DetectarReclamos();
    // A printer without a backup that did not confirm a job gets no job
    // until it shows a change: its state becomes "F" and Retenida holds it.
    void Retener(const ImpresoraCola& impresora);
    // Held: true, after asking it once a tick whether it answers again.
    bool Retenida(const ImpresoraCola& impresora);
    // With ConfirmarRecepcion = 1, a serial printer found silent although
    // its port answered before: failing, its jobs to the backup (or held).
    bool Apagada(const ImpresoraCola& impresora);
    // A line failed to print: the printer's jobs go to its backup (once per
    // failed line); without one nothing is written, one log line per printer
    // and tick says so and the printer is not tried again in the tick.
    void FalloRenglon(const ImpresoraCola& impresora, qint64 idTrabajo);
    // After a job on a network or USB printer: writes whether its last answer
    // said paper near its end into Impresora.PapelBajo, for the status panel,
    // when that changed. The column is ours and optional: asked for once,
    // and without it (or when the write fails) nothing is written, said once.
    void AnotarPapel(qint64 idImpresora, bool bajo);
    // Writes one of our optional Impresora columns (`escribir`): whether it
    // exists is asked once and its absence said once (`sinColumna`: what is
    // lost without it); a failure other than a lost connection is said once
    // and stops the writes of that column.
    void AnotarOpcional(std::optional<bool>& existe, const QString& columna, const QString& sinColumna,
                        const QString& que, qint64 idImpresora, const std::function<void()>& escribir);
    // What was found about a printer: `falla` says why it cannot print, empty
    // when it printed. A change is logged, written to standard error (the
    // journal), into Impresora.Falla where that column exists, and into the
    // status line. `ausente`: the cause is its device missing, which the
    // device check clears when the device is back.
    void Hallado(qint64 idImpresora, const QString& puerto, const QString& falla, bool ausente = false);
    // Whether the devices of this terminal's serial and USB printers exist:
    // a printer whose device is gone is shown failing before a job finds it.
    void RevisarDispositivos();
    // Writes into Impresora.Falla what differs from what was last written
    // there: a write lost with the connection is made again the next tick.
    void EscribirFallas();
    // The cause of a port that could not be made ready, with what keeps a
    // service from reaching a device under /tmp.
    QString CausaApertura(const QString& puerto);
    static QString AvisoTmp(const QString& ruta);

    qint16 m_numeroTerminal;
    RepositorioCola m_repositorio;
    ctlImpresora m_pr2;
    QTimer m_timer1;
    QTimer m_despertador; // single shot: the wake-ups of one pass of the event loop
    bool m_despertarPendiente = false;
    static constexpr qint64 kPausaDespertarMs = 100;
    QElapsedTimer m_finTick; // since the last tick ended
    qint64 m_ticks = 0;
    std::unique_ptr<AvisoCambios> m_aviso;
    // Jobs whose lines this server deleted while their header is still there
    // (the header cleanup failed after the lines went): found again with no
    // lines, they are not printed a second time.
    QSet<qint64> m_sinRenglones;
    bool m_barrer = false;    // a job was served since the last Barrer
    bool m_barriendo = false; // Barrer's statement is running (or failed)
    QSet<qint64> m_propias;   // this terminal's printers (ids), read at load
    static constexpr int kConsultasPorTick = 20;
    bool m_colaVacia = false; // the last tick found no job
    bool m_hallados = false;  // the last tick's job query found jobs
    // The database reports every change that brings work: on PostgreSQL its
    // three notifying triggers are there. Without them the poll never
    // stretches, said once.
    bool AvisoCompleto();
    bool m_avisoCompleto = false;
    // Timer1's period, and its period while the database reports every
    // change (Despertar) and the last tick left nothing waiting.
    static constexpr int kPeriodoMs = 2000;
    static constexpr int kPeriodoAvisadoMs = 30000;
    bool m_activo = false;
    bool m_enTick = false;
    bool m_reconectar = false;
    int m_intentosReconexion = 0;
    static constexpr int kLoginReconexion = 3;
    bool m_sinConexionRegistrado = false;
    // Ticks until the status line is brought up to date again.
    int m_ticksHastaResumen = 0;
    bool m_apartarDefectuosos = false;  // read at the start of every tick
    bool m_filtrarControl = false;      // [Cola] FiltrarControl, read at the start of every tick
    qint64 m_edadMaxima = 0;            // [Cola] EdadMaxima in minutes, 0 off; read at the start of every tick
    std::optional<bool> m_columnaFecha; // ColaImpresion.FechaHora exists, see ColumnaFechaHora
    QSet<qint64> m_fallidas;            // printers (ids) found failing in this tick
    QHash<qint64, int> m_sinConfirmar;  // printer id -> jobs in a row it did not confirm
    QHash<qint64, int> m_fallosTrabajo; // job id -> failed confirmations
    QSet<qint64> m_retenidas;           // printers (ids) held, see Retener
    enum class Reclamos { SinDetectar, ConTabla, SinTabla };
    Reclamos m_reclamos = Reclamos::SinDetectar;
    qint64 m_venceReclamoMs = 0;     // [Cola] VenceReclamo, read at the start of every tick
    QHash<qint64, qint64> m_fichas;  // job -> number of the claim this server holds on it
    QHash<qint64, QString> m_copias; // jobs that may be on paper already -> why
    qint64 m_reclamoEnCurso = 0;     // the job being printed, whose claim is renewed
    QElapsedTimer m_renovado;        // since its claim was last renewed
    QTimer m_latido;                 // renews it during waits that let events through
    // Another server's claim as this server first saw it: it expires once it
    // has stood unchanged for m_venceReclamoMs on this server's own clock, so
    // that the terminals' clocks need not agree.
    struct ReclamoAjeno {
        qint64 ficha = 0;
        QElapsedTimer desde;
        QElapsedTimer visto;
    };
    QHash<qint64, ReclamoAjeno> m_ajenos;
    // The longest this server may go without seeing another's claim while
    // it counts towards that claim's expiry (half the expiry when that is
    // longer).
    static constexpr qint64 kHuecoReclamoMs = 6000;
    struct EnVentana {
        ctlImpresora::Ventana ventana;
        TrabajoCola trabajo;
        ImpresoraCola impresora;
        int renglones = 0;
    };
    QHash<qint64, EnVentana> m_enVentana; // job id -> its window
    struct Ocupacion {
        QElapsedTimer desde; // the spell began
        QElapsedTimer visto; // last found busy
    };
    QHash<qint64, Ocupacion> m_ocupadas;                   // printer id -> its busy spell
    std::optional<bool> m_columnaPapel;                    // Impresora.PapelBajo exists, see AnotarPapel
    QHash<qint64, bool> m_papelAnotado;                    // printer id -> the PapelBajo value last written
    QHash<qint64, QString> m_fallas;                       // see Fallas
    QSet<qint64> m_ausentes;                               // failing for want of their device
    QHash<qint64, QPair<QString, QString>> m_dispositivos; // serial/USB printer id -> (port, device path)
    QHash<qint64, QString> m_fallasEscritas;               // printer id -> the Falla value last written
    static inline const QString kSinFalla =
        QStringLiteral("el panel y orlan-admin no muestran por que una impresora no imprime");
    std::optional<bool> m_columnaFalla;     // Impresora.Falla exists, see Hallado
    static constexpr int kLargoFalla = 200; // the column's width
    QString m_causaCarga;
    bool m_recargadas = false;                  // the printers were read again in this tick
    bool m_cargadas = false;                    // the printers were read at the start (CargarImpresoras)
    std::optional<ImpresoraCola> m_rsImpresora; // the printer serving the job in hand
    QVector<RenglonCola> m_rsDetalle;           // the lines of the job in hand
};

// The queue's failure path: the log line "Cola Impresion, " + the description,
// then ManejarErrorBD with the origin "Base de Datos".
void RegistrarFallaCola(const ErrorEjecucion& e);
