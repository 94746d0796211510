#include "testsupport/BaseDatosPrueba.h"

#include "credentials/ProveedorCredenciales.h"
#include "database/BaseDatos.h"
#include "platform/Ajustes.h"
#include "support/ErrorEjecucion.h"
#include "testsupport/ServidorPostgres.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <sys/stat.h>

QString BaseDatosPrueba::DirectorioOdbc(Motor motor) {
    const char* nombres[] = {"sqlserver", "postgresql", "sqlite"};
    return QStringLiteral(ORLAN_SOURCE_DIR "/src/database/odbc/") + nombres[int(motor)];
}

void BaseDatosPrueba::EscribirCredenciales(const QByteArray& contenido, int modo) {
    const QString ruta = ProveedorCredenciales::RutaArchivo();
    QDir().mkpath(QFileInfo(ruta).absolutePath());
    QFile f(ruta);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(contenido);
    f.close();
    ::chmod(QFile::encodeName(ruta).constData(), modo);
}

bool BaseDatosPrueba::Preparar(bool crearEsquema) {
    static int contador = 0;
    qputenv("ODBCSYSINI", QFile::encodeName(DirectorioOdbc(m_motor)));
    QString servidor = QStringLiteral("localhost");
    QString base = m_entorno.Raiz() + QStringLiteral("/dborlan.db");
    if (m_motor == Motor::PostgreSql) {
        ServidorPostgres& pg = ServidorPostgres::Compartido();
        base = QStringLiteral("prueba%1").arg(++contador);
        if (!pg.Activo() || !pg.CrearBaseDatos(base)) {
            m_error = pg.Error();
            return false;
        }
        servidor = pg.DirectorioSocket();
    }
    EscribirCredenciales(QByteArray("Usuario=") + ServidorPostgres::kUsuario +
                         "\nContrasena=" + ServidorPostgres::kContrasena + "\nLlave=llave\n");
    Ajustes::Guardar("ORLAN", "Configuracion", "Servidor", servidor);
    Ajustes::Guardar("ORLAN", "Configuracion", "BASE_DE_DATOS", base);
    m_base = base;
    if (!crearEsquema) {
        return true;
    }
    if (!Conectar()) {
        m_error = QStringLiteral("Conectar: ") + Conexion::Instancia().Errores().value(0).descripcion;
        return false;
    }
    for (const QString& sentencia : SentenciasEsquema(m_motor)) {
        Conexion::Instancia().Ejecutar(sentencia); // a failure throws into the test
    }
    return true;
}

bool BaseDatosPrueba::BarraEscapaComillas() {
    if (m_motor != Motor::PostgreSql) {
        return true;
    }
    try {
        Conexion::Instancia().Ejecutar(QStringLiteral("ALTER DATABASE ") + m_base +
                                       QStringLiteral(" SET standard_conforming_strings = off"));
    } catch (const ErrorEjecucion& e) {
        m_error = e.Descripcion();
        return false;
    }
    if (!Conectar()) {
        m_error = QStringLiteral("Conectar: ") + Conexion::Instancia().Errores().value(0).descripcion;
        return false;
    }
    return true;
}
