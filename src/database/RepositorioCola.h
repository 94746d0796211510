#pragma once

#include "ports/NombrePuerto.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QVariant>
#include <QVector>
#include <optional>

class Recordset;

// The queue's rows read into typed values, and every statement the queue
// server runs on them.
//
// The shop's tables are written by other programs too, so nothing read from
// them is trusted: a value that enters a statement is proven first (an
// integer in the range of the column's keys). A row that fails is skipped,
// logged once with its table and key, and costs only itself; the rest of the
// queue goes on. The fixed statements keep their text, built only from proven
// values; the statements of this server's own (claims, the paper state,
// setting a job aside) bind their values.

// Keys of the shop's tables are int columns: -2^31 to 2^31 - 1.
inline constexpr qint64 kIdMinimo = -2147483648LL;
inline constexpr qint64 kIdMaximo = 2147483647;

// `valor` when it is an integer from `minimo` to `maximo`: an integer value,
// a real one without a fraction, or a text of digits with an optional sign
// and nothing else (SQLite keeps text in an integer column).
std::optional<qint64> EnteroProbado(const QVariant& valor, qint64 minimo = kIdMinimo, qint64 maximo = kIdMaximo);

// The row of the printer serving a job.
struct ImpresoraCola {
    qint64 id = 0;
    QString puerto;                 // as stored; NombrePuerto::Leer tells whether it names a port
    std::optional<qint64> respaldo; // Id_Impresora_Respaldo; none for NULL
    std::optional<QString> estado;  // Estado_Impresora; none for NULL
    std::optional<qint64> terminal; // ID_Terminal; none for NULL or a value that is no number
};

// A pending job of the tick's snapshot.
struct TrabajoCola {
    qint64 id = 0;
    qint64 redirigido = 0; // the printer that serves it
    QString tipo;
    QString usuario;
    bool conRenglones = false; // it had lines when the snapshot was taken
    // Seconds from its FechaHora to the database's clock at the snapshot,
    // negative for a time in the future; none when not asked for, NULL or
    // unreadable.
    std::optional<qint64> espera;
    // The serving printer's row as the snapshot read it; none when it is
    // missing or cannot be used (Rechazar).
    std::optional<ImpresoraCola> impresora;
};

// One line of a job.
struct RenglonCola {
    QString idRenglon; // for log lines only
    QString dato;      // "<N>" for NULL
};

// A printer of the terminal, as the server loads its port.
struct ImpresoraTerminal {
    NombrePuerto puerto;
    QString modo;
    QString nombre;           // cut to kLargoNombre characters, control characters dropped
    std::optional<qint64> id; // none for an Id_Impresora that is no number
};

// A row the server skips, for the log and diagnostico.
struct FilaRechazada {
    QString tabla;
    QString clave;  // the row's key as read, quoted for a log line
    QString motivo; // which value is wrong and what it must be
};

// Another terminal's (or this one's) claim on a job.
struct ReclamoCola {
    qint64 terminal = 0;
    qint64 ficha = 0;
    QString terminalTexto; // as stored, for log lines
};

class RepositorioCola {
public:
    // Names written to the settings file are cut to this length.
    static constexpr int kLargoNombre = 64;

    explicit RepositorioCola(qint16 numeroTerminal);

    // The tick's snapshot: the jobs addressed (directly or by redirection) to
    // this terminal's printers, in ascending job number. Rows whose id or
    // serving printer is not a key are left out (Rechazar). With `conEspera`
    // the statement also reads FechaHora and the database's clock, which the
    // caller has made sure the table has; a FechaHora that cannot be read is
    // logged once and leaves the job without an age.
    QVector<TrabajoCola> Trabajos(bool conEspera = false);
    // The statement behind Trabajos, as it is sent.
    const QString& ConsultaTrabajos() const { return m_consultaTrabajos; }

    // The row of printer `id`; none when it is missing or when its id or
    // backup is not a key (Rechazar).
    std::optional<ImpresoraCola> Impresora(qint64 id);
    // The serving printer of a job of the last snapshot: the row the
    // snapshot read, or, for a printer this repository has written to since
    // (a redirection, a state), the row as it stands now.
    std::optional<ImpresoraCola> ImpresoraDe(const TrabajoCola& trabajo);
    // The job's lines in ascending line number.
    QVector<RenglonCola> Renglones(qint64 idTrabajo);
    // Whether the job has any line left.
    bool TieneRenglones(qint64 idTrabajo);
    // Claims the job for this server with claim `ficha` (see Reclamar) and
    // reads its lines: on PostgreSQL one statement does both. None when the
    // claim was not made. With `ficha` 0 (a database without the claim
    // table) the lines are read only when the job is claimable.
    std::optional<QVector<RenglonCola>> ReclamarConRenglones(qint64 idTrabajo, qint64 idImpresora, qint64 ficha);
    // The printers of this terminal whose port has a name by the one rule;
    // the others are left out (Rechazar).
    QVector<ImpresoraTerminal> ImpresorasTerminal();
    // The ids of this terminal's printers that serve queued jobs (not the
    // cheque printers).
    QSet<qint64> IdsImpresorasTerminal();

