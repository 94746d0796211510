#include "dialogs/frmTecladoLibre.h"

#include "dialogs/RelojInactividad.h"
#include "dialogs/Twips.h"

#include <QCloseEvent>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <algorithm>

namespace {

const QString kQWERTY = QStringLiteral("1234567890QWERTYUIOPASDFGHJKLÑZXCVBNM,.-");
const QString kAlfabetico = QStringLiteral("ABCDEFGHIJKLMNÑOPQRSTUVWXYZ,.-");
const QString kTeclado = QStringLiteral("1234567890");
constexpr double kHueco = 20; // between keys, in twips

QFont Garamond(double puntos, bool negrita = false) {
    QFont fuente(QStringLiteral("Garamond"));
    fuente.setPointSizeF(puntos);
    fuente.setBold(negrita);
    return fuente;
}

// A key whose caption is drawn smaller when it is wider than the key, as the
// longer captions are on the small keys of a small screen; the key's font
// stays the one it was given.
class TeclaTactil : public QPushButton {
public:
    using QPushButton::QPushButton;

protected:
    void paintEvent(QPaintEvent* evento) override {
        QStyleOptionButton opcion;
        initStyleOption(&opcion);
        const QRect area = style()->subElementRect(QStyle::SE_PushButtonContents, &opcion, this).adjusted(2, 0, -2, 0);
        const int ancho = fontMetrics().horizontalAdvance(text());
        if (ancho <= area.width() || area.width() <= 0) {
            QPushButton::paintEvent(evento);
            return;
        }
        QStylePainter pintor(this);
        opcion.text.clear();
        pintor.drawControl(QStyle::CE_PushButton, opcion);
        QFont reducida = font();
        reducida.setPointSizeF(font().pointSizeF() * area.width() / ancho);
        pintor.setFont(reducida);
        pintor.setPen(palette().color(QPalette::ButtonText));
        pintor.drawText(area, Qt::AlignCenter, text());
    }
};

QPointer<frmTecladoLibre> instancia;

} // namespace

DisposicionTeclado DisponerQWERTY(QSizeF pantalla, QSizeF forma, QRectF letra0, QRectF texto) {
    const double anchoForma = forma.width();
    const double L0 = letra0.left();
    const double T0 = letra0.top();
    const double W = letra0.width(); // before the keys are resized
    DisposicionTeclado d;
    d.Texto = QRectF(L0, texto.top(), (W + kHueco) * 10 + 2 * W, texto.height());

    // The screen's size, shrunk when it would push keys off the form. The
    // right edges are those of "BORRAR" (L0 + 12 w + 10 gaps) and of "Borrar
    // todo" (second row, 330 further in, L0 + 330 + 11.5 w + 10 gaps); the
    // bottom one is that of "Espacio" in the fifth row. The text box, rebuilt
    // from this width, then ends at L0 + 12 w + 10 gaps as well.
    double w = pantalla.width() * 740 / 12000;
    double h = pantalla.height() * 740 / 12000;
    const double anchoQueCabe =
        std::min((anchoForma - L0 - 10 * kHueco) / 12, (anchoForma - L0 - 330 - 10 * kHueco) / 11.5);
    const double altoQueCabe = (forma.height() - T0 - 4 * kHueco) / 5;
    const double escala = std::min({1.0, anchoQueCabe / w, altoQueCabe / h});
    w *= escala;
    h *= escala;
    d.Letras.append({kQWERTY.mid(0, 1), QRectF(L0, T0, w, h)});
    for (int p = 2; p <= 40; ++p) {
        const QRectF previa = d.Letras[p - 2].Rect;
        double left = previa.left() + previa.width() + kHueco;
        double top = previa.top();
        if ((p - 1) % 10 == 0) {
            left = L0 + 30 * p;
            top = previa.top() + h + kHueco;
        }
        d.Letras.append({kQWERTY.mid(p - 1, 1), QRectF(left, top, w, h)});
    }
    const QRectF k39 = d.Letras[39].Rect;
    d.Letras.append(
        {QStringLiteral("Espacio"), QRectF(L0 + 3 * w, k39.top() + k39.height() + kHueco, anchoForma / 2 - 2 * L0, h)});
    d.Letras.append({QStringLiteral("BORRAR"), QRectF(L0 + 10 * (w + kHueco), T0, 2 * w, h)});
    const QRectF k10 = d.Letras[10].Rect;
    d.Letras.append(
        {QStringLiteral("Borrar todo"), QRectF(k10.left() + 10 * (k10.width() + kHueco), k10.top(), 1.5 * w, h)});
    return d;
}

