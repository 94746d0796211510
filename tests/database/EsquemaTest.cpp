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
        // A table that may exist already: "CREATE TABLE IF NOT EXISTS", or on
        // SQL Server a line "IF OBJECT_ID(...) IS NULL" before the CREATE.
        QStringList lineas = sentencia.toLower().replace(QLatin1String(" if not exists"), QString()).split(u'\n');
        if (lineas[0].startsWith(QLatin1String("if object_id("))) {
            lineas.removeFirst();
        }
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
                           "impresorasximpresion", "parametros", "permisosxgrupo_trabajo", "reclamotrabajo", "terminal",
                           "transacciones", "transaccionesxterminal"}));
    EXPECT_TRUE(sqlServer["empleado"].contains("contraseña"));
    EXPECT_EQ(Tablas(Motor::PostgreSql), sqlServer);
    EXPECT_EQ(Tablas(Motor::Sqlite), sqlServer);
}

TEST(Esquema, TheOptionalPartsCanBeRunOnTheirOwn) {
    for (Motor motor : {Motor::SqlServer, Motor::PostgreSql, Motor::Sqlite}) {
        const QStringList reclamos = SentenciasReclamos(motor);
        ASSERT_EQ(reclamos.size(), 1);
        EXPECT_TRUE(reclamos[0].contains(QLatin1String("CREATE TABLE"))) << reclamos[0].toStdString();
        EXPECT_TRUE(reclamos[0].contains(QLatin1String("ReclamoTrabajo")));
        EXPECT_TRUE(SentenciasEsquema(motor).contains(reclamos[0]));
        for (const QString& s : SentenciasDespertar(motor)) {
            EXPECT_FALSE(s.contains(QLatin1String("ReclamoTrabajo"))) << s.toStdString();
        }
    }
    EXPECT_EQ(SentenciasDespertar(Motor::PostgreSql).size(), 8);
    EXPECT_TRUE(SentenciasDespertar(Motor::Sqlite).isEmpty());
}
