#include "printer/ComandosImpresora.h"

#include <initializer_list>

using namespace std::string_view_literals;

namespace ComandosImpresora {

namespace {

// Rows by operation, columns by dialect.
constexpr FilaComando kTabla[] = {
    {Comando::Cortar,
     {"\x1B\x6D"sv, "\x1B\x50\x00\x1B\x50\x01"sv, "\x1B\x64\x31"sv},
     "Error Impresion comando:Cortar modo:"},
    {Comando::Abrircaja, {"\x1B\x70\x00"sv, ""sv, "\x1C"sv}, "Error Impresion comando:AbrirCaja modo:"},
    {Comando::NegritaSi,
     {"\x1B\x45\x01"sv, "\x1B\x45\x01"sv, "\x1B\x45\x01"sv},
     "Error Impresion comando:Negrita modo:"},
    {Comando::NegritaNo, {"\x1B\x45\x00"sv, "\x0F"sv, "\x1B\x46"sv}, "Error Impresion comando:Negrita modo:"},
    {Comando::SubrayadoSi, {"\x1B\x2D\x01"sv, "\x1B\x2D\x01"sv, ""sv}, "Error Impresion comando:Subrayado modo:"},
    {Comando::SubrayadoNo, {"\x1B\x2D\x00"sv, "\x1B\x2D\x00"sv, ""sv}, "Error Impresion comando:Subrayado modo:"},
    {Comando::InvertidoSi,
     {"\x1B\x4B\x01\x1B\x7B\x01"sv, "\x0C"sv, "\x1B\x5F\x31"sv},
     "Error Impresion comando:Invertido modo:"},
    {Comando::InvertidoNo,
     {"\x1B\x4B\x01\x1B\x7B\x00"sv, "\x0B"sv, "\x1B\x5F\x30"sv},
     "Error Impresion comando:Invertido modo:"},
    {Comando::ColorSi, {"\x1B\x72\x01"sv, "\x0D"sv, "\x1B\x34"sv}, "Error Impresion comando:Color modo:"},
    {Comando::ColorNo, {"\x1B\x72\x00"sv, "\x0B"sv, "\x1B\x35"sv}, "Error Impresion comando:Color modo:"},
    {Comando::ExpandidoSi, {"\x1B\x21\x20"sv, "\x0E"sv, "\x1B\x57\x31"sv}, "Error Impresion comando:Expandido modo:"},
    {Comando::ExpandidoNo, {"\x1B\x21\x00"sv, "\x0F"sv, "\x1B\x57\x30"sv}, "Error Impresion comando:Expandido modo:"},
    // The extra-expanded rows log with the text of the expanded ones.
    {Comando::ExtraExpandidoSi,
     {"\x1B\x21\x32"sv, "\x0E"sv, "\x1B\x57\x31"sv},
     "Error Impresion comando:Expandido modo:"},
    {Comando::ExtraExpandidoNo,
     {"\x1B\x21\x00"sv, "\x0F"sv, "\x1B\x57\x30"sv},
     "Error Impresion comando:Expandido modo:"},
    {Comando::ResetCaracter,
     {"\x0D\x1B\x21\x00"sv, "\x0F"sv, "\x1B\x57\x00"sv},
     "Error Impresion comando: ResetCaracter modo: "},
    {Comando::ResetPrinter, {"\x1B\x40"sv, "\x11"sv, "\x1B\x40"sv}, "Error Impresion comando:resetPrinter modo:"},
};

constexpr bool TablaEnOrden() {
    for (std::size_t i = 0; i < std::size(kTabla); ++i) {
        if (static_cast<std::size_t>(kTabla[i].comando) != i) {
            return false;
        }
    }
    return true;
}
static_assert(TablaEnOrden(), "the rows must follow the order of Comando");

QByteArrayView Vista(std::string_view s) {
    return QByteArrayView(s.data(), static_cast<qsizetype>(s.size()));
}

// A run of equal column bytes.
struct Tramo {
    int cantidad;
    unsigned char byte;
};

// 5x7 glyphs, one byte per column, top dot in the most significant bit.
struct Glifo {
    char letra;
    std::array<unsigned char, 5> columnas;
};

constexpr unsigned char Invertir(unsigned char b) {
    unsigned char r = 0;
    for (int i = 0; i < 8; ++i) {
        r = static_cast<unsigned char>((r << 1) | ((b >> i) & 1));
    }
    return r;
}

// Written top dot first in the low bit, as fonts are usually listed.
constexpr Glifo G(char letra, std::array<unsigned char, 5> c) {
    return {letra, {Invertir(c[0]), Invertir(c[1]), Invertir(c[2]), Invertir(c[3]), Invertir(c[4])}};
}

constexpr Glifo kFuente[] = {
    G('A', {0x7C, 0x12, 0x11, 0x12, 0x7C}), G('C', {0x3E, 0x41, 0x41, 0x41, 0x22}),
    G('D', {0x7F, 0x41, 0x41, 0x41, 0x3E}), G('E', {0x7F, 0x49, 0x49, 0x49, 0x41}),
    G('I', {0x00, 0x41, 0x7F, 0x41, 0x00}), G('L', {0x7F, 0x40, 0x40, 0x40, 0x40}),
    G('M', {0x7F, 0x02, 0x0C, 0x02, 0x7F}), G('N', {0x7F, 0x04, 0x08, 0x10, 0x7F}),
    G('O', {0x3E, 0x41, 0x41, 0x41, 0x3E}), G('P', {0x7F, 0x09, 0x09, 0x09, 0x06}),
    G('R', {0x7F, 0x09, 0x19, 0x29, 0x46}), G('S', {0x46, 0x49, 0x49, 0x49, 0x31}),
    G(' ', {0x00, 0x00, 0x00, 0x00, 0x00}),
};

QByteArray Tramos(std::initializer_list<Tramo> tramos) {
    QByteArray columnas;
    for (const Tramo& t : tramos) {
        columnas.append(t.cantidad, static_cast<char>(t.byte));
    }
    return columnas;
}

// A line of text centred in the logo's width; `ancho` 2 doubles every column.
QByteArray Rotulo(std::string_view texto, int ancho) {
    QByteArray columnas;
    for (char letra : texto) {
        if (!columnas.isEmpty()) {
            columnas.append(ancho, '\0');
        }
        for (const Glifo& g : kFuente) {
            if (g.letra == letra) {
                for (unsigned char c : g.columnas) {
                    columnas.append(ancho, static_cast<char>(c));
                }
            }
        }
    }
    const qsizetype izquierda = (kColumnasLogo - columnas.size()) / 2;
    columnas.prepend(izquierda, '\0');
    columnas.append(kColumnasLogo - columnas.size(), '\0');
    return columnas;
}

// The leading 00 (high byte of the column count), the columns, the padding up
// to the band's data length, then the trailer 1B 4B n.
QByteArray Banda(const QByteArray& columnas, int longitudDatos, char avance) {
    Q_ASSERT(columnas.size() == kColumnasLogo);
    QByteArray banda(1, '\0');
    banda += columnas;
    banda.append(longitudDatos - banda.size(), '\0');
    banda += "\x1B\x4B";
    banda += avance;
    return banda;
}

std::array<QByteArray, kBandasLogo> ConstruirLogo() {
    return {
        // A black bar with a white arch across it, over two bands.
        Banda(Tramos({{1, 0x00}, {28, 0xFF}, {6, 0xFE}, {9, 0xFD}, {28, 0xFB}, {6, 0xFD}, {9, 0xFE}, {29, 0xFF}}), 127,
              7),
        Banda(Tramos({{1, 0x00}, {28, 0xFF}, {6, 0x7F}, {9, 0xBF}, {28, 0xDF}, {6, 0xBF}, {9, 0x7F}, {29, 0xFF}}), 126,
              7),
        Banda(Rotulo("ORLAN", 2), 127, 7),
        Banda(Rotulo("COLA DE IMPRESION", 1), 256, 7),
        Banda(Tramos({{1, 0x00}, {115, 0x18}}), 257, 0),
    };
}

} // namespace

std::span<const FilaComando> Tabla() {
    return kTabla;
}

QByteArrayView BytesComando(Comando comando, qint16 modo) {
    if (modo < 1 || modo > 3) {
        return {};
    }
    return Vista(kTabla[static_cast<std::size_t>(comando)].bytes[static_cast<std::size_t>(modo - 1)]);
}

std::string_view TextoError(Comando comando) {
    return kTabla[static_cast<std::size_t>(comando)].textoError;
}

QByteArray BytesAvanzar(qint16 nLines) {
    QByteArray bytes;
    if (nLines > 0) {
        bytes.reserve(2 * nLines);
        for (qint16 i = 0; i < nLines; ++i) {
            bytes += "\x0A\x0D";
        }
    }
    return bytes;
}

QByteArray BytesLogo(qint16 modo, QByteArrayView datos, QByteArrayView inicio) {
    if (modo != 1) {
        return {};
    }
    QByteArray bytes;
    bytes.reserve(4 + inicio.size() + datos.size());
    bytes += QByteArrayView("\x0D\x1B\x2A\x00", 4);
    bytes += inicio;
    bytes += datos;
    return bytes;
}

QByteArrayView BandaLogo(int banda) {
    static const std::array<QByteArray, kBandasLogo> bandas = ConstruirLogo();
    if (banda < 1 || banda > kBandasLogo) {
        return {};
    }
    return bandas[static_cast<std::size_t>(banda - 1)];
}

} // namespace ComandosImpresora
