#include "database/Esquema.h"

#include <QFile>

std::optional<Motor> MotorPorNombre(const QString& nombre) {
    const QString n = nombre.toLower();
    if (n == QLatin1String("sqlserver")) {
        return Motor::SqlServer;
    }
    if (n == QLatin1String("postgresql")) {
        return Motor::PostgreSql;
    }
    if (n == QLatin1String("sqlite")) {
        return Motor::Sqlite;
    }
    return std::nullopt;
}

QString ScriptEsquema(Motor motor) {
    const char* archivo = motor == Motor::SqlServer    ? ":/esquema/sqlserver.sql"
                          : motor == Motor::PostgreSql ? ":/esquema/postgresql.sql"
                                                       : ":/esquema/sqlite.sql";
    QFile f(QString::fromLatin1(archivo));
    // The scripts are compiled in: failing to open one is a build fault.
    if (!f.open(QIODevice::ReadOnly)) {
        qFatal("Falta el recurso %s", archivo);
    }
    return QString::fromUtf8(f.readAll());
}

QStringList SentenciasEsquema(Motor motor) {
    QStringList sentencias;
    QString actual;
    for (const QString& linea : ScriptEsquema(motor).split(u'\n')) {
        const QString limpia = linea.trimmed();
        if (limpia.isEmpty() || limpia.startsWith(QLatin1String("--"))) {
            continue;
        }
        actual += linea + u'\n';
        if (limpia.endsWith(u';')) {
            actual.chop(actual.size() - actual.lastIndexOf(u';'));
            sentencias << actual.trimmed();
            actual.clear();
        }
    }
    if (!actual.trimmed().isEmpty()) {
        sentencias << actual.trimmed();
    }
    return sentencias;
}
