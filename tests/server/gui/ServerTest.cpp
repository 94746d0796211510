#include "server/gui/Server.h"
#include "config/frmConfigPrinters.h"
#include "database/PruebaBaseDatos.h"
#include "dialogs/FrmLogin.h"
#include "platform/Ajustes.h"
#include "startup/Arranque.h"
#include "support/gui/BandejaSistema.h"
#include "testsupport/DatosCola.h"
#include "testsupport/gui/AlAparecer.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

// Terminal 1 with its printer on the simulated parallel port (printer 2 is
// terminal 2's), a login that answers as the test says, message boxes
// answered from a list, and an end of the process that is only recorded.
class Ventana : public PruebaBaseDatos {
protected:
    void SetUp() override {
        PruebaBaseDatos::SetUp();
        InstalarPuerto();
        Ejecutar("INSERT INTO Terminal (ID_Terminal) VALUES (1)");
        InsertarImpresora(1, 1, 2);
        InsertarImpresora(2, 2, 1, "'A'", "LPT2");
        m_presentador = EstablecerPresentadorMensaje([this](const QString& texto, int botones) {
            m_preguntas << texto + u'|' + QString::number(botones);
            return m_respuestas.isEmpty() ? quint8(1) : m_respuestas.takeFirst();
        });
        m_login = Server::EstablecerLogin({[this](QString* usuario) {
                                               ++m_logins;
                                               *usuario = m_usuario;
                                               return m_valido = m_aceptar;
                                           },
                                           [this] { return m_valido; }});
        m_terminar = Server::EstablecerTerminar([this](int estado) {
            m_salidas << estado;
            m_bitacoraAlSalir = Bitacora();
        });
        EstablecerBandejaDisponible(true);
        m_ventana = std::make_unique<Server>(1);
        m_ventana->Timer1().stop(); // the test drives the ticks
    }
    void TearDown() override {
        m_ventana.reset();
        EstablecerBandejaDisponible(std::nullopt);
        Server::EstablecerTerminar(m_terminar);
        Server::EstablecerLogin(m_login);
        EstablecerPresentadorMensaje(m_presentador);
        PruebaBaseDatos::TearDown();
    }

    void Login(const QString& usuario, bool aceptar) {
        m_usuario = usuario;
        m_aceptar = aceptar;
    }
    // "+" enabled, "-" disabled: Restaurar, Iniciar, Detener, Cerrar.
    QString Menu(const Server* ventana = nullptr) const {
        QString estados;
        for (QAction* a : (ventana ? ventana : m_ventana.get())->mnuTray->actions()) {
            estados += a->isEnabled() ? u'+' : u'-';
        }
        return estados;
    }
    void Tick() { m_ventana->Servidor().Timer1_Timer(); }

    std::unique_ptr<Server> m_ventana;
    QList<quint8> m_respuestas;
    QStringList m_preguntas;
    QString m_usuario;
    bool m_aceptar = false;
    bool m_valido = false;
    int m_logins = 0;
    QList<int> m_salidas;
    QString m_bitacoraAlSalir;
    PresentadorMensaje m_presentador;
    Server::Login m_login;
    Server::Terminar m_terminar;
};

TEST_F(Ventana, TheLoadStepConfiguresThePrintersAndHidesBehindTheIcon) {
    m_ventana->show(); // as start-up shows it to load it
    ASSERT_TRUE(m_ventana->Form_Load());
    const int consultas = m_ventana->Cola->Consultas();
    EXPECT_EQ(Ajustes::Leer("ORLAN", "LPT1", "Nombre"), "Impresora 1");
    EXPECT_FALSE(Ajustes::Leer("ORLAN", "LPT1", "EstadoReal").isEmpty()); // the port was configured
    EXPECT_TRUE(Ajustes::Leer("ORLAN", "LPT2", "Nombre").isEmpty());      // another terminal's printer
    EXPECT_TRUE(Bitacora().endsWith("Iniciando Cola de Impresion \r\n")) << Bitacora().toStdString();
    EXPECT_EQ(Menu(), "+-++");
    EXPECT_TRUE(m_ventana->Activo());
    EXPECT_FALSE(m_ventana->isVisible());
    EXPECT_FALSE(m_ventana->BarraMenu->isVisibleTo(m_ventana.get()));
    // One hook and one icon: a second window changes neither.
    QWidget otra;
    Enganchar(&otra);
    AgregarIconoBandeja(&otra, 1, QIcon(), "otra");
    EXPECT_EQ(VentanaEnganchada(), m_ventana.get());
    ASSERT_NE(IconoBandeja(), nullptr);
    EXPECT_EQ(IconoBandeja()->toolTip(), "Cola de Impresion Orlan 1.1");

    // The tick prints through the window's printer control and tells the
    // display, which queries nothing while the window is hidden.
    InsertarTrabajo(5, 1, {"hola"});
    Tick();
    EXPECT_EQ(Tomar(), ImpresoEpson("hola"));
    ASSERT_EQ(m_ventana->Cola->Impresos().size(), 1);
    EXPECT_EQ(m_ventana->Cola->Impresos()[0].idTrabajo, 5);
    m_ventana->Cola->Actualizar();
    EXPECT_EQ(m_ventana->Cola->Consultas(), consultas);

    // A right-button press on the icon pops the menu up; other clicks do not.
    for (auto motivo : {QSystemTrayIcon::Trigger, QSystemTrayIcon::DoubleClick, QSystemTrayIcon::MiddleClick}) {
        emit IconoBandeja()->activated(motivo);
    }
    EXPECT_FALSE(m_ventana->mnuTray->isVisible());
    emit IconoBandeja()->activated(QSystemTrayIcon::Context);
    EXPECT_TRUE(m_ventana->mnuTray->isVisible());
    m_ventana->mnuTray->close();
}