DisposicionTeclado DisponerAlfabetico(double anchoForma, QRectF letra0, QRectF digito0) {
    const double L0 = letra0.left();
    const double h = letra0.height();
    DisposicionTeclado d;
    d.Letras.append({kAlfabetico.mid(0, 1), letra0});
    for (int p = 2; p <= 30; ++p) {
        const QRectF previa = d.Letras[p - 2].Rect;
        double left = previa.left() + previa.width() + kHueco;
        double top = previa.top();
        if ((p - 1) % 8 == 0) {
            left = L0;
            top = previa.top() + h + kHueco;
        }
        d.Letras.append({kAlfabetico.mid(p - 1, 1), QRectF(QPointF(left, top), letra0.size())});
    }
    const QRectF k29 = d.Letras[29].Rect;
    const QRectF espacio(L0, k29.top() + k29.height() + kHueco, anchoForma / 2 - 2 * L0, h);
    const QRectF borrar(anchoForma / 2 + L0, espacio.top(), (anchoForma / 2 - 2 * L0) / 2, h);
    d.Letras.append({QStringLiteral("Espacio"), espacio});
    d.Letras.append({QStringLiteral("Borrar"), borrar});
    d.Letras.append(
        {QStringLiteral("Borrar todo"), QRectF(borrar.left() + borrar.width(), espacio.top(), borrar.width(), h)});

    // A block of three columns right of "H", the last key of the first row;
    // its rows line up with the letter rows and "0" sits under "8".
    const QRectF k7 = d.Letras[7].Rect;
    for (int p = 1; p <= 10; ++p) {
        const int fila = (p - 1) / 3;
        const int columna = p == 10 ? 2 : (p - 1) % 3 + 1;
        const QPointF origen(k7.left() + columna * k7.width() + 300, d.Letras[fila * 8].Rect.top());
        d.Digitos.append({kTeclado.mid(p - 1, 1), QRectF(origen, digito0.size())});
    }
    return d;
}

void EstablecerPasswordChar(QLineEdit* caja, const QString& caracter) {
    if (caracter.isEmpty()) {
        caja->setStyleSheet(QString());
        caja->setEchoMode(QLineEdit::Normal);
        return;
    }
    // The style decides the character of a password box; a style sheet may name it.
    caja->setStyleSheet(QStringLiteral("lineedit-password-character: %1").arg(caracter.at(0).unicode()));
    caja->setEchoMode(QLineEdit::Password);
}

