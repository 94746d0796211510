#include "impresora-virtual/Decodificador.h"

#include "platform/Cp1252.h"
#include "printer/ComandosImpresora.h"

#include <algorithm>
#include <vector>

using ComandosImpresora::Comando;

namespace {

enum Estilo { kNegrita, kSubrayado, kInvertido, kColor, kExpandido, kExtraExpandido, kEstilos };

constexpr char kLetrasEstilo[kEstilos] = {'B', 'U', 'I', 'C', 'E', 'X'};

const QString kLineaCorte = QStringLiteral("- - - - - - - - - - - \u2702 corte - - - - - - - - - - -");
const QString kLineaCajon = QStringLiteral("==== abre caj\u00f3n ====");

// One byte sequence of a dialect and every row of the table that sends it.
struct Secuencia {
    QByteArray bytes;
    std::vector<Comando> comandos;
};

std::vector<Secuencia> Secuencias(qint16 modo) {
    std::vector<Secuencia> secuencias;
    for (const auto& fila : ComandosImpresora::Tabla()) {
        const QByteArrayView bytes = ComandosImpresora::BytesComando(fila.comando, modo);
        // A lone carriage return is a carriage return, whatever else it means.
        if (bytes.isEmpty() || bytes == "\x0D") {
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

// Two rows of braille characters for a band of 8-dot columns (top dot in the
// most significant bit).
QStringList Braille(const QByteArray& columnas) {
    static constexpr unsigned kIzquierda[4] = {0x01, 0x02, 0x04, 0x40};
    static constexpr unsigned kDerecha[4] = {0x08, 0x10, 0x20, 0x80};
    QStringList filas;
    for (int fila = 0; fila < 2; ++fila) {
        QString texto;
        for (qsizetype c = 0; c < columnas.size(); c += 2) {
            const auto a = static_cast<unsigned char>(columnas[c]);
            const auto b = c + 1 < columnas.size() ? static_cast<unsigned char>(columnas[c + 1]) : 0u;
            unsigned puntos = 0;
            for (int k = 0; k < 4; ++k) {
                const int bit = 7 - (4 * fila + k);
                puntos |= ((a >> bit) & 1u) ? kIzquierda[k] : 0u;
                puntos |= ((b >> bit) & 1u) ? kDerecha[k] : 0u;
            }
            texto += QChar(static_cast<char16_t>(0x2800 + puntos));
        }
        filas << texto;
    }
    return filas;
}

} // namespace

Decodificador::Decodificador(qint16 modo, int ancho) : m_modo(modo), m_ancho(ancho) {}

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

void Decodificador::Alimentar(QByteArrayView bytes) {
    m_pendiente += bytes;
    qsizetype usados = 0;
    while (!m_pendiente.isEmpty() && (usados = Paso(false)) > 0) {
        m_pendiente.remove(0, usados);
    }
}

QStringList Decodificador::TomarLineas() {
    return std::exchange(m_lineas, {});
}

QList<Renglon> Decodificador::TomarRenglones() {
    return std::exchange(m_renglones, {});
}

QStringList Decodificador::Terminar() {
    while (!m_pendiente.isEmpty()) {
        m_pendiente.remove(0, Paso(true));
    }
    if (!m_linea.isEmpty() || !m_imagen.isEmpty()) {
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
    const QByteArrayView p = m_pendiente;
    const qsizetype n = p.size();
    const auto byte = [&](qsizetype i) { return static_cast<unsigned char>(p[i]); };

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

    // A command cut short: wait for the rest, or show its first byte at the end.
    const auto incompleto = [&]() -> qsizetype {
        if (!final) {
            return 0;
        }
        m_linea += QStringLiteral("<%1>").arg(byte(0), 2, 16, QLatin1Char('0')).toUpper();
        return 1;
    };
    const unsigned char b = byte(0);
    if (b == 0x1B) {
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
                m_imagen += p.sliced(5, columnas);
                m_renglon.imagen += p.sliced(5, columnas);
            }
            return longitud;
        }
        if (byte(1) == 0x4B) { // end of a logo band: ESC K n
            if (n < 3) {
                return incompleto();
            }
            return 3;
        }
        m_linea += QStringLiteral("<1B>");
        return 1;
    }
    if (b == 0x10 && (n < 2 || byte(1) == 0x04)) { // status request: DLE EOT n
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
    if (b < 0x20 || b == 0x7F) {
        m_linea += QStringLiteral("<%1>").arg(b, 2, 16, QLatin1Char('0')).toUpper();
        return 1;
    }
    qsizetype fin = 1;
    while (fin < n && byte(fin) >= 0x20 && byte(fin) != 0x7F) {
        ++fin;
    }
    Texto(Cp1252::Decodificar(p.first(fin)));
    return fin;
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
            break;
        }
    }
}

void Decodificador::Marca(int estilo, bool activo) {
    if (m_estilos[estilo] == activo) {
        return;
    }
    m_estilos[estilo] = activo;
    m_linea += activo ? QStringLiteral("[%1]").arg(QLatin1Char(kLetrasEstilo[estilo]))
                      : QStringLiteral("[/%1]").arg(QLatin1Char(kLetrasEstilo[estilo]));
}

void Decodificador::FinDeLinea() {
    if (!m_imagen.isEmpty()) {
        m_lineas << Braille(m_imagen);
        m_imagen.clear();
        if (!m_linea.isEmpty()) {
            m_lineas << m_linea;
        }
    } else {
        m_lineas << m_linea;
    }
    m_linea.clear();
    m_columna = 0;
    if (m_conservarRenglones) {
        m_renglones << m_renglon;
    }
    m_renglon = {};
}

void Decodificador::Texto(const QString& texto) {
    if (m_ancho <= 0) {
        m_linea += texto;
        for (QChar c : texto) {
            TextoEnRenglon(c);
        }
        return;
    }
    // Expanded and extra-expanded print take two columns a character.
    const int paso = m_estilos[kExpandido] || m_estilos[kExtraExpandido] ? 2 : 1;
    for (QChar c : texto) {
        if (m_columna + paso > m_ancho) {
            FinDeLinea(); // a wide character that no longer fits
        }
        m_linea += c;
        TextoEnRenglon(c);
        m_columna += paso;
        if (m_columna >= m_ancho) {
            FinDeLinea(); // the printer prints a full line at once
        }
    }
}

void Decodificador::TextoEnRenglon(QChar letra) {
    const Estilos estilos{m_estilos[kNegrita], m_estilos[kSubrayado], m_estilos[kInvertido],
                          m_estilos[kColor],   m_estilos[kExpandido], m_estilos[kExtraExpandido]};
    if (m_renglon.tramos.isEmpty() || m_renglon.tramos.last().estilos != estilos) {
        m_renglon.tramos.append({QString(), estilos});
    }
    m_renglon.tramos.last().texto += letra;
}

void Decodificador::LineaSuelta(Renglon::Tipo tipo) {
    if (!m_linea.isEmpty() || !m_imagen.isEmpty()) {
        FinDeLinea();
    }
    m_lineas << (tipo == Renglon::Tipo::Corte ? kLineaCorte : kLineaCajon);
    if (m_conservarRenglones) {
        m_renglones << Renglon{tipo, {}, {}};
    }
}
