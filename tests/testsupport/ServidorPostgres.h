#pragma once

#include <QString>
#include <QTemporaryDir>

// A throw-away PostgreSQL 15 cluster for the tests: initdb and pg_ctl from
// /usr/lib/postgresql/15/bin in a temporary directory, reachable only through
// a Unix socket in that same directory (no TCP port), with trust
// authentication. When the tests run as root the server runs as the
// "postgres" user. A guardian process stops the server and removes the
// directory when the test program ends in any way, a crash included.
//
// Usage: ServidorPostgres::Compartido() starts the program's one server on
// first use (ASSERT on Activo()); CrearBaseDatos() gives each test its own
// UTF8 database owned by kUsuario. Detener() and Iniciar() stop and start the
// same cluster again, for tests of a server that goes away.
class ServidorPostgres {
public:
    static constexpr const char* kUsuario = "orlan";
    static constexpr const char* kContrasena = "contraseña-orlan";

    ServidorPostgres() = default;
    ~ServidorPostgres();
    ServidorPostgres(const ServidorPostgres&) = delete;
    ServidorPostgres& operator=(const ServidorPostgres&) = delete;

    // The program's shared server, started on first call and stopped at exit.
    static ServidorPostgres& Compartido();

    // Creates the cluster on the first call, then starts the server. False
    // (with the reason in Error()) when it could not be started.
    bool Iniciar();
    // Stops the server at once (immediate mode), as a crash or a pulled cable
    // would look to its clients.
    bool Detener();
    bool Activo() const { return m_activo; }

    // The socket directory: the value of setting "Servidor".
    QString DirectorioSocket() const { return m_dir.path(); }
    QString Error() const { return m_error; }

    // A new UTF8 database owned by kUsuario; false (see Error()) on failure.
    bool CrearBaseDatos(const QString& nombre);
    // Runs SQL as the superuser through psql on a database.
    bool EjecutarSql(const QString& base, const QString& sql);

private:
    bool Ejecutar(const QString& programa, const QStringList& argumentos, bool comoPostgres);
    void IniciarGuardian();

    QTemporaryDir m_dir;
    bool m_creado = false;
    bool m_activo = false;
    QString m_error;
};