frmTecladoLibre::frmTecladoLibre(QWidget* padre)
    : QDialog(padre, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
    setWindowTitle(QStringLiteral("Teclado"));
    QPalette colores = palette();
    colores.setColor(QPalette::Window, QColor(128, 170, 128));
    setPalette(colores);
    setAutoFillBackground(true);
    setFixedSize(Twips::APixeles(QSize(int(kAnchoForma), int(kAltoForma))));

    cmdTipoTeclado = new QPushButton(QStringLiteral("QWERTY"), this);
    cmdTipoTeclado->setFont(Garamond(12));
    Colocar(cmdTipoTeclado, QRectF(600, 600, 1875, 855));
    cmdAceptar = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), QStringLiteral("Aceptar"), this);
    cmdAceptar->setFont(Garamond(12));
    cmdAceptar->setDefault(true);
    Colocar(cmdAceptar, QRectF(3360, 600, 1815, 855));
    cmdCancelar =
        new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), QStringLiteral("Cancelar"), this);
    cmdCancelar->setFont(Garamond(12));
    Colocar(cmdCancelar, QRectF(5160, 600, 1815, 855));

    txtTexto = new QLineEdit(this);
    txtTexto->setFont(Garamond(14.25, true));
    m_texto = QRectF(600, 1560, 8775, 555);
    Colocar(txtTexto, m_texto);

    cmdLetra.append(CrearTecla(Garamond(14.25)));
    cmdLetra[0]->setText(QStringLiteral("L"));
    m_letra0 = QRectF(600, 2280, 740, 740);
    Colocar(cmdLetra[0], m_letra0);
    cmdDigito.append(CrearTecla(Garamond(14.25)));
    cmdDigito[0]->setText(QStringLiteral("#"));
    m_digito0 = QRectF(8640, 2280, 740, 740);
    Colocar(cmdDigito[0], m_digito0);
    connect(cmdLetra[0], &QPushButton::clicked, this, [this] { cmdLetra_Click(0); });
    connect(cmdDigito[0], &QPushButton::clicked, this, [this] { cmdDigito_Click(0); });

    UsrInactivo = new RelojInactividad(this);

    connect(cmdTipoTeclado, &QPushButton::clicked, this, &frmTecladoLibre::cmdTipoTeclado_Click);
    connect(cmdAceptar, &QPushButton::clicked, this, &frmTecladoLibre::cmdAceptar_Click);
    connect(cmdCancelar, &QPushButton::clicked, this, &frmTecladoLibre::cmdCancelar_Click);

    Form_Load();
}

frmTecladoLibre::~frmTecladoLibre() = default;

frmTecladoLibre* frmTecladoLibre::Cargar() {
    if (!instancia || instancia->m_descargado) {
        instancia = new frmTecladoLibre();
        instancia->m_compartida = true;
    }
    return instancia;
}

void frmTecladoLibre::Form_Load() {
    MfTecladoQWERTY = true;
    UsrInactivo->EstablecerForma(this);
    UsrInactivo->EstablecerEnabled(true);
    UsrInactivo->EstablecerIntervalo(40000);
    bActivo = true;
}

bool frmTecladoLibre::event(QEvent* evento) {
    if (evento->type() == QEvent::WindowActivate) {
        Form_Activate();
    }
    return QDialog::event(evento);
}

void frmTecladoLibre::Form_Activate() {
    setWindowTitle(MsTitulo);
    CambiarTeclado();
}

void frmTecladoLibre::CambiarTeclado() {
    while (cmdLetra.size() > 1) {
        delete cmdLetra.takeLast();
    }
    while (cmdDigito.size() > 1) {
        delete cmdDigito.takeLast();
    }
    if (!MfTecladoQWERTY) {
        cmdDigito[0]->show();
        MfTecladoQWERTY = true;
        cmdTipoTeclado->setText(QStringLiteral("QWERTY..."));
        Aplicar(DisponerAlfabetico(kAnchoForma, m_letra0, m_digito0));
    } else {
        cmdDigito[0]->hide();
        MfTecladoQWERTY = false;
        cmdTipoTeclado->setText(QStringLiteral("ABCDEF..."));
        Aplicar(DisponerQWERTY(Twips::Pantalla(), {kAnchoForma, kAltoForma}, m_letra0, m_texto));
    }
}

