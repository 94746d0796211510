#include "TerminalPrueba.h"
#include "credentials/ProveedorCredenciales.h"
#include "platform/Ajustes.h"
#include "testsupport/EntornoPrueba.h"

#include <QDir>
#include <QFile>
#include <csignal>

TerminalPrueba::TerminalPrueba(int numero, const QString& odbcsysini, const QString& servidor, const QString& baseDatos,
                               const QByteArray& credenciales) {
    QProcessEnvironment entorno = QProcessEnvironment::systemEnvironment();
    entorno.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.path() + QStringLiteral("/config"));
    entorno.insert(QStringLiteral("XDG_DATA_HOME"), m_dir.path() + QStringLiteral("/data"));
    entorno.insert(QStringLiteral("ODBCSYSINI"), odbcsysini);
    Ajuste(QStringLiteral("Configuracion"), QStringLiteral("Terminal"), QString::number(numero));
    Ajuste(QStringLiteral("Configuracion"), QStringLiteral("Servidor"), servidor);
    Ajuste(QStringLiteral("Configuracion"), QStringLiteral("BASE_DE_DATOS"), baseDatos);
    Ajuste(QStringLiteral("Puertos"), QStringLiteral("LPT"), QStringLiteral("simulado"));

    QDir().mkpath(m_dir.path() + QStringLiteral("/config/orlan"));
    QFile archivo(m_dir.path() + QStringLiteral("/config/orlan/credenciales.ini"));
    archivo.open(QIODevice::WriteOnly);
    archivo.write(credenciales);
    archivo.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    m_proceso.setProcessEnvironment(entorno);
    m_proceso.setProcessChannelMode(QProcess::MergedChannels);
}

TerminalPrueba::TerminalPrueba(int numero, Motor motor)
    : TerminalPrueba(numero, BaseDatosPrueba::DirectorioOdbc(motor),
                     Ajustes::Leer("ORLAN", "Configuracion", "Servidor"),
                     Ajustes::Leer("ORLAN", "Configuracion", "BASE_DE_DATOS"),
                     EntornoPrueba::Leer(ProveedorCredenciales::RutaArchivo())) {}

TerminalPrueba::~TerminalPrueba() {
    TerminarProceso(m_proceso);
}

void TerminalPrueba::Ajuste(const QString& seccion, const QString& clave, const QString& valor) {
    m_ajustes[seccion][clave] = valor;
}

void TerminalPrueba::EscribirAjustes() {
    QFile f(m_dir.path() + QStringLiteral("/config/orlan/orlan.ini"));
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    for (auto s = m_ajustes.cbegin(); s != m_ajustes.cend(); ++s) {
        f.write("[" + s.key().toUtf8() + "]\n");
        for (auto k = s->cbegin(); k != s->cend(); ++k) {
            f.write(k.key().toUtf8() + "=" + k.value().toUtf8() + "\n");
        }
    }
}

void TerminalPrueba::Iniciar() {
    EscribirAjustes();
    m_proceso.start(QStringLiteral(ORLAN_BUILD_DIR "/src/orlan-cola"), {QStringLiteral("--servicio")});
    m_proceso.waitForStarted(5000);
}

int TerminalPrueba::Detener() {
    if (Corriendo()) {
        ::kill(static_cast<pid_t>(m_proceso.processId()), SIGTERM);
        if (!m_proceso.waitForFinished(15000)) {
            TerminarProceso(m_proceso);
            return -1;
        }
    }
    return m_proceso.exitStatus() == QProcess::NormalExit ? m_proceso.exitCode() : -1;
}

void TerminalPrueba::Matar() {
    TerminarProceso(m_proceso);
}

QString TerminalPrueba::Salida() {
    m_salida += QString::fromUtf8(m_proceso.readAll());
    return m_salida;
}

QByteArray TerminalPrueba::CapturaLpt() const {
    QFile f(RaizUnidad() + QStringLiteral("/lpt/378.bin"));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString TerminalPrueba::Bitacora() const {
    return EntornoPrueba::Bitacora(RaizUnidad());
}
