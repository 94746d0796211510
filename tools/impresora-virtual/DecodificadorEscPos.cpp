// ESC/POS as an Epson printer reads it: each command measured, then carried
// out by its prefix (ESC, GS, FS; DLE requests print nothing).

#include "impresora-virtual/ComandosEscPos.h"
#include "impresora-virtual/Decodificador.h"
#include "impresora-virtual/ImagenesBits.h"
#include "impresora-virtual/ParametrosEscPos.h"
#include "impresora-virtual/TablasCaracteres.h"

#include <algorithm>

using ImagenesBits::Ampliada;
using ImagenesBits::Columnas;
using ImagenesBits::kAltoMaximo;
using ImagenesBits::MarcoLogo;
using ImagenesBits::Raster;
using namespace ParametrosEscPos;

namespace {

// A command larger than this is not kept whole: its bytes are thrown away as
// they come (a printer with a buffer of a few KB could not hold it either).
constexpr qint64 kMaximoComando = 4 << 20;

} // namespace

qsizetype Decodificador::PasoEscPos(QByteArrayView p, bool final) {
    // ESC p m t1 t2 takes two pulse times; our own command table sends ESC p 0
    // alone, followed by a line feed, a carriage return or the next command.
    if (p.size() >= 3 && Byte(p, 0) == kEsc && Byte(p, 1) == 'p') {
        if (p.size() < 5 && !final) {
            return 0;
        }
        const auto propio = [&](qsizetype i) {
            return i >= p.size() || Byte(p, i) == 0x0A || Byte(p, i) == 0x0D || Byte(p, i) == kEsc;
        };
        if (propio(3) || propio(4)) {
            LineaSuelta(Renglon::Tipo::Cajon);
            return 3;
        }
    }
    const ComandosEscPos::Largo largo = ComandosEscPos::Medir(p);
    if (largo.bytes == 0) {
        return 0;
    }
    if (largo.bytes > kMaximoComando) {
        Desconocido(p.first(std::min<qsizetype>(p.size(), 8)),
                    QStringLiteral("comando de %1 bytes, mas de lo que guarda una impresora").arg(largo.bytes));
        const qsizetype ahora = std::min<qsizetype>(p.size(), largo.bytes);
        m_saltar = largo.bytes - ahora;
        return ahora;
    }
    if (p.size() < largo.bytes) {
        return 0;
    }
    const QByteArrayView c = p.first(static_cast<qsizetype>(largo.bytes));
    if (!largo.conocido) {
        Desconocido(c);
    } else {
        EjecutarEscPos(c);
    }
    return c.size();
}

void Decodificador::EjecutarEscPos(QByteArrayView c) {
    switch (Byte(c, 0)) {
    case kEsc:
        EjecutarEsc(c);
        break;
    case kGs:
        EjecutarGs(c);
        break;
    case kFs:
        EjecutarFs(c);
        break;
    default:
        break; // DLE EOT, DLE ENQ, DLE DC4: status and real-time requests print nothing.
    }
}

