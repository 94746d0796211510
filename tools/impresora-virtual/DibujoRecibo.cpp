#include "impresora-virtual/DibujoRecibo.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <algorithm>
#include <cmath>

namespace {

const QColor kPapel(0xFB, 0xFA, 0xF5);
const QColor kTinta(0x1E, 0x1E, 0x1E);
const QColor kRojo(0xC8, 0x10, 0x2E);
const QColor kBorde(0xCF, 0xCC, 0xC0);

// A monospace font whose advance is one column of the paper.
QFont Letra(int anchoColumna, bool negrita) {
    QFont letra(QStringLiteral("DejaVu Sans Mono"));
    letra.setStyleHint(QFont::Monospace);
    letra.setFixedPitch(true);
    letra.setBold(negrita);
    letra.setPixelSize(100);
    const qreal avance = QFontMetricsF(letra).horizontalAdvance(QLatin1Char('M'));
    letra.setPixelSize(std::max(1, static_cast<int>(std::floor(100.0 * anchoColumna / avance))));
    return letra;
}

bool TieneTexto(const Renglon& r) {
    return !r.tramos.isEmpty() || r.imagen.isEmpty();
}

bool ImprimeAlgo(const Renglon& r) {
    if (!r.imagen.isEmpty()) {
        return true;
    }
    return std::any_of(r.tramos.begin(), r.tramos.end(),
                       [](const Renglon::Tramo& t) { return t.estilos.invertido || !t.texto.trimmed().isEmpty(); });
}

// The jagged line of torn paper from x 0 to `ancho`, between y and y + alto;
// always the same for the same size, so pictures compare between runs.
void BordeRoto(QPainterPath& camino, int ancho, qreal y, int alto, bool haciaLaDerecha) {
    quint32 semilla = 0x2545F491u;
    QList<QPointF> puntos;
    for (int x = 0, diente = 0; x < ancho + 8; x += 8, ++diente) {
        semilla = semilla * 1664525u + 1013904223u;
        const qreal fondo = diente % 2 == 0 ? 0.15 : 0.85;
        const qreal azar = ((semilla >> 24) & 0xFF) / 255.0 * 0.3 - 0.15;
        puntos << QPointF(std::min(x, ancho), y + alto * std::clamp(fondo + azar, 0.0, 1.0));
    }
    if (!haciaLaDerecha) {
        std::reverse(puntos.begin(), puntos.end());
    }
    for (const QPointF& p : puntos) {
        camino.lineTo(p);
    }
}

} // namespace

DibujoRecibo::DibujoRecibo(int columnas)
    : m_columnas(std::max(1, columnas)), m_anchoColumna(std::max(1, kAnchoPapel / m_columnas)) {}

void DibujoRecibo::Agregar(const QList<Renglon>& renglones) {
    for (const Renglon& r : renglones) {
        if (r.tipo == Renglon::Tipo::Corte) {
            Cerrar(true);
        } else if (r.tipo == Renglon::Tipo::Texto) {
            m_actual << r;
        }
    }
}

QList<QImage> DibujoRecibo::TomarRecibos() {
    return std::exchange(m_recibos, {});
}

QList<QImage> DibujoRecibo::Terminar() {
    Cerrar(false);
    return TomarRecibos();
}

void DibujoRecibo::Cerrar(bool cortado) {
    if (std::any_of(m_actual.begin(), m_actual.end(), ImprimeAlgo)) {
        m_recibos << Dibujar(m_actual, m_despuesDeCorte, cortado);
    }
    m_actual.clear();
    m_despuesDeCorte = m_despuesDeCorte || cortado;
}

int DibujoRecibo::Alto(const Renglon& renglon) const {
    int alto = renglon.imagen.isEmpty() ? 0 : 8 * kPuntoImagen;
    if (TieneTexto(renglon)) {
        const bool doble = std::any_of(renglon.tramos.begin(), renglon.tramos.end(),
                                       [](const Renglon::Tramo& t) { return t.estilos.extraExpandido; });
        alto += AltoLinea() * (doble ? 2 : 1);
    }
    return alto;
}

