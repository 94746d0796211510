#include "TerminalBench.h"

#include "database/BaseDatos.h"
#include "platform/Ajustes.h"
#include "startup/ProveedorCredenciales.h"
#include "support/ErrorEjecucion.h"
#include "testsupport/ServidorPostgres.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

const char* NombreMotor(Motor motor) {
    return motor == Motor::SqlServer ? "sqlserver" : motor == Motor::PostgreSql ? "postgresql" : "sqlite";
}

} // namespace

TerminalBench::TerminalBench(Motor motor, int numeroTerminal) : m_motor(motor), m_numeroTerminal(numeroTerminal) {
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.path() + QStringLiteral("/config")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir.path() + QStringLiteral("/data")));
    qputenv("ODBCSYSINI", QByteArray(ORLAN_SOURCE_DIR "/src/database/odbc/") + NombreMotor(motor));
}

bool TerminalBench::Preparar(const QString& nombreBase) {
    QByteArray credenciales = "Usuario=orlan\nContrasena=orlan\n";
    if (m_motor == Motor::PostgreSql) {
        ServidorPostgres& pg = ServidorPostgres::Compartido();
        if (!pg.Activo() || !pg.CrearBaseDatos(nombreBase)) {
            m_error = QStringLiteral("PostgreSQL: ") + pg.Error();
            return false;
        }
        m_servidor = pg.DirectorioSocket();
        m_baseDatos = nombreBase;
        credenciales = QByteArray("Usuario=") + ServidorPostgres::kUsuario +
                       "\nContrasena=" + ServidorPostgres::kContrasena + "\n";
    } else {
        m_servidor = QStringLiteral("localhost");
        m_baseDatos = m_dir.path() + u'/' + nombreBase + QStringLiteral(".db");
    }
    Ajustes::Guardar("ORLAN", "Configuracion", "Terminal", QString::number(m_numeroTerminal));
    Ajustes::Guardar("ORLAN", "Configuracion", "Servidor", m_servidor);
    Ajustes::Guardar("ORLAN", "Configuracion", "BASE_DE_DATOS", m_baseDatos);

    const QString ruta = ProveedorCredenciales::RutaArchivo();
    QDir().mkpath(QFileInfo(ruta).absolutePath());
    QFile f(ruta);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(credenciales) != credenciales.size()) {
        m_error = QStringLiteral("no se pudo escribir ") + ruta;
        return false;
    }
    f.close();
    f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);

    if (!Conectar()) {
        const ErroresProveedor& e = Conexion::Instancia().Errores();
        m_error = QStringLiteral("Conectar: ") +
                  (e.isEmpty() ? QString() : e.first().sqlState + u' ' + e.first().descripcion);
        return false;
    }
    try {
        for (const QString& sentencia : SentenciasEsquema(m_motor)) {
            Conexion::Instancia().Ejecutar(sentencia);
        }
    } catch (const ErrorEjecucion& e) {
        m_error = QStringLiteral("esquema: ") + e.Descripcion();
        return false;
    }
    return true;
}

void TerminalBench::AltaImpresoras() {
    Conexion& conexion = Conexion::Instancia();
    const QString t = QString::number(m_numeroTerminal);
    conexion.Ejecutar(QStringLiteral("INSERT INTO Terminal (ID_Terminal) VALUES (") + t + u')');
    conexion.Ejecutar(
        QStringLiteral("INSERT INTO Impresora (Id_Impresora, ID_Terminal, Puerto, Modo, Nombre_Impresora, "
                       "Id_Impresora_Respaldo, Redirigido, Estado_Impresora, esdecheques) VALUES "
                       "(1, ") +
        t + QStringLiteral(", 'LPT1', 'E', 'Caja', 2, 1, 'A', 0)"));
    conexion.Ejecutar(
        QStringLiteral("INSERT INTO Impresora (Id_Impresora, ID_Terminal, Puerto, Modo, Nombre_Impresora, "
                       "Id_Impresora_Respaldo, Redirigido, Estado_Impresora, esdecheques) VALUES "
                       "(2, ") +
        t + QStringLiteral(", 'LPT1', 'E', 'Cocina', 1, 2, 'A', 0)"));
}
