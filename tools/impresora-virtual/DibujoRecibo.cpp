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
    return r.avance < 0 && (!r.tramos.isEmpty() || r.grafico.isNull());
}

// How many times as tall as a line of size 1 the line's tallest characters are.
int Veces(const Renglon& r) {
    int veces = 1;
    for (const Renglon::Tramo& t : r.tramos) {
        veces = std::max(veces, t.estilos.Alto());
    }
    return veces;
}

bool ImprimeAlgo(const Renglon& r) {
    if (!r.grafico.isNull()) {
        return true;
    }
    return std::any_of(r.tramos.begin(), r.tramos.end(),
                       [](const Renglon::Tramo& t) { return t.estilos.invertido || !t.texto.trimmed().isEmpty(); });
}

// Ink where a graphic has dots, nothing elsewhere.
QImage Tinta(const QImage& grafico) {
    QImage tinta(grafico.size(), QImage::Format_ARGB32);
    tinta.fill(Qt::transparent);
    const QImage gris = grafico.convertToFormat(QImage::Format_Grayscale8);
    for (int y = 0; y < gris.height(); ++y) {
        const uchar* fila = gris.constScanLine(y);
        auto* destino = reinterpret_cast<QRgb*>(tinta.scanLine(y));
        for (int x = 0; x < gris.width(); ++x) {
            if (fila[x] < 128) {
                destino[x] = kTinta.rgb();
            }
        }
    }
    return tinta;
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

DibujoRecibo::DibujoRecibo(int columnas, int puntosPapel)
    : m_columnas(std::max(1, columnas)), m_puntosPapel(std::max(1, puntosPapel)),
      m_anchoColumna(std::max(1, m_puntosPapel / m_columnas)) {}

void DibujoRecibo::Agregar(const QList<Renglon>& renglones) {
    for (const Renglon& r : renglones) {
        if (r.tipo == Renglon::Tipo::Corte) {
            Cerrar(true);
        } else if (r.tipo == Renglon::Tipo::Texto) {
            // Paper that never gets cut goes on in another picture.
            Renglon renglon = r;
            while (renglon.lineas > 1 && Alto(renglon) > kAltoMaximo / 2) {
                renglon.lineas /= 2;
            }
            if (m_alto + Alto(renglon) > kAltoMaximo) {
                Cerrar(false);
            }
            m_alto += Alto(renglon);
            m_actual << std::move(renglon);
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
    m_alto = 0;
    m_despuesDeCorte = m_despuesDeCorte || cortado;
}

int DibujoRecibo::Alto(const Renglon& renglon) const {
    if (renglon.avance >= 0) {
        return renglon.avance;
    }
    const int grafico = renglon.grafico.isNull() ? 0 : renglon.grafico.height();
    if (!TieneTexto(renglon)) {
        return grafico;
    }
    // Taller characters take the gap between lines along with them.
    const int espaciado = renglon.espaciado >= 0 ? renglon.espaciado : AltoLinea();
    const int letra = 2 * m_anchoColumna;
    const int veces = Veces(renglon);
    const int texto = veces * letra + (espaciado > letra ? (espaciado - letra) * veces : 0);
    return std::max({espaciado, texto, grafico}) * std::max(1, renglon.lineas);
}

QImage DibujoRecibo::Dibujar(const QList<Renglon>& renglones, bool arribaRoto, bool abajoRoto) const {
    int alto = kMargenSuperior * 2 + (arribaRoto ? kBordeRoto : 0) + (abajoRoto ? kBordeRoto : 0);
    for (const Renglon& r : renglones) {
        alto += Alto(r);
    }
    QImage imagen(m_puntosPapel, alto, QImage::Format_ARGB32);
    imagen.fill(Qt::transparent);
    QPainter p(&imagen);

    // The paper, torn where it was cut; its outline on the outermost pixels.
    const int derecha = m_puntosPapel - 1, abajo = alto - 1;
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

    int y = kMargenSuperior + (arribaRoto ? kBordeRoto : 0);
    for (const Renglon& r : renglones) {
        const int altoRenglon = Alto(r);
        // The line prints at the top of its height: the rest is the feed of
        // its line spacing, after it.
        const int grafico = r.grafico.isNull() ? 0 : r.grafico.height();
        const int abajo = y + std::min(altoRenglon, std::max(grafico, TieneTexto(r) ? Veces(r) * AltoLinea() : 0));
        const int area = r.anchoArea > 0 ? r.anchoArea : m_anchoColumna * m_columnas;
        int izquierda = MargenIzquierdo() + r.margen;
        if (r.alineacion == Renglon::Alineacion::Centro) {
            izquierda += std::max(0, (area - r.usado) / 2);
        } else if (r.alineacion == Renglon::Alineacion::Derecha) {
            izquierda += std::max(0, area - r.usado);
        }
        p.save();
        if (r.alReves) { // the line turned half a turn within the print area
            const int centro = MargenIzquierdo() + r.margen + area / 2;
            p.translate(centro, y + altoRenglon / 2.0);
            p.scale(-1, -1);
            p.translate(-centro, -(y + altoRenglon / 2.0));
        }
        if (!r.grafico.isNull()) {
            p.drawImage(izquierda, abajo - r.grafico.height(), Tinta(r.grafico));
        }
        if (TieneTexto(r)) {
            DibujarTexto(p, r, izquierda, abajo);
        }
        p.restore();
        y += altoRenglon;
    }
    return imagen;
}

void DibujoRecibo::DibujarTexto(QPainter& p, const Renglon& r, int izquierda, int abajo) const {
    for (const Renglon::Tramo& t : r.tramos) {
        const Estilos& e = t.estilos;
        const int ancho = e.Ancho();
        const int altoLetra = e.Alto();
        const int celda = t.celda > 0 ? t.celda : m_anchoColumna;
        const int paso = t.paso > 0 ? t.paso : celda * ancho;
        const QColor tinta = e.color ? kRojo : kTinta;
        const QColor letra = e.invertido ? kPapel : tinta;
        const QFont fuente = Letra(celda, e.negrita);
        const qreal descenso = QFontMetricsF(Letra(celda, false)).descent();
        // Characters of every height stand on the line's bottom.
        const int arriba = abajo - AltoLinea() * altoLetra;
        const qreal base = abajo - (descenso + 2) * altoLetra;
        p.setFont(fuente);
        p.setPen(letra);
        for (qsizetype i = 0; i < t.texto.size(); ++i) {
            const int x = izquierda + t.x + int(i) * paso;
            if (e.invertido) {
                p.fillRect(x, arriba, paso, abajo - arriba, tinta);
            }
            p.save();
            if (e.girado) { // a quarter turn clockwise: the glyph's top to the right
                p.translate(x + paso, abajo - 2 * celda * ancho);
                p.rotate(90);
                p.scale(ancho, altoLetra);
                p.translate(0, descenso + 2);
            } else {
                p.translate(x, base);
                p.scale(ancho, altoLetra);
            }
            p.drawText(QPointF(0, 0), QString(t.texto[i]));
            p.restore();
            if (e.subrayado) {
                p.fillRect(x, int(base) + 2 * altoLetra, paso, (e.subrayadoDoble ? 3 : 2) * altoLetra, letra);
            }
        }
    }
}
