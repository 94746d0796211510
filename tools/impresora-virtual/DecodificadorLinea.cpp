// The line as the printer lays it out: characters placed by their styles and
// sizes, wrapping at the print area's edge, marks and pictures on the line,
// and each finished line kept as text and as a Renglon.

#include "impresora-virtual/Decodificador.h"
#include "impresora-virtual/ImagenesBits.h"

#include <QPainter>

#include <algorithm>

using ImagenesBits::Braille;
using ImagenesBits::kAnchoMaximo;

namespace {

constexpr char kLetrasEstilo[] = {'B', 'U', 'I', 'C', 'E', 'X'};

const QString kLineaCorte = QStringLiteral("- - - - - - - - - - - \u2702 corte - - - - - - - - - - -");
const QString kLineaCajon = QStringLiteral("==== abre caj\u00f3n ====");

// The most a line keeps, characters and marks together: paper holds a few
// dozen characters, so only a hostile stream gets here.
constexpr qsizetype kLargoLinea = 2048;

} // namespace

void Decodificador::Anotar(const QString& texto) {
    if (m_linea.size() + texto.size() <= kLargoLinea) {
        m_linea += texto;
    } else if (!std::exchange(m_lineaLlena, true)) {
        m_desconocidos << QStringLiteral("linea de mas de %1 caracteres: el resto no se imprime").arg(kLargoLinea);
    }
}

void Decodificador::ColumnasEnLinea(QByteArrayView columnas) {
    // A printer leaves out the columns past the end of the line.
    m_imagen += columnas.first(std::clamp<qsizetype>(kAnchoMaximo - m_imagen.size(), 0, columnas.size()));
}

int Decodificador::AnchoArea() const {
    const int total = m_ancho > 0 ? m_celda * m_ancho : m_puntosPapel;
    const int area = m_estado.anchoArea > 0 ? m_estado.anchoArea : total - m_estado.margen;
    return std::max(1, std::min(area, total - m_estado.margen));
}

int Decodificador::CeldaActual() const {
    return m_estado.estilos.fuenteB ? std::max(1, m_celda * 3 / 4) : m_celda;
}

void Decodificador::ImprimirGrafico(const QImage& imagen, const QString& texto) {
    if (imagen.isNull()) {
        return;
    }
    if (HayLinea()) {
        FinDeLinea();
    }
    m_x = 0;
    ImagenEnLinea(imagen);
    m_linea = texto;
    m_imagen.clear();
    FinDeLinea();
}

void Decodificador::ImagenEnLinea(const QImage& imagen) {
    if (imagen.isNull()) {
        return;
    }
    if (!m_conservarRenglones || m_x + imagen.width() > kAnchoMaximo) {
        m_x += imagen.width();
        return;
    }
    QImage& g = m_renglon.grafico;
    const int ancho = std::max(g.isNull() ? 0 : g.width(), m_x + imagen.width());
    const int alto = std::max(g.isNull() ? 0 : g.height(), imagen.height());
    if (g.isNull() || g.width() < ancho || g.height() < alto) {
        QImage mayor(ancho, alto, QImage::Format_Grayscale8);
        mayor.fill(255);
        if (!g.isNull()) {
            QPainter p(&mayor);
            p.drawImage(0, alto - g.height(), g);
        }
        g = mayor;
    }
    {
        QPainter p(&g);
        p.setCompositionMode(QPainter::CompositionMode_Darken);
        p.drawImage(m_x, alto - imagen.height(), imagen);
    }
    m_x += imagen.width();
    m_renglon.usado = std::max(m_renglon.usado, m_x);
}

bool Decodificador::HayLinea() const {
    return !m_linea.isEmpty() || !m_imagen.isEmpty() || !m_renglon.tramos.isEmpty() || !m_renglon.grafico.isNull();
}

void Decodificador::AvanzarLineas(int lineas) {
    if (HayLinea()) {
        FinDeLinea();
        --lineas;
    }
    LineasEnBlanco(lineas);
}

void Decodificador::AvanzarPuntos(int puntos) {
    if (HayLinea()) {
        m_renglon.espaciado = puntos;
        FinDeLinea();
    } else {
        Avanzar(puntos);
    }
}

void Decodificador::LineasEnBlanco(int cuantas) {
    if (cuantas <= 0) {
        return;
    }
    // One line on paper that stands for them all, so that a stream of feeds
    // costs no memory.
    const bool conservar = std::exchange(m_conservarRenglones, false);
    for (int k = 0; k < cuantas; ++k) {
        FinDeLinea();
    }
    m_conservarRenglones = conservar;
    if (conservar) {
        Renglon r;
        r.lineas = cuantas;
        r.espaciado = m_estado.espaciado;
        m_renglones << r;
    }
}

