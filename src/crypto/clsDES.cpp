#include "crypto/clsDES.h"

#include "platform/Cp1252.h"
#include "support/ErrorEjecucion.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <algorithm>
#include <bit>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <optional>
#include <random>

namespace {

// The tables of FIPS 46-3, as printed there (bit 1 is the most significant bit).
constexpr std::array<int, 64> kIP = {
    58, 50, 42, 34, 26, 18, 10, 2,  60, 52, 44, 36, 28, 20, 12, 4,  62, 54, 46, 38, 30, 22,
    14, 6,  64, 56, 48, 40, 32, 24, 16, 8,  57, 49, 41, 33, 25, 17, 9,  1,  59, 51, 43, 35,
    27, 19, 11, 3,  61, 53, 45, 37, 29, 21, 13, 5,  63, 55, 47, 39, 31, 23, 15, 7,
};
constexpr std::array<int, 64> kIPInversa = {
    40, 8,  48, 16, 56, 24, 64, 32, 39, 7,  47, 15, 55, 23, 63, 31, 38, 6,  46, 14, 54, 22,
    62, 30, 37, 5,  45, 13, 53, 21, 61, 29, 36, 4,  44, 12, 52, 20, 60, 28, 35, 3,  43, 11,
    51, 19, 59, 27, 34, 2,  42, 10, 50, 18, 58, 26, 33, 1,  41, 9,  49, 17, 57, 25,
};
constexpr std::array<int, 48> kE = {
    32, 1,  2,  3,  4,  5,  4,  5,  6,  7,  8,  9,  8,  9,  10, 11, 12, 13, 12, 13, 14, 15, 16, 17,
    16, 17, 18, 19, 20, 21, 20, 21, 22, 23, 24, 25, 24, 25, 26, 27, 28, 29, 28, 29, 30, 31, 32, 1,
};
constexpr std::array<int, 32> kP = {
    16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
    2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25,
};
constexpr std::array<int, 56> kPC1 = {
    57, 49, 41, 33, 25, 17, 9,  1, 58, 50, 42, 34, 26, 18, 10, 2, 59, 51, 43, 35, 27, 19, 11, 3, 60, 52, 44, 36,
    63, 55, 47, 39, 31, 23, 15, 7, 62, 54, 46, 38, 30, 22, 14, 6, 61, 53, 45, 37, 29, 21, 13, 5, 28, 20, 12, 4,
};
constexpr std::array<int, 48> kPC2 = {
    14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,  26, 8,  16, 7,  27, 20, 13, 2,
    41, 52, 31, 37, 47, 55, 30, 40, 51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32,
};
constexpr std::array<int, 16> kDesplazamientos = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

constexpr int kS[8][4][16] = {
    {{14, 4, 13, 1, 2, 15, 11, 8, 3, 10, 6, 12, 5, 9, 0, 7},
     {0, 15, 7, 4, 14, 2, 13, 1, 10, 6, 12, 11, 9, 5, 3, 8},
     {4, 1, 14, 8, 13, 6, 2, 11, 15, 12, 9, 7, 3, 10, 5, 0},
     {15, 12, 8, 2, 4, 9, 1, 7, 5, 11, 3, 14, 10, 0, 6, 13}},
    {{15, 1, 8, 14, 6, 11, 3, 4, 9, 7, 2, 13, 12, 0, 5, 10},
     {3, 13, 4, 7, 15, 2, 8, 14, 12, 0, 1, 10, 6, 9, 11, 5},
     {0, 14, 7, 11, 10, 4, 13, 1, 5, 8, 12, 6, 9, 3, 2, 15},
     {13, 8, 10, 1, 3, 15, 4, 2, 11, 6, 7, 12, 0, 5, 14, 9}},
    {{10, 0, 9, 14, 6, 3, 15, 5, 1, 13, 12, 7, 11, 4, 2, 8},
     {13, 7, 0, 9, 3, 4, 6, 10, 2, 8, 5, 14, 12, 11, 15, 1},
     {13, 6, 4, 9, 8, 15, 3, 0, 11, 1, 2, 12, 5, 10, 14, 7},
     {1, 10, 13, 0, 6, 9, 8, 7, 4, 15, 14, 3, 11, 5, 2, 12}},
    {{7, 13, 14, 3, 0, 6, 9, 10, 1, 2, 8, 5, 11, 12, 4, 15},
     {13, 8, 11, 5, 6, 15, 0, 3, 4, 7, 2, 12, 1, 10, 14, 9},
     {10, 6, 9, 0, 12, 11, 7, 13, 15, 1, 3, 14, 5, 2, 8, 4},
     {3, 15, 0, 6, 10, 1, 13, 8, 9, 4, 5, 11, 12, 7, 2, 14}},
    {{2, 12, 4, 1, 7, 10, 11, 6, 8, 5, 3, 15, 13, 0, 14, 9},
     {14, 11, 2, 12, 4, 7, 13, 1, 5, 0, 15, 10, 3, 9, 8, 6},
     {4, 2, 1, 11, 10, 13, 7, 8, 15, 9, 12, 5, 6, 3, 0, 14},
     {11, 8, 12, 7, 1, 14, 2, 13, 6, 15, 0, 9, 10, 4, 5, 3}},
    {{12, 1, 10, 15, 9, 2, 6, 8, 0, 13, 3, 4, 14, 7, 5, 11},
     {10, 15, 4, 2, 7, 12, 9, 5, 6, 1, 13, 14, 0, 11, 3, 8},
     {9, 14, 15, 5, 2, 8, 12, 3, 7, 0, 4, 10, 1, 13, 11, 6},
     {4, 3, 2, 12, 9, 5, 15, 10, 11, 14, 1, 7, 6, 0, 8, 13}},
    {{4, 11, 2, 14, 15, 0, 8, 13, 3, 12, 9, 7, 5, 10, 6, 1},
     {13, 0, 11, 7, 4, 9, 1, 10, 14, 3, 5, 12, 2, 15, 8, 6},
     {1, 4, 11, 13, 12, 3, 7, 14, 10, 15, 6, 8, 0, 5, 9, 2},
     {6, 11, 13, 8, 1, 4, 10, 7, 9, 5, 0, 15, 14, 2, 3, 12}},
    {{13, 2, 8, 4, 6, 15, 11, 1, 10, 9, 3, 14, 5, 0, 12, 7},
     {1, 15, 13, 8, 10, 3, 7, 4, 12, 5, 6, 11, 0, 14, 9, 2},
     {7, 11, 4, 1, 9, 12, 14, 2, 0, 6, 10, 13, 15, 3, 5, 8},
     {2, 1, 14, 7, 4, 10, 8, 13, 15, 12, 9, 0, 3, 5, 6, 11}},
};

// Bit n (1-based, standard numbering) of a word of `ancho` bits.
constexpr std::uint64_t Bit(int n, int ancho) {
    return std::uint64_t{1} << (ancho - n);
}

template <std::size_t N>
constexpr std::uint64_t Permutar(std::uint64_t entrada, int anchoEntrada, const std::array<int, N>& tabla) {
    std::uint64_t salida = 0;
    for (std::size_t i = 0; i < N; ++i) {
        if (entrada & Bit(tabla[i], anchoEntrada)) {
            salida |= Bit(static_cast<int>(i) + 1, static_cast<int>(N));
        }
    }
    return salida;
}

// A 64-bit permutation as eight byte-indexed tables whose entries are ORed.
using TablaPermutacion = std::array<std::array<std::uint64_t, 256>, 8>;

// Built from the image of each single input bit, each entry from a smaller one
// (the value without its lowest bit), so that it stays well within what
// compilers allow a constant expression to take.
constexpr TablaPermutacion PorBytes(const std::array<int, 64>& tabla) {
    std::array<std::uint64_t, 64> imagen{}; // imagen[n - 1]: where input bit n goes
    for (int i = 0; i < 64; ++i) {
        imagen[tabla[i] - 1] |= Bit(i + 1, 64);
    }
    TablaPermutacion t{};
    for (int byte = 0; byte < 8; ++byte) {
        for (int v = 1; v < 256; ++v) {
            const int menor = std::countr_zero(static_cast<unsigned>(v)); // bit 8 * byte + 8 - menor
            t[byte][v] = t[byte][v & (v - 1)] | imagen[8 * byte + 7 - menor];
        }
    }
    return t;
}

// S-box k followed by P: for the six input bits b1..b6 (b1 most significant),
// the 32-bit round-function contribution of box k.
using TablaSP = std::array<std::array<std::uint32_t, 64>, 8>;

constexpr TablaSP CombinarSP() {
    TablaSP t{};
    for (int k = 0; k < 8; ++k) {
        for (int v = 0; v < 64; ++v) {
            const int fila = ((v >> 4) & 2) | (v & 1);
            const int columna = (v >> 1) & 15;
            const std::uint64_t salidaS = std::uint64_t(kS[k][fila][columna]) << (28 - 4 * k);
            t[k][v] = static_cast<std::uint32_t>(Permutar(salidaS, 32, kP));
        }
    }
    return t;
}

constexpr TablaPermutacion kTablaIP = PorBytes(kIP);
constexpr TablaPermutacion kTablaIPInversa = PorBytes(kIPInversa);
constexpr TablaSP kSP = CombinarSP();

// The round function reads the eight 6-bit groups of E(R) straight out of two
// rotations of R: groups 1, 3, 5, 7 from R rotated right by 1 and groups 2, 4,
// 6, 8 from R rotated left by 3, each at bits 26, 18, 10 and 2.
constexpr std::uint64_t ExpandirPorRotacion(std::uint32_t r) {
    const std::uint32_t x = std::rotr(r, 1);
    const std::uint32_t y = std::rotl(r, 3);
    std::uint64_t salida = 0;
    for (int g = 0; g < 8; ++g) {
        const std::uint32_t fuente = (g % 2 == 0) ? x : y;
        salida = (salida << 6) | ((fuente >> (26 - 8 * (g / 2))) & 63);
    }
    return salida;
}

constexpr bool RotacionIgualE() {
    for (int n = 1; n <= 32; ++n) {
        const auto r = static_cast<std::uint32_t>(Bit(n, 32));
        if (ExpandirPorRotacion(r) != Permutar(r, 32, kE)) {
            return false;
        }
    }
    return true;
}
static_assert(RotacionIgualE());

inline std::uint64_t AplicarTabla(const TablaPermutacion& t, std::uint64_t x) {
    return t[0][x >> 56] | t[1][(x >> 48) & 0xFF] | t[2][(x >> 40) & 0xFF] | t[3][(x >> 32) & 0xFF] |
           t[4][(x >> 24) & 0xFF] | t[5][(x >> 16) & 0xFF] | t[6][(x >> 8) & 0xFF] | t[7][x & 0xFF];
}

inline std::uint32_t FuncionRonda(std::uint32_t r, std::uint32_t k1, std::uint32_t k2) {
    const std::uint32_t x = std::rotr(r, 1) ^ k1;
    const std::uint32_t y = std::rotl(r, 3) ^ k2;
    return kSP[0][x >> 26] | kSP[2][(x >> 18) & 63] | kSP[4][(x >> 10) & 63] | kSP[6][(x >> 2) & 63] | kSP[1][y >> 26] |
           kSP[3][(y >> 18) & 63] | kSP[5][(y >> 10) & 63] | kSP[7][(y >> 2) & 63];
}

// Paso is +2 for encryption (round keys 1 to 16) and -2 for decryption.
template <int Paso> inline std::uint64_t Bloque(const std::uint32_t* subclaves, std::uint64_t bloque) {
    const std::uint64_t permutado = AplicarTabla(kTablaIP, bloque);
    auto izquierda = static_cast<std::uint32_t>(permutado >> 32);
    auto derecha = static_cast<std::uint32_t>(permutado);
    for (int par = 0; par < 8; ++par) {
        const int primera = Paso > 0 ? 4 * par : 30 - 4 * par;
        const int segunda = primera + Paso;
        izquierda ^= FuncionRonda(derecha, subclaves[primera], subclaves[primera + 1]);
        derecha ^= FuncionRonda(izquierda, subclaves[segunda], subclaves[segunda + 1]);
    }
    return AplicarTabla(kTablaIPInversa, (std::uint64_t(derecha) << 32) | izquierda);
}

// Blocks are big-endian: bit 1 of the standard is the top bit of the first byte.
inline std::uint64_t LeerBloque(const unsigned char* p) {
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i) {
        v = (v << 8) | p[i];
    }
    return v;
}