void Decodificador::EjecutarEsc(QByteArrayView c) {
    Estado& e = m_estado;
    Estilos& s = e.estilos;
    const auto p = [&](qsizetype i) { return Byte(c, i); };
    switch (p(1)) {
    case '@':
        if (!m_linea.isEmpty() || !m_renglon.tramos.isEmpty()) {
            FinDeLinea();
        }
        for (int k = 0; k < kEstilos; ++k) {
            Marca(k, false);
        }
        Reiniciar();
        break;
    case '!': {
        const unsigned n = p(2);
        s.fuenteB = Bit(n);
        Marca(kNegrita, n & 0x08);
        s.alto = (n & 0x10) ? 2 : 1;
        s.ancho = (n & 0x20) ? 2 : 1;
        Marca(kSubrayado, n & 0x80);
        s.subrayadoDoble = false;
        break;
    }
    case 'E':
    case 'G':
        Marca(kNegrita, Bit(p(2)));
        break;
    case 'Z':
        CodigoEscZ(c);
        break;
    case '-':
        Marca(kSubrayado, Digito(p(2)) % 3 != 0);
        s.subrayadoDoble = Digito(p(2)) == 2;
        break;
    case 'M':
        s.fuenteB = Digito(p(2)) == 1;
        break;
    case ' ':
        e.espacioDerecho = int(p(2));
        break;
    case '2':
        e.espaciado = -1;
        break;
    case '3':
        e.espaciado = int(p(2));
        break;
    case 'a':
        e.alineacion = static_cast<Renglon::Alineacion>(std::clamp(Digito(p(2)), 0, 2));
        break;
    case '$':
        m_x = std::min(Entero16(c, 2), AnchoArea());
        break;
    case '\\':
        m_x = std::clamp(m_x + static_cast<qint16>(Entero16(c, 2)), 0, AnchoArea());
        break;
    case 'D':
        e.tabuladores.clear();
        for (qsizetype i = 2; i + 1 < c.size(); ++i) {
            e.tabuladores.push_back(int(p(i)));
        }
        e.tabuladoresFijados = true;
        break;
    case 'd':
        AvanzarLineas(int(p(2)));
        break;
    case 'J':
        AvanzarPuntos(int(p(2)));
        break;
    case 'r':
        Marca(kColor, Bit(p(2)));
        break;
    case '{':
        e.alReves = Bit(p(2));
        break;
    case 'V':
        s.girado = Digito(p(2)) == 1 || Digito(p(2)) == 2;
        break;
    case 't':
        e.tabla = TablasCaracteres::Conocida(int(p(2))) ? int(p(2)) : 0;
        if (!TablasCaracteres::Conocida(int(p(2)))) {
            Desconocido(c);
        }
        break;
    case 'R':
        e.internacional = p(2) <= 12 ? int(p(2)) : 0;
        break;
    case 'i':
    case 'm':
        LineaSuelta(Renglon::Tipo::Corte);
        break;
    case 'p':
        LineaSuelta(Renglon::Tipo::Cajon);
        break;
    case '*': {
        const unsigned m = p(2);
        const int columnas = Entero16(c, 3);
        const QByteArrayView datos = c.sliced(5);
        if (m < 32) {
            ColumnasEnLinea(datos);
        }
        // At 203 dpi: 8-dot modes print each dot three dots tall, the
        // single-density modes two dots wide.
        const int escalaX = (m == 0 || m == 32) ? 2 : 1;
        ImagenEnLinea(Columnas(datos, columnas, m >= 32 ? 24 : 8, escalaX, m >= 32 ? 1 : 3));
        break;
    }
    default:
        break; // known, nothing to print: page mode, peripherals, beeper, panel keys...
    }
}

void Decodificador::EjecutarGs(QByteArrayView c) {
    Estado& e = m_estado;
    Estilos& s = e.estilos;
    const auto p = [&](qsizetype i) { return Byte(c, i); };
    switch (p(1)) {
    case 'Z':
        e.simboloZ = int(p(2));
        break;
    case '!': {
        const unsigned n = p(2);
        s.ancho = static_cast<qint8>(std::min(8u, ((n >> 4) & 7u) + 1));
        s.alto = static_cast<qint8>(std::min(8u, (n & 7u) + 1));
        if (s.ancho == 1) {
            // Single width also ends the double width ESC ! 0x20 set.
            Marca(kExpandido, false);
            Marca(kExtraExpandido, false);
        }
        break;
    }
    case 'B':
        Marca(kInvertido, Bit(p(2)));
        break;
    case 'L':
        e.margen = std::min(Entero16(c, 2), m_puntosPapel - 1);
        break;
    case 'W':
        e.anchoArea = Entero16(c, 2);
        break;
    case '$':
    case '\\':
        break; // page mode positions
    case 'V':
        if (c.size() == 4 && (p(2) == 65 || p(2) == 66 || p(2) == 97 || p(2) == 98 || p(2) == 103 || p(2) == 104)) {
            if (HayLinea()) {
                FinDeLinea();
            }
            Avanzar(int(p(3)));
        }
        LineaSuelta(Renglon::Tipo::Corte);
        break;
    case 'h':
        e.altoBarras = std::max(1, int(p(2)));
        break;
    case 'w':
        e.anchoBarras = std::clamp(int(p(2)), 1, 6);
        break;
    case 'H':
        e.posicionHri = Digito(p(2)) & 3;
        break;
    case 'f':
        e.fuenteHriB = Digito(p(2)) == 1;
        break;
    case 'k':
        CodigoDeBarras(c);
        break;
    case 'v': {
        // A printer reads every dot and prints those inside the print
        // area; the viewer also stops at the longest picture it draws.
        const unsigned m = Digito(p(3));
        const int ancho = Entero16(c, 4) * 8, alto = Entero16(c, 6);
        const int escalaX = (m & 1) ? 2 : 1, escalaY = (m & 2) ? 2 : 1;
        const int visible = std::min(ancho, AnchoArea() / escalaX), filas = std::min(alto, kAltoMaximo / escalaY);
        if (ancho == 0 || alto == 0) {
            Desconocido(c, QStringLiteral("imagen vacia"));
        } else if (visible < ancho || filas < alto) {
            Desconocido(c, QStringLiteral("imagen de %1x%2 puntos: se imprimen %3x%4")
                               .arg(ancho * escalaX)
                               .arg(alto * escalaY)
                               .arg(visible * escalaX)
                               .arg(filas * escalaY));
        }
        ImprimirGrafico(Raster(c.sliced(8), ancho, alto, escalaX, escalaY, visible, filas), QStringLiteral("[imagen]"));
        break;
    }
    case '(':
        if (p(2) == 'L') {
            EjecutarGraficos(c.sliced(5));
        } else if (p(2) == 'k') {
            EjecutarCodigo2D(c.sliced(5));
        }
        break;
    case '8':
        if (p(2) == 'L') {
            EjecutarGraficos(c.sliced(7));
        }
        break;
    case '*':
        m_imagenDescargada = Columnas(c.sliced(4), int(p(2)) * 8, int(p(3)) * 8, 1, 1);
        break;
    case '/':
        if (!m_imagenDescargada.isNull()) {
            const unsigned m = Digito(p(2));
            ImprimirGrafico(Ampliada(m_imagenDescargada, (m & 1) ? 2 : 1, (m & 2) ? 2 : 1), QStringLiteral("[imagen]"));
        }
        break;
    default:
        break;
    }
}

