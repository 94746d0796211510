#include "impresora-virtual/Decodificador.h"

#include "impresora-virtual/CodigosBarras.h"
#include "impresora-virtual/ComandosEscPos.h"
#include "impresora-virtual/ImagenesBits.h"
#include "impresora-virtual/TablasCaracteres.h"
#include "platform/Cp1252.h"
#include "printer/ComandosImpresora.h"

#include <algorithm>
#include <vector>

using ComandosImpresora::Comando;
using ImagenesBits::Columnas;
using ImagenesBits::kAltoMaximo;
using ImagenesBits::MarcoLogo;
using ImagenesBits::Raster;

namespace {

// One byte sequence of a dialect and every row of the table that sends it.
struct Secuencia {
    QByteArray bytes;
    std::vector<Comando> comandos;
};

std::vector<Secuencia> Secuencias(qint16 modo) {
    std::vector<Secuencia> secuencias;
    for (const auto& fila : ComandosImpresora::Tabla()) {
        const QByteArrayView bytes = ComandosImpresora::BytesComando(fila.comando, modo);
        // A lone carriage return is a carriage return, whatever else it
        // means; the Epson drawer kick is read with ESC/POS's (PasoEscPos).
        if (bytes.isEmpty() || bytes == "\x0D" || (modo == 1 && fila.comando == Comando::Abrircaja)) {
            continue;
        }
        auto igual =
            std::find_if(secuencias.begin(), secuencias.end(), [&](const Secuencia& s) { return s.bytes == bytes; });
        if (igual == secuencias.end()) {
            secuencias.push_back({bytes.toByteArray(), {fila.comando}});
        } else {
            igual->comandos.push_back(fila.comando);
        }
    }
    std::stable_sort(secuencias.begin(), secuencias.end(),
                     [](const Secuencia& a, const Secuencia& b) { return a.bytes.size() > b.bytes.size(); });
    return secuencias;
}

const std::vector<Secuencia>& SecuenciasDe(qint16 modo) {
    static const std::vector<Secuencia> porModo[4] = {{}, Secuencias(1), Secuencias(2), Secuencias(3)};
    return porModo[modo >= 1 && modo <= 3 ? modo : 0];
}

constexpr unsigned char kEsc = 0x1B, kGs = 0x1D, kFs = 0x1C, kDle = 0x10;

// A command larger than this is not kept whole: its bytes are thrown away as
// they come (a printer with a buffer of a few KB could not hold it either).
constexpr qint64 kMaximoComando = 4 << 20;

// ESC/POS parameters that are 0/1 or '0'/'1' use their low bit.
bool Bit(unsigned n) {
    return n & 1u;
}

// Parameters that are 0-2 or '0'-'2'.
int Digito(unsigned n) {
    return static_cast<int>(n >= '0' ? n - '0' : n);
}

int Entero16(QByteArrayView c, qsizetype i) {
    return static_cast<unsigned char>(c[i]) + 256 * static_cast<unsigned char>(c[i + 1]);
}

unsigned Byte(QByteArrayView c, qsizetype i) {
    return static_cast<unsigned char>(c[i]);
}

QString Hex(QByteArrayView c) {
    return QString::fromLatin1(c.first(std::min<qsizetype>(c.size(), 16)).toByteArray().toHex(' ').toUpper()) +
           (c.size() > 16 ? QStringLiteral(" … (%1 bytes)").arg(c.size()) : QString());
}

} // namespace

Decodificador::Decodificador(qint16 modo, int ancho, int puntosPapel)
    : m_modo(modo), m_ancho(ancho), m_puntosPapel(std::max(1, puntosPapel)),
      m_celda(ancho > 0 ? std::max(1, m_puntosPapel / ancho) : 12) {
    // Star receipts are Windows-1252 until ESC GS t chooses a code page.
    m_tablaInicial = modo == 3 ? 16 : 0;
    Reiniciar();
}

qint16 Decodificador::ModoDeLetra(QChar letra) {
    switch (letra.toUpper().unicode()) {
    case u'E':
        return 1;
    case u'C':
        return 2;
    case u'S':
        return 3;
    default:
        return 0;
    }
}

bool Decodificador::TablaConocida(int numero) {
    return TablasCaracteres::Conocida(numero);
}

