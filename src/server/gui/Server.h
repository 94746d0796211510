#pragma once

#include "server/ServidorCola.h"
#include "server/gui/ctlCola.h"

#include <QAction>
#include <QCheckBox>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QWidget>
#include <functional>

// The server window "Servidor de Impresion": the program's one long-lived
// window in window mode. Its load step configures the printer control for the
// terminal's printers, puts the icon into the notification area and switches
// queue service on; then the window hides and lives behind the icon, whose
// right-button menu (mnuTray) holds the operator's commands. The window owns
// the queue server: the printer control pr2, the timer Timer1 whose tick
// serves the queue, and the service flag Activo.
class Server : public QWidget {
    Q_OBJECT
public:
    explicit Server(qint16 numeroTerminal, QWidget* padre = nullptr);

    // The load step. Ends the process (status kSalidaConexion) when the
    // connection is not open. A failure on the way is logged ("Cola
    // Impresion, " + the description), goes to ManejarErrorBD and leaves the
    // window shown with Activo as it was; returns whether the step completed.
    // Without a notification area the window stays shown, with the tray
    // commands in its menu bar.
    bool Form_Load();

    // The buttons.
    void btn_Purgar_Click();
    void btn_impresoras_Click();
    void btn_Regresar_Click();
    void btn_Salir_Click();
    // The tray menu's items.
    void mnuTrayRestaurar_Click();
    void mnuTrayIniciar_Click();
    void mnuTrayDetener_Click();
    void mnuTrayCerrar_Click();

    bool Activo() const { return m_servidor.Activo(); }
    ServidorCola& Servidor() { return m_servidor; }
    ctlImpresora& pr2() { return m_servidor.pr2(); }
    QTimer& Timer1() { return m_servidor.Timer1(); }

    // The operator's login. `mostrar` shows the login dialog modally and
    // returns its Valido, putting the user name typed into *usuario; `valido`
    // reads Valido as the last showing left it, without showing the dialog.
    struct Login {
        std::function<bool(QString* usuario)> mostrar;
        std::function<bool()> valido;
    };
    // Each returns the previous value. Tests answer the login, observe the
    // end of the process instead of dying, and open a stand-in for the
    // printer configuration form.
    static Login EstablecerLogin(Login login);
    using Terminar = std::function<void(int estado)>;
    static Terminar EstablecerTerminar(Terminar terminar);
    using AbrirConfiguracion = std::function<void(Server& servidor)>;
    static AbrirConfiguracion EstablecerAbrirConfiguracion(AbrirConfiguracion abrir);

    // The controls, under their own names.
    ctlCola* Cola;
    QCheckBox* ChkLog;
    QPushButton* btn_Purgar;
    QPushButton* btn_impresoras;
    QPushButton* btn_Regresar;
    QPushButton* btn_Salir;
    QMenu* mnuTray;
    QAction* mnuTrayRestaurar;
    QAction* mnuTrayIniciar;
    QAction* mnuTrayDetener;
    QAction* mnuTrayCerrar;
    // The tray commands on the window itself, shown only where the desktop
    // has no notification area.
    QMenuBar* BarraMenu;

public slots:
    // A right-button press on the tray icon: brings the window forward and
    // pops the tray menu up at the pointer.
    void SysTrayMouseEventHandler();

protected:
    void closeEvent(QCloseEvent* evento) override;

private:
    bool PedirLogin(QString* usuario);
    bool UltimoLogin() const;
    void Minimizar();
    void EstablecerServicio(bool activo);

    ServidorCola m_servidor;
    bool m_ultimoValido = false;
};