inline void EscribirBloque(unsigned char* p, std::uint64_t v) {
    for (int i = 7; i >= 0; --i, v >>= 8) {
        p[i] = static_cast<unsigned char>(v);
    }
}

inline void EscribirEntero(unsigned char* p, qint32 valor) {
    const auto v = static_cast<std::uint32_t>(valor);
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

inline qint32 LeerEntero(const unsigned char* p) {
    return static_cast<qint32>(std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
                               std::uint32_t(p[3]) << 24);
}

constexpr std::uint64_t Mezclar(std::uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

constexpr quint8 kRelleno = 0x80; // decode-table flag: "=" or CR at this low byte
constexpr qint64 kSubindiceFueraDeRango = 9;
constexpr qint64 kDesbordamiento = 6;

} // namespace

clsDES::clsDES() {
    std::random_device origen;
    m_semilla = (std::uint64_t(origen()) << 32) ^ origen();
}

// ---- Base64 ----

void clsDES::BuildBase64Tables() {
    static constexpr char kAlfabeto[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    m_decodificar64.fill(0);
    for (int v = 0; v < 64; ++v) {
        m_codificar64[v] = static_cast<char16_t>(kAlfabeto[v]);
        m_decodificar64[static_cast<unsigned char>(kAlfabeto[v])] = static_cast<quint8>(v);
    }
    m_decodificar64['='] = kRelleno;
    m_decodificar64['\r'] = kRelleno;
}

QString clsDES::Decode64(const QString& sInput) {
    if (sInput.isEmpty()) {
        return {};
    }
    return Cp1252::Decodificar(DecodeArray64(sInput));
}

QByteArray clsDES::DecodeArray64(const QString& sInput) {
    if (m_decodificar64['/'] != 63) {
        BuildBase64Tables();
    }
    const quint8* tabla = m_decodificar64.data();
    const char16_t* p = reinterpret_cast<const char16_t*>(sInput.utf16());
    const qsizetype n = sInput.size();

    QByteArray salida(n / 4 * 3 + 2, Qt::Uninitialized);
    auto* destino = reinterpret_cast<unsigned char*>(salida.data());
    std::uint32_t acumulado = 0;
    int enGrupo = 0;
    qsizetype i = 0;
    while (i < n) {
        // Four ordinary characters at a time; "=" and CR take the careful path.
        if (enGrupo == 0 && i + 4 <= n) {
            const quint8 a = tabla[p[i] & 0xFF], b = tabla[p[i + 1] & 0xFF];
            const quint8 c = tabla[p[i + 2] & 0xFF], d = tabla[p[i + 3] & 0xFF];
            if (((a | b | c | d) & kRelleno) == 0) {
                const std::uint32_t v = std::uint32_t(a) << 18 | std::uint32_t(b) << 12 | std::uint32_t(c) << 6 | d;
                destino[0] = static_cast<unsigned char>(v >> 16);
                destino[1] = static_cast<unsigned char>(v >> 8);
                destino[2] = static_cast<unsigned char>(v);
                destino += 3;
                i += 4;
                continue;
            }
        }
        const char16_t c = p[i++];
        if (c == u'=') {
            continue;
        }
        if (c == u'\r' && i < n && p[i] == u'\n') {
            ++i;
            continue;
        }
        acumulado = (acumulado << 6) | (tabla[c & 0xFF] & 63);
        if (++enGrupo == 4) {
            destino[0] = static_cast<unsigned char>(acumulado >> 16);
            destino[1] = static_cast<unsigned char>(acumulado >> 8);
            destino[2] = static_cast<unsigned char>(acumulado);
            destino += 3;
            acumulado = 0;
            enGrupo = 0;
        }
    }
    switch (enGrupo) {
    case 1: // six bits make no byte, but the lone character still counts as one
        *destino++ = 0;
        break;
    case 2:
        *destino++ = static_cast<unsigned char>(acumulado >> 4);
        break;
    case 3:
        *destino++ = static_cast<unsigned char>(acumulado >> 10);
        *destino++ = static_cast<unsigned char>(acumulado >> 2);
        break;
    default:
        break;
    }
    const qsizetype largo = destino - reinterpret_cast<unsigned char*>(salida.data());
    if (largo == 0) {
        throw ErrorEjecucion(kSubindiceFueraDeRango, QStringLiteral("Subscript out of range"));
    }
    salida.truncate(largo);
    return salida;
}

QString clsDES::Encode64(const QString& sInput) {
    if (sInput.isEmpty()) {
        return {};
    }
    return EncodeArray64(Cp1252::Codificar(sInput));
}

QString clsDES::EncodeArray64(const QByteArray& bytInput) {
    try {
        if (m_decodificar64['/'] != 63) {
            BuildBase64Tables();
        }
        const char16_t* tabla = m_codificar64.data();
        const auto* p = reinterpret_cast<const unsigned char*>(bytInput.constData());
        const qsizetype n = bytInput.size();
        const qsizetype caracteres = (n + 2) / 3 * 4;
        constexpr qsizetype kLinea = 76;
        const qsizetype saltos = caracteres > kLinea ? caracteres / kLinea : 0;

        QString salida(caracteres + 2 * saltos, Qt::Uninitialized);
        auto* destino = reinterpret_cast<char16_t*>(salida.data());
        // Whole 57-byte lines first; the last line may end in the padded group.
        const qsizetype lineasCompletas = std::min(saltos, n / 57);
        qsizetype i = 0;
        for (qsizetype linea = 0; linea < lineasCompletas; ++linea) {
            for (const qsizetype fin = i + 57; i < fin; i += 3) {
                const std::uint32_t v = std::uint32_t(p[i]) << 16 | std::uint32_t(p[i + 1]) << 8 | p[i + 2];
                destino[0] = tabla[v >> 18];
                destino[1] = tabla[(v >> 12) & 63];
                destino[2] = tabla[(v >> 6) & 63];
                destino[3] = tabla[v & 63];
                destino += 4;
            }
            *destino++ = u'\r';
            *destino++ = u'\n';
        }
        for (; i + 3 <= n; i += 3) {
            const std::uint32_t v = std::uint32_t(p[i]) << 16 | std::uint32_t(p[i + 1]) << 8 | p[i + 2];
            destino[0] = tabla[v >> 18];
            destino[1] = tabla[(v >> 12) & 63];
            destino[2] = tabla[(v >> 6) & 63];
            destino[3] = tabla[v & 63];
            destino += 4;
        }
        if (n - i == 2) {
            destino[0] = tabla[p[i] >> 2];
            destino[1] = tabla[(p[i] & 3) << 4 | p[i + 1] >> 4];
            destino[2] = tabla[(p[i + 1] & 15) << 2];
            destino[3] = u'=';
            destino += 4;
        } else if (n - i == 1) {
            destino[0] = tabla[p[i] >> 2];
            destino[1] = tabla[(p[i] & 3) << 4];
            destino[2] = u'=';
            destino[3] = u'=';
            destino += 4;
        }
        if (saltos > lineasCompletas) {
            *destino++ = u'\r';
            *destino++ = u'\n';
        }
        return salida;
    } catch (...) {
        return {};
    }
}

// ---- DES ----

void clsDES::Key(const QString& New_Value) {
    if (New_Value == m_claveTexto) {
        return;
    }
    m_claveTexto = New_Value;

    const QByteArray bytes = Cp1252::Codificar(QStringView(New_Value).left(8));
    std::uint64_t clave = 0;
    for (qsizetype i = 0; i < 8; ++i) {
        clave = (clave << 8) | (i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0);
    }
    const std::uint64_t cd = Permutar(clave, 64, kPC1);
    auto c = static_cast<std::uint32_t>(cd >> 28);
    auto d = static_cast<std::uint32_t>(cd & 0xFFFFFFF);
    for (int ronda = 0; ronda < 16; ++ronda) {
        const int s = kDesplazamientos[ronda];
        c = ((c << s) | (c >> (28 - s))) & 0xFFFFFFF;
        d = ((d << s) | (d >> (28 - s))) & 0xFFFFFFF;
        const std::uint64_t k = Permutar(std::uint64_t(c) << 28 | d, 56, kPC2);
        std::uint32_t impares = 0, pares = 0;
        for (int g = 0; g < 8; ++g) {
            const auto grupo = static_cast<std::uint32_t>((k >> (42 - 6 * g)) & 63);
            (g % 2 == 0 ? impares : pares) |= grupo << (26 - 8 * (g / 2));
        }
        m_subclaves[2 * ronda] = impares;
        m_subclaves[2 * ronda + 1] = pares;
    }
}

std::uint64_t clsDES::EncryptBlock(std::uint64_t bloque) const {
    return Bloque<2>(m_subclaves.data(), bloque);
}

std::uint64_t clsDES::DecryptBlock(std::uint64_t bloque) const {
    return Bloque<-2>(m_subclaves.data(), bloque);
}

qint32 clsDES::NumeroAleatorio() {
    m_semilla += 0x9E3779B97F4A7C15ULL;
    const float fraccion = static_cast<float>(Mezclar(m_semilla) >> 40) * 0x1p-24f; // [0, 1) as single precision
    return static_cast<qint32>(std::nearbyint(double(fraccion) * 2147483647.0));
}

template <bool Cifrar> void clsDES::RecorrerBloques(unsigned char* datos, qsizetype total) {
    const std::uint32_t* subclaves = m_subclaves.data();
    const bool avisar = static_cast<bool>(Progress);
    qsizetype umbral = 0;
    std::uint64_t cadena = 0;
    for (qsizetype o = 0; o + 8 <= total; o += 8) {
        const std::uint64_t entrada = LeerBloque(datos + o);
        if constexpr (Cifrar) {
            cadena = Bloque<2>(subclaves, entrada ^ cadena);
            EscribirBloque(datos + o, cadena);
        } else {
            EscribirBloque(datos + o, Bloque<-2>(subclaves, entrada) ^ cadena);
            cadena = entrada;
        }
        if (avisar && o >= umbral) {
            const auto porcentaje = static_cast<qint32>(std::floor(double(o) / double(total) * 100.0));
            umbral = static_cast<qsizetype>(std::nearbyint((porcentaje + 1) / 100.0 * double(total) + 1));
            Progress(porcentaje);
        }
    }
}

void clsDES::EncryptByte(QByteArray& byteArray, const QString& Key) {
    if (!Key.isEmpty()) {
        this->Key(Key);
    }
    const qsizetype largo = byteArray.size();
    if (largo > INT_MAX - 19) {
        throw ErrorEjecucion(kDesbordamiento, QStringLiteral("Overflow"));
    }
    const qsizetype total = (largo + 12 + 7) / 8 * 8;
    byteArray.resize(total);
    auto* datos = reinterpret_cast<unsigned char*>(byteArray.data());
    std::memmove(datos + 12, datos, static_cast<std::size_t>(largo));
    std::memset(datos + 12 + largo, 0, static_cast<std::size_t>(total - 12 - largo));
    EscribirEntero(datos + 8, static_cast<qint32>(largo));

    // Re-seeded from the clock on every call; mixing it into the running state
    // keeps two calls within one clock tick from repeating the first block.
    const auto reloj = std::chrono::system_clock::now().time_since_epoch().count();
    m_semilla ^= Mezclar(static_cast<std::uint64_t>(reloj));
    EscribirEntero(datos, NumeroAleatorio());
    EscribirEntero(datos + 4, NumeroAleatorio());

    RecorrerBloques<true>(datos, total);
    if (Progress) {
        Progress(100);
    }
}

void clsDES::DecryptByte(QByteArray& byteArray, const QString& Key) {
    if (!Key.isEmpty()) {
        this->Key(Key);
    }
    const qsizetype total = byteArray.size();
    if (total % 8 != 0) {
        return;
    }
    auto* datos = reinterpret_cast<unsigned char*>(byteArray.data());
    RecorrerBloques<false>(datos, total);
    if (total < 12) {
        return;
    }
    const qint32 largo = LeerEntero(datos + 8);
    if (largo < 0 || total - largo < 12 || total - largo > 19) {
        return;
    }
    std::memmove(datos, datos + 12, static_cast<std::size_t>(largo));
    byteArray.truncate(largo);
    if (Progress) {
        Progress(100);
    }
}

// ---- Files ----

bool clsDES::FileExists(const QString& ruta) {
    const QFileInfo info(ruta);
    return info.exists() && info.isFile();
}

namespace {

std::optional<QByteArray> LeerArchivo(const QString& ruta) {
    QFile archivo(ruta);
    if (!archivo.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    QByteArray contenido = archivo.readAll();
    if (archivo.error() != QFileDevice::NoError) {
        return std::nullopt;
    }
    return contenido;
}

// Something stands at `ruta`: a file, or a symbolic link even when it leads
// nowhere (an output is never created through one).
bool SalidaExiste(const QString& ruta) {
    const QFileInfo info(ruta);
    return info.isSymLink() || info.exists();
}

// Writes a new file at `ruta`, replacing whatever entry stands there. The
// bytes go to a fresh file beside it, created exclusively (so a link planted
// under that name is not followed either), which is then renamed over `ruta`.
// The rename replaces the entry itself: an existing file is gone as if it had
// been deleted first, a symbolic link is replaced and what it points to is
// never written. On any failure the old entry stays as it was.
bool EscribirArchivo(const QString& ruta, const QByteArray& contenido) {
    for (int intento = 0; intento < 16; ++intento) {
        const QString nombre = ruta + QStringLiteral(".tmp") +
                               QString::number(QRandomGenerator::global()->generate(), 16).rightJustified(8, u'0');
        QFile temporal(nombre);
        if (!temporal.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            if (QFileInfo(nombre).isSymLink() || QFileInfo::exists(nombre)) {
                continue; // the name is taken: try another
            }
            return false;
        }
        const bool escrito = temporal.write(contenido) == contenido.size() && temporal.flush();
        temporal.close();
        std::error_code error;
        if (escrito && temporal.error() == QFileDevice::NoError) {
            std::filesystem::rename(std::filesystem::path(QFile::encodeName(nombre).toStdString()),
                                    std::filesystem::path(QFile::encodeName(ruta).toStdString()), error);
            if (!error) {
                return true;
            }
        }
        QFile::remove(nombre);
        return false;
    }
    return false;
}

} // namespace

bool clsDES::EncryptFile(const QString& InFile, const QString& OutFile, bool Overwrite, const QString& Key,
                         bool OutputIn64) {
    try {
        if (!FileExists(InFile) || (!Overwrite && SalidaExiste(OutFile))) {
            return false;
        }
        std::optional<QByteArray> buffer = LeerArchivo(InFile);
        if (!buffer) {
            return false;
        }
        EncryptByte(*buffer, Key);
        return EscribirArchivo(OutFile, OutputIn64 ? Cp1252::Codificar(EncodeArray64(*buffer)) : *buffer);
    } catch (...) {
        return false;
    }
}

bool clsDES::DecryptFile(const QString& InFile, const QString& OutFile, bool Overwrite, const QString& Key,
                         bool IsFileIn64) {
    try {
        if (!FileExists(InFile) || (!Overwrite && SalidaExiste(OutFile))) {
            return false;
        }
        std::optional<QByteArray> buffer = LeerArchivo(InFile);
        if (!buffer) {
            return false;
        }
        if (IsFileIn64) {
            *buffer = DecodeArray64(Cp1252::Decodificar(*buffer));
        }
        DecryptByte(*buffer, Key);
        return EscribirArchivo(OutFile, *buffer);
    } catch (...) {
        return false;
    }
}

// ---- Text ----

QString clsDES::EncryptString(const QString& Text, const QString& Key, bool OutputIn64) {
    QByteArray bytes = Cp1252::Codificar(Text);
    EncryptByte(bytes, Key);
    // Base64 of the ciphertext text is Base64 of these very bytes.
    return OutputIn64 ? EncodeArray64(bytes) : Cp1252::Decodificar(bytes);
}

QString clsDES::DecryptString(QString& Text, const QString& Key, bool IsTextIn64) {
    if (IsTextIn64) {
        Text = Decode64(Text);
    }
    QByteArray bytes = Cp1252::Codificar(Text);
    DecryptByte(bytes, Key);
    return Cp1252::Decodificar(bytes);
}

QString clsDES::DecryptString(const QString& Text, const QString& Key, bool IsTextIn64) {
    QString copia = Text;
    return DecryptString(copia, Key, IsTextIn64);
}
