#pragma once

#include <QString>
#include <QTemporaryDir>
#include <csignal>

// A throw-away cluster of the installed PostgreSQL for the tests, in a temporary directory
// and reachable only through a Unix socket there (no TCP port). The superuser
// "postgres" gets in without a password, kUsuario only with kContrasena. Run
// as root, the server runs as the "postgres" user. A guardian process stops
// the server and removes the directory when the program ends in any way.
class ServidorPostgres {
public:
    static constexpr const char* kUsuario = "orlan";
    static constexpr const char* kContrasena = "contraseña-orlan";

    // The program's one server, started on first use.
    static ServidorPostgres& Compartido();

    // Creates the cluster on the first call, then starts the server; false
    // with the reason in Error() on failure.
    bool Iniciar();
    // Stops the server at once (immediate mode), as a crash would look.
    bool Detener();
    bool Activo() const { return m_activo; }
    // Stops (SIGSTOP) or resumes (SIGCONT) the postmaster and every backend:
    // a server that hangs while its connections stay open. False when the
    // server's process is not found.
    bool Suspender() { return Senal(SIGSTOP); }
    bool Reanudar() { return Senal(SIGCONT); }
    // The postmaster's process id, 0 when the server is not running.
    qint64 Pid() const;

    // The socket directory: the value of setting "Servidor".
    QString DirectorioSocket() const { return m_dir.path(); }
    QString Error() const { return m_error; }

    // A new UTF8 database owned by kUsuario.
    bool CrearBaseDatos(const QString& nombre);
    // kUsuario's password from now on (kContrasena until changed).
    bool CambiarContrasena(const QString& contrasena);

private:
    bool Senal(int senal);
    bool Ejecutar(const QString& programa, const QStringList& argumentos);
    bool Sql(const QString& sql);

    QTemporaryDir m_dir;
    bool m_creado = false;
    bool m_activo = false;
    QString m_error;
};
