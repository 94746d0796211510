#pragma once

#include <QByteArrayView>
#include <QtGlobal>

// Reading an ESC/POS command's prefix and parameters.
namespace ParametrosEscPos {

constexpr unsigned char kEsc = 0x1B, kGs = 0x1D, kFs = 0x1C, kDle = 0x10;

// ESC/POS parameters that are 0/1 or '0'/'1' use their low bit.
inline bool Bit(unsigned n) {
    return n & 1u;
}

// Parameters that are 0-2 or '0'-'2'.
inline int Digito(unsigned n) {
    return static_cast<int>(n >= '0' ? n - '0' : n);
}

inline int Entero16(QByteArrayView c, qsizetype i) {
    return static_cast<unsigned char>(c[i]) + 256 * static_cast<unsigned char>(c[i + 1]);
}

inline unsigned Byte(QByteArrayView c, qsizetype i) {
    return static_cast<unsigned char>(c[i]);
}

} // namespace ParametrosEscPos