    // Deletes the job's lines. Its header, and its claim with it, go at the
    // next Barrer.
    void BorrarRenglones(qint64 idTrabajo);
    // Removes every finished job header of any terminal.
    void Limpiar();
    // Once a tick, after its jobs: Limpiar, and with the claim table the
    // claims whose job header is gone, those of the jobs printed since the
    // last Barrer and those of a server that died after printing. One
    // statement on PostgreSQL.
    void Barrer(bool conReclamos);
    // The printer's Redirigido as it stands in the database now, as text.
    QString RedirigidoActual(qint64 idImpresora);
    // Through Actualizar: logged, stored and replicated. False when it failed
    // (Actualizar has handled it).
    bool Redirigir(qint64 idImpresora, qint64 respaldo, const std::optional<QString>& estado);
    bool AnotarEstado(qint64 idImpresora, const QString& estado);
    // Sets a job aside (Escribiendo = 2, a value no writer uses).
    void Apartar(qint64 idTrabajo);
    // Impresora.PapelBajo, the server's own optional column.
    void AnotarPapel(qint64 idImpresora, bool bajo);

    // Writes why the printer cannot print (Impresora.Falla), NULL for a
    // printer that prints. Only where the column exists.
    void AnotarFalla(qint64 idImpresora, const QString& falla);

    // Claims, in the server's own table ReclamoTrabajo. `condicion` holds
    // when the job is still released, still routed to printer `idImpresora`
    // and, with `conRenglones`, still has its lines. True when this server's
    // claim was made.
    bool Reclamar(qint64 idTrabajo, qint64 idImpresora, qint64 ficha, bool conRenglones = true);
    std::optional<ReclamoCola> Reclamo(qint64 idTrabajo);
    // Takes over the claim `anterior` of a server that died; true when taken.
    bool TomarReclamo(qint64 idTrabajo, qint64 idImpresora, qint64 anterior, qint64 ficha);
    // Renews this server's claim on a job it is printing: a new number, so
    // that the other servers see it change. False when the claim is gone.
    bool RenovarReclamo(qint64 idTrabajo, qint64 anterior, qint64 nueva);
    // Gives back claim `ficha`.
    void Soltar(qint64 ficha);
    // Gives the claim back but leaves its row with kFichaDudosa: the job was
    // sent to a printer that did not confirm it, so it may be on paper. The
    // next server to claim it takes it at once and marks it as a copy.
    void SoltarDudoso(qint64 ficha);
    static constexpr qint64 kFichaDudosa = -1; // claim numbers are positive
    // The jobs with lines this terminal holds claims on, and giving those
    // claims back. A printed job's claim stays until its header goes.
    QVector<qint64> ReclamosDeTerminal();
    void SoltarTerminal();

    // The rows skipped since this repository was made, each once.
    const QVector<FilaRechazada>& Rechazadas() const { return m_rechazadas; }
    // Whether skipped rows are logged (the server's) or only kept (diagnostico's).
    void EstablecerRegistro(bool registrar) { m_registrar = registrar; }

private:
    // The serving printer's five columns from `columna` on (Puerto,
    // Id_Impresora, Id_Impresora_Respaldo, Estado_Impresora, ID_Terminal);
    // none for a missing row or one that cannot be used (Rechazar).
    std::optional<ImpresoraCola> LeerImpresora(const Recordset& fila, int columna);
    // The lines' statement up to the job's number.
    QString ConsultaRenglones() const;
    static QVector<RenglonCola> LeerRenglones(Recordset& filas);
    static QString SentenciaReclamo(bool conRenglones);
    void Rechazar(const QString& tabla, const QVariant& clave, const QString& motivo,
                  const QString& efecto = QStringLiteral("se omite"));

    qint16 m_numeroTerminal;
    QString m_consultaTrabajos;
    QString m_consultaConEspera; // with FechaHora and the database's clock
    bool m_registrar = true;
    QSet<QString> m_vistas;  // rows already reported
    QSet<qint64> m_escritas; // printers written to since the last snapshot
    QVector<FilaRechazada> m_rechazadas;
};

// The header cleanup run after every job: removes every finished job header of
// any terminal, that is every header not being written that has no lines left.
QString SentenciaLimpieza();

// The database's current time as the default of ColaImpresion.FechaHora
// writes it, as a select-list item or a value to assign: UTC text on SQLite
// (CURRENT_TIMESTAMP), the session's local time on PostgreSQL (now() into a
// timestamp column), GETDATE() on SQL Server. Ages are measured on this one
// clock, never on this machine's.
QString AhoraFechaHora();

// A time stamp as the drivers hand it over ("2026-12-06 03:10:11", with or
// without fractions, a "T" or a zone, or a date-time value) in seconds since
// an arbitrary origin; none for NULL or anything else. Two of them read in the
// same zone give an age in whole seconds. Read by hand: a state read may parse
// a thousand of them, and QDateTime::fromString is slow at that.
std::optional<qint64> SegundosFechaHora(const QVariant& valor);

// Text read from a row cut to `largo` characters, control characters
// dropped: what a name from the database may put in a file of ours.
QString TextoAcotado(const QString& texto, int largo);
