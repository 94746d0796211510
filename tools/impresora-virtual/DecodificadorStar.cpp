// Star Line Mode: the commands of Star's receipt printers in their own
// dialect, drawn with the same lines, styles, codes and pictures as ESC/POS.

#include "impresora-virtual/CodigosBarras.h"
#include "impresora-virtual/Decodificador.h"
#include "impresora-virtual/ImagenesBits.h"
#include "impresora-virtual/ParametrosEscPos.h"
#include "impresora-virtual/TablasCaracteres.h"

namespace {

using ParametrosEscPos::Byte;
using ParametrosEscPos::Entero16;
using ParametrosEscPos::kEsc;
using ParametrosEscPos::kGs;
constexpr unsigned char kRs = 0x1E;

// Data longer than this is not a command a printer would take whole.
constexpr qsizetype kMaximoStar = 1 << 20;

// Parameters that may come as a number or as its digit ('0'-'9').
int Cifra(unsigned n) {
    return static_cast<int>(n >= '0' && n <= '9' ? n - '0' : n);
}

// The length of the Star command at the start of `p` (ESC first): 0 when
// more bytes are needed to know it, -1 for a command the viewer does not know.
qsizetype LargoStar(QByteArrayView p) {
    const qsizetype n = p.size();
    if (n < 2) {
        return 0;
    }
    switch (Byte(p, 1)) {
    case 'E':  // emphasis on
    case 'F':  // emphasis off
    case '0':  // line spacing 3 mm
    case 0x0E: // double height on
    case 0x14: // double height off
    case '@':
    case 'M': // 12-dot pitch
    case 'P': // 15-dot pitch
    case ':': // 16-dot pitch
        return 2;
    case '-': // underline
    case '_': // upperline
    case 'W': // width
    case 'h': // height
    case 'z': // line spacing 3 or 4 mm
    case 'A': // line spacing n/4 mm
    case 'a': // feed n lines
    case 'J': // feed n/4 mm
    case 'j': // reverse feed
    case 'd': // cut
    case 'R': // international set
    case ' ': // character spacing
    case 'l': // left margin
    case 'Q': // right margin
        return 3;
    case 'i':    // height and width
    case 0x07:   // drawer pulse: ESC BEL n1 n2
    case 0x1E: { // ESC RS F n, ESC RS a n and the like
        return 4;
    }
    case 0x06: // automatic status: ESC ACK SOH
        return 3;
    case 'K': // standard density bit image: ESC K n1 n2, n1 + 256 n2 columns of a byte
        return n < 4 ? 0 : 4 + qsizetype(Entero16(p, 2));
    case 'k': // fine bit image: ESC k n1 n2, 24 rows of n1 + 256 n2 bytes
        return n < 4 ? 0 : 4 + qsizetype(Entero16(p, 2)) * 24;
    case 'b': { // barcode: ESC b n1 n2 n3 n4 d... RS
        const qsizetype fin = p.indexOf(char(kRs), 6);
        return fin >= 0 ? fin + 1 : n > kMaximoStar ? -1 : 0;
    }
    case '*': // raster mode: ESC * r X ... (ends at NUL unless A, B, C, R)
        if (n < 4) {
            return 0;
        }
        if (Byte(p, 2) != 'r') {
            return -1;
        }
        if (QByteArrayView("ABCR").contains(char(Byte(p, 3)))) {
            return 4;
        } else {
            const qsizetype fin = p.indexOf('\0', 4);
            return fin >= 0 ? fin + 1 : n > 16 ? -1 : 0;
        }
    case kGs:
        break;
    default:
        return -1;
    }
    if (n < 4) {
        return 0;
    }
    const unsigned c = Byte(p, 2), f = Byte(p, 3);
    switch (c) {
    case 'a': // alignment
    case 't': // code page
        return 4;
    case 'y': // QR
    case 'x': // PDF417
        switch (f) {
        case 'S':
            if (n < 5) {
                return 0;
            }
            return c == 'x' && Byte(p, 4) == '0' ? 8 : 6;
        case 'D': {
            // QR: ESC GS y D 1 m nL nH d; PDF417: ESC GS x D nL nH d
            const qsizetype cabeza = c == 'y' ? 8 : 6;
            if (n < cabeza) {
                return 0;
            }
            if (c == 'y' && Byte(p, 4) != '1') {
                return -1;
            }
            return cabeza + Entero16(p, cabeza - 2);
        }
        case 'P': // print
        case 'I': // symbol information, a status reply
            return 4;
        default:
            return -1;
        }
    case 'S': // raster graphic: ESC GS S m xL xH yL yH n d...
        if (n < 9) {
            return 0;
        }
        return 9 + qsizetype(Entero16(p, 4)) * Entero16(p, 6);
    default:
        return -1;
    }
}

// A Star code page number as the ESC t number of the same table.
int TablaDeStar(int n) {
    static constexpr int kTablas[][2] = {{0, 0}, {1, 0}, {2, 1},   {3, 0},   {4, 19},  {5, 18}, {6, 3},
                                         {8, 4}, {9, 5}, {10, 17}, {32, 16}, {33, 45}, {34, 46}};
    for (const auto& t : kTablas) {
        if (t[0] == n) {
            return t[1];
        }
    }
    return -1;
}

// A Star barcode type as its GS k number.
int TipoDeStar(int n) {
    static constexpr int kTipos[] = {66, 65, 68, 67, 69, 70, 73, 72, 71};
    return n >= 0 && n < int(std::size(kTipos)) ? kTipos[n] : -1;
}

} // namespace

