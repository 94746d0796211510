#include "ports/NombrePuerto.h"

std::optional<NombrePuerto> NombrePuerto::Leer(const QString& texto) {
    if (texto.size() != 4) {
        return std::nullopt;
    }
    const QString tipo = texto.left(3).toUpper();
    const QChar cifra = texto[3];
    if ((tipo != u"COM" && tipo != u"LPT") || cifra < u'1' || cifra > u'9') {
        return std::nullopt;
    }
    return NombrePuerto{tipo == u"COM" ? Clase::Serie : Clase::Paralelo, cifra.unicode() - u'0', texto.toUpper()};
}

QString NombrePuerto::Citar(const QString& texto, int largo) {
    QString cita = texto.left(largo);
    for (QChar& c : cita) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F) {
            c = u'?';
        }
    }
    return texto.size() > largo ? cita + QStringLiteral("...") : cita;
}