TEST_F(Ventana, WithoutPrintersOrATrayItStillLoadsAndAFailedLoadLeavesItShown) {
    // No printers and no notification area: the window stays in view with
    // the commands in its menu bar, and closing it does not end the program.
    EstablecerBandejaDisponible(false);
    Ejecutar("DELETE FROM Impresora WHERE ID_Terminal = 1");
    ASSERT_TRUE(m_ventana->Form_Load());
    EXPECT_TRUE(Ajustes::Leer("ORLAN", "LPT1", "Nombre").isEmpty());
    EXPECT_TRUE(m_ventana->Activo());
    EXPECT_TRUE(m_ventana->isVisible() && m_ventana->BarraMenu->isVisible());
    EXPECT_TRUE(Bitacora().contains("no tiene area de notificacion"));
    m_ventana->close();
    EXPECT_TRUE(m_salidas.isEmpty());

    // A failing statement: logged, reported, shown, not serving.
    Server otra(1);
    Ejecutar("ALTER TABLE Impresora RENAME TO Impresora_Fuera");
    EXPECT_FALSE(otra.Form_Load());
    EXPECT_TRUE(Bitacora().contains("Cola Impresion, "));
    EXPECT_EQ(Bitacora().count("Iniciando Cola de Impresion"), 1);
    EXPECT_FALSE(m_mensajes.isEmpty()); // ManejarErrorBD told the operator
    EXPECT_TRUE(otra.isVisible());
    EXPECT_FALSE(otra.Activo());
    EXPECT_EQ(Menu(&otra), "+-++");

    // Without an open connection the process ends at once.
    Conexion::Instancia().Cerrar();
    EXPECT_FALSE(otra.Form_Load());
    EXPECT_EQ(m_salidas, QList<int>{kSalidaConexion});
}