void Decodificador::EjecutarFs(QByteArrayView c) {
    Estado& e = m_estado;
    const auto p = [&](qsizetype i) { return Byte(c, i); };
    switch (p(1)) {
    case 'p': {
        const QImage logo = m_logosNv.value(int(p(2)));
        ImprimirGrafico(logo.isNull() ? MarcoLogo() : logo, QStringLiteral("[logo %1]").arg(p(2)));
        break;
    }
    case 'q': {
        m_logosNv.clear();
        qsizetype i = 3;
        for (unsigned k = 1; k <= p(2); ++k) {
            const int x = Entero16(c, i), y = Entero16(c, i + 2);
            m_logosNv[int(k)] = Columnas(c.sliced(i + 4), x * 8, y * 8, 1, 1);
            i += 4 + qsizetype(x) * y * 8;
        }
        break;
    }
    case '(':
        // FS ( C fn 48 m: the character encoding, 2 (or '2') UTF-8
        if (p(2) == 'C' && c.size() >= 7 && p(5) == 48) {
            e.utf8 = Digito(p(6)) == 2;
        }
        break;
    default:
        break; // Kanji modes and user-defined Kanji
    }
}

void Decodificador::EjecutarGraficos(QByteArrayView d) {
    if (d.size() < 2) {
        return;
    }
    const unsigned fn = Byte(d, 1);
    const auto escala = [](unsigned v) { return Digito(v) == 2 ? 2 : 1; };
    switch (fn) {
    case 112: // store a raster in the print buffer: m fn a bx by c xL xH yL yH d
    case 113: // the same in column format
    case 67:  // define an NV graphic: m fn a kc1 kc2 b xL xH yL yH [c d]
    case 68:
    case 83: // define a download graphic
    case 84: {
        const bool nv = fn == 67 || fn == 68 || fn == 83 || fn == 84;
        if (d.size() < 10) {
            return;
        }
        if (nv) {
            const QByteArray clave = d.sliced(3, 2).toByteArray();
            const int x = Entero16(d, 6), y = Entero16(d, 8);
            const QByteArrayView datos = d.sliced(std::min<qsizetype>(d.size(), 11));
            m_graficosNv[clave] = fn == 67 || fn == 83 ? Raster(datos, x, y, 1, 1) : Columnas(datos, x, y, 1, 1);
        } else {
            const int x = Entero16(d, 6), y = Entero16(d, 8);
            const QByteArrayView datos = d.sliced(10);
            const int ex = escala(Byte(d, 3)), ey = escala(Byte(d, 4));
            const unsigned color = Byte(d, 5);
            if (color == 49 || color == 48 || m_graficoEnBuffer.isNull()) {
                m_graficoEnBuffer = fn == 112 ? Raster(datos, x, y, ex, ey) : Columnas(datos, x, y, ex, ey);
            }
        }
        break;
    }
    case 2:
    case 50: // print the buffered graphic
        if (!m_graficoEnBuffer.isNull()) {
            ImprimirGrafico(std::exchange(m_graficoEnBuffer, {}), QStringLiteral("[imagen]"));
        }
        break;
    case 69: // print an NV graphic: m fn kc1 kc2 x y
    case 85:
        if (d.size() >= 4) {
            const QImage g = m_graficosNv.value(d.sliced(2, 2).toByteArray());
            ImprimirGrafico(g.isNull() ? MarcoLogo() : g,
                            QStringLiteral("[logo %1]").arg(QString::fromLatin1(d.sliced(2, 2))));
        }
        break;
    default:
        break;
    }
}
