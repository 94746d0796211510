#include "server/gui/Server.h"

#include "config/IconoConfiguracion.h"
#include "config/frmConfigPrinters.h"
#include "database/BaseDatos.h"
#include "dialogs/FrmLogin.h"
#include "dialogs/Twips.h"
#include "platform/MostrarMensaje.h"
#include "support/Bitacora.h"
#include "support/SalidaArranque.h"
#include "support/gui/BandejaSistema.h"

#include <QCloseEvent>
#include <QCursor>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPointer>
#include <QVBoxLayout>
#include <cstdio>
#include <cstdlib>

namespace {

// Ends the process at once, as every way out of the program does: no form is
// unloaded, the connection is not closed, the icon is left to the desktop.
// Registrar closes the log file after each line, so the last line is already
// in the file.
void TerminarProceso(int estado) {
    std::fflush(nullptr);
    std::_Exit(estado);
}

// The login dialog, shown modally; the dialog is unloaded when it goes out
// of scope, and its Valido stays readable after it.
bool MostrarLogin(QString* usuario) {
    FrmLogin login;
    login.exec();
    *usuario = login.txtUsuario->text();
    return FrmLogin::Valido();
}

// The printer configuration form, modeless, printing through the window's
// own printer control. One form at a time: a second press brings it forward.
void AbrirConfiguracionImpresoras(Server& servidor) {
    static QPointer<frmConfigPrinters> abierta;
    if (!abierta) {
        abierta = new frmConfigPrinters(servidor.pr2(), &servidor);
        abierta->setAttribute(Qt::WA_DeleteOnClose);
    }
    abierta->show();
    abierta->raise();
    abierta->activateWindow();
}

struct Enlaces {
    Server::Login login{MostrarLogin, &FrmLogin::Valido};
    Server::Terminar terminar = TerminarProceso;
    Server::AbrirConfiguracion abrirConfiguracion = AbrirConfiguracionImpresoras;
};

Enlaces& Actuales() {
    static Enlaces enlaces;
    return enlaces;
}

QPushButton* Boton(const QString& texto, QWidget* padre) {
    auto* boton = new QPushButton(texto, padre);
    boton->setMinimumSize(Twips::APixeles(QSize(1800, 450)));
    return boton;
}

} // namespace

Server::Login Server::EstablecerLogin(Login login) {
    std::swap(Actuales().login, login);
    return login;
}

Server::Terminar Server::EstablecerTerminar(Terminar terminar) {
    std::swap(Actuales().terminar, terminar);
    return terminar;
}

Server::AbrirConfiguracion Server::EstablecerAbrirConfiguracion(AbrirConfiguracion abrir) {
    std::swap(Actuales().abrirConfiguracion, abrir);
    return abrir;
}

Server::Server(qint16 numeroTerminal, QWidget* padre) : QWidget(padre), m_servidor(numeroTerminal) {
    // The window spends its life hidden behind the tray icon: closing a
    // dialog or a message box must not end the program.
    QGuiApplication::setQuitOnLastWindowClosed(false);

    setObjectName(QStringLiteral("Server"));
    setWindowTitle(QStringLiteral("Servidor de Impresion"));
    setWindowIcon(IconoConfiguracion());
    resize(Twips::APixeles(QSize(10500, 6600)));

    Cola = new ctlCola(numeroTerminal, this);
    ChkLog = new QCheckBox(QStringLiteral("Activar Bitacora"), this);
    ChkLog->setChecked(true); // the log is always written; the box only says so
    btn_Purgar = Boton(QStringLiteral("Borrar Impresiones"), this);
    btn_impresoras = Boton(QStringLiteral("Probar Puertos"), this);
    btn_Regresar = Boton(QStringLiteral("Reanudar"), this);
    btn_Salir = Boton(QStringLiteral("Cerrar"), this);

    mnuTray = new QMenu(QStringLiteral("tray"), this);
    mnuTrayRestaurar = mnuTray->addAction(QStringLiteral("Restaurar"));
    mnuTrayIniciar = mnuTray->addAction(QStringLiteral("Iniciar"));
    mnuTrayDetener = mnuTray->addAction(QStringLiteral("Detener"));
    mnuTrayCerrar = mnuTray->addAction(QStringLiteral("Cerrar"));
    BarraMenu = new QMenuBar(this);
    QMenu* servicio = BarraMenu->addMenu(QStringLiteral("&Servicio"));
    servicio->addActions(mnuTray->actions());
    BarraMenu->hide();

    auto* botones = new QHBoxLayout;
    botones->addWidget(ChkLog);
    botones->addStretch();
    for (QPushButton* boton : {btn_Purgar, btn_impresoras, btn_Regresar, btn_Salir}) {
        botones->addWidget(boton);
    }
    auto* capas = new QVBoxLayout(this);
    const int margen = Twips::APixeles(120);
    capas->setContentsMargins(margen, margen, margen, margen);
    capas->setMenuBar(BarraMenu);
    capas->addWidget(Cola, 1);
    capas->addLayout(botones);

    connect(btn_Purgar, &QPushButton::clicked, this, &Server::btn_Purgar_Click);
    connect(btn_impresoras, &QPushButton::clicked, this, &Server::btn_impresoras_Click);
    connect(btn_Regresar, &QPushButton::clicked, this, &Server::btn_Regresar_Click);
    connect(btn_Salir, &QPushButton::clicked, this, &Server::btn_Salir_Click);
    connect(mnuTrayRestaurar, &QAction::triggered, this, &Server::mnuTrayRestaurar_Click);
    connect(mnuTrayIniciar, &QAction::triggered, this, &Server::mnuTrayIniciar_Click);
    connect(mnuTrayDetener, &QAction::triggered, this, &Server::mnuTrayDetener_Click);
    connect(mnuTrayCerrar, &QAction::triggered, this, &Server::mnuTrayCerrar_Click);

    // The tick reports what it printed; the pending list is read after each
    // tick, and only while the window is on screen (ctlCola::Actualizar).
    connect(&m_servidor, &ServidorCola::TrabajoImpreso, Cola, &ctlCola::AgregarImpreso);
    connect(&m_servidor.Timer1(), &QTimer::timeout, Cola, [this] {
        if (!m_servidor.EnTick()) {
            Cola->Actualizar();
        }
    });
    Cola->EstablecerEstado(QStringLiteral("Servicio sin iniciar"), false);
}

