#include "database/FalloConexion.h"

#include "credentials/ProveedorCredenciales.h"
#include "database/BaseDatos.h"
#include "platform/Ajustes.h"

#include <QFile>
#include <QSettings>
#include <algorithm>

namespace {

// SQL Server says 28000; PostgreSQL's driver reports a refused password or
// an unknown role as 08001 with the server's words. A server still starting
// or recovering says "login failed" too, for a database it cannot open yet:
// that passes by itself.
bool DeCredenciales(const ErrorProveedor& error) {
    const QString texto = error.descripcion.toLower();
    if (texto.contains(QLatin1String("cannot open database")) || texto.contains(QLatin1String("upgrade")) ||
        texto.contains(QLatin1String("starting up")) || texto.contains(QLatin1String("recovery"))) {
        return false;
    }
    return error.sqlState.startsWith(QLatin1String("28")) || texto.contains(QLatin1String("password")) ||
           texto.contains(QLatin1String("authentication")) || texto.contains(QLatin1String("login failed")) ||
           (texto.contains(QLatin1String("role")) && texto.contains(QLatin1String("does not exist")));
}

QString EnConfiguracion(const QString& claves) {
    return claves + QStringLiteral(" en [Configuracion] de ") + Ajustes::RutaArchivo(QStringLiteral("ORLAN"));
}

QString Arreglo(const ErrorProveedor& error) {
    const QString texto = error.descripcion.toLower();
    const QString directorio = qEnvironmentVariable("ODBCSYSINI");
    const QString registro = directorio + QStringLiteral("/odbcinst.ini");
    const bool sinControlador =
        texto.contains(QLatin1String("can't open lib")) || texto.contains(QLatin1String("file not found"));
    const bool sinRegistro =
        error.sqlState == QLatin1String("IM002") || texto.contains(QLatin1String("data source name not found"));
    if (directorio.isEmpty() && (sinControlador || sinRegistro)) {
        // The driver manager then takes the name "sql server" for a library.
        return QStringLiteral("la variable ODBCSYSINI no esta definida: debe nombrar el registro de controladores, "
                              "p. ej. ODBCSYSINI=/usr/share/orlan-cola/odbc/postgresql (en /etc/default/orlan-cola)");
    }
    if (sinRegistro) {
        return QStringLiteral("ODBCSYSINI=") + directorio + QStringLiteral(": ") + registro +
               (QFile::exists(registro) ? QStringLiteral(" no define la seccion [SQL Server]")
                                        : QStringLiteral(" no existe"));
    }
    if (sinControlador) {
        return QStringLiteral("el registro ") + registro + QStringLiteral(" nombra el controlador Driver=") +
               LibreriaRegistrada(registro) +
               QStringLiteral(", que no esta instalado: instale su paquete (tdsodbc, odbc-postgresql o "
                              "libsqliteodbc) o corrija Driver=");
    }
    if (texto.contains(QLatin1String("peer authentication failed")) ||
        texto.contains(QLatin1String("ident authentication failed"))) {
        // No password was asked for: the server's pg_hba.conf admits a local
        // account only as the role of the same name.
        return QStringLiteral("PostgreSQL admite por el socket local solo al rol con el nombre del usuario del "
                              "sistema (peer en pg_hba.conf): use ese rol en Usuario= de ") +
               ProveedorCredenciales::RutaArchivo() +
               QStringLiteral(", o agregue a pg_hba.conf una linea 'local BASE ROL scram-sha-256' para su rol");
    }
    if (DeCredenciales(error)) {
        return QStringLiteral("revise Usuario= y Contrasena= en ") + ProveedorCredenciales::RutaArchivo();
    }
    if ((texto.contains(QLatin1String("database")) && texto.contains(QLatin1String("does not exist"))) ||
        texto.contains(QLatin1String("cannot open database")) ||
        texto.contains(QLatin1String("unable to open database"))) {
        return QStringLiteral("revise ") + EnConfiguracion(QStringLiteral("BASE_DE_DATOS")) +
               QStringLiteral(" (con SQLite, la ruta del archivo: su directorio debe existir)");
    }
    if (error.sqlState.startsWith(QLatin1String("08")) || error.sqlState == QLatin1String("HYT00") ||
        texto.contains(QLatin1String("could not connect")) || texto.contains(QLatin1String("timeout"))) {
        return QStringLiteral("revise ") + EnConfiguracion(QStringLiteral("Servidor y Puerto")) +
               QStringLiteral(", y que el servidor de base de datos este en marcha y acepte conexiones");
    }
    return QStringLiteral("revise ") + EnConfiguracion(QStringLiteral("Servidor, Puerto y BASE_DE_DATOS")) +
           QStringLiteral(", ") + ProveedorCredenciales::RutaArchivo() + QStringLiteral(" y ODBCSYSINI");
}

QString UnaLinea(QString texto) {
    texto.replace(u'\r', u' ');
    texto.replace(u'\n', u' ');
    return texto.simplified();
}

} // namespace

bool CredencialesRechazadas() {
    const ErroresProveedor& errores = Conexion::Instancia().Errores();
    return errores.isEmpty() || std::any_of(errores.begin(), errores.end(), DeCredenciales);
}

QString LibreriaRegistrada(const QString& registro) {
    QSettings ini(registro, QSettings::IniFormat);
    return ini.value(QStringLiteral("SQL Server/Driver")).toString();
}

QString ExplicarFalloConexion() {
    const ErroresProveedor& errores = Conexion::Instancia().Errores();
    if (errores.isEmpty()) {
        // The connection was never tried: the credentials could not be read.
        const QString fallo = ProveedorCredenciales::UltimoFallo();
        return (fallo.isEmpty() ? QStringLiteral("no se pudieron leer las credenciales") : fallo) +
               QStringLiteral("; el archivo debe existir, ser del usuario del servidor, tener permisos 0600 "
                              "(chmod 600 ") +
               ProveedorCredenciales::RutaArchivo() + QStringLiteral(") y lineas Usuario= y Contrasena=");
    }
    // The driver manager's "can't open lib" comes after a generic first record.
    ErrorProveedor principal = errores.first();
    for (const ErrorProveedor& e : errores) {
        if (e.descripcion.contains(QLatin1String("Can't open lib"), Qt::CaseInsensitive)) {
            principal = e;
        }
    }
    return QStringLiteral("SQLSTATE ") + principal.sqlState + QStringLiteral(": ") + UnaLinea(principal.descripcion) +
           QStringLiteral("; ") + Arreglo(principal);
}
