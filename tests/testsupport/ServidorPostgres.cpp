#include "testsupport/ServidorPostgres.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <pwd.h>
#include <unistd.h>

namespace {

const QString kBin = QStringLiteral("/usr/lib/postgresql/15/bin/");

bool EsRoot() {
    return ::geteuid() == 0;
}

// Gives a directory tree to the postgres user, so that the server it runs can
// write its data and socket there.
bool EntregarAPostgres(const QString& ruta) {
    const passwd* pw = ::getpwnam("postgres");
    return pw && ::chown(QFile::encodeName(ruta).constData(), pw->pw_uid, pw->pw_gid) == 0;
}

} // namespace

ServidorPostgres& ServidorPostgres::Compartido() {
    static ServidorPostgres servidor;
    static const bool registrado = [] {
        // Stops the server while the application object still exists.
        qAddPostRoutine([] {
            if (servidor.m_activo) {
                servidor.Detener();
            }
        });
        return true;
    }();
    Q_UNUSED(registrado);
    if (!servidor.m_activo) {
        servidor.Iniciar();
    }
    return servidor;
}

ServidorPostgres::~ServidorPostgres() {
    if (m_activo) {
        Detener();
    }
}

bool ServidorPostgres::Ejecutar(const QString& programa, const QStringList& argumentos, bool comoPostgres) {
    QProcess proceso;
    proceso.setProcessChannelMode(QProcess::MergedChannels);
    if (comoPostgres && EsRoot()) {
        proceso.start(QStringLiteral("runuser"), QStringList{"-u", "postgres", "--", programa} + argumentos);
    } else {
        proceso.start(programa, argumentos);
    }
    if (!proceso.waitForStarted() || !proceso.waitForFinished(120000)) {
        m_error = programa + QStringLiteral(": ") + proceso.errorString();
        proceso.kill();
        return false;
    }
    if (proceso.exitStatus() != QProcess::NormalExit || proceso.exitCode() != 0) {
        m_error = programa + QStringLiteral(" ") + argumentos.join(u' ') + QStringLiteral(":\n") +
                  QString::fromLocal8Bit(proceso.readAll());
        return false;
    }
    return true;
}

void ServidorPostgres::IniciarGuardian() {
    // Waits for the test program to end, then stops the server and removes
    // its directory, whatever way the program ended.
    const QString datos = m_dir.path() + QStringLiteral("/datos");
    const QString parar = (EsRoot() ? QStringLiteral("runuser -u postgres -- ") : QString()) + kBin +
                          QStringLiteral("pg_ctl -D '") + datos + QStringLiteral("' -m immediate stop");
    const QString guion = QStringLiteral("while kill -0 %1 2>/dev/null; do sleep 1; done; "
                                         "if [ -f '%2/postmaster.pid' ]; then %3 >/dev/null 2>&1; fi; rm -rf '%4'")
                              .arg(QCoreApplication::applicationPid())
                              .arg(datos, parar, m_dir.path());
    QProcess::startDetached(QStringLiteral("sh"), {QStringLiteral("-c"), guion});
}

bool ServidorPostgres::Iniciar() {
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no se pudo crear el directorio temporal");
        return false;
    }
    const QString datos = m_dir.path() + QStringLiteral("/datos");
    if (!m_creado) {
        if (EsRoot() && !EntregarAPostgres(m_dir.path())) {
            m_error = QStringLiteral("no se pudo entregar el directorio al usuario postgres");
            return false;
        }
        IniciarGuardian();
        if (!Ejecutar(kBin + QStringLiteral("initdb"),
                      {"-D", datos, "-E", "UTF8", "--locale=C.UTF-8", "-A", "trust", "-U", "postgres", "--no-sync"},
                      true)) {
            return false;
        }
        m_creado = true;
    }
    const QString opciones = QStringLiteral("-c listen_addresses='' -c unix_socket_directories='%1' -c fsync=off"
                                            " -c full_page_writes=off")
                                 .arg(m_dir.path());
    if (!Ejecutar(kBin + QStringLiteral("pg_ctl"),
                  {"-D", datos, "-l", m_dir.path() + QStringLiteral("/servidor.log"), "-o", opciones, "-w", "start"},
                  true)) {
        return false;
    }
    m_activo = true;
    return EjecutarSql(QStringLiteral("postgres"),
                       QStringLiteral("DO $$BEGIN IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = '%1') THEN "
                                      "CREATE ROLE %1 LOGIN PASSWORD '%2'; END IF; END$$")
                           .arg(QString::fromUtf8(kUsuario), QString::fromUtf8(kContrasena)));
}

bool ServidorPostgres::Detener() {
    m_activo = false;
    return Ejecutar(kBin + QStringLiteral("pg_ctl"),
                    {"-D", m_dir.path() + QStringLiteral("/datos"), "-m", "immediate", "-w", "stop"}, true);
}

bool ServidorPostgres::CrearBaseDatos(const QString& nombre) {
    return EjecutarSql(QStringLiteral("postgres"), QStringLiteral("CREATE DATABASE %1 OWNER %2 ENCODING 'UTF8' "
                                                                  "TEMPLATE template0")
                                                       .arg(nombre, QString::fromUtf8(kUsuario)));
}

bool ServidorPostgres::EjecutarSql(const QString& base, const QString& sql) {
    return Ejecutar(kBin + QStringLiteral("psql"),
                    {"-X", "-q", "-v", "ON_ERROR_STOP=1", "-h", m_dir.path(), "-U", "postgres", "-d", base, "-c", sql},
                    false);
}
