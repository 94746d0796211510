#pragma once

#include "impresora-virtual/Decodificador.h"

#include <QImage>
#include <QList>
#include <QString>

// Draws decoded receipts as pictures of thermal paper: 576 dots across, the
// print width of an 80 mm roll, with `columnas` characters of normal print
// from margin to margin in a monospace font. Bold, underline, inverse, colour
// (red ink), expanded (double width) and extra expanded (double width and
// height) print as a printer prints them; a bit image prints dot for dot,
// each dot a square of kPuntoImagen dots of the paper, bands touching. A cut
// ends the receipt with a torn edge, and the next one starts with one. The
// drawer kick leaves nothing on paper.
//
// Needs a QGuiApplication for its fonts (the offscreen platform will do).
class DibujoRecibo {
public:
    static constexpr int kAnchoPapel = 576;
    static constexpr int kPuntoImagen = 2;
    static constexpr int kMargenSuperior = 16; // paper above the first line
    static constexpr int kBordeRoto = 12;      // height of a torn edge

    explicit DibujoRecibo(int columnas = 42);

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
    int MargenIzquierdo() const { return (kAnchoPapel - m_anchoColumna * m_columnas) / 2; }
    int AltoLinea() const { return 2 * m_anchoColumna + 4; }
    // The height a line takes on paper.
    int Alto(const Renglon& renglon) const;

    // One receipt from its lines; `arribaRoto` and `abajoRoto` draw torn edges.
    QImage Dibujar(const QList<Renglon>& renglones, bool arribaRoto, bool abajoRoto) const;

private:
    void Cerrar(bool cortado);

    int m_columnas;
    int m_anchoColumna;
    QList<Renglon> m_actual;
    bool m_despuesDeCorte = false;
    QList<QImage> m_recibos;
};
