// The connection string Conectar composes from the settings and the
// credentials: whatever the values hold, each reads back whole under its own
// key, the driver stays the one named, and no value adds an attribute.
// Input: server, NUL, database, NUL, user, NUL, password, NUL, port.

#include "Partes.h"

#include "database/AvisoCambios.h"
#include "database/BaseDatos.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* datos, std::size_t largo) {
    const QList<QByteArray> partes = Partes(datos, largo, 5);
    QStringList valores;
    for (const QByteArray& p : partes) {
        valores.append(QString::fromUtf8(p));
    }
    const QString cadena = CadenaConexion(valores[0], valores[1], valores[2], valores[3], valores[4]);
    const QStringList claves = {QStringLiteral("server"), QStringLiteral("database"), QStringLiteral("uid"),
                                QStringLiteral("pwd"), QStringLiteral("port")};
    for (qsizetype i = 0; i < claves.size(); ++i) {
        if (ValorCadenaConexion(cadena, claves[i]) != valores[i]) {
            std::abort();
        }
    }
    if (ValorCadenaConexion(cadena, QStringLiteral("driver")) != QStringLiteral("sql server")) {
        std::abort();
    }
    // Any other key is absent, however the values spell it.
    for (const QString& otra : {QStringLiteral("dsn"), QStringLiteral("filedsn"), QStringLiteral("savefile")}) {
        if (!ValorCadenaConexion(cadena, otra).isEmpty()) {
            std::abort();
        }
    }
    // A value that needs no braces is written as it is.
    for (const QString& v : valores) {
        const bool llano = !v.contains(u';') && !v.contains(u'{') && !v.contains(u'}') && v.trimmed() == v;
        if (llano != (ValorConexion(v) == v)) {
            std::abort();
        }
    }
    return 0;
}
