#include "platform/Cp1252.h"

#include <array>

namespace {

// Characters of bytes 0x80-0x9F; the rest of the code page is Latin-1.
constexpr std::array<char16_t, 32> kAltos = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

} // namespace

namespace Cp1252 {

char CodificarCaracter(QChar c) {
    const char16_t u = c.unicode();
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
        return static_cast<char>(u);
    }
    for (std::size_t i = 0; i < kAltos.size(); ++i) {
        if (kAltos[i] == u) {
            return static_cast<char>(0x80 + i);
        }
    }
    return '?';
}

qsizetype CodificarEn(QStringView texto, char* destino) {
    char* const inicio = destino;
    const qsizetype n = texto.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = texto[i];
        if (c.unicode() < 0x80) {
            *destino++ = static_cast<char>(c.unicode());
            continue;
        }
        // Both halves of a pair are one character outside the code page.
        if (c.isHighSurrogate() && i + 1 < n && texto[i + 1].isLowSurrogate()) {
            ++i;
        }
        *destino++ = CodificarCaracter(c);
    }
    return destino - inicio;
}

QByteArray Codificar(QStringView texto) {
    QByteArray salida(texto.size(), Qt::Uninitialized);
    salida.truncate(CodificarEn(texto, salida.data()));
    return salida;
}

QString Decodificar(QByteArrayView bytes) {
    QString salida(bytes.size(), Qt::Uninitialized);
    QChar* destino = salida.data();
    for (char b : bytes) {
        const auto u = static_cast<unsigned char>(b);
        *destino++ = (u >= 0x80 && u < 0xA0) ? QChar(kAltos[u - 0x80]) : QChar(u);
    }
    return salida;
}

} // namespace Cp1252
