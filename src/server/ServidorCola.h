#pragma once

#include "database/AvisoCambios.h"
#include "database/BaseDatos.h"
#include "database/RepositorioCola.h"
#include "printer/ctlImpresora.h"
#include "server/Reclamos.h"
#include "server/SaludImpresoras.h"
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
// mode runs one on its own. It runs the ticks: reads the queue and serves
// each job in order; the claims between terminals are Reclamos' work, and
// the printers' health (confirmations, holding, the backup, the causes they
// cannot print) is SaludImpresoras'.
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

    // Reads this terminal's printers, writes each one's name and mode into
    // its port's section and opens its port on pr2; `soloNuevas`: only the
    // printers not read before (added while the server runs). Throws
    // ErrorEjecucion when the statement fails.
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
    const QHash<qint64, QString>& Fallas() const { return m_salud.Fallas(); }
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
    // Once a tick, when a job was served or a window settled: the header
    // cleanup and the claims of headers gone (RepositorioCola::Barrer).
    void Barrer();

    qint16 m_numeroTerminal;
    RepositorioCola m_repositorio;
    ctlImpresora m_pr2;
    Reclamos m_reclamos;     // the claims between terminals
    SaludImpresoras m_salud; // the printers' health
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
    struct EnVentana {
        ctlImpresora::Ventana ventana;
        TrabajoCola trabajo;
        ImpresoraCola impresora;
        int renglones = 0;
    };
    QHash<qint64, EnVentana> m_enVentana; // job id -> its window
    QString m_causaCarga;
    bool m_recargadas = false;                  // the printers were read again in this tick
    bool m_cargadas = false;                    // the printers were read at the start (CargarImpresoras)
    std::optional<ImpresoraCola> m_rsImpresora; // the printer serving the job in hand
    QVector<RenglonCola> m_rsDetalle;           // the lines of the job in hand
};

// The queue's failure path: the log line "Cola Impresion, " + the description,
// then ManejarErrorBD with the origin "Base de Datos".
void RegistrarFallaCola(const ErrorEjecucion& e);