void Decodificador::Avanzar(int puntos) {
    if (puntos <= 0) {
        return;
    }
    if (m_conservarRenglones) {
        Renglon r;
        r.avance = puntos;
        m_renglones << r;
    }
}

void Decodificador::Marca(int estilo, bool activo) {
    if (m_estilos[estilo] == activo) {
        return;
    }
    m_estilos[estilo] = activo;
    Anotar(activo ? QStringLiteral("[%1]").arg(QLatin1Char(kLetrasEstilo[estilo]))
                  : QStringLiteral("[/%1]").arg(QLatin1Char(kLetrasEstilo[estilo])));
}

void Decodificador::FinDeLinea() {
    if (!m_imagen.isEmpty()) {
        m_lineas << Braille(m_imagen);
        m_imagen.clear();
        if (!m_linea.isEmpty()) {
            m_lineas << m_linea;
        }
    } else {
        m_lineas << m_linea;
    }
    m_linea.clear();
    m_lineaLlena = false;
    m_x = 0;
    if (m_conservarRenglones) {
        m_renglon.alineacion = m_estado.alineacion;
        m_renglon.margen = m_estado.margen;
        m_renglon.anchoArea = AnchoArea();
        if (m_renglon.espaciado < 0) {
            m_renglon.espaciado = m_estado.espaciado;
        }
        m_renglon.alReves = m_estado.alReves;
        m_renglones << m_renglon;
    }
    m_renglon = {};
}

void Decodificador::Texto(const QString& texto) {
    for (QChar c : texto) {
        const Estilos estilos = EstilosActuales();
        const int celda = CeldaActual();
        // A character turned a quarter turn is as wide as it was tall.
        const int paso = estilos.girado ? 2 * celda * estilos.Alto() + m_estado.espacioDerecho
                                        : (celda + m_estado.espacioDerecho) * estilos.Ancho();
        if (c == u'\t') {
            // The next tab stop: every 8 characters unless ESC D set them.
            const int ancho = celda + m_estado.espacioDerecho;
            int destino = -1;
            if (!m_estado.tabuladoresFijados) {
                destino = (m_x / (8 * ancho) + 1) * 8 * ancho;
            } else {
                for (int t : m_estado.tabuladores) {
                    if (t * ancho > m_x) {
                        destino = t * ancho;
                        break;
                    }
                }
            }
            if (destino >= 0 && destino <= AnchoArea()) {
                m_x = destino;
                Anotar(QStringLiteral(" "));
            }
            continue;
        }
        // A character that no longer fits starts a new line; without a
        // paper's width, past the widest paper.
        if (m_x > 0 && m_x + paso > (m_ancho > 0 ? AnchoArea() : kAnchoMaximo)) {
            FinDeLinea();
        }
        if (m_linea.size() >= kLargoLinea) { // positioned back over and over
            Anotar(QString(c));
            continue;
        }
        m_linea += c;
        TextoEnRenglon(c, m_x, paso, celda);
        m_x += paso;
    }
}

Estilos Decodificador::EstilosActuales() const {
    Estilos estilos = m_estado.estilos;
    estilos.negrita = m_estilos[kNegrita];
    estilos.subrayado = m_estilos[kSubrayado];
    estilos.invertido = m_estilos[kInvertido];
    estilos.color = m_estilos[kColor];
    estilos.expandido = m_estilos[kExpandido];
    estilos.extraExpandido = m_estilos[kExtraExpandido];
    return estilos;
}

void Decodificador::TextoEnRenglon(QChar letra, int x, int paso, int celda) {
    if (!m_conservarRenglones) {
        return;
    }
    const Estilos estilos = EstilosActuales();
    if (m_renglon.tramos.isEmpty() || m_renglon.tramos.last().estilos != estilos ||
        m_renglon.tramos.last().paso != paso ||
        m_renglon.tramos.last().x + m_renglon.tramos.last().texto.size() * paso != x) {
        m_renglon.tramos.append({QString(), estilos, x, paso, celda});
    }
    m_renglon.tramos.last().texto += letra;
    m_renglon.usado = std::max(m_renglon.usado, x + paso);
}

void Decodificador::LineaSuelta(Renglon::Tipo tipo) {
    if (HayLinea()) {
        FinDeLinea();
    }
    m_lineas << (tipo == Renglon::Tipo::Corte ? kLineaCorte : kLineaCajon);
    if (m_conservarRenglones) {
        Renglon r;
        r.tipo = tipo;
        m_renglones << r;
    }
}
