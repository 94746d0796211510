#pragma once

#include <QByteArrayView>
#include <QImage>
#include <QString>

// Barcodes and two-dimensional codes as an ESC/POS printer prints them, made
// by the zint library so that any reader decodes them: one pixel a dot, black
// bars on white, no quiet zone (the paper around them is the quiet zone).
namespace CodigosBarras {

// GS k: `tipo` is the command's m (0-6 or 65-79), `datos` its data as sent;
// `modulo` the narrowest bar in dots (GS w), `alto` the bars' height (GS h).
// `legible` gets the human-readable text. A null picture and `error` when
// the printer would refuse the data.
QImage Barras(int tipo, QByteArrayView datos, int modulo, int alto, QString& legible, QString& error);

// The name of a GS k type, for the text receipt ("CODE128", "EAN13"...).
QString NombreTipo(int tipo);

enum class Simbolo { Pdf417, Qr, DataMatrix, Aztec };

struct Opciones2D {
    int modulo = 3;   // dots a module
    int nivel = 1;    // error correction: QR 1-4 (L M Q H), PDF417 0-8
    int altoFila = 3; // PDF417: a row's height in modules
    int columnas = 0; // PDF417: data columns (0 automatic)
};

// GS ( k: the stored data printed as a symbol.
QImage Simbolo2D(Simbolo simbolo, QByteArrayView datos, const Opciones2D& opciones, QString& error);

} // namespace CodigosBarras
