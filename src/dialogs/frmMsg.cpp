#include "dialogs/frmMsg.h"

#include "dialogs/Twips.h"
#include "support/Estado.h"

#include <QFrame>
#include <QKeyEvent>
#include <QPainter>
#include <QPushButton>
#include <cmath>

namespace {

const QColor kFondo(192, 192, 255);

QFont FuenteFormulario() {
    QFont fuente(QStringLiteral("Arial"));
    fuente.setPointSizeF(14.25);
    return fuente;
}

// A button that shows plainly when it has the focus: a dark frame inside its
// edge, since Space presses the focused button and the style's own hint is
// hard to see on the panel.
class BotonMensaje : public QPushButton {
public:
    using QPushButton::QPushButton;

protected:
    void paintEvent(QPaintEvent* evento) override {
        QPushButton::paintEvent(evento);
        if (!hasFocus()) {
            return;
        }
        QPainter pintor(this);
        pintor.setPen(QPen(Qt::black, frmMsg::kGrosorFoco));
        pintor.setBrush(Qt::NoBrush);
        pintor.drawRect(QRectF(rect()).adjusted(frmMsg::kMargenFoco, frmMsg::kMargenFoco, -frmMsg::kMargenFoco,
                                                -frmMsg::kMargenFoco));
    }
};

double PixelesAPuntos(qreal pixeles) {
    return pixeles * 72.0 / Twips::PuntosPorPulgada();
}

} // namespace

CeldaTexto::CeldaTexto(QWidget* padre) : QWidget(padre) {}

void CeldaTexto::EstablecerTexto(const QString& texto) {
    m_texto = texto;
    update();
}

qreal CeldaTexto::Distribuir(QTextLayout& distribucion, qreal ancho) const {
    // Line breaks in the text end a line, as in a cell of the grid.
    QString texto = m_texto;
    texto.replace(QStringLiteral("\r\n"), QChar(QChar::LineSeparator));
    texto.replace(u'\r', QChar::LineSeparator).replace(u'\n', QChar::LineSeparator);
    distribucion.setText(texto);
    distribucion.setFont(font());
    QTextOption opcion;
    opcion.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    distribucion.setTextOption(opcion);
    qreal alto = 0;
    distribucion.beginLayout();
    for (QTextLine linea = distribucion.createLine(); linea.isValid(); linea = distribucion.createLine()) {
        linea.setLineWidth(ancho);
        linea.setPosition(QPointF(0, alto));
        alto += linea.height();
    }
    distribucion.endLayout();
    return alto;
}

void CeldaTexto::EstablecerAnchoColumna(int pixeles) {
    m_anchoColumna = pixeles;
    update();
}

double CeldaTexto::AltoNecesarioPuntos() const {
    if (m_texto.isEmpty()) {
        return 0;
    }
    QTextLayout distribucion(QString(), font(), this);
    return PixelesAPuntos(Distribuir(distribucion, m_anchoColumna));
}

void CeldaTexto::paintEvent(QPaintEvent*) {
    if (m_texto.isEmpty()) {
        return;
    }
    QPainter pintor(this);
    pintor.setPen(palette().color(QPalette::WindowText));
    QTextLayout distribucion(QString(), font(), this);
    Distribuir(distribucion, m_anchoColumna);
    distribucion.draw(&pintor, QPointF(0, 0));
}

frmMsg::frmMsg(QWidget* padre) : QDialog(padre, Qt::Dialog | Qt::FramelessWindowHint) {
    // The load handler: the panel's colour.
    QPalette paleta = palette();
    paleta.setColor(QPalette::Window, kFondo);
    setPalette(paleta);
    setAutoFillBackground(true);
    setFont(FuenteFormulario());

    // The outline is created first so that it lies under every other control.
    shaBorde = new QFrame(this);
    shaBorde->setFrameStyle(QFrame::Box | QFrame::Plain);
    shaBorde->setLineWidth(3);
    QPalette paletaBorde = shaBorde->palette();
    paletaBorde.setColor(QPalette::WindowText, Qt::black);
    shaBorde->setPalette(paletaBorde);
    shaBorde->setAttribute(Qt::WA_TransparentForMouseEvents);

    sslabel = new CeldaTexto(this);
    sslabel->EstablecerAnchoColumna(Twips::APixeles(kAnchoTexto));

    static const char* const kTitulos[kCantidadBotones] = {"Aceptar", "Cancelar", "Abortar", "Reintentar",
                                                           "Ignorar", "Si",       "No"};
    for (int i = 0; i < kCantidadBotones; ++i) {
        cmdBotones[i] = new BotonMensaje(QString::fromLatin1(kTitulos[i]), this);
        // No default button: Enter presses nothing, not even the focused
        // button (a stray Enter must not stop the server); Space presses the
        // focused one.
        cmdBotones[i]->setAutoDefault(false);
        cmdBotones[i]->setDefault(false);
        cmdBotones[i]->hide();
        connect(cmdBotones[i], &QPushButton::clicked, this, [this, i] { cmdBotones_Click(i); });
    }

    // Design positions until the first layout.
    Colocar(sslabel, kIzquierdaTexto, kArribaTexto, kAnchoTexto, kAltoTextoDiseno);
    for (QPushButton* boton : cmdBotones) {
        Colocar(boton, 0, 0, kAnchoBoton, kAltoBoton);
    }
    m_altoForma = kArribaTexto + kAltoTextoDiseno + kSeparacionTextoBotones + kAltoBoton + kArribaTexto;
    setFixedSize(Twips::APixeles(kAnchoForma), Twips::APixeles(m_altoForma));
    m_altoRenglon = PixelesAPuntos(QFontMetricsF(font(), this).height());
}