QImage DibujoRecibo::Dibujar(const QList<Renglon>& renglones, bool arribaRoto, bool abajoRoto) const {
    int alto = kMargenSuperior * 2 + (arribaRoto ? kBordeRoto : 0) + (abajoRoto ? kBordeRoto : 0);
    for (const Renglon& r : renglones) {
        alto += Alto(r);
    }
    QImage imagen(kAnchoPapel, alto, QImage::Format_ARGB32);
    imagen.fill(Qt::transparent);
    QPainter p(&imagen);

    // The paper, torn where it was cut; its outline on the outermost pixels.
    const int derecha = kAnchoPapel - 1, abajo = alto - 1;
    QPainterPath papel;
    papel.moveTo(0, 0);
    if (arribaRoto) {
        BordeRoto(papel, derecha, 0, kBordeRoto, true);
    } else {
        papel.lineTo(derecha, 0);
    }
    if (abajoRoto) {
        BordeRoto(papel, derecha, abajo - kBordeRoto, kBordeRoto, false);
    } else {
        papel.lineTo(derecha, abajo);
        papel.lineTo(0, abajo);
    }
    papel.closeSubpath();
    p.fillPath(papel, kPapel);
    p.setPen(kBorde); // so that the paper shows on a white page too
    p.drawPath(papel);

    const QFont normal = Letra(m_anchoColumna, false);
    const QFont negrita = Letra(m_anchoColumna, true);
    const qreal descenso = QFontMetricsF(normal).descent();
    const int margen = MargenIzquierdo();
    int y = kMargenSuperior + (arribaRoto ? kBordeRoto : 0);
    for (const Renglon& r : renglones) {
        if (!r.imagen.isEmpty()) {
            for (qsizetype c = 0; c < r.imagen.size(); ++c) {
                const auto columna = static_cast<unsigned char>(r.imagen[c]);
                for (int punto = 0; punto < 8; ++punto) {
                    if (columna & (0x80 >> punto)) {
                        p.fillRect(margen + int(c) * kPuntoImagen, y + punto * kPuntoImagen, kPuntoImagen, kPuntoImagen,
                                   kTinta);
                    }
                }
            }
            y += 8 * kPuntoImagen;
        }
        if (!TieneTexto(r)) {
            continue;
        }
        const int altoRenglon = Alto(r) - (r.imagen.isEmpty() ? 0 : 8 * kPuntoImagen);
        int columna = 0;
        for (const Renglon::Tramo& t : r.tramos) {
            const Estilos& e = t.estilos;
            const int ancho = e.expandido || e.extraExpandido ? 2 : 1;
            const int altoLetra = e.extraExpandido ? 2 : 1;
            const QColor tinta = e.color ? kRojo : kTinta;
            const QColor letra = e.invertido ? kPapel : tinta;
            // Characters of every height stand on the line's bottom.
            const int abajo = y + altoRenglon;
            const int arriba = abajo - AltoLinea() * altoLetra;
            const qreal base = abajo - (descenso + 2) * altoLetra;
            p.setFont(e.negrita ? negrita : normal);
            p.setPen(letra);
            for (QChar c : t.texto) {
                const int x = margen + columna * m_anchoColumna;
                const int anchoCelda = ancho * m_anchoColumna;
                if (e.invertido) {
                    p.fillRect(x, arriba, anchoCelda, abajo - arriba, tinta);
                }
                p.save();
                p.translate(x, base);
                p.scale(ancho, altoLetra);
                p.drawText(QPointF(0, 0), QString(c));
                p.restore();
                if (e.subrayado) {
                    p.fillRect(x, int(base) + 2 * altoLetra, anchoCelda, 2 * altoLetra, letra);
                }
                columna += ancho;
            }
        }
        y += altoRenglon;
    }
    return imagen;
}