bool Decodificador::EstablecerTabla(int numero) {
    if (!TablaConocida(numero)) {
        return false;
    }
    m_tablaInicial = m_estado.tabla = numero;
    return true;
}

void Decodificador::Reiniciar() {
    m_estado = Estado{};
    m_estado.tabla = m_tablaInicial;
}

void Decodificador::Alimentar(QByteArrayView bytes) {
    m_pendiente += bytes;
    // What is decoded is removed once at the end, so that the cost of a piece
    // is linear in its size.
    qsizetype usados = 0;
    while (m_leidos < m_pendiente.size() && (usados = Paso(false)) > 0) {
        m_leidos += usados;
    }
    m_pendiente.remove(0, std::exchange(m_leidos, 0));
}

QStringList Decodificador::TomarLineas() {
    return std::exchange(m_lineas, {});
}

QList<Renglon> Decodificador::TomarRenglones() {
    return std::exchange(m_renglones, {});
}

QStringList Decodificador::TomarDesconocidos() {
    return std::exchange(m_desconocidos, {});
}

QStringList Decodificador::Terminar() {
    while (m_leidos < m_pendiente.size()) {
        m_leidos += Paso(true);
    }
    m_pendiente.clear();
    m_leidos = 0;
    if (HayLinea()) {
        FinDeLinea();
    }
    return TomarLineas();
}

QString Decodificador::Decodificar(QByteArrayView bytes, qint16 modo, int ancho) {
    Decodificador d(modo, ancho);
    d.Alimentar(bytes);
    return d.Terminar().join(u'\n');
}

qsizetype Decodificador::Paso(bool final) {
    const QByteArrayView p = QByteArrayView(m_pendiente).sliced(m_leidos);
    const qsizetype n = p.size();
    const auto byte = [&](qsizetype i) { return static_cast<unsigned char>(p[i]); };

    if (m_saltar > 0) {
        const qsizetype tirar = static_cast<qsizetype>(std::min<qint64>(m_saltar, n));
        m_saltar -= tirar;
        return tirar;
    }
    // A Star raster page's rows are data, whatever their bytes.
    if (m_modo == 3 && m_rasterStar) {
        return PasoRasterStar(p, final);
    }

    const auto& secuencias = SecuenciasDe(m_modo);
    for (std::size_t i = 0; i < secuencias.size(); ++i) {
        const QByteArray& s = secuencias[i].bytes;
        if (p.startsWith(s)) {
            Aplicar(static_cast<qsizetype>(i));
            return s.size();
        }
        if (!final && n < s.size() && QByteArrayView(s).startsWith(p)) {
            return 0;
        }
    }

    // A command cut short: wait for the rest. At the end of the stream it
    // never completes, and a printer prints none of it.
    const auto incompleto = [&]() -> qsizetype {
        if (!final) {
            return 0;
        }
        Desconocido(p, QStringLiteral("comando incompleto al final"));
        return n;
    };
    const unsigned char b = byte(0);
    const bool escPos = b == kEsc || b == kGs || b == kFs ||
                        (b == kDle && n >= 2 && (byte(1) == 0x04 || byte(1) == 0x05 || byte(1) == 0x14));
    if (m_modo == 1 && escPos) {
        const qsizetype usados = PasoEscPos(p, final);
        return usados > 0 ? usados : incompleto();
    }
    if (m_modo == 3) {
        const qsizetype usados = PasoStar(p);
        if (usados >= 0) {
            return usados > 0 ? usados : incompleto();
        }
    }
    if (b == kEsc) {
        if (n < 2) {
            return incompleto();
        }
        if (byte(1) == 0x2A) { // bit image: ESC * m nL nH, then the columns
            if (n < 5) {
                return incompleto();
            }
            const int m = byte(2);
            const qsizetype columnas = byte(3) + 256 * byte(4);
            const qsizetype longitud = 5 + columnas * (m >= 32 ? 3 : 1);
            if (n < longitud) {
                return incompleto();
            }
            if (m < 32) {
                ColumnasEnLinea(p.sliced(5, columnas));
                ImagenEnLinea(Columnas(p.sliced(5, columnas), int(columnas), 8, 2, 2));
            }
            return longitud;
        }
        if (byte(1) == 0x4B) { // end of a logo band: ESC K n
            if (n < 3) {
                return incompleto();
            }
            return 3;
        }
        Desconocido(p.first(2));
        Anotar(QStringLiteral("<1B>"));
        return 1;
    }
    if (b == kDle && (n < 2 || byte(1) == 0x04)) { // status request: DLE EOT n
        if (n < 3) {
            return incompleto();
        }
        return 3;
    }
    if (b == 0x0A) {
        FinDeLinea();
        return 1;
    }
    if (b == 0x0D || b == 0x00) {
        return 1;
    }
    if (m_modo == 1 && b == 0x09) {
        Texto(QStringLiteral("\t"));
        return 1;
    }
    if (m_modo == 1 && b == 0x0C) { // form feed: in standard mode, a line feed
        FinDeLinea();
        return 1;
    }
    if (m_modo == 1 && b == 0x18) { // CAN: page mode's data, of which there is none
        return 1;
    }
    if (b < 0x20 || b == 0x7F) {
        Anotar(QStringLiteral("<%1>").arg(b, 2, 16, QLatin1Char('0')).toUpper());
        return 1;
    }
    return PasoTexto(p, final);
}