TEST_F(Ventana, TheCommandsFollowTheStateTable) {
    const QString detener = "Esto detendra las trabajos de impresion, desea continuar?|4";
    ASSERT_TRUE(m_ventana->Form_Load());
    InsertarTrabajo(7, 1, {"siete"});

    // A refused login changes nothing, and "Iniciar" then does nothing either.
    Login("pepe", false);
    m_ventana->mnuTrayDetener_Click();
    m_ventana->mnuTrayIniciar_Click();
    EXPECT_TRUE(m_preguntas.isEmpty());
    EXPECT_EQ(Menu(), "+-++");

    // A valid login, "No", then "Si": stopped, and the tick prints nothing.
    Login("gerente", true);
    m_respuestas = {7, 6};
    m_ventana->mnuTrayDetener_Click();
    EXPECT_EQ(Menu(), "+-++");
    m_ventana->mnuTrayDetener_Click();
    EXPECT_EQ(m_preguntas, QStringList({detener, detener}));
    EXPECT_EQ(Menu(), "++--");
    Tick();
    EXPECT_TRUE(Tomar().isEmpty());

    // "Iniciar" trusts the last login without showing the dialog.
    const int logins = m_logins;
    m_ventana->mnuTrayIniciar_Click();
    EXPECT_EQ(m_logins, logins);
    EXPECT_TRUE(Bitacora().endsWith("Iniciando Servidor de Comunicaciones\r\n"));
    EXPECT_EQ(Menu(), "+-++");
    EXPECT_TRUE(m_ventana->windowState() & Qt::WindowMinimized);
    Tick();
    EXPECT_EQ(Tomar(), ImpresoEpson("siete"));

    // Stopped again; a wrong password on "Restaurar" is logged with the name
    // typed and leaves "Iniciar" without a valid login.
    m_respuestas = {6};
    m_ventana->mnuTrayDetener_Click();
    Login("pepe", false);
    m_ventana->mnuTrayRestaurar_Click();
    EXPECT_TRUE(Bitacora().endsWith("Se manda a restaurar por pepe\r\n"));
    EXPECT_FALSE(m_ventana->isVisible());
    m_ventana->mnuTrayIniciar_Click();
    EXPECT_FALSE(m_ventana->Activo());

    // While stopped the tray's "Cerrar" is off, but the window's button still
    // ends the program after its confirmation, without a login.
    EXPECT_EQ(Menu(), "++--");
    m_respuestas = {7, 6};
    m_ventana->btn_Salir_Click();
    EXPECT_TRUE(m_salidas.isEmpty());
    m_ventana->btn_Salir_Click();
    EXPECT_EQ(m_salidas, QList<int>{0});
    EXPECT_EQ(m_preguntas.last(), "En verdad quiere detener el servidor de impresion?|4");
    EXPECT_EQ(m_logins, logins + 2);

    // "Reanudar" serves again; "Restaurar" with a valid login stops service
    // and shows the window maximised, the menu as it was.
    m_ventana->btn_Regresar_Click();
    EXPECT_EQ(Menu(), "+-++");
    EXPECT_TRUE(m_ventana->Activo());
    Login("gerente", true);
    m_ventana->mnuTrayRestaurar_Click();
    EXPECT_TRUE(m_ventana->isVisible() && (m_ventana->windowState() & Qt::WindowMaximized));
    EXPECT_FALSE(m_ventana->Activo());
    EXPECT_EQ(Menu(), "+-++");

    // Its close box resumes service as "Reanudar" does: printing never stays
    // stopped behind a window that went away.
    InsertarTrabajo(8, 1, {"ocho"});
    CerrarConCasilla(*m_ventana);
    EXPECT_TRUE(m_ventana->Activo());
    EXPECT_EQ(Menu(), "+-++");
    EXPECT_TRUE(m_ventana->windowState() & Qt::WindowMinimized);
    Tick();
    EXPECT_EQ(Tomar(), ImpresoEpson("ocho"));

    // The tray's "Cerrar": refused, then its log line is written before the end.
    m_salidas.clear();
    Login("pepe", false);
    m_ventana->mnuTrayCerrar_Click();
    EXPECT_TRUE(m_salidas.isEmpty());
    Login("gerente", true);
    m_ventana->mnuTrayCerrar_Click();
    EXPECT_EQ(m_salidas, QList<int>{0});
    EXPECT_TRUE(m_bitacoraAlSalir.endsWith("Apagando Servidor de Comunicaciones\r\n"));

    // "Probar Puertos" opens the configuration form beside the window, once.
    m_ventana->btn_impresoras_Click();
    m_ventana->btn_impresoras_Click();
    QList<QDialog*> formas = m_ventana->findChildren<QDialog*>();
    formas.removeIf([](QDialog* d) { return !dynamic_cast<frmConfigPrinters*>(d); });
    ASSERT_EQ(formas.size(), 1);
    EXPECT_TRUE(formas[0]->isVisible() && !formas[0]->isModal());
    formas[0]->close();
    m_ventana->btn_Purgar_Click();
    EXPECT_TRUE(m_ventana->Cola->Impresos().isEmpty());
}

TEST_F(Ventana, ACommandDuringABusyTickAffectsOnlyLaterTicks) {
    ASSERT_TRUE(m_ventana->Form_Load());
    InsertarTrabajo(8, 1, {"ocho"});
    InsertarTrabajo(9, 1, {"nueve"});
    // The printer is busy: its wait lets events through, and the operator
    // stops the service from the menu in the middle of the tick.
    m_puerto->OcupadoDurante(200000);
    Login("gerente", true);
    m_respuestas = {6};
    QTimer::singleShot(0, [&] { m_ventana->mnuTrayDetener_Click(); });
    Tick();
    EXPECT_FALSE(m_ventana->Activo());
    EXPECT_EQ(Tomar(), ImpresoEpson("ocho") + ImpresoEpson("nueve"));
    InsertarTrabajo(10, 1, {"diez"});
    Tick();
    EXPECT_TRUE(Tomar().isEmpty());
}

