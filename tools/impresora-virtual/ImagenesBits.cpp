#include "impresora-virtual/ImagenesBits.h"

#include <QString>

#include <algorithm>

namespace ImagenesBits {

namespace {

unsigned Byte(QByteArrayView c, qsizetype i) {
    return static_cast<unsigned char>(c[i]);
}

// A picture of `ancho` x `alto` dots whose dot (x, y) is `punto(x, y)`;
// `escalaX`/`escalaY` repeat each dot. Null when it is too large or `bytes`
// (the data the dots need) exceeds what came.
template <typename Punto>
QImage Puntos(int ancho, int alto, int escalaX, int escalaY, qsizetype bytes, QByteArrayView datos, Punto punto) {
    if (ancho <= 0 || alto <= 0 || datos.size() < bytes || ancho * escalaX > kAnchoMaximo ||
        alto * escalaY > kAltoMaximo) {
        return {};
    }
    QImage imagen(ancho * escalaX, alto * escalaY, QImage::Format_Grayscale8);
    imagen.fill(255);
    for (int y = 0; y < alto; ++y) {
        for (int x = 0; x < ancho; ++x) {
            if (punto(x, y)) {
                for (int dy = 0; dy < escalaY; ++dy) {
                    std::fill_n(imagen.scanLine(y * escalaY + dy) + x * escalaX, escalaX, 0);
                }
            }
        }
    }
    return imagen;
}

} // namespace

QImage Raster(QByteArrayView datos, int anchoPuntos, int filas, int escalaX, int escalaY, int visibles,
              int filasVisibles) {
    const qsizetype bytesFila = (anchoPuntos + 7) / 8;
    return Puntos(std::min(anchoPuntos, visibles), std::min(filas, filasVisibles), escalaX, escalaY, bytesFila * filas,
                  datos, [&](int x, int y) { return Byte(datos, y * bytesFila + x / 8) & (0x80u >> (x % 8)); });
}

QImage Columnas(QByteArrayView datos, int columnas, int alto, int escalaX, int escalaY) {
    const qsizetype bytesColumna = (alto + 7) / 8;
    return Puntos(columnas, alto, escalaX, escalaY, bytesColumna * columnas, datos,
                  [&](int x, int y) { return Byte(datos, x * bytesColumna + y / 8) & (0x80u >> (y % 8)); });
}

QImage Ampliada(const QImage& imagen, int escalaX, int escalaY) {
    return imagen.scaled(imagen.width() * escalaX, imagen.height() * escalaY);
}

QImage MarcoLogo() {
    QImage imagen(256, 96, QImage::Format_Grayscale8);
    imagen.fill(255);
    for (int x = 0; x < imagen.width(); ++x) {
        for (int y : {0, 1, imagen.height() - 2, imagen.height() - 1}) {
            imagen.scanLine(y)[x] = (x / 8) % 2 ? 255 : 0;
        }
        const int y1 = x * (imagen.height() - 1) / (imagen.width() - 1);
        imagen.scanLine(y1)[x] = 0;
        imagen.scanLine(imagen.height() - 1 - y1)[x] = 0;
    }
    for (int y = 0; y < imagen.height(); ++y) {
        for (int x : {0, 1, imagen.width() - 2, imagen.width() - 1}) {
            imagen.scanLine(y)[x] = (y / 8) % 2 ? 255 : 0;
        }
    }
    return imagen;
}

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

} // namespace ImagenesBits
