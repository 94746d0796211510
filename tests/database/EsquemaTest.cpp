#include "database/Esquema.h"

#include <QMap>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

// Table name -> column names (lower case) declared by a script.
QMap<QString, QStringList> Tablas(Motor motor) {
    QMap<QString, QStringList> tablas;
    static const QRegularExpression crear(QStringLiteral("^CREATE TABLE (\\w+) \\((.*)\\)$"),
                                          QRegularExpression::DotMatchesEverythingOption);
    for (const QString& sentencia : SentenciasEsquema(motor)) {
        const auto m = crear.match(sentencia);
        if (!m.hasMatch()) {
            continue;
        }
        QStringList columnas;
        for (const QString& linea : m.captured(2).split(u'\n')) {
            const QString nombre = linea.trimmed().section(u' ', 0, 0).toLower();
            if (!nombre.isEmpty() && nombre != QLatin1String("primary")) {
                columnas << nombre;
            }
        }
        tablas.insert(m.captured(1).toLower(), columnas);
    }
    return tablas;
}

} // namespace

TEST(Esquema, TheThreeScriptsDeclareTheSameTablesAndColumns) {
    const auto sqlServer = Tablas(Motor::SqlServer);
    EXPECT_EQ(sqlServer.keys(),
              QStringList({"colaimpresion", "detallecolaimpresion", "empleado", "empleadosxgrupo", "impresora",
                           "impresorasximpresion", "parametros", "permisosxgrupo_trabajo", "terminal", "transacciones",
                           "transaccionesxterminal"}));
    EXPECT_TRUE(sqlServer["empleado"].contains("contraseña"));
    EXPECT_EQ(Tablas(Motor::PostgreSql), sqlServer);
    EXPECT_EQ(Tablas(Motor::Sqlite), sqlServer);

    for (Motor m : {Motor::SqlServer, Motor::PostgreSql, Motor::Sqlite}) {
        for (const QString& s : SentenciasEsquema(m)) {
            EXPECT_FALSE(s.contains(u';') || s.contains(QLatin1String("--"))) << s.toStdString();
        }
    }
    EXPECT_EQ(MotorPorNombre("PostgreSQL"), Motor::PostgreSql);
    EXPECT_FALSE(MotorPorNombre("oracle"));
}
