#include "impresora-virtual/Decodificador.h"

#include "impresora-virtual/ImagenesBits.h"
#include "impresora-virtual/ParametrosEscPos.h"
#include "impresora-virtual/TablasCaracteres.h"
#include "platform/Cp1252.h"
#include "printer/ComandosImpresora.h"

#include <algorithm>
#include <vector>

using ComandosImpresora::Comando;
using ImagenesBits::Columnas;
using ParametrosEscPos::kDle;
using ParametrosEscPos::kEsc;
using ParametrosEscPos::kFs;
using ParametrosEscPos::kGs;

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

void Decodificador::Desconocido(QByteArrayView c, const QString& motivo) {
    m_desconocidos << (motivo.isEmpty() ? Hex(c) : Hex(c) + QStringLiteral(": ") + motivo);
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
