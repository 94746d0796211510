// Barcodes (GS k) and two-dimensional codes (GS ( k, ESC Z) on the receipt.

#include "impresora-virtual/CodigosBarras.h"
#include "impresora-virtual/Decodificador.h"
#include "impresora-virtual/ParametrosEscPos.h"

#include <algorithm>

using ParametrosEscPos::Byte;

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