qsizetype Decodificador::PasoStar(QByteArrayView p) {
    switch (Byte(p, 0)) {
    case 0x0E: // double width on
        TamanoStar(2, m_estado.estilos.alto);
        return 1;
    case 0x14: // double width off
        TamanoStar(1, m_estado.estilos.alto);
        return 1;
    case 0x07: // drives the drawer
    case 0x1A:
        LineaSuelta(Renglon::Tipo::Cajon);
        return 1;
    case 0x0B: // vertical tab: with no tab positions, a line feed
    case 0x0C: // form feed: on a roll, a line feed
        FinDeLinea();
        return 1;
    case 0x09:
        Texto(QStringLiteral("\t"));
        return 1;
    case 0x0F: // upside-down on and off
    case 0x12:
        m_estado.alReves = Byte(p, 0) == 0x0F;
        return 1;
    case 0x18: // cancels the line's data
    case 0x05: // status request
    case 0x04:
        return 1;
    case kEsc:
        break;
    default:
        return -1;
    }
    const qsizetype largo = LargoStar(p);
    if (largo < 0 || largo > kMaximoStar) {
        return -1;
    }
    if (largo == 0 || p.size() < largo) {
        return 0;
    }
    EjecutarStar(p.first(largo));
    return largo;
}

qsizetype Decodificador::PasoRasterStar(QByteArrayView p, bool final) {
    const unsigned b = Byte(p, 0);
    if (b == 'b' || b == 'k') { // a raster row: b nL nH d...
        if (p.size() < 3 || p.size() < 3 + Entero16(p, 1)) {
            return final ? p.size() : 0;
        }
        m_filasRaster << p.sliced(3, Entero16(p, 1)).toByteArray();
        return 3 + Entero16(p, 1);
    }
    if (b == kEsc && p.size() >= 2 && Byte(p, 1) == 0x0C) { // ESC FF n: ends the page, EOT also cuts
        if (p.size() < 3) {
            return final ? p.size() : 0;
        }
        ImprimirRasterStar();
        if (Byte(p, 2) == 0x04) {
            LineaSuelta(Renglon::Tipo::Corte);
        }
        return 3;
    }
    if (b == kEsc) {
        const qsizetype largo = LargoStar(p);
        if (largo == 0 || (largo > 0 && p.size() < largo)) {
            return final ? p.size() : 0;
        }
        if (largo < 0) {
            Desconocido(p.first(std::min<qsizetype>(p.size(), 2)));
            return std::min<qsizetype>(p.size(), 2);
        }
        const QByteArrayView c = p.first(largo);
        if (c.startsWith("\x1B*rB")) {
            ImprimirRasterStar();
            m_rasterStar = false;
        } else if (c.startsWith("\x1B*rY")) { // moves down n dot rows
            const int filas = c.sliced(4, c.size() - 5).toInt();
            for (int k = 0; k < std::min(filas, 16384); ++k) {
                m_filasRaster << QByteArray();
            }
        }
        return largo;
    }
    return 1; // raster mode prints no text
}