bool Server::Form_Load() {
    if (!Conexion::Instancia().Abierta()) {
        Actuales().terminar(kSalidaConexion);
        return false;
    }
    const bool conBandeja = BandejaDisponible();
    BarraMenu->setVisible(!conBandeja);
    try {
        if (!m_servidor.TomarTerminal()) {
            mnuTrayIniciar->setEnabled(false);
            show();
            return false;
        }
        m_servidor.CargarImpresoras();
        Enganchar(this);
        const QIcon icono = IconoConfiguracion();
        AgregarIconoBandeja(this, icono.cacheKey(), icono, QStringLiteral("Cola de Impresion Orlan 1.1"));
        Registrar(QStringLiteral("Iniciando Cola de Impresion "));
        mnuTrayIniciar->setEnabled(false);
        EstablecerServicio(true);
    } catch (const ErrorEjecucion& e) {
        RegistrarFallaCola(e);
        // Not started: "Iniciar" stays off, as after a load, until "Reanudar".
        mnuTrayIniciar->setEnabled(false);
        show();
        return false;
    }
    if (conBandeja) {
        hide();
    } else {
        // Hidden, the window could not be reached at all: it stays in view,
        // with the tray's commands in its menu bar.
        Registrar(QStringLiteral("Cola Impresion, el escritorio no tiene area de notificacion: la ventana queda a "
                                 "la vista con los comandos en su menu"));
        show();
    }
    return true;
}

void Server::EstablecerServicio(bool activo) {
    m_servidor.EstablecerActivo(activo);
    Cola->EstablecerEstado(activo ? QStringLiteral("Sirviendo la cola de impresion")
                                  : QStringLiteral("Servicio detenido: no se imprime nada"),
                           activo);
}

void Server::Minimizar() {
    setWindowState((windowState() & ~(Qt::WindowMaximized | Qt::WindowFullScreen)) | Qt::WindowMinimized);
}

bool Server::PedirLogin(QString* usuario) {
    bool valido = false;
    try {
        valido = Actuales().login.mostrar(usuario);
    } catch (const ErrorEjecucion& e) {
        RegistrarFallaCola(e);
    }
    m_ultimoValido = valido;
    return valido;
}

bool Server::UltimoLogin() const {
    return Actuales().login.valido ? Actuales().login.valido() : m_ultimoValido;
}

void Server::btn_Purgar_Click() {
    Cola->Purgar();
}

void Server::btn_impresoras_Click() {
    Actuales().abrirConfiguracion(*this);
}

void Server::btn_Regresar_Click() {
    mnuTrayDetener->setEnabled(true);
    mnuTrayCerrar->setEnabled(true);
    mnuTrayIniciar->setEnabled(false);
    Minimizar();
    EstablecerServicio(true);
}

void Server::btn_Salir_Click() {
    if (MostrarMensaje(QStringLiteral("En verdad quiere detener el servidor de impresion?"), 4) == 6) {
        Minimizar();
        Actuales().terminar(0);
    }
}

void Server::mnuTrayRestaurar_Click() {
    QString usuario;
    if (PedirLogin(&usuario)) {
        setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowMaximized);
        EstablecerServicio(false);
        show();
        raise();
        activateWindow();
    }
    Registrar(QStringLiteral("Se manda a restaurar por ") + usuario);
}

void Server::mnuTrayIniciar_Click() {
    if (UltimoLogin()) {
        Registrar(QStringLiteral("Iniciando Servidor de Comunicaciones"));
        mnuTrayDetener->setEnabled(true);
        mnuTrayCerrar->setEnabled(true);
        mnuTrayIniciar->setEnabled(false);
        Minimizar();
        EstablecerServicio(true);
    }
}

void Server::mnuTrayDetener_Click() {
    QString usuario;
    if (PedirLogin(&usuario)) {
        if (MostrarMensaje(QStringLiteral("Esto detendra las trabajos de impresion, desea continuar?"), 4) == 6) {
            mnuTrayDetener->setEnabled(false);
            mnuTrayCerrar->setEnabled(false);
            mnuTrayIniciar->setEnabled(true);
            EstablecerServicio(false);
        }
    }
}

void Server::mnuTrayCerrar_Click() {
    QString usuario;
    if (PedirLogin(&usuario)) {
        Registrar(QStringLiteral("Apagando Servidor de Comunicaciones"));
        Minimizar();
        Actuales().terminar(0);
    }
}

void Server::SysTrayMouseEventHandler() {
    raise();
    activateWindow();
    mnuTray->popup(QCursor::pos());
}

void Server::closeEvent(QCloseEvent* evento) {
    // The close box never ends the program (that is "Cerrar") and never
    // leaves the queue stopped behind the operator's back: it does what
    // "Reanudar" does, so closing the restored window resumes printing.
    evento->ignore();
    btn_Regresar_Click();
}
