#include "dialogs/FrmLogin.h"

#include "credentials/ProveedorCredenciales.h"
#include "database/BaseDatos.h"
#include "database/ComprobacionOperador.h"
#include "dialogs/Twips.h"
#include "dialogs/frmTecladoLibre.h"
#include "platform/MostrarMensaje.h"
#include "support/Bitacora.h"
#include "support/ErrorEjecucion.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QPushButton>

namespace {

// The result of the last showing; the server window reads it long after the
// dialog is gone.
bool valido = false;

void Colocar(QWidget* control, const QRect& twips) {
    control->setGeometry(Twips::APixeles(twips));
}

// The picture of the keyboard buttons: a key board seen from above.
QPixmap DibujoTeclado() {
    QPixmap dibujo(24, 16);
    dibujo.fill(Qt::transparent);
    QPainter pintor(&dibujo);
    pintor.setRenderHint(QPainter::Antialiasing);
    pintor.setPen(QPen(QColor(60, 60, 60), 1));
    pintor.setBrush(QColor(235, 235, 235));
    pintor.drawRoundedRect(QRectF(0.5, 0.5, 23, 15), 2, 2);
    pintor.setPen(Qt::NoPen);
    pintor.setBrush(QColor(60, 60, 60));
    for (int fila = 0; fila < 2; ++fila) {
        for (int columna = 0; columna < 6; ++columna) {
            pintor.drawRect(QRectF(3 + columna * 3.2, 3 + fila * 3.5, 2, 2));
        }
    }
    pintor.drawRect(QRectF(6, 10, 12, 2)); // the space bar
    return dibujo;
}

// The dialog's picture: a padlock.
QPixmap DibujoCandado(int lado) {
    QPixmap dibujo(lado, lado);
    dibujo.fill(Qt::transparent);
    QPainter pintor(&dibujo);
    pintor.setRenderHint(QPainter::Antialiasing);
    const double u = lado / 16.0;
    pintor.setPen(QPen(QColor(90, 90, 100), 1.6 * u));
    pintor.setBrush(Qt::NoBrush);
    pintor.drawArc(QRectF(4 * u, 1.5 * u, 8 * u, 9 * u), 0, 180 * 16);
    pintor.drawLine(QPointF(4 * u, 6 * u), QPointF(4 * u, 8 * u));
    pintor.drawLine(QPointF(12 * u, 6 * u), QPointF(12 * u, 8 * u));
    pintor.setPen(QPen(QColor(120, 90, 20), 0.6 * u));
    pintor.setBrush(QColor(218, 170, 50));
    pintor.drawRoundedRect(QRectF(2.5 * u, 7.5 * u, 11 * u, 7.5 * u), u, u);
    pintor.setPen(Qt::NoPen);
    pintor.setBrush(QColor(80, 60, 10));
    pintor.drawEllipse(QPointF(8 * u, 10.5 * u), 1.1 * u, 1.1 * u);
    pintor.drawRect(QRectF(7.5 * u, 10.5 * u, u, 2.5 * u));
    return dibujo;
}

} // namespace

FrmLogin::FrmLogin(QWidget* padre) : QDialog(padre) {
    setWindowTitle(QStringLiteral("Login"));
    setFont(QFont(QStringLiteral("Arial"), 10));
    setFixedSize(Twips::APixeles(QSize(5820, 2700)));

    Image1 = new QLabel(this);
    Image1->setPixmap(DibujoCandado(Twips::APixeles(960)));
    Colocar(Image1, QRect(240, 360, 960, 960));

    Frame1 = new QGroupBox(this);
    Colocar(Frame1, QRect(1440, 120, 4200, 1560));
    Label1 = new QLabel(QStringLiteral("Usuario:"), Frame1);
    Colocar(Label1, QRect(120, 390, 1200, 285));
    txtUsuario = new QLineEdit(Frame1);
    Colocar(txtUsuario, QRect(1320, 330, 2100, 405));
    Label2 = new QLabel(QStringLiteral("Contraseña:"), Frame1);
    Colocar(Label2, QRect(120, 990, 1200, 285));
    txtContraseña = new QLineEdit(Frame1);
    EstablecerPasswordChar(txtContraseña, QStringLiteral("*"));
    Colocar(txtContraseña, QRect(1320, 930, 2100, 405));
    for (int i = 0; i < 2; ++i) {
        auto* boton = new QPushButton(QIcon(DibujoTeclado()), QString(), Frame1);
        boton->setIconSize(QSize(24, 16));
        Colocar(boton, QRect(3540, 300 + 600 * i, 540, 465));
        connect(boton, &QPushButton::clicked, this, [this, i] { cmdTeclado_Click(i); });
        cmdTeclado.append(boton);
    }

    cmdAceptar = new QPushButton(QStringLiteral("Aceptar"), this);
    cmdAceptar->setDefault(true);
    Colocar(cmdAceptar, QRect(2520, 1920, 1500, 555));
    cmdCancelar = new QPushButton(QStringLiteral("Cancelar"), this);
    Colocar(cmdCancelar, QRect(4140, 1920, 1500, 555));
    connect(cmdAceptar, &QPushButton::clicked, this, &FrmLogin::cmdAceptar_Click);
    connect(cmdCancelar, &QPushButton::clicked, this, &FrmLogin::cmdCancelar_Click);

    // Tab goes from the user name straight to the password, as an operator
    // typing on a real keyboard expects; the keyboard buttons come last.
    setTabOrder(txtUsuario, txtContraseña);
    setTabOrder(txtContraseña, cmdAceptar);
    setTabOrder(cmdAceptar, cmdCancelar);
    setTabOrder(cmdCancelar, cmdTeclado[0]);
    setTabOrder(cmdTeclado[0], cmdTeclado[1]);

    Form_Load();
}

