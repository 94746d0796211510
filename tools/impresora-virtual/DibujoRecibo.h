#pragma once

#include "impresora-virtual/Decodificador.h"

#include <QImage>
#include <QList>
#include <QString>

class QPainter;

// Draws decoded receipts as pictures of thermal paper, one pixel a dot: 576
// dots across, the print width of an 80 mm roll (384 on a 58 mm one), with
// `columnas` characters of Font A from margin to margin in a monospace font
// (48 of 12 dots on 80 mm; Font B is three quarters as wide). Bold,
// underline, inverse, colour (red ink), sizes 1x to 8x, upside-down and
// rotated print come out as a printer prints them; lines keep their
// alignment, margins and spacing; bit images, rasters and codes print dot for
// dot, and a line of bit image alone is as tall as its image, so that bands
// touch. A cut ends the receipt with a torn edge, and the next one starts
// with one. The drawer kick leaves nothing on paper.
//
// Needs a QGuiApplication for its fonts (the offscreen platform will do).
class DibujoRecibo {
public:
    static constexpr int kAnchoPapel = 576;
    static constexpr int kMargenSuperior = 16; // paper above the first line
    static constexpr int kBordeRoto = 12;      // height of a torn edge
    static constexpr int kAltoMaximo = 32768;  // the longest picture: 4 m of paper

    explicit DibujoRecibo(int columnas = 48, int puntosPapel = kAnchoPapel);

    // Adds decoded lines; a cut closes the receipt being laid out.
    void Agregar(const QList<Renglon>& renglones);

    // The receipts closed by a cut since the last call. Receipts with nothing
    // printed on them (the feeds and cut after a drawer kick) are left out.
    QList<QImage> TomarRecibos();

    // Closes the receipt still in the printer (no cut yet: a straight bottom
    // edge) and returns every receipt not yet taken.
    QList<QImage> Terminar();

    // Where the character cells are: for laying out and for checking pictures.
    int AnchoColumna() const { return m_anchoColumna; }
    int MargenIzquierdo() const { return (m_puntosPapel - m_anchoColumna * m_columnas) / 2; }
    int AltoLinea() const { return 2 * m_anchoColumna + 4; }
    // The height a line takes on paper.
    int Alto(const Renglon& renglon) const;

    // One receipt from its lines; `arribaRoto` and `abajoRoto` draw torn edges.
    QImage Dibujar(const QList<Renglon>& renglones, bool arribaRoto, bool abajoRoto) const;

private:
    void Cerrar(bool cortado);
    // The text of a line whose bottom is at `abajo`, from `izquierda`.
    void DibujarTexto(QPainter& p, const Renglon& r, int izquierda, int abajo) const;

    int m_columnas;
    int m_puntosPapel;
    int m_anchoColumna;
    QList<Renglon> m_actual;
    int m_alto = 0; // of m_actual
    bool m_despuesDeCorte = false;
    QList<QImage> m_recibos;
};
