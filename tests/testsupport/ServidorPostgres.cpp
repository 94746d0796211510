#include "testsupport/ServidorPostgres.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <algorithm>
#include <unistd.h>

// The directory of the server's programs (initdb, pg_ctl, psql), ending in
// '/': the one pg_config names when it holds them, else the highest version
// under /usr/lib/postgresql (Debian keeps each major version apart, and
// pg_config comes with the client library, which may be newer than the server).
static const QString& Programas() {
    static const QString directorio = [] {
        auto completo = [](const QString& d) {
            return QFileInfo(d + QStringLiteral("/initdb")).isExecutable() &&
                   QFileInfo(d + QStringLiteral("/pg_ctl")).isExecutable();
        };
        QProcess pgConfig;
        pgConfig.start(QStringLiteral("pg_config"), {QStringLiteral("--bindir")});
        if (pgConfig.waitForFinished(10000) && pgConfig.exitCode() == 0) {
            const QString d = QString::fromLocal8Bit(pgConfig.readAllStandardOutput()).trimmed();
            if (completo(d)) {
                return d + u'/';
            }
        }
        QStringList versiones =
            QDir(QStringLiteral("/usr/lib/postgresql")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        std::sort(versiones.begin(), versiones.end(),
                  [](const QString& a, const QString& b) { return a.toDouble() > b.toDouble(); });
        for (const QString& v : versiones) {
            const QString d = QStringLiteral("/usr/lib/postgresql/") + v + QStringLiteral("/bin");
            if (completo(d)) {
                return d + u'/';
            }
        }
        return QString(); // the programs from PATH, if anywhere
    }();
    return directorio;
}

ServidorPostgres& ServidorPostgres::Compartido() {
    static ServidorPostgres servidor;
    if (!servidor.m_activo) {
        servidor.Iniciar();
    }
    return servidor;
}

// Runs one of the server's programs, as the postgres user when we are root.
bool ServidorPostgres::Ejecutar(const QString& programa, const QStringList& argumentos) {
    const QStringList orden = (::geteuid() == 0 ? QStringList{"runuser", "-u", "postgres", "--"} : QStringList()) +
                              QStringList{Programas() + programa} + argumentos;
    QProcess proceso;
    proceso.setProcessChannelMode(QProcess::MergedChannels);
    proceso.start(orden.first(), orden.mid(1));
    if (proceso.waitForFinished(120000) && proceso.exitStatus() == QProcess::NormalExit && proceso.exitCode() == 0) {
        return true;
    }
    m_error = orden.join(u' ') + QStringLiteral(":\n") + proceso.errorString() + u'\n' + proceso.readAll();
    return false;
}

bool ServidorPostgres::Iniciar() {
    const QString datos = m_dir.path() + QStringLiteral("/datos");
    if (!m_creado) {
        // The guardian: once this program has ended, it stops the server and
        // removes the directory (which is left to it).
        m_dir.setAutoRemove(false);
        const QString comoPostgres = ::geteuid() == 0 ? QStringLiteral("runuser -u postgres -- ") : QString();
        QProcess::startDetached(
            "sh", {"-c", QStringLiteral("exec >/dev/null 2>&1; while kill -0 %1; do sleep 1; done; %2%3pg_ctl -D %4 -m "
                                        "immediate stop; rm -rf %5")
                             .arg(QCoreApplication::applicationPid())
                             .arg(comoPostgres, Programas(), datos, m_dir.path())});
        if ((::geteuid() == 0 && QProcess::execute("chown", {"postgres:", m_dir.path()}) != 0) ||
            !Ejecutar("initdb", {"-D", datos, "-E", "UTF8", "--locale=C.UTF-8", "-U", "postgres", "--no-sync"})) {
            return false;
        }
        QFile hba(datos + QStringLiteral("/pg_hba.conf"));
        hba.open(QIODevice::WriteOnly | QIODevice::Truncate);
        hba.write("local all postgres trust\nlocal all all scram-sha-256\n");
    }
    const QString opciones = QStringLiteral("-c listen_addresses='' -c unix_socket_directories='%1' -c fsync=off"
                                            " -c full_page_writes=off -c max_connections=450")
                                 .arg(m_dir.path());
    m_activo = Ejecutar(
        "pg_ctl", {"-D", datos, "-l", m_dir.path() + QStringLiteral("/servidor.log"), "-o", opciones, "-w", "start"});
    if (m_activo && !m_creado) {
        m_creado = Sql(QStringLiteral("CREATE ROLE %1 LOGIN PASSWORD '%2'")
                           .arg(QString::fromUtf8(kUsuario), QString::fromUtf8(kContrasena)));
    }
    return m_activo && m_creado;
}

bool ServidorPostgres::Detener() {
    m_activo = false;
    return Ejecutar("pg_ctl", {"-D", m_dir.path() + QStringLiteral("/datos"), "-m", "immediate", "-w", "stop"});
}

bool ServidorPostgres::CrearBaseDatos(const QString& nombre) {
    return Sql(QStringLiteral("CREATE DATABASE %1 OWNER %2 ENCODING 'UTF8' TEMPLATE template0")
                   .arg(nombre, QString::fromUtf8(kUsuario)));
}

bool ServidorPostgres::CambiarContrasena(const QString& contrasena) {
    return Sql(QStringLiteral("ALTER ROLE %1 PASSWORD '%2'")
                   .arg(QString::fromUtf8(kUsuario), QString(contrasena).replace(u'\'', QStringLiteral("''"))));
}

bool ServidorPostgres::Sql(const QString& sql) {
    return Ejecutar("psql", {"-X", "-q", "-v", "ON_ERROR_STOP=1", "-h", m_dir.path(), "-U", "postgres", "-d",
                             "postgres", "-c", sql});
}

qint64 ServidorPostgres::Pid() const {
    QFile f(m_dir.path() + QStringLiteral("/datos/postmaster.pid"));
    return m_activo && f.open(QIODevice::ReadOnly) ? f.readLine().trimmed().toLongLong() : 0;
}

bool ServidorPostgres::Senal(int senal) {
    const qint64 postmaster = Pid();
    if (postmaster <= 0 || ::kill(static_cast<pid_t>(postmaster), senal) != 0) {
        m_error = QStringLiteral("no se encontro el proceso del servidor");
        return false;
    }
    // Every backend is a child of the postmaster (field 4 of /proc/<pid>/stat).
    const QStringList procesos = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& proceso : procesos) {
        QFile stat(QStringLiteral("/proc/") + proceso + QStringLiteral("/stat"));
        if (!stat.open(QIODevice::ReadOnly)) {
            continue;
        }
        const QByteArray texto = stat.readAll();
        const QList<QByteArray> campos = texto.mid(texto.lastIndexOf(')') + 2).split(' ');
        if (campos.size() > 1 && campos[1].toLongLong() == postmaster) {
            ::kill(static_cast<pid_t>(proceso.toLongLong()), senal);
        }
    }
    return true;
}
