#include "impresora-virtual/CodigosBarras.h"

#include <algorithm>
#include <memory>
#include <zint.h>

namespace CodigosBarras {

namespace {

struct Tipo {
    int m;       // GS k m of the NUL-terminated form (-1 none)
    int mLargo;  // GS k m of the counted form
    int simbolo; // zint's symbology
    const char* nombre;
};

constexpr Tipo kTipos[] = {
    {0, 65, BARCODE_UPCA, "UPC-A"},
    {1, 66, BARCODE_UPCE, "UPC-E"},
    {2, 67, BARCODE_EANX, "EAN13"},
    {3, 68, BARCODE_EANX, "EAN8"},
    {4, 69, BARCODE_CODE39, "CODE39"},
    {5, 70, BARCODE_C25INTER, "ITF"},
    {6, 71, BARCODE_CODABAR, "CODABAR"},
    {-1, 72, BARCODE_CODE93, "CODE93"},
    {-1, 73, BARCODE_CODE128, "CODE128"},
    {-1, 74, BARCODE_GS1_128, "GS1-128"},
    {-1, 75, BARCODE_DBAR_OMN, "GS1 DataBar"},
    {-1, 76, BARCODE_DBAR_OMN, "GS1 DataBar"},
    {-1, 77, BARCODE_DBAR_LTD, "GS1 DataBar Limited"},
    {-1, 78, BARCODE_DBAR_EXP, "GS1 DataBar Expanded"},
    {-1, 79, BARCODE_CODE128, "CODE128"},
};

const Tipo* Buscar(int m) {
    for (const Tipo& t : kTipos) {
        if (t.m == m || t.mLargo == m) {
            return &t;
        }
    }
    return nullptr;
}

using SimboloZint = std::unique_ptr<zint_symbol, decltype(&ZBarcode_Delete)>;

SimboloZint Nuevo(int simbologia) {
    SimboloZint s(ZBarcode_Create(), &ZBarcode_Delete);
    s->symbology = simbologia;
    s->input_mode = DATA_MODE;
    s->show_hrt = 0;
    return s;
}

bool Modulo(const zint_symbol& s, int fila, int columna) {
    return (s.encoded_data[fila][columna >> 3] >> (columna & 7)) & 1;
}

// The modules as dots: `ancho` dots a module across, `alto` dots a row.
QImage Dibujar(const zint_symbol& s, int ancho, int alto) {
    QImage imagen(s.width * ancho, s.rows * alto, QImage::Format_Grayscale8);
    imagen.fill(255);
    for (int fila = 0; fila < s.rows; ++fila) {
        for (int c = 0; c < s.width; ++c) {
            if (Modulo(s, fila, c)) {
                for (int y = fila * alto; y < (fila + 1) * alto; ++y) {
                    std::fill_n(imagen.scanLine(y) + c * ancho, ancho, 0);
                }
            }
        }
    }
    return imagen;
}

// CODE128 data carries its code set: {A, {B, {C; in set C each byte is two
// digits. zint picks the sets itself from the plain text.
QByteArray TextoCode128(QByteArrayView datos) {
    QByteArray texto;
    char juego = 'B';
    for (qsizetype i = 0; i < datos.size(); ++i) {
        const auto b = static_cast<unsigned char>(datos[i]);
        if (b == '{' && i + 1 < datos.size()) {
            const char siguiente = datos[++i];
            if (siguiente == 'A' || siguiente == 'B' || siguiente == 'C') {
                juego = siguiente;
            } else if (siguiente == '{') {
                texto += '{';
            }
            continue; // FNC and SHIFT codes carry no text
        }
        if (juego == 'C') {
            texto += QByteArray::number(b / 10 % 10) + QByteArray::number(b % 10);
        } else {
            texto += static_cast<char>(b);
        }
    }
    return texto;
}

} // namespace

QString NombreTipo(int tipo) {
    const Tipo* t = Buscar(tipo);
    return t ? QString::fromLatin1(t->nombre) : QStringLiteral("?");
}

QImage Barras(int tipo, QByteArrayView datos, int modulo, int alto, QString& legible, QString& error) {
    const Tipo* t = Buscar(tipo);
    if (!t) {
        error = QStringLiteral("tipo de codigo %1 desconocido").arg(tipo);
        return {};
    }
    QByteArray texto = datos.toByteArray();
    if (t->mLargo == 73) {
        // A printer refuses CODE128 data that does not start with its code set.
        if (datos.size() < 2 || datos[0] != '{' || (datos[1] != 'A' && datos[1] != 'B' && datos[1] != 'C')) {
            error = QStringLiteral("CODE128 sin juego de codigos al principio ({A, {B o {C)");
            return {};
        }
        texto = TextoCode128(datos);
    } else if (t->simbolo == BARCODE_CODE39 && texto.size() >= 2 && texto.startsWith('*') && texto.endsWith('*')) {
        texto = texto.sliced(1, texto.size() - 2);
    }
    SimboloZint s = Nuevo(t->simbolo);
    if (t->simbolo == BARCODE_GS1_128 || t->simbolo == BARCODE_DBAR_EXP) {
        s->input_mode = GS1_MODE;
    }
    if (texto.isEmpty() || ZBarcode_Encode(s.get(), reinterpret_cast<const unsigned char*>(texto.constData()),
                                           static_cast<int>(texto.size())) >= ZINT_ERROR) {
        error = QStringLiteral("datos que el codigo no admite (%1)").arg(QString::fromLatin1(s->errtxt));
        return {};
    }
    // zint's own human-readable text carries the check digit of EAN and UPC.
    legible = s->text[0] ? QString::fromUtf8(reinterpret_cast<const char*>(s->text)) : QString::fromLatin1(texto);
    if (s->rows > 1) { // stacked symbols keep their proportions
        return Dibujar(*s, modulo, std::max(1, alto / s->rows));
    }
    return Dibujar(*s, modulo, std::max(1, alto));
}

QImage Simbolo2D(Simbolo simbolo, QByteArrayView datos, const Opciones2D& o, QString& error) {
    const int simbologia = simbolo == Simbolo::Pdf417  ? BARCODE_PDF417
                           : simbolo == Simbolo::Qr    ? BARCODE_QRCODE
                           : simbolo == Simbolo::Aztec ? BARCODE_AZTEC
                                                       : BARCODE_DATAMATRIX;
    SimboloZint s = Nuevo(simbologia);
    if (simbolo == Simbolo::Qr) {
        s->option_1 = std::clamp(o.nivel, 1, 4);
    } else if (simbolo == Simbolo::Pdf417) {
        s->option_1 = std::clamp(o.nivel, 0, 8);
        s->option_2 = std::clamp(o.columnas, 0, 30);
    } else if (simbolo == Simbolo::DataMatrix) {
        s->option_3 = DM_SQUARE;
    }
    if (datos.isEmpty() || ZBarcode_Encode(s.get(), reinterpret_cast<const unsigned char*>(datos.data()),
                                           static_cast<int>(datos.size())) >= ZINT_ERROR) {
        error = QStringLiteral("datos que el codigo no admite (%1)").arg(QString::fromLatin1(s->errtxt));
        return {};
    }
    const int modulo = std::clamp(o.modulo, 1, 16);
    return Dibujar(*s, modulo, simbolo == Simbolo::Pdf417 ? modulo * std::clamp(o.altoFila, 2, 8) : modulo);
}

} // namespace CodigosBarras
