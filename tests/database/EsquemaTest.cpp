#include "database/Esquema.h"

#include <QMap>
#include <gtest/gtest.h>

// Table name -> column names (lower case) declared by a script.
static QMap<QString, QStringList> Tablas(Motor motor) {
    QMap<QString, QStringList> tablas;
    for (const QString& sentencia : SentenciasEsquema(motor)) {
        // A ";" may only stand inside a function body ($$ ... $$).
        EXPECT_FALSE((sentencia.contains(u';') && !sentencia.contains(QLatin1String("$$"))) ||
                     sentencia.contains(QLatin1String("--")))
            << sentencia.toStdString();
        const QStringList lineas = sentencia.toLower().split(u'\n');
        if (lineas[0].startsWith(QLatin1String("create table "))) {
            QStringList& columnas = tablas[lineas[0].section(u' ', 2, 2)];
            for (const QString& linea : lineas.mid(1, lineas.size() - 2)) {
                columnas << linea.trimmed().section(u' ', 0, 0);
            }
        }
    }
    return tablas;
}

TEST(Esquema, TheThreeScriptsDeclareTheSameTablesAndColumns) {
    const auto sqlServer = Tablas(Motor::SqlServer);
    EXPECT_EQ(sqlServer.keys(),
              QStringList({"colaimpresion", "detallecolaimpresion", "empleado", "empleadosxgrupo", "impresora",
                           "impresorasximpresion", "parametros", "permisosxgrupo_trabajo", "terminal", "transacciones",
                           "transaccionesxterminal"}));
    EXPECT_TRUE(sqlServer["empleado"].contains("contraseña"));
    EXPECT_EQ(Tablas(Motor::PostgreSql), sqlServer);
    EXPECT_EQ(Tablas(Motor::Sqlite), sqlServer);
}