TEST_F(Ventana, TheQueueDisplayShowsPendingAndPrintedJobs) {
    ASSERT_TRUE(m_ventana->Form_Load());
    InsertarImpresora(3, 1, 1);
    Ejecutar("UPDATE Impresora SET Nombre_Impresora = 'Caja' WHERE Id_Impresora = 1");
    Ejecutar("UPDATE Impresora SET Nombre_Impresora = 'Barra', Redirigido = 1 WHERE Id_Impresora = 3");
    InsertarTrabajo(20, 1, {"a", "b"});
    InsertarTrabajo(21, 3, {"c"}, true); // still being written, redirected to Caja
    InsertarTrabajo(22, 2, {"d"});       // another terminal's
    m_ventana->Servidor().EstablecerActivo(false);

    m_ventana->show();
    const QVector<TrabajoPendiente>& pendientes = m_ventana->Cola->Pendientes();
    ASSERT_EQ(pendientes.size(), 2);
    EXPECT_EQ(pendientes[0].idTrabajo, 20);
    EXPECT_EQ(pendientes[0].impresora, "Caja");
    EXPECT_EQ(pendientes[0].renglones, 2);
    EXPECT_TRUE(pendientes[0].liberado);
    EXPECT_TRUE(pendientes[0].fechaHora.isValid());
    EXPECT_EQ(pendientes[1].servidaPor, "Caja");
    EXPECT_FALSE(pendientes[1].liberado);

    // The tick prints job 20 and reports it; the display reads the rest after it.
    m_ventana->Servidor().EstablecerActivo(true);
    Tick();
    m_ventana->Cola->Actualizar();
    ASSERT_EQ(m_ventana->Cola->Impresos().size(), 1);
    EXPECT_EQ(m_ventana->Cola->Impresos()[0].renglones, 2);
    EXPECT_EQ(pendientes.size(), 1);

    // Purging forgets what was printed and never touches the queue.
    m_ventana->btn_Purgar_Click();
    EXPECT_TRUE(m_ventana->Cola->Impresos().isEmpty());
    EXPECT_EQ(Lista("SELECT IdTrabajo FROM ColaImpresion ORDER BY IdTrabajo"), "21,22");

    // Minimised it reads nothing more.
    const int consultas = m_ventana->Cola->Consultas();
    m_ventana->showMinimized();
    m_ventana->Cola->Actualizar();
    EXPECT_EQ(m_ventana->Cola->Consultas(), consultas);
}

TEST_F(Ventana, TheRealLoginGuardsTheCommandsAndItsValidoOutlivesIt) {
    Server::EstablecerLogin(m_login); // the window's own: FrmLogin
    InsertarGerente("llave");
    ASSERT_TRUE(m_ventana->Form_Load());
    // Types into the dialog and accepts; `cancelar` then gives up, after
    // typing the name again (a refusal empties the fields).
    auto entrar = [](const QString& usuario, const QString& contrasena, bool cancelar) {
        AlAparecer<FrmLogin>([=](FrmLogin& login) {
            login.txtUsuario->setText(usuario);
            login.txtContraseña->setText(contrasena);
            login.cmdAceptar->click();
            if (cancelar) {
                login.txtUsuario->setText(usuario);
                login.cmdCancelar->click();
            }
        });
    };

    entrar("gerente", "DEMO", false);
    m_respuestas = {6};
    m_ventana->mnuTrayDetener_Click();
    EXPECT_EQ(Menu(), "++--");
    m_ventana->mnuTrayIniciar_Click(); // reads Valido with the dialog gone
    EXPECT_TRUE(m_ventana->Activo());

    entrar("pepe", "mal", true);
    m_ventana->mnuTrayRestaurar_Click();
    EXPECT_TRUE(Bitacora().endsWith("Se manda a restaurar por pepe\r\n")) << Bitacora().toStdString();
    EXPECT_FALSE(m_ventana->isVisible());

    // The connection drops under the login: its failure is logged and
    // handled, the dialog stays until cancelled, and nothing happens.
    Conexion::Instancia().Cerrar();
    m_mensajes.clear();
    entrar("gerente", "demo", true);
    m_ventana->mnuTrayCerrar_Click();
    EXPECT_TRUE(m_salidas.isEmpty());
    EXPECT_FALSE(m_mensajes.isEmpty());
    EXPECT_TRUE(m_ventana->Activo());
}