void Decodificador::ImprimirRasterStar() {
    const QList<QByteArray> filas = std::exchange(m_filasRaster, {});
    qsizetype bytesFila = 0;
    for (const QByteArray& f : filas) {
        bytesFila = std::max(bytesFila, f.size());
    }
    if (filas.isEmpty() || bytesFila == 0) {
        return;
    }
    QByteArray datos;
    for (const QByteArray& f : filas) {
        datos += f.leftJustified(bytesFila, '\0', true);
    }
    ImprimirGrafico(ImagenesBits::Raster(datos, 8 * int(bytesFila), int(filas.size()), 1, 1),
                    QStringLiteral("[imagen]"));
}

void Decodificador::TamanoStar(int ancho, int alto) {
    Estilos& s = m_estado.estilos;
    s.ancho = static_cast<qint8>(std::clamp(ancho, 1, 6));
    s.alto = static_cast<qint8>(std::clamp(alto, 1, 6));
    // The text receipt marks double width [E], and double width and height [X].
    Marca(kExtraExpandido, s.ancho >= 2 && s.alto >= 2);
    Marca(kExpandido, s.ancho >= 2 && s.alto < 2);
}

void Decodificador::EjecutarStar(QByteArrayView c) {
    Estado& e = m_estado;
    const auto p = [&](qsizetype i) { return Byte(c, i); };
    if (p(1) == kGs) {
        EjecutarStarGs(c);
        return;
    }
    switch (p(1)) {
    case 'E':
    case 'F':
        Marca(kNegrita, p(1) == 'E');
        break;
    case '-':
        Marca(kSubrayado, Cifra(p(2)) != 0);
        break;
    case 'i':
        TamanoStar(Cifra(p(3)) + 1, Cifra(p(2)) + 1);
        break;
    case 'W':
        TamanoStar(Cifra(p(2)) + 1, e.estilos.alto);
        break;
    case 'h':
        TamanoStar(e.estilos.ancho, Cifra(p(2)) + 1);
        break;
    case 0x0E:
    case 0x14:
        TamanoStar(e.estilos.ancho, p(1) == 0x0E ? 2 : 1);
        break;
    case 'z':
        e.espaciado = Cifra(p(2)) == 0 ? 24 : 32; // 3 or 4 mm at 8 dots a millimetre
        break;
    case '0':
        e.espaciado = 24;
        break;
    case 'A':
        e.espaciado = 2 * int(p(2));
        break;
    case 'a':
        AvanzarLineas(int(p(2)));
        break;
    case 'J': // n/4 mm
        AvanzarPuntos(2 * int(p(2)));
        break;
    case 'd':
        LineaSuelta(Renglon::Tipo::Corte);
        break;
    case 'R':
        e.internacional = Cifra(p(2));
        break;
    case 'l':
        e.margen = int(p(2)) * m_celda;
        break;
    case 'b':
        CodigoDeBarrasStar(c);
        break;
    case 'K': // each bit a dot 3 dots wide and 3 tall, top dot first
        ColumnasEnLinea(c.sliced(4));
        ImagenEnLinea(ImagenesBits::Columnas(c.sliced(4), Entero16(c, 2), 8, 3, 3));
        break;
    case 'k': // a dot a bit, top row first
        ImagenEnLinea(ImagenesBits::Raster(c.sliced(4), 8 * Entero16(c, 2), 24, 1, 1));
        break;
    case '*':
        if (p(3) == 'A') {
            if (HayLinea()) {
                FinDeLinea();
            }
            m_rasterStar = true;
            m_filasRaster.clear();
        }
        break;
    default:
        break; // read, nothing to draw: fonts, pitch, spacing, status
    }
}