quint8 frmMsg::Mostrar(const QString& PsTexto, int PnBotones) {
    frmMsg forma;
    forma.MsTexto = PsTexto;
    forma.MnBotones = PnBotones;
    forma.exec();
    return MnRespuesta;
}

void frmMsg::Colocar(QWidget* control, double izquierda, double arriba, double ancho, double alto) {
    // Both edges are rounded from twips, so that neighbouring controls keep
    // their distances to within a pixel.
    const int x = Twips::APixeles(izquierda);
    const int y = Twips::APixeles(arriba);
    control->setGeometry(x, y, Twips::APixeles(izquierda + ancho) - x, Twips::APixeles(arriba + alto) - y);
}

void frmMsg::Disponer() {
    // The text stands directly on the panel's colour.
    QPalette paleta = sslabel->palette();
    paleta.setColor(QPalette::Window, palette().color(QPalette::Window));
    sslabel->setPalette(paleta);
    sslabel->setAutoFillBackground(true);

    // The single cell spans the text area's whole width.
    sslabel->EstablecerAnchoColumna(Twips::APixeles(kAnchoTexto));
    sslabel->EstablecerTexto(MsTexto);

    m_altoTexto = sslabel->AltoNecesarioPuntos();
    if (m_altoTexto >= 10.5) {
        m_altoRenglon = m_altoTexto;
    }
    m_altoArea = static_cast<float>(20.0 * m_altoTexto);
    Colocar(sslabel, kIzquierdaTexto, kArribaTexto, kAnchoTexto, m_altoArea);

    m_arribaBotones = kArribaTexto + m_altoArea + kSeparacionTextoBotones;
    m_altoForma = kArribaTexto + m_arribaBotones + kAltoBoton;
    setFixedSize(Twips::APixeles(kAnchoForma), Twips::APixeles(m_altoForma));
    // A hidden widget gets its resize event only when shown; the outline
    // follows the new size at once.
    shaBorde->setGeometry(rect());

    if ((MnBotones & 3) == 3 || (MnBotones & 4) == 4) {
        cmdBotones[5]->show();
        cmdBotones[6]->show();
    }
    int visibles = 0;
    for (const QPushButton* boton : cmdBotones) {
        visibles += boton->isHidden() ? 0 : 1;
    }
    if (visibles == 0) {
        cmdBotones[0]->show();
        visibles = 1;
    }

    double izquierda =
        std::round(kAnchoForma / 2.0 - (visibles * kAnchoBoton + (visibles - 1) * kSeparacionBotones) / 2.0);
    for (int i = 0; i < kCantidadBotones; ++i) {
        if (!cmdBotones[i]->isHidden()) {
            m_izquierdaBotones[i] = izquierda;
            izquierda = std::round(izquierda + kAnchoBoton + kSeparacionBotones);
        }
    }
    for (int i = 0; i < kCantidadBotones; ++i) {
        Colocar(cmdBotones[i], m_izquierdaBotones[i], m_arribaBotones, kAnchoBoton, kAltoBoton);
    }
}

void frmMsg::cmdBotones_Click(int Index) {
    MnRespuesta = static_cast<quint8>(Index + 1);
    close();
}

void frmMsg::showEvent(QShowEvent* evento) {
    // Laid out before QDialog places it, so that it is centred for its real
    // size.
    Disponer();
    // A question starts on "No": a stray Space must not stop the server.
    const bool pregunta = !cmdBotones[6]->isHidden();
    cmdBotones[pregunta ? 6 : 0]->setFocus();
    QDialog::showEvent(evento);
}

void frmMsg::resizeEvent(QResizeEvent* evento) {
    shaBorde->setGeometry(rect());
    QDialog::resizeEvent(evento);
}

void frmMsg::keyPressEvent(QKeyEvent* evento) {
    // There is no cancel button: Esc does not close the box.
    if (evento->key() == Qt::Key_Escape) {
        evento->accept();
        return;
    }
    QDialog::keyPressEvent(evento);
}
