#include "database/Esquema.h"

#include <QFile>

#include <algorithm>

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

namespace {

// The parts a script may have, each from its heading to the next one's or to
// the end.
const QString kParteDespertar = QStringLiteral("-- Despertar:");
const QString kParteReclamos = QStringLiteral("-- Reclamos:");

QString Parte(const QString& script, const QString& encabezado) {
    const qsizetype inicio = script.indexOf(encabezado);
    if (inicio < 0) {
        return QString();
    }
    qsizetype fin = script.size();
    for (const QString& otro : {kParteDespertar, kParteReclamos}) {
        const qsizetype siguiente = script.indexOf(otro, inicio + encabezado.size());
        if (siguiente > inicio) {
            fin = std::min(fin, siguiente);
        }
    }
    return script.mid(inicio, fin - inicio);
}

QStringList Sentencias(const QString& script) {
    QStringList sentencias;
    QString actual;
    bool enCuerpo = false; // inside $$ ... $$
    for (const QString& linea : script.split(u'\n')) {
        const QString limpia = linea.trimmed();
        if (!enCuerpo && (limpia.isEmpty() || limpia.startsWith(QLatin1String("--")))) {
            continue;
        }
        actual += linea + u'\n';
        if (linea.count(QLatin1String("$$")) % 2 == 1) {
            enCuerpo = !enCuerpo;
        }
        if (!enCuerpo && limpia.endsWith(u';')) {
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

} // namespace

QStringList SentenciasEsquema(Motor motor) {
    return Sentencias(ScriptEsquema(motor));
}

QStringList SentenciasDespertar(Motor motor) {
    return Sentencias(Parte(ScriptEsquema(motor), kParteDespertar));
}

QStringList SentenciasReclamos(Motor motor) {
    return Sentencias(Parte(ScriptEsquema(motor), kParteReclamos));
}
