#include "server/gui/Server.h"
#include "crypto/clsDES.h"
#include "database/PruebaBaseDatos.h"
#include "dialogs/FrmLogin.h"
#include "platform/Ajustes.h"
#include "platform/PuertoES.h"
#include "platform/PuertoSimulado.h"
#include "startup/Arranque.h"
#include "support/gui/BandejaSistema.h"
#include "testsupport/DatosCola.h"
#include "testsupport/gui/AlAparecer.h"

#include <QLineEdit>
#include <QPushButton>

#include <QTimer>
#include <deque>

// Terminal 1 with its printers on the simulated parallel port, a login whose
// answers the test gives, message boxes answered from a list, and an end of
// the process that is only recorded.
class Ventana : public PruebaBaseDatos {
protected:
    void SetUp() override {
        PruebaBaseDatos::SetUp();
        PuertoSimulado::Opciones opciones;
        opciones.archivos = false;
        m_puerto = &PuertoSimulado::Instalar(opciones);
        Ejecutar("INSERT INTO Terminal (ID_Terminal) VALUES (1)");
        Ejecutar("INSERT INTO Terminal (ID_Terminal) VALUES (2)");
        InsertarImpresora(1, 1, 2);
        InsertarImpresora(2, 2, 1, "'A'", "LPT2");
        m_presentador = EstablecerPresentadorMensaje([this](const QString& texto, int botones) {
            m_preguntas << QStringLiteral("%1|%2").arg(texto).arg(botones);
            const quint8 respuesta = m_respuestas.empty() ? 1 : m_respuestas.front();
            if (!m_respuestas.empty()) {
                m_respuestas.pop_front();
            }
            return respuesta;
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
        m_ventana->Timer1().stop(); // ticks are driven by the test
    }
    void TearDown() override {
        m_ventana.reset();
        EstablecerBandejaDisponible(std::nullopt);
        Server::EstablecerTerminar(m_terminar);
        Server::EstablecerLogin(m_login);
        EstablecerPresentadorMensaje(m_presentador);
        PuertoES::Establecer(nullptr);
        PruebaBaseDatos::TearDown();
    }

    // Who logs in next and whether the password is right.
    void Login(const QString& usuario, bool aceptar) {
        m_usuario = usuario;
        m_aceptar = aceptar;
    }
    QString Menu() const {
        QString estados;
        for (QAction* a : m_ventana->mnuTray->actions()) {
            estados += a->isEnabled() ? u'+' : u'-';
        }
        return estados; // Restaurar, Iniciar, Detener, Cerrar
    }
    QByteArray Tomar() {
        const QByteArray bytes = m_puerto->Capturado();
        m_puerto->LimpiarCaptura();
        return bytes;
    }

    PuertoSimulado* m_puerto = nullptr;
    std::unique_ptr<Server> m_ventana;
    std::deque<quint8> m_respuestas;
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

const QString kDetener = "Esto detendra las trabajos de impresion, desea continuar?|4";

TEST_F(Ventana, TheLoadStepConfiguresThePrintersAndHidesBehindTheIcon) {
    m_ventana->show();
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
    EXPECT_EQ(VentanaEnganchada(), m_ventana.get());
    ASSERT_NE(IconoBandeja(), nullptr);
    EXPECT_EQ(IconoBandeja()->toolTip(), "Cola de Impresion Orlan 1.1");
    EXPECT_FALSE(IconoBandeja()->icon().isNull());

    // The tick is the window's: a job prints and the display hears of it
    // without a query of its own while the window is hidden.
    InsertarTrabajo(5, 1, {"hola"});
    m_ventana->Servidor().Timer1_Timer();
    EXPECT_EQ(Tomar(), ImpresoEpson("hola"));
    ASSERT_EQ(m_ventana->Cola->Impresos().size(), 1);
    EXPECT_EQ(m_ventana->Cola->Impresos()[0].idTrabajo, 5);
    m_ventana->Cola->Actualizar();
    EXPECT_EQ(m_ventana->Cola->Consultas(), consultas);

    // A right-button press on the icon pops the menu up; other clicks do not.
    emit IconoBandeja()->activated(QSystemTrayIcon::Trigger);
    EXPECT_FALSE(m_ventana->mnuTray->isVisible());
    emit IconoBandeja()->activated(QSystemTrayIcon::Context);
    EXPECT_TRUE(m_ventana->mnuTray->isVisible());
    m_ventana->mnuTray->close();
}

TEST_F(Ventana, ATerminalWithoutPrintersOrWithoutATrayStillLoads) {
    // Without a notification area the window stays in view with the commands
    // in its menu bar.
    EstablecerBandejaDisponible(false);
    Ejecutar("DELETE FROM Impresora WHERE ID_Terminal = 1");
    ASSERT_TRUE(m_ventana->Form_Load());
    EXPECT_TRUE(Ajustes::Leer("ORLAN", "LPT1", "Nombre").isEmpty());
    EXPECT_TRUE(m_ventana->Activo());
    EXPECT_TRUE(m_ventana->isVisible());
    EXPECT_TRUE(m_ventana->BarraMenu->isVisible());
    EXPECT_TRUE(Bitacora().contains("no tiene area de notificacion")) << Bitacora().toStdString();
    // Closing it does not end the program.
    m_ventana->close();
    EXPECT_TRUE(m_salidas.isEmpty());
}

TEST_F(Ventana, AFailedLoadStepLeavesTheWindowShownAndTheServiceOff) {
    Ejecutar("ALTER TABLE Impresora RENAME TO Impresora_Fuera");
    EXPECT_FALSE(m_ventana->Form_Load());
    EXPECT_TRUE(Bitacora().contains("Cola Impresion, ")) << Bitacora().toStdString();
    EXPECT_FALSE(Bitacora().contains("Iniciando Cola de Impresion"));
    EXPECT_FALSE(m_mensajes.isEmpty()); // ManejarErrorBD told the operator
    EXPECT_TRUE(m_ventana->isVisible());
    EXPECT_FALSE(m_ventana->Activo());
    EXPECT_EQ(Menu(), "+-++");
    Ejecutar("ALTER TABLE Impresora_Fuera RENAME TO Impresora");

    // Without an open connection the process ends at once.
    Conexion::Instancia().Cerrar();
    EXPECT_FALSE(m_ventana->Form_Load());
    EXPECT_EQ(m_salidas, QList<int>{kSalidaConexion});
}

TEST_F(Ventana, TheCommandsFollowTheStateTable) {
    ASSERT_TRUE(m_ventana->Form_Load());
    InsertarTrabajo(7, 1, {"siete"});

    // A refused login changes nothing, and "Iniciar" then does nothing either.
    Login("pepe", false);
    m_ventana->mnuTrayDetener_Click();
    m_ventana->mnuTrayIniciar_Click();
    EXPECT_TRUE(m_preguntas.isEmpty());
    EXPECT_EQ(Menu(), "+-++");

    // A valid login and "No", then "Si": stopped, and the tick prints nothing.
    Login("gerente", true);
    m_respuestas = {7, 6};
    m_ventana->mnuTrayDetener_Click();
    EXPECT_EQ(Menu(), "+-++");
    m_ventana->mnuTrayDetener_Click();
    EXPECT_EQ(m_preguntas, QStringList({kDetener, kDetener}));
    EXPECT_EQ(Menu(), "++--");
    EXPECT_FALSE(m_ventana->Activo());
    m_ventana->Servidor().Timer1_Timer();
    EXPECT_TRUE(Tomar().isEmpty());

    // "Iniciar" trusts the last login without showing the dialog.
    const int logins = m_logins;
    m_ventana->mnuTrayIniciar_Click();
    EXPECT_EQ(m_logins, logins);
    EXPECT_TRUE(Bitacora().endsWith("Iniciando Servidor de Comunicaciones\r\n"));
    EXPECT_EQ(Menu(), "+-++");
    EXPECT_TRUE(m_ventana->Activo());
    EXPECT_TRUE(m_ventana->windowState() & Qt::WindowMinimized);
    m_ventana->Servidor().Timer1_Timer();
    EXPECT_EQ(Tomar(), ImpresoEpson("siete"));

    // Stopped again; a wrong password on "Restaurar" is still logged with the
    // name typed, and leaves "Iniciar" without a valid login.
    m_respuestas = {6};
    m_ventana->mnuTrayDetener_Click();
    Login("pepe", false);
    m_ventana->mnuTrayRestaurar_Click();
    EXPECT_TRUE(Bitacora().endsWith("Se manda a restaurar por pepe\r\n"));
    EXPECT_FALSE(m_ventana->isVisible());
    m_ventana->mnuTrayIniciar_Click();
    EXPECT_FALSE(m_ventana->Activo());
    EXPECT_EQ(Menu(), "++--");

    // While stopped the tray's "Cerrar" is disabled, but the window's own
    // button still ends the program after its confirmation, without a login.
    const int antes = m_logins;
    m_respuestas = {7, 6};
    m_ventana->btn_Salir_Click();
    EXPECT_TRUE(m_salidas.isEmpty());
    m_ventana->btn_Salir_Click();
    EXPECT_EQ(m_salidas, QList<int>{0});
    EXPECT_EQ(m_preguntas.last(), "En verdad quiere detener el servidor de impresion?|4");
    EXPECT_EQ(m_logins, antes);

    // "Reanudar" serves again; "Restaurar" with a valid login stops service
    // and shows the window maximised, leaving the menu as it was.
    m_ventana->btn_Regresar_Click();
    EXPECT_EQ(Menu(), "+-++");
    EXPECT_TRUE(m_ventana->Activo());
    Login("gerente", true);
    m_ventana->mnuTrayRestaurar_Click();
    EXPECT_TRUE(m_ventana->isVisible());
    EXPECT_TRUE(m_ventana->windowState() & Qt::WindowMaximized);
    EXPECT_FALSE(m_ventana->Activo());
    EXPECT_EQ(Menu(), "+-++");
    EXPECT_TRUE(Bitacora().endsWith("Se manda a restaurar por gerente\r\n"));

    // The tray's "Cerrar": refused, then accepted with its log line written
    // before the process ends.
    m_salidas.clear();
    Login("pepe", false);
    m_ventana->mnuTrayCerrar_Click();
    EXPECT_TRUE(m_salidas.isEmpty());
    Login("gerente", true);
    m_ventana->mnuTrayCerrar_Click();
    EXPECT_EQ(m_salidas, QList<int>{0});
    EXPECT_TRUE(m_bitacoraAlSalir.endsWith("Apagando Servidor de Comunicaciones\r\n"));

    // The other buttons.
    int abiertas = 0;
    const auto anterior = Server::EstablecerAbrirConfiguracion([&](Server&) { ++abiertas; });
    m_ventana->btn_impresoras_Click();
    Server::EstablecerAbrirConfiguracion(anterior);
    EXPECT_EQ(abiertas, 1);
    ASSERT_EQ(m_ventana->Cola->Impresos().size(), 1);
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
    m_ventana->Servidor().Timer1_Timer();
    EXPECT_FALSE(m_ventana->Activo());
    EXPECT_EQ(Tomar(), ImpresoEpson("ocho") + ImpresoEpson("nueve"));

    InsertarTrabajo(10, 1, {"diez"});
    m_ventana->Servidor().Timer1_Timer();
    EXPECT_TRUE(Tomar().isEmpty());

    // A login that fails inside (its connection dropped) is logged and
    // counts as refused.
    Server::EstablecerLogin(
        {[](QString*) -> bool { throw ErrorEjecucion(ErrorEjecucion::kErrorBaseDatos, "Communication link failure"); },
         {}});
    m_ventana->mnuTrayRestaurar_Click();
    EXPECT_TRUE(Bitacora().contains("Cola Impresion, Communication link failure"));
    EXPECT_FALSE(m_ventana->isVisible());
    m_ventana->mnuTrayIniciar_Click();
    EXPECT_FALSE(m_ventana->Activo());
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
    m_ventana->Servidor().Timer1_Timer();
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
    clsDES des;
    des.Key("llave");
    Ejecutar("INSERT INTO Empleado (ID_Empleado, Usuario, Contraseña) VALUES (1, 'gerente', '" +
             des.EncryptString("demo", {}, true) + "')");
    Ejecutar("INSERT INTO EmpleadosXGrupo (ID_Empleado, ID_Grupo_Trabajo) VALUES (1, 1)");
    Ejecutar("INSERT INTO PermisosXGrupo_Trabajo (ID_Grupo_Trabajo, ID_Permiso) VALUES (1, 27)");
    ASSERT_TRUE(m_ventana->Form_Load());
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

    // Stopped with a valid login, started again without one.
    entrar("gerente", "DEMO", false);
    m_respuestas = {6};
    m_ventana->mnuTrayDetener_Click();
    EXPECT_EQ(Menu(), "++--");
    m_ventana->mnuTrayIniciar_Click();
    EXPECT_TRUE(m_ventana->Activo());

    // Stopped again; a wrong password on "Restaurar" is logged with the name
    // typed and leaves "Iniciar" with nothing to trust.
    entrar("gerente", "demo", false);
    m_respuestas = {6};
    m_ventana->mnuTrayDetener_Click();
    entrar("pepe", "mal", true);
    m_ventana->mnuTrayRestaurar_Click();
    EXPECT_TRUE(Bitacora().endsWith("Se manda a restaurar por pepe\r\n")) << Bitacora().toStdString();
    m_ventana->mnuTrayIniciar_Click();
    EXPECT_FALSE(m_ventana->Activo());

    // The connection drops under the login: its failure is logged and
    // handled, the dialog stays until cancelled, and nothing changes.
    Conexion::Instancia().Cerrar();
    m_mensajes.clear();
    entrar("gerente", "demo", true);
    m_ventana->btn_Regresar_Click();
    m_ventana->mnuTrayCerrar_Click();
    EXPECT_TRUE(m_salidas.isEmpty());
    EXPECT_FALSE(m_mensajes.isEmpty());
    EXPECT_TRUE(m_ventana->Activo());
}
