#include "database/ColumnaOpcional.h"

#include "database/BaseDatos.h"
#include "support/ErrorEjecucion.h"

bool ConexionPerdida(const ErrorEjecucion& error) {
    for (const ErrorProveedor& r : error.Errores()) {
        if (r.sqlState.startsWith(QStringLiteral("08"))) {
            return true;
        }
    }
    return false;
}

bool SinPermiso(const ErrorEjecucion& error) {
    for (const ErrorProveedor& r : error.Errores()) {
        if (r.sqlState == QLatin1String("42501")) {
            return true;
        }
    }
    return false;
}

bool ExisteColumna(const QString& tabla, const QString& columna) {
    try {
        Conexion::Instancia().Consultar(QStringLiteral("SELECT ") + columna + QStringLiteral(" FROM ") + tabla +
                                        QStringLiteral(" WHERE 1 = 0"));
        return true;
    } catch (const ErrorEjecucion& e) {
        if (ConexionPerdida(e)) {
            throw;
        }
        return false;
    }
}
