#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QImage>
#include <QStringList>

// The pictures a receipt printer prints from dots sent as bits: one pixel a
// dot, black on white.
namespace ImagenesBits {

// The largest picture a command may print, in dots: wider than any paper,
// and a couple of metres long; anything larger is not printed.
constexpr int kAnchoMaximo = 4096;
constexpr int kAltoMaximo = 16384;

// A raster, top row first, most significant bit leftmost; only its first
// `visibles` dots across and `filasVisibles` rows, when given. `escalaX` and
// `escalaY` repeat each dot. Null when it is too large or the data is short.
QImage Raster(QByteArrayView datos, int anchoPuntos, int filas, int escalaX, int escalaY, int visibles = kAnchoMaximo,
              int filasVisibles = kAltoMaximo);

// Column format: each column (alto + 7) / 8 bytes, top dot first.
QImage Columnas(QByteArrayView datos, int columnas, int alto, int escalaX, int escalaY);

// `imagen` with each dot repeated `escalaX` times across and `escalaY` down.
QImage Ampliada(const QImage& imagen, int escalaX, int escalaY);

// A stored logo the viewer does not have: a framed box with a cross, as wide
// as a typical logo.
QImage MarcoLogo();

// Two rows of braille characters for a band of 8-dot columns (top dot in the
// most significant bit), for the text receipt.
QStringList Braille(const QByteArray& columnas);

} // namespace ImagenesBits