qsizetype Decodificador::PasoTexto(QByteArrayView p, bool final) {
    const qsizetype n = p.size();
    const auto byte = [&](qsizetype i) { return static_cast<unsigned char>(p[i]); };
    qsizetype fin = 1;
    while (fin < n && byte(fin) >= 0x20 && byte(fin) != 0x7F) {
        ++fin;
    }
    if (m_modo == 1 && m_estado.utf8) {
        // Only whole characters: a sequence cut by the end of what came waits
        // for the rest.
        if (fin == n && !final) {
            for (qsizetype i = std::max<qsizetype>(0, fin - 3); i < fin; ++i) {
                const unsigned c = byte(i);
                const qsizetype largo = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
                if (i + largo > fin) {
                    fin = i;
                    break;
                }
            }
            if (fin == 0) {
                return 0;
            }
        }
        Texto(QString::fromUtf8(p.first(fin)));
        return fin;
    }
    Texto(m_modo != 2 ? TablasCaracteres::Decodificar(p.first(fin), m_estado.tabla, m_estado.internacional)
                      : Cp1252::Decodificar(p.first(fin)));
    return fin;
}

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

void Decodificador::Desconocido(QByteArrayView c, const QString& motivo) {
    m_desconocidos << (motivo.isEmpty() ? Hex(c) : Hex(c) + QStringLiteral(": ") + motivo);
}

