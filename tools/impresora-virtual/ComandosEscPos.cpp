#include "impresora-virtual/ComandosEscPos.h"

#include <string_view>

namespace ComandosEscPos {

namespace {

constexpr unsigned char kEsc = 0x1B, kGs = 0x1D, kFs = 0x1C, kDle = 0x10;

// The most data a barcode carries.
constexpr qint64 kDatosCodigo = 255;

// Commands of a fixed length: the command byte and how many parameter bytes
// follow it.
struct Fijo {
    unsigned char comando;
    int parametros;
};

constexpr Fijo kEscFijos[] = {
    {0x0C, 0}, {' ', 1}, {'!', 1}, {'$', 2}, {'%', 1},  {'-', 1}, {'2', 0}, {'3', 1}, {'<', 0}, {'=', 1},
    {'?', 1},  {'@', 0}, {'E', 1}, {'G', 1}, {'J', 1},  {'K', 1}, {'L', 0}, {'M', 1}, {'R', 1}, {'S', 0},
    {'T', 1},  {'U', 1}, {'V', 1}, {'W', 8}, {'\\', 2}, {'a', 1}, {'c', 2}, {'d', 1}, {'e', 1}, {'f', 2},
    {'i', 0},  {'m', 0}, {'p', 3}, {'r', 1}, {'t', 1},  {'u', 1}, {'v', 0}, {'{', 1}, {'y', 1}, {'s', 1},
    {'1', 1},  {'4', 0}, {'5', 0}, {'l', 1}, {'Q', 1},  {'B', 2},
};

constexpr Fijo kGsFijos[] = {
    {'!', 1}, {'$', 2}, {'/', 1}, {':', 0}, {'B', 1},  {'E', 1}, {'H', 1},  {'I', 1}, {'L', 2},
    {'P', 2}, {'T', 1}, {'W', 2}, {'Z', 1}, {'\\', 2}, {'^', 3}, {'a', 1},  {'b', 1}, {'c', 0},
    {'f', 1}, {'h', 1}, {'j', 1}, {'r', 1}, {'w', 1},  {'z', 2}, {0x0C, 0},
};

constexpr Fijo kFsFijos[] = {
    {'!', 1}, {'&', 0}, {'-', 1}, {'.', 0}, {'?', 2}, {'C', 1}, {'S', 2}, {'W', 1}, {'p', 2}, {'2', 74},
};

const Fijo* Buscar(const Fijo* desde, const Fijo* hasta, unsigned char c) {
    for (const Fijo* f = desde; f != hasta; ++f) {
        if (f->comando == c) {
            return f;
        }
    }
    return nullptr;
}

template <std::size_t N> const Fijo* Buscar(const Fijo (&tabla)[N], unsigned char c) {
    return Buscar(tabla, tabla + N, c);
}

class Lector {
public:
    explicit Lector(QByteArrayView p) : m_p(p) {}
    bool Hay(qint64 n) const { return n <= m_p.size(); }
    unsigned Byte(qint64 i) const { return static_cast<unsigned char>(m_p[i]); }
    qint64 Size() const { return m_p.size(); }

private:
    QByteArrayView m_p;
};

Largo Esc(const Lector& l) {
    const unsigned c = l.Byte(1);
    if (c == '*') { // ESC * m nL nH d: 8-dot modes a byte a column, 24-dot modes three
        if (!l.Hay(5)) {
            return {};
        }
        const qint64 columnas = l.Byte(3) + 256 * l.Byte(4);
        return {5 + columnas * (l.Byte(2) >= 32 ? 3 : 1)};
    }
    if (c == 'D') { // ESC D n1..nk NUL
        for (qint64 i = 2; i < l.Size(); ++i) {
            if (l.Byte(i) == 0 || i == 2 + 32) {
                return {i + 1};
            }
        }
        return {};
    }
    if (c == '&') { // ESC & y c1 c2, then for each character x and y*x bytes
        if (!l.Hay(5)) {
            return {};
        }
        const unsigned y = l.Byte(2), c1 = l.Byte(3), c2 = l.Byte(4);
        qint64 i = 5;
        for (unsigned k = c1; k <= c2 && c2 >= c1; ++k) {
            if (!l.Hay(i + 1)) {
                return {};
            }
            i += 1 + qint64(y) * l.Byte(i);
        }
        return {i};
    }
    if (c == 'Z') { // ESC Z v n k dL dH d: the symbol GS Z chose
        if (!l.Hay(7)) {
            return {};
        }
        return {7 + l.Byte(5) + 256 * l.Byte(6)};
    }
    if (c == '(') { // ESC ( A / ESC ( Y pL pH d
        if (!l.Hay(5)) {
            return {};
        }
        return {5 + l.Byte(3) + 256 * l.Byte(4)};
    }
    if (const Fijo* f = Buscar(kEscFijos, static_cast<unsigned char>(c))) {
        return {2 + f->parametros};
    }
    return {2, false};
}

Largo Gs(const Lector& l) {
    const unsigned c = l.Byte(1);
    switch (c) {
    case '(': // GS ( x pL pH d
        if (!l.Hay(5)) {
            return {};
        }
        return {5 + l.Byte(3) + 256 * l.Byte(4)};
    case '8': // GS 8 L p1 p2 p3 p4 d
        if (!l.Hay(7)) {
            return {};
        }
        return {7 + l.Byte(3) + (qint64(l.Byte(4)) << 8) + (qint64(l.Byte(5)) << 16) + (qint64(l.Byte(6)) << 24)};
    case 'v': // GS v 0 m xL xH yL yH d
        if (!l.Hay(8)) {
            return {};
        }
        return {8 + qint64(l.Byte(4) + 256 * l.Byte(5)) * (l.Byte(6) + 256 * l.Byte(7))};
    case '*': // GS * x y d, x*y*8 bytes
        if (!l.Hay(4)) {
            return {};
        }
        return {4 + qint64(l.Byte(2)) * l.Byte(3) * 8};
    case 'V': // GS V m, or GS V m n for the feed-and-cut forms
        if (!l.Hay(3)) {
            return {};
        }
        return {l.Byte(2) >= 65 ? 4 : 3};
    case 'k': // GS k m d NUL (m 0-6), GS k m n d (m 65-79)
        if (!l.Hay(3)) {
            return {};
        }
        if (l.Byte(2) <= 6) {
            // No printer takes more data than the counted form's 255 bytes:
            // without a NUL by then the command is refused and its bytes go.
            for (qint64 i = 3; i < l.Size(); ++i) {
                if (l.Byte(i) == 0) {
                    return {i + 1};
                }
                if (i == 3 + kDatosCodigo) {
                    return {i, false};
                }
            }
            return {};
        }
        if (!l.Hay(4)) {
            return {};
        }
        return {4 + l.Byte(3)};
    case 'g': // GS g 0 m nL nH, GS g 2 m nL nH (maintenance counters)
        return {6};
    case 'C': // GS C 0 n m, GS C 1 aL aH bL bH n r, GS C 2 nL nH, GS C ; ...
        if (!l.Hay(3)) {
            return {};
        }
        switch (l.Byte(2)) {
        case '0':
            return {5};
        case '1':
            return {9};
        case '2':
            return {5};
        default:
            return {3, false};
        }
    case 'D': // GS D m fn ... (Windows BMP): GS D pL pH m fn
        if (!l.Hay(5)) {
            return {};
        }
        return {5 + l.Byte(2) + 256 * l.Byte(3)};
    case 'Q': // GS Q 0 xL xH yL yH d: variable bit image
        if (!l.Hay(7)) {
            return {};
        }
        return {7 + qint64(l.Byte(3) + 256 * l.Byte(4)) * (l.Byte(5) + 256 * l.Byte(6))};
    default:
        break;
    }
    if (const Fijo* f = Buscar(kGsFijos, static_cast<unsigned char>(c))) {
        return {2 + f->parametros};
    }
    return {2, false};
}

Largo Fs(const Lector& l) {
    const unsigned c = l.Byte(1);
    if (c == '(') { // FS ( x pL pH d
        if (!l.Hay(5)) {
            return {};
        }
        return {5 + l.Byte(3) + 256 * l.Byte(4)};
    }
    if (c == 'q') { // FS q n, then n images of xL xH yL yH and x*y*8 bytes
        if (!l.Hay(3)) {
            return {};
        }
        qint64 i = 3;
        for (unsigned k = 0; k < l.Byte(2); ++k) {
            if (!l.Hay(i + 4)) {
                return {};
            }
            i += 4 + qint64(l.Byte(i) + 256 * l.Byte(i + 1)) * (l.Byte(i + 2) + 256 * l.Byte(i + 3)) * 8;
        }
        return {i};
    }
    if (c == 'g') { // FS g 1 m a1..a4 nL nH d, FS g 2 m a1..a4 nL nH
        if (!l.Hay(10)) {
            return {};
        }
        return {10 + (l.Byte(2) == '1' ? l.Byte(8) + 256 * l.Byte(9) : 0)};
    }
    if (const Fijo* f = Buscar(kFsFijos, static_cast<unsigned char>(c))) {
        return {2 + f->parametros};
    }
    return {2, false};
}

Largo Dle(const Lector& l) {
    const unsigned c = l.Byte(1);
    if (c == 0x04) { // DLE EOT n; DLE EOT 7 a and DLE EOT 8 a take one more
        if (!l.Hay(3)) {
            return {};
        }
        return {l.Byte(2) == 7 || l.Byte(2) == 8 ? 4 : 3};
    }
    if (c == 0x05) { // DLE ENQ n
        return {3};
    }
    if (c == 0x14) { // DLE DC4 fn ...
        if (!l.Hay(3)) {
            return {};
        }
        switch (l.Byte(2)) {
        case 1:
        case 2:
            return {5};
        case 7:
            return {4};
        case 8:
            return {10};
        default:
            return {3, false};
        }
    }
    // A lone DLE is not a command: only its own byte goes.
    return {1, false};
}

} // namespace

Largo Medir(QByteArrayView p) {
    if (p.size() < 2) {
        return {};
    }
    const Lector l(p);
    switch (l.Byte(0)) {
    case kEsc:
        return Esc(l);
    case kGs:
        return Gs(l);
    case kFs:
        return Fs(l);
    case kDle:
        return Dle(l);
    default:
        return {1, false};
    }
}

} // namespace ComandosEscPos
