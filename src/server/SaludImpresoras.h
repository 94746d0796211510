#pragma once

#include "database/RepositorioCola.h"
#include "printer/ctlImpresora.h"

#include <QElapsedTimer>
#include <QHash>
#include <QPair>
#include <QSet>
#include <QString>
#include <functional>
#include <optional>

// The health of the terminal's printers: whether each one confirmed its
// jobs, is held, busy or switched off, whose jobs go to its backup, why it
// cannot print (shown in the log, the journal, Impresora.Falla and the
// status line) and whether its device is there. Owned by the queue server,
// which tells it what each job found.
class SaludImpresoras {
public:
    SaludImpresoras(qint16 numeroTerminal, RepositorioCola& repositorio, ctlImpresora& pr2);

    // The printers are read from the start: what a previous run wrote into
    // Impresora.Falla is cleared and the devices are listed again.
    void CargaCompleta();
    // Printers gone from this terminal are no longer watched nor shown.
    void Olvidar(const QSet<qint64>& idas);
    // A printer's port was configured (`lista`: it is ready): its device is
    // watched, and a port that could not be made ready is shown failing.
    void Configurada(qint64 idImpresora, const NombrePuerto& puerto, bool lista);

    // A tick begins: no printer has been found failing in it yet.
    void NuevoTick() { m_fallidas.clear(); }
    // Found failing in this tick: not asked again for its other jobs.
    bool Fallida(qint64 idImpresora) const { return m_fallidas.contains(idImpresora); }
    void MarcarFallida(qint64 idImpresora) { m_fallidas.insert(idImpresora); }
    // No printer is held or busy: nothing waits for a printer's change.
    bool SinEspera() const { return m_retenidas.isEmpty() && m_ocupadas.isEmpty(); }

    // What the server is doing, for the service manager's status line (see
    // ServidorCola::Resumen).
    QString Resumen();
    // Why each printer cannot print (printer id -> cause).
    const QHash<qint64, QString>& Fallas() const { return m_fallas; }

    // The port of `impresora` could not be made ready, or the printer was
    // found switched off (`apagada`): shown failing, its jobs sent to its
    // backup with `estado`.
    void SinAbrir(const ImpresoraCola& impresora, bool apagada, const QString& estado);
    // Whether the printer must answer ready after a job before the job is
    // deleted. Serial printers that answer the paper-status request: [Cola]
    // ConfirmarRecepcion=1, off by default (the job is then deleted once the port
    // has taken its bytes). Network and USB printers, whose device takes bytes
    // whether or not the printer has them: [Cola] ConfirmarRecepcionRed, on
    // unless 0.
    bool ConfirmarRecepcion() const;
    void Redirigir(const ImpresoraCola& impresora, const QString& estado);
    // After a job printed whole on `impresora`: whether the printer confirmed
    // it. A failure is counted per printer and per job and sends the
    // printer's jobs to its backup with state "F" (see Retener when it has
    // none).
    // EnVentana: the printer took it and answered, but only the time to
    // print it on a connection that stays up proves it on paper (see
    // ctlImpresora::Ventana): the server waits for it.
    enum class Confirmacion { Si, No, EnVentana };
    Confirmacion Confirmado(const ImpresoraCola& impresora, qint64 idTrabajo);
    // A job's window passed with the printer's connection up: it confirmed.
    void Confirmada(qint64 idImpresora, qint64 idTrabajo);
    // A network printer that took the connection but is silent although it
    // answered before (ctlImpresora::Ocupada): its jobs wait for later ticks,
    // logged once, and nothing is sent. One still busy after kPlazoOcupada is
    // failing, as one that does not answer.
    bool Ocupada(const ImpresoraCola& impresora);
    static constexpr qint64 kPlazoOcupada =
        ctlImpresora::kPlazoTrabajo + ctlImpresora::kBuferImpresora * 1000 / ctlImpresora::kVelocidadMinima;
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

private:
    // A failing printer's jobs go to its backup ("F"), or, without one, it
    // is held (Retener).
    void Desviar(const ImpresoraCola& impresora);
    // A printer without a backup that did not confirm a job gets no job
    // until it shows a change: its state becomes "F" and Retenida holds it.
    void Retener(const ImpresoraCola& impresora);
    // Writes one of our optional Impresora columns (`escribir`): whether it
    // exists is asked once and its absence said once (`sinColumna`: what is
    // lost without it); a failure other than a lost connection is said once
    // and stops the writes of that column.
    void AnotarOpcional(std::optional<bool>& existe, const QString& columna, const QString& sinColumna,
                        const QString& que, qint64 idImpresora, const std::function<void()>& escribir);
    // The cause of a port that could not be made ready, with what keeps a
    // service from reaching a device under /tmp.
    QString CausaApertura(const QString& puerto);
    static QString AvisoTmp(const QString& ruta);

    qint16 m_numeroTerminal;
    RepositorioCola& m_repositorio;
    ctlImpresora& m_pr2;
    QSet<qint64> m_fallidas;            // printers (ids) found failing in this tick
    QHash<qint64, int> m_sinConfirmar;  // printer id -> jobs in a row it did not confirm
    QHash<qint64, int> m_fallosTrabajo; // job id -> failed confirmations
    QSet<qint64> m_retenidas;           // printers (ids) held, see Retener
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
};