void Decodificador::EjecutarEscPos(QByteArrayView c) {
    Estado& e = m_estado;
    Estilos& s = e.estilos;
    const unsigned b0 = Byte(c, 0), b1 = Byte(c, 1);
    const auto p = [&](qsizetype i) { return Byte(c, i); };
    if (b0 == kEsc) {
        switch (b1) {
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
        case 'd': { // prints the line, then feeds n lines in all
            int blancas = int(p(2));
            if (HayLinea()) {
                FinDeLinea();
                --blancas;
            }
            LineasEnBlanco(blancas);
            break;
        }
        case 'J':
            if (HayLinea()) {
                m_renglon.espaciado = int(p(2));
                FinDeLinea();
            } else {
                Avanzar(int(p(2)));
            }
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
        return;
    }
    if (b0 == kGs) {
        switch (b1) {
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
            ImprimirGrafico(Raster(c.sliced(8), ancho, alto, escalaX, escalaY, visible, filas),
                            QStringLiteral("[imagen]"));
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
                ImprimirGrafico(m_imagenDescargada.scaled(m_imagenDescargada.width() * ((m & 1) ? 2 : 1),
                                                          m_imagenDescargada.height() * ((m & 2) ? 2 : 1)),
                                QStringLiteral("[imagen]"));
            }
            break;
        default:
            break;
        }
        return;
    }
    if (b0 == kFs) {
        switch (b1) {
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
        return;
    }
    // DLE EOT, DLE ENQ, DLE DC4: status and real-time requests print nothing.
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

void Decodificador::Imprimir2D(CodigosBarras::Simbolo simbolo, const QByteArray& datos,
                               const CodigosBarras::Opciones2D& opciones, QByteArrayView comando) {
    QString error;
    const QImage imagen = CodigosBarras::Simbolo2D(simbolo, datos, opciones, error);
    if (imagen.isNull()) {
        Desconocido(comando, error);
        return;
    }
    if (!CabeEnLinea(comando, imagen)) {
        return;
    }
    static const char* const kNombres[] = {"PDF417", "QR", "DataMatrix", "Aztec"};
    ImprimirGrafico(
        imagen,
        QStringLiteral("[código %1: %2]").arg(QLatin1StringView(kNombres[int(simbolo)]), QString::fromUtf8(datos)));
}

void Decodificador::CodigoEscZ(QByteArrayView c) {
    using CodigosBarras::Simbolo;
    const int elegido = m_estado.simboloZ;
    if (elegido < 0 || elegido > 2) {
        Desconocido(c.first(7), QStringLiteral("GS Z %1 no es un simbolo").arg(elegido));
        return;
    }
    const Simbolo simbolo = elegido == 0 ? Simbolo::Pdf417 : elegido == 1 ? Simbolo::DataMatrix : Simbolo::Qr;
    CodigosBarras::Opciones2D o;
    // v: the QR version, or PDF417's columns; n: the correction level, as
    // L M Q H or 0-3 for QR; k: the module in dots.
    const unsigned v = Byte(c, 2), n = Byte(c, 3);
    o.modulo = std::clamp(int(Byte(c, 4)), 1, 16);
    if (simbolo == Simbolo::Qr) {
        const qsizetype letra = QByteArrayView("LMQH").indexOf(char(n));
        o.nivel = letra >= 0 ? int(letra) + 1 : std::clamp(int(n), 0, 3) + 1;
    } else if (simbolo == Simbolo::Pdf417) {
        o.columnas = int(v);
        o.nivel = std::clamp(int(n), 0, 8);
    }
    Imprimir2D(simbolo, c.sliced(7).toByteArray(), o, c.first(7));
}

void Decodificador::EjecutarCodigo2D(QByteArrayView d) {
    // cn fn ...
    if (d.size() < 3) {
        return;
    }
    Estado& e = m_estado;
    const unsigned cn = Byte(d, 0), fn = Byte(d, 1);
    const unsigned n = Byte(d, 2);
    using CodigosBarras::Simbolo;
    Simbolo simbolo;
    switch (cn) {
    case 48:
        simbolo = Simbolo::Pdf417;
        break;
    case 49:
        simbolo = Simbolo::Qr;
        break;
    case 53:
        simbolo = Simbolo::Aztec;
        break;
    case 54:
        simbolo = Simbolo::DataMatrix;
        break;
    default:
        return; // MaxiCode, DataBar and composite symbols: not printed
    }
    if (fn == 80) { // store: cn fn m d
        e.datos2D[int(cn)] = d.sliced(3).toByteArray();
        return;
    }
    if (fn == 81) { // print
        CodigosBarras::Opciones2D o;
        o.modulo = simbolo == Simbolo::Qr ? e.moduloQr : simbolo == Simbolo::Pdf417 ? e.moduloPdf : e.moduloOtro;
        o.nivel = simbolo == Simbolo::Qr ? e.nivelQr : e.nivelPdf;
        o.altoFila = e.altoFilaPdf;
        o.columnas = e.columnasPdf;
        Imprimir2D(simbolo, e.datos2D.value(int(cn)), o, d.first(std::min<qsizetype>(d.size(), 4)));
        return;
    }
    switch (simbolo) {
    case Simbolo::Qr:
        if (fn == 67) {
            e.moduloQr = std::clamp(int(n), 1, 16);
        } else if (fn == 69) {
            e.nivelQr = std::clamp(int(n) - 47, 1, 4);
        }
        break;
    case Simbolo::Pdf417:
        if (fn == 65) {
            e.columnasPdf = int(n);
        } else if (fn == 67) {
            e.moduloPdf = std::clamp(int(n), 2, 8);
        } else if (fn == 68) {
            e.altoFilaPdf = std::clamp(int(n), 2, 8);
        } else if (fn == 69 && d.size() >= 4 && n == 48) {
            e.nivelPdf = std::clamp(int(Byte(d, 3)) - 48, 0, 8);
        }
        break;
    default:
        if (fn == 67 || fn == 68) {
            e.moduloOtro = std::clamp(int(n), 1, 16);
        }
        break;
    }
}

void Decodificador::CodigoDeBarras(QByteArrayView c) {
    const Estado& e = m_estado;
    const unsigned m = Byte(c, 2);
    const QByteArrayView datos = m <= 6 ? c.sliced(3, c.size() - 4) : c.sliced(4);
    QString legible, error;
    const QImage barras = CodigosBarras::Barras(int(m), datos, e.anchoBarras, e.altoBarras, legible, error);
    if (barras.isNull()) {
        Desconocido(c, error);
        return;
    }
    if (!CabeEnLinea(c, barras)) {
        return;
    }
    const auto hri = [&] {
        Estilos estilos;
        estilos.fuenteB = e.fuenteHriB;
        std::swap(m_estado.estilos, estilos);
        const int celda = CeldaActual();
        // Centred under the bars, whatever the alignment does to both.
        const int ancho = legible.size() * celda;
        m_x = std::max(0, (barras.width() - ancho) / 2);
        for (QChar letra : legible) {
            TextoEnRenglon(letra, m_x, celda, celda);
            m_x += celda;
        }
        m_renglon.usado = std::max(m_renglon.usado, barras.width());
        m_linea = legible;
        std::swap(m_estado.estilos, estilos);
        FinDeLinea();
    };
    if (HayLinea()) {
        FinDeLinea();
    }
    if (e.posicionHri & 1) {
        hri();
    }
    ImprimirGrafico(barras, QStringLiteral("[código %1: %2]").arg(CodigosBarras::NombreTipo(int(m)), legible));
    if (e.posicionHri & 2) {
        hri();
    }
}

bool Decodificador::CabeEnLinea(QByteArrayView c, const QImage& codigo) {
    // A printer refuses a code wider than its line: cut, it would not scan.
    if (codigo.width() <= AnchoArea()) {
        return true;
    }
    Desconocido(c, QStringLiteral("codigo de %1 puntos, mas ancho que la linea de %2: no se imprime")
                       .arg(codigo.width())
                       .arg(AnchoArea()));
    return false;
}

void Decodificador::Aplicar(qsizetype fila) {
    bool encendido = false; // of several rows with the same bytes, the first that turns a style on counts
    for (Comando c : SecuenciasDe(m_modo)[static_cast<std::size_t>(fila)].comandos) {
        const auto encender = [&](int estilo) {
            if (!encendido) {
                Marca(estilo, true);
                encendido = true;
            }
        };
        switch (c) {
        case Comando::Cortar:
            LineaSuelta(Renglon::Tipo::Corte);
            break;
        case Comando::Abrircaja:
            LineaSuelta(Renglon::Tipo::Cajon);
            break;
        case Comando::NegritaSi:
            encender(kNegrita);
            break;
        case Comando::NegritaNo:
            Marca(kNegrita, false);
            break;
        case Comando::SubrayadoSi:
            encender(kSubrayado);
            break;
        case Comando::SubrayadoNo:
            Marca(kSubrayado, false);
            break;
        case Comando::InvertidoSi:
            encender(kInvertido);
            break;
        case Comando::InvertidoNo:
            Marca(kInvertido, false);
            break;
        case Comando::ColorSi:
            encender(kColor);
            break;
        case Comando::ColorNo:
            Marca(kColor, false);
            break;
        case Comando::ExpandidoSi:
            encender(kExpandido);
            break;
        case Comando::ExpandidoNo:
            Marca(kExpandido, false);
            break;
        case Comando::ExtraExpandidoSi:
            encender(kExtraExpandido);
            break;
        case Comando::ExtraExpandidoNo:
            Marca(kExtraExpandido, false);
            break;
        case Comando::ResetCaracter:
            Marca(kExpandido, false);
            Marca(kExtraExpandido, false);
            break;
        case Comando::ResetPrinter:
            for (int e = 0; e < kEstilos; ++e) {
                Marca(e, false);
            }
            if (m_modo != 2) {
                Reiniciar();
            }
            break;
        }
    }
    // In ESC/POS, ESC ! 0 also ends the sizes, font B, emphasis and underline
    // that ESC ! sets. Compared with its three bytes: as a C string it would
    // end at its NUL.
    if (m_modo == 1 &&
        SecuenciasDe(m_modo)[static_cast<std::size_t>(fila)].bytes == QByteArrayView("\x1B\x21\x00", 3)) {
        m_estado.estilos.ancho = m_estado.estilos.alto = 1;
        m_estado.estilos.fuenteB = false;
        m_estado.estilos.subrayadoDoble = false;
        Marca(kNegrita, false);
        Marca(kSubrayado, false);
    }
}
