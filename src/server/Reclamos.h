#pragma once

#include "database/RepositorioCola.h"
#include "printer/ctlImpresora.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QString>
#include <QTimer>
#include <QVector>
#include <functional>

// The claims between terminals: which server prints a job. It takes a job
// before anything of it is sent, keeps the claim alive while the job prints
// or waits for its window, gives claims back, takes over those of servers
// that died, holds the terminal's lock, and marks the jobs that may be on
// paper already. Owned by the queue server, which tells it about the job in
// hand and asks it for the jobs waiting for their window (`enVentana`).
class Reclamos {
public:
    Reclamos(RepositorioCola& repositorio, ctlImpresora& pr2, std::function<QList<qint64>()> enVentana);

    // Makes this process the terminal's only server: a lock on a file of the
    // terminal's data folder that the kernel drops with the process. Taken
    // the first time, the claims the terminal's previous server left are
    // given back and their jobs printed again at once, each marked as a
    // possible copy. False (logged) when another process holds the lock.
    // Throws ErrorEjecucion when a statement fails.
    bool TomarTerminal();

    // Claims `trabajo` for this server before anything of it is sent to
    // printer `idImpresora`, which serves it in the tick's snapshot, and
    // reads its lines into `detalle`. True when this server prints it: the
    // job is still released and routed to that printer, its lines are still
    // there if it had any when the snapshot was taken, and no other server
    // holds a claim on it that has not expired. With the table
    // ReclamoTrabajo the claim and the lines are one statement on
    // PostgreSQL; without the table the same conditions are only checked,
    // in the statement that reads the lines.
    bool Reclamar(const TrabajoCola& trabajo, qint64 idImpresora, QVector<RenglonCola>& detalle);

    // Gives back this server's claim on a job left for another tick, if it
    // holds one. (A printed job's claim goes with its header, in Barrer.)
    // `dudoso`: something of it was sent and the printer did not confirm it
    // (or the job was cut short): whoever prints it next marks it as a copy.
    void Soltar(qint64 idTrabajo, bool dudoso = false);

    // A job printed whole: its claim stays in the table until the header
    // goes, and needs no renewing nor marking any more.
    void Impreso(qint64 idTrabajo);

    // Whether the claim table is there (detected, see DetectarReclamos).
    bool ConTabla() const { return m_tabla == Tabla::ConTabla; }

    // The job whose lines are being sent: its claim is renewed between
    // lines, in the printer control's waits and by a timer for the waits
    // that let events through, until Terminado.
    void EnCurso(qint64 idTrabajo);
    void Terminado();

    // A job whose last server may have printed it (a claim taken back at
    // start or taken over when it expired) begins with a line "*** COPIA:
    // puede estar repetido ***", unless [Cola] MarcarCopias = 0; the log says
    // which job and why either way.
    void MarcarCopia(qint64 idTrabajo);

    // While a job prints or waits for its window, its claim gets a new
    // number every 5 s, so that the other servers never see it stand long
    // enough to expire.
    void Renovar();

private:
    // Whether ReclamoTrabajo exists, asked once; says in the log when not.
    void DetectarReclamos();

    RepositorioCola& m_repositorio;
    ctlImpresora& m_pr2;
    std::function<QList<qint64>()> m_enVentana; // the jobs waiting for their window
    enum class Tabla { SinDetectar, ConTabla, SinTabla };
    Tabla m_tabla = Tabla::SinDetectar;
    qint64 m_venceReclamoMs = 0;     // [Cola] VenceReclamo, read at every claim
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
};