void Decodificador::EjecutarStarGs(QByteArrayView c) {
    Estado& e = m_estado;
    const auto p = [&](qsizetype i) { return Byte(c, i); };
    const unsigned n = c.size() > 5 ? p(5) : 0;
    switch (p(2)) {
    case 'a':
        e.alineacion = static_cast<Renglon::Alineacion>(std::clamp(Cifra(p(3)), 0, 2));
        break;
    case 't': {
        const int tabla = TablaDeStar(int(p(3)));
        if (tabla < 0) {
            Desconocido(c);
        }
        e.tabla = tabla < 0 ? 0 : tabla;
        break;
    }
    case 'y': // QR: S 0 model, S 1 correction level, S 2 cell size; D 1 data; P print
        if (p(3) == 'S' && p(4) == '1') {
            e.nivelQr = std::clamp(int(n), 0, 3) + 1;
        } else if (p(3) == 'S' && p(4) == '2') {
            e.moduloQr = std::clamp(int(n), 1, 8);
        } else if (p(3) == 'D') {
            e.datos2D[49] = c.sliced(8).toByteArray();
        } else if (p(3) == 'P') {
            EjecutarCodigo2D("\x31\x51\x30");
        }
        break;
    case 'x': // PDF417: S 0 size, S 1 security level, S 2 module width, S 3 aspect; D data; P print
        if (p(3) == 'S' && p(4) == '0') {
            e.columnasPdf = n == 1 ? int(p(7)) : 0;
        } else if (p(3) == 'S' && p(4) == '1') {
            e.nivelPdf = std::clamp(int(n), 0, 8);
        } else if (p(3) == 'S' && p(4) == '2') {
            e.moduloPdf = std::clamp(int(n), 1, 10);
        } else if (p(3) == 'S' && p(4) == '3') {
            e.altoFilaPdf = std::clamp(int(n), 1, 10);
        } else if (p(3) == 'D') {
            e.datos2D[48] = c.sliced(6).toByteArray();
        } else if (p(3) == 'P') {
            EjecutarCodigo2D("\x30\x51\x30");
        }
        break;
    case 'S': // raster graphic: m xL xH yL yH n d..., x in bytes
        ImprimirGrafico(ImagenesBits::Raster(c.sliced(9), 8 * Entero16(c, 4), Entero16(c, 6), 1, 1),
                        QStringLiteral("[imagen]"));
        break;
    default:
        break;
    }
}

void Decodificador::CodigoDeBarrasStar(QByteArrayView c) {
    // ESC b n1 n2 n3 n4 d... RS: type, text under the bars, module, height
    const int tipo = TipoDeStar(Cifra(Byte(c, 2)));
    const int conTexto = Cifra(Byte(c, 3));
    const int modo = std::clamp(Cifra(Byte(c, 4)), 1, 9);
    QByteArray datos = c.sliced(6, c.size() - 7).toByteArray();
    if (tipo == 73) {
        // Star's CODE128 data is plain text: the printer picks the code set.
        datos = "{B" + datos.replace('{', "{{");
    }
    const int modulo = (modo - 1) % 3 + 2;
    QString legible, error;
    if (tipo < 0 || CodigosBarras::Barras(tipo, datos, modulo, int(Byte(c, 5)), legible, error).isNull()) {
        Desconocido(c);
        return;
    }
    const Estado guardado = m_estado;
    m_estado.anchoBarras = modulo;
    m_estado.altoBarras = std::max(1, int(Byte(c, 5)));
    m_estado.posicionHri = conTexto == 2 || conTexto == 4 ? 2 : 0;
    QByteArray gsk("\x1D\x6B", 2);
    gsk += char(tipo);
    gsk += char(std::min<qsizetype>(datos.size(), 255));
    gsk += datos;
    CodigoDeBarras(gsk);
    m_estado.anchoBarras = guardado.anchoBarras;
    m_estado.altoBarras = guardado.altoBarras;
    m_estado.posicionHri = guardado.posicionHri;
}
