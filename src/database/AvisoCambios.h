#pragma once

#include <QObject>
#include <QSet>
#include <QString>
#include <memory>

// Tells the queue that work may be waiting, as soon as the database knows it,
// so that a released job need not wait for the next poll. What it reports is
// a hint: the queue runs its ordinary tick, which finds what there is.
//
// PostgreSQL: a connection of its own (libpq, the same server, database and
// credentials as the ODBC connection) that LISTENs on kCanal, where the
// schema's triggers announce released jobs and redirected printers. SQLite:
// the database file and its write-ahead log are watched (inotify), and a burst
// of changes is reported once. SQL Server has no notification FreeTDS can
// receive.
class AvisoCambios : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kCanal = "orlan_cola";

    using QObject::QObject;

    // For the backend of the open connection. Nothing, after one line in the
    // event log, when the backend offers no notification.
    static std::unique_ptr<AvisoCambios> Crear();

    // Whether a change would be reported now.
    virtual bool Escuchando() const { return true; }
    // Between the jobs of a tick, which keeps the event loop waiting: the
    // printers named by the notices that arrived since the last look (an
    // empty text for a notice that names none), read without waiting and
    // without a round trip. A notice taken here is not reported by Cambio.
    // Only PostgreSQL's notices are read so; on SQLite this server's own
    // writes change the file too.
    virtual QSet<QString> Revisar() { return {}; }

signals:
    // The notifications stopped: until they come back only polling finds work.
    void Perdido();
    // Work may be waiting. `impresora` names the printer concerned when the
    // database says which (PostgreSQL), and is empty otherwise.
    void Cambio(const QString& impresora);
};

// One value of an ODBC connection string ("clave=valor;..."), the key compared
// without regard to case; empty when absent. A value in braces is read whole,
// up to the "}" that closes it, a doubled "}" as one.
QString ValorCadenaConexion(const QString& cadena, const QString& clave);
