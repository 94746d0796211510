#pragma once

#include <QByteArray>
#include <QList>
#include <cstdint>

// Splits a fuzz input into `cuantas` parts at its last cuantas - 1 NUL bytes,
// so that the first part (a whole file) may hold NULs of its own. Missing
// parts are empty.
inline QList<QByteArray> Partes(const std::uint8_t* datos, std::size_t largo, int cuantas) {
    QByteArray resto(reinterpret_cast<const char*>(datos), qsizetype(largo));
    QList<QByteArray> partes;
    while (partes.size() < cuantas - 1) {
        const qsizetype nul = resto.lastIndexOf('\0');
        if (nul < 0) {
            break;
        }
        partes.prepend(resto.mid(nul + 1));
        resto.truncate(nul);
    }
    partes.prepend(resto);
    while (partes.size() < cuantas) {
        partes.append(QByteArray());
    }
    return partes;
}