void frmTecladoLibre::Aplicar(const DisposicionTeclado& disposicion) {
    if (disposicion.Texto) {
        m_texto = *disposicion.Texto;
        Colocar(txtTexto, m_texto);
    }
    for (qsizetype i = 0; i < disposicion.Letras.size(); ++i) {
        if (i == 0) {
            m_letra0 = disposicion.Letras[0].Rect;
        } else {
            const int indice = int(i);
            cmdLetra.append(CrearTecla(cmdLetra[0]->font()));
            connect(cmdLetra[i], &QPushButton::clicked, this, [this, indice] { cmdLetra_Click(indice); });
        }
        cmdLetra[i]->setText(disposicion.Letras[i].Caption);
        Colocar(cmdLetra[i], disposicion.Letras[i].Rect);
        cmdLetra[i]->show();
    }
    for (qsizetype i = 0; i < disposicion.Digitos.size(); ++i) {
        if (i == 0) {
            m_digito0 = disposicion.Digitos[0].Rect;
        } else {
            const int indice = int(i);
            cmdDigito.append(CrearTecla(cmdDigito[0]->font()));
            connect(cmdDigito[i], &QPushButton::clicked, this, [this, indice] { cmdDigito_Click(indice); });
        }
        cmdDigito[i]->setText(disposicion.Digitos[i].Caption);
        Colocar(cmdDigito[i], disposicion.Digitos[i].Rect);
        cmdDigito[i]->show();
    }
}

QPushButton* frmTecladoLibre::CrearTecla(const QFont& fuente) {
    auto* tecla = new TeclaTactil(this);
    tecla->setFont(fuente);
    tecla->setAutoDefault(false);
    return tecla;
}

// Edges are rounded rather than sizes, so that the 20-twip gaps stay even.
void frmTecladoLibre::Colocar(QWidget* control, const QRectF& twips) {
    const int x = Twips::APixeles(twips.left());
    const int y = Twips::APixeles(twips.top());
    control->setGeometry(x, y, Twips::APixeles(twips.left() + twips.width()) - x,
                         Twips::APixeles(twips.top() + twips.height()) - y);
}

void frmTecladoLibre::cmdTipoTeclado_Click() {
    CambiarTeclado();
    txtTexto->setFocus();
}

void frmTecladoLibre::cmdLetra_Click(int Index) {
    const QString caption = cmdLetra[Index]->text();
    const QString mayusculas = caption.toUpper();
    QString texto = txtTexto->text();
    if (mayusculas == QLatin1String("ESPACIO")) {
        texto += u' ';
    } else if (mayusculas == QLatin1String("BORRAR")) {
        if (!texto.isEmpty()) {
            texto.chop(1);
        }
    } else if (mayusculas == QLatin1String("BORRAR TODO")) {
        texto.clear();
    } else {
        texto += caption;
    }
    txtTexto->setText(texto);
    txtTexto->setCursorPosition(int(texto.size()));
    txtTexto->setFocus();
}

void frmTecladoLibre::cmdDigito_Click(int Index) {
    txtTexto->setText(txtTexto->text() + cmdDigito[Index]->text());
    txtTexto->setCursorPosition(int(txtTexto->text().size()));
    txtTexto->setFocus();
}

void frmTecladoLibre::cmdAceptar_Click() {
    MsResultado = txtTexto->text();
    hide();
}

void frmTecladoLibre::cmdCancelar_Click() {
    MsResultado.clear();
    hide();
}

// Escape presses "Cancelar".
void frmTecladoLibre::reject() {
    cmdCancelar->click();
}

// The text box is centred; the layout build that follows the first resize
// puts it back at the left of the keys.
void frmTecladoLibre::resizeEvent(QResizeEvent* evento) {
    QDialog::resizeEvent(evento);
    m_texto.moveLeft(kAnchoForma / 2 - m_texto.width() / 2);
    Colocar(txtTexto, m_texto);
}

// A close request from the window system is the close box; one from code is an
// unload statement (the caller's, or the inactivity clock's).
void frmTecladoLibre::closeEvent(QCloseEvent* evento) {
    if (evento->spontaneous()) {
        evento->ignore();
        cmdCancelar_Click();
        return;
    }
    if (bActivo) {
        evento->ignore();
        cmdCancelar_Click();
        bActivo = false;
        return;
    }
    m_descargado = true;
    UsrInactivo->EstablecerEnabled(false);
    evento->accept();
    // Not WA_DeleteOnClose: exec() would delete the form as soon as it returns.
    if (m_compartida) {
        deleteLater();
    }
}
