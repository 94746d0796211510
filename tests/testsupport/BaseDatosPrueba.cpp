#include "testsupport/BaseDatosPrueba.h"

#include "database/BaseDatos.h"
#include "platform/Ajustes.h"
#include "startup/ProveedorCredenciales.h"
#include "support/ErrorEjecucion.h"
#include "testsupport/ServidorPostgres.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

BaseDatosPrueba::BaseDatosPrueba(EntornoPrueba& entorno, Motor motor) : m_entorno(entorno), m_motor(motor) {}

QString BaseDatosPrueba::DirectorioOdbc(Motor motor) {
    const char* nombre = motor == Motor::SqlServer ? "sqlserver" : motor == Motor::PostgreSql ? "postgresql" : "sqlite";
    return QStringLiteral(ORLAN_SOURCE_DIR "/src/database/odbc/") + QString::fromLatin1(nombre);
}

void BaseDatosPrueba::EscribirCredenciales(const QByteArray& contenido, int modo) {
    const QString ruta = ProveedorCredenciales::RutaArchivo();
    QDir().mkpath(QFileInfo(ruta).absolutePath());
    QFile f(ruta);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(contenido);
    f.close();
    QFileDevice::Permissions p;
    const QFileDevice::Permission bits[] = {QFileDevice::ExeOther, QFileDevice::WriteOther, QFileDevice::ReadOther,
                                            QFileDevice::ExeGroup, QFileDevice::WriteGroup, QFileDevice::ReadGroup,
                                            QFileDevice::ExeOwner, QFileDevice::WriteOwner, QFileDevice::ReadOwner};
    for (int i = 0; i < 9; ++i) {
        if (modo & (1 << i)) {
            p |= bits[i];
        }
    }
    f.setPermissions(p);
}

bool BaseDatosPrueba::Preparar(bool crearEsquema) {
    static int contador = 0;
    qputenv("ODBCSYSINI", QFile::encodeName(DirectorioOdbc(m_motor)));
    QString servidor;
    QString base;
    if (m_motor == Motor::PostgreSql) {
        ServidorPostgres& pg = ServidorPostgres::Compartido();
        if (!pg.Activo()) {
            m_error = pg.Error();
            return false;
        }
        base = QStringLiteral("prueba%1").arg(++contador);
        if (!pg.CrearBaseDatos(base)) {
            m_error = pg.Error();
            return false;
        }
        servidor = pg.DirectorioSocket();
        EscribirCredenciales(QByteArray("Usuario=") + ServidorPostgres::kUsuario +
                             "\nContrasena=" + ServidorPostgres::kContrasena + "\nLlave=llave\n");
    } else {
        servidor = QStringLiteral("localhost");
        base = m_entorno.Raiz() + QStringLiteral("/dborlan.db");
        EscribirCredenciales("Usuario=orlan\nContrasena=orlan\nLlave=llave\n");
    }
    Ajustes::Guardar("ORLAN", "Configuracion", "Servidor", servidor);
    Ajustes::Guardar("ORLAN", "Configuracion", "BASE_DE_DATOS", base);
    if (!crearEsquema) {
        return true;
    }
    if (!Conectar()) {
        const ErroresProveedor& e = Conexion::Instancia().Errores();
        m_error =
            QStringLiteral("Conectar: ") + (e.isEmpty() ? QString() : e.first().sqlState + " " + e.first().descripcion);
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