FrmLogin::~FrmLogin() = default;

bool FrmLogin::Valido() {
    return valido;
}

void FrmLogin::Form_Load() {
    valido = false;
    m_descargado = false;
    txtUsuario->clear();
    txtContraseña->clear();
    txtUsuario->setFocus();
}

// A dialog shown again after it was closed is loaded again, as a new one is.
void FrmLogin::showEvent(QShowEvent* evento) {
    if (m_descargado) {
        Form_Load();
    }
    QDialog::showEvent(evento);
    txtUsuario->setFocus();
}

void FrmLogin::closeEvent(QCloseEvent* evento) {
    m_descargado = true;
    evento->accept();
}

void FrmLogin::cmdAceptar_Click() {
    try {
        if (!m_credenciales) {
            m_credenciales = std::make_unique<ProveedorCredenciales>();
        }
        switch (
            ComprobarOperador(txtUsuario->text(), txtContraseña->text(), *m_credenciales, FormaConsulta::TextoFijo)) {
        case ResultadoOperador::UsuarioInvalido:
            Rechazar(QStringLiteral("El usuario es inválido o no tiene privilegios suficientes"));
            return;
        case ResultadoOperador::ContrasenaIncorrecta:
            Rechazar(QStringLiteral("La contraseña es incorrecta"));
            return;
        case ResultadoOperador::Valido:
            break;
        }
        hide();
        valido = true;
        close();
    } catch (const ErrorEjecucion& e) {
        Registrar(QStringLiteral("Cola Impresion, ") + e.Descripcion());
        ManejarErrorBD(QStringLiteral("Base de Datos"), e.Numero(), e.Descripcion(), Conexion::Instancia().Errores());
    } catch (const std::exception& e) {
        const QString descripcion = QString::fromLocal8Bit(e.what());
        Registrar(QStringLiteral("Cola Impresion, ") + descripcion);
        ManejarErrorBD(QStringLiteral("Base de Datos"), ErrorEjecucion::kErrorBaseDatos, descripcion,
                       Conexion::Instancia().Errores());
    }
}

void FrmLogin::Rechazar(const QString& mensaje) {
    MostrarMensaje(mensaje, 0);
    txtUsuario->clear();
    txtUsuario->setFocus();
    txtContraseña->clear();
}

void FrmLogin::cmdCancelar_Click() {
    close();
}

// Escape closes the dialog as "Cancelar" does.
void FrmLogin::reject() {
    close();
}

void FrmLogin::cmdTeclado_Click(int Index) {
    QPointer<frmTecladoLibre> teclado = frmTecladoLibre::Cargar();
    if (Index == 1) {
        teclado->MsTitulo = QStringLiteral("Ingresar contraseña");
        EstablecerPasswordChar(teclado->txtTexto, QStringLiteral("*"));
    } else {
        teclado->MsTitulo = QStringLiteral("Ingresar usuario");
        EstablecerPasswordChar(teclado->txtTexto, QString());
    }
    teclado->MfTecladoQWERTY = true;
    teclado->txtTexto->clear();
    teclado->exec();
    if (!teclado) {
        return;
    }
    (Index == 1 ? txtContraseña : txtUsuario)->setText(teclado->MsResultado);
    teclado->close();
}
