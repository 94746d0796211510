#include "TerminalPrueba.h"
#include "credentials/ProveedorCredenciales.h"
#include "database/BaseDatos.h"
#include "platform/Ajustes.h"
#include "testsupport/BaseDatosPrueba.h"
#include "testsupport/DatosCola.h"
#include "testsupport/EscritorioPrueba.h"
#include "testsupport/ImpresoraVirtual.h"
#include "testsupport/Recibos.h"

#include <QFile>
#include <QThread>
#include <gtest/gtest.h>

// The real orlan-cola in window mode on a virtual X server with a real
// notification area, driven with xdotool as an operator would: terminal 1
// with its receipt printer on the simulated parallel port, and the operator
// "gerente" (password "demo") allowed to control the server.
class Operador : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_bd.Preparar()) << m_bd.Error().toStdString();
        Ajustes::Guardar("ORLAN", "Configuracion", "Terminal", "1");
        Ajustes::Guardar("ORLAN", "Puertos", "LPT", "simulado");
        Conexion::Instancia().Ejecutar("INSERT INTO Terminal (ID_Terminal) VALUES (1)");
        Conexion::Instancia().Ejecutar("INSERT INTO Parametros (Id_Parametro, Valor_Num) VALUES ('TERMINAL', 1)");
        InsertarImpresora(1, 1, 0);
        InsertarGerente(*ProveedorCredenciales().ObtenerLlave());
    }

    // Starts orlan-cola without --servicio and waits until it serves.
    QProcess& Arrancar() {
        QProcess& cola = m_escritorio.Iniciar(QStringLiteral(ORLAN_BUILD_DIR "/src/orlan-cola"), {},
                                              QProcessEnvironment::systemEnvironment());
        Esperar([&] { return Salida(cola).contains("sirviendo la cola") || cola.state() != QProcess::Running; }, 20);
        return cola;
    }
    QString Salida(QProcess& cola) { return m_salida += QString::fromUtf8(cola.readAll()); }

    // The first of the program's visible windows that lies inside (icon) or
    // outside (a box) the notification area, waiting up to 10 s for it.
    std::optional<QRect> Ventana(bool enBandeja) {
        std::optional<QRect> hallada;
        Esperar(
            [&] {
                for (const QRect& r : m_escritorio.Ventanas("orlan-cola")) {
                    if ((r.left() >= 1024 - 100 && r.top() < 32) == enBandeja) {
                        hallada = r;
                    }
                }
                return hallada.has_value();
            },
            10);
        return hallada;
    }

    // Right-clicks the icon and picks a menu item with the keyboard, going
    // down `bajadas` enabled items from the top.
    bool Menu(int bajadas) {
        const std::optional<QRect> icono = Ventana(true);
        if (!icono) {
            return false;
        }
        const QPoint centro = icono->center();
        m_escritorio.Xdotool({"mousemove", QString::number(centro.x()), QString::number(centro.y()), "click", "3"});
        if (!Esperar([&] { return m_escritorio.Ventanas("orlan-cola").size() > 1; }, 5)) {
            return false;
        }
        QStringList teclas{"key", "--delay", "100"};
        for (int i = 0; i < bajadas; ++i) {
            teclas << "Down";
        }
        m_escritorio.Xdotool(teclas << "Return");
        return true;
    }

    // Types into the login as an operator does: the user name where the
    // dialog starts, Tab to the password, then Enter.
    bool Login(const QString& usuario, const QString& contrasena) {
        if (m_escritorio.EsperarVentana("^Login$").isEmpty()) {
            return false;
        }
        for (const QStringList& paso : {QStringList{"type", "--delay", "30", usuario},
                                        {"key", "--delay", "100", "Tab"},
                                        {"type", "--delay", "30", contrasena},
                                        {"key", "Return"}}) {
            m_escritorio.Xdotool(paso);
        }
        return true;
    }

    // A login on a touch till of 1024 × 768 pixels (96 DPI, 15 twips a
    // pixel): the user name typed, the password touched on the on-screen
    // keyboard, a mistaken key taken back with "BORRAR", then "Aceptar" on
    // the keyboard and on the login. The keyboard's letter keys are the
    // largest that fit whole on its 9990-twip form: "BORRAR", two keys wide
    // right of "0", ends at the form's edge.
    bool LoginTactil(const QString& usuario, const QList<QPoint>& letras) {
        const auto pixeles = [](double x, double y) { return QPoint(qRound(x / 15), qRound(y / 15)); };
        const QString login = m_escritorio.EsperarVentana("^Login$");
        if (login.isEmpty()) {
            return false;
        }
        m_escritorio.Xdotool({"type", "--delay", "30", usuario});
        m_escritorio.Pulsar(login, pixeles(1440 + 3540 + 270, 120 + 900 + 232)); // the password's keyboard button
        const QString teclado = m_escritorio.EsperarVentana("^Ingresar contrase");
        if (teclado.isEmpty()) {
            return false;
        }
        const double w = (9990.0 - 600 - 10 * 20) / 12;
        const double h = w * 768 / 1024;
        const double inicioFila[] = {600, 930, 1230, 1530};
        for (const QPoint& letra : letras) { // (column, row) of the QWERTY rows
            m_escritorio.Pulsar(teclado, pixeles(inicioFila[letra.y()] + letra.x() * (w + 20) + w / 2,
                                                 2280 + letra.y() * (h + 20) + h / 2));
        }
        m_escritorio.Pulsar(teclado, pixeles(600 + 10 * (w + 20) + w, 2280 + h / 2)); // "BORRAR"
        m_escritorio.Pulsar(teclado, pixeles(3360 + 1815 / 2, 600 + 855 / 2));        // "Aceptar"
        m_escritorio.Pulsar(login, pixeles(2520 + 750, 1920 + 277));                  // the login's "Aceptar"
        return true;
    }

    // Clicks "Si" in the message box: the left one of the two buttons
    // centred above its bottom margin.
    bool Si() {
        const std::optional<QRect> caja = Ventana(false);
        if (!caja) {
            return false;
        }
        const QPoint si(caja->left() + caja->width() / 2 - 53, caja->bottom() - 56);
        m_escritorio.Xdotool({"mousemove", QString::number(si.x()), QString::number(si.y()), "click", "1"});
        return Esperar([&] { return m_escritorio.Ventanas("orlan-cola").size() == 1; }, 10);
    }

    // Until `condicion` holds or `segundos` pass: every message box the
    // program shows is counted and closed with its one button, "Aceptar", as
    // an operator would (a box holds the tick until it is closed).
    template <typename F> bool CerrarCajasHasta(F&& condicion, double segundos, int& cajas) {
        return Esperar(
            [&] {
                for (const QRect& r : m_escritorio.Ventanas("orlan-cola")) {
                    if (r.left() >= 1024 - 100 && r.top() < 32) {
                        continue; // the icon
                    }
                    ++cajas;
                    const QPoint aceptar(r.center().x(), r.bottom() - 56);
                    m_escritorio.Xdotool(
                        {"mousemove", QString::number(aceptar.x()), QString::number(aceptar.y()), "click", "1"});
                    Esperar([&] { return !m_escritorio.Ventanas("orlan-cola").contains(r); }, 10);
                }
                return condicion();
            },
            segundos);
    }

    // Sends SIGTERM: the program ends normally, "Apagando" its last log line.
    void Terminar(QProcess& cola) {
        cola.terminate();
        ASSERT_TRUE(cola.waitForFinished(10000)) << Bitacora().toStdString();
        EXPECT_EQ(cola.exitStatus(), QProcess::NormalExit) << cola.readAll().toStdString();
        EXPECT_EQ(cola.exitCode(), 0);
        EXPECT_TRUE(Bitacora().endsWith("Apagando Servidor de Comunicaciones\r\n")) << Bitacora().toStdString();
    }

    QString Bitacora() const { return EntornoPrueba::Bitacora(m_entorno.Datos()); }
    QByteArray Captura() const { return EntornoPrueba::Leer(m_entorno.Datos() + "/lpt/378.bin"); }
    QString Trabajos() { return Lista("SELECT IdTrabajo FROM ColaImpresion ORDER BY IdTrabajo"); }

    EntornoPrueba m_entorno;
    BaseDatosPrueba m_bd{m_entorno, Motor::Sqlite};
    EscritorioPrueba m_escritorio;
    QString m_salida;
};

TEST_F(Operador, WithoutANotificationAreaTheWindowStaysInViewAndServes) {
    ASSERT_TRUE(m_escritorio.Abrir(false)) << m_escritorio.Error().toStdString();
    InsertarTrabajo(1, 1, {"uno"});
    QProcess& cola = Arrancar();
    ASSERT_TRUE(m_salida.contains("sirviendo la cola de impresion (ventana)")) << m_salida.toStdString();
    EXPECT_FALSE(m_escritorio.EsperarVentana("^Servidor de Impresion$").isEmpty());
    EXPECT_TRUE(Esperar([&] { return Trabajos().isEmpty(); }, 10));
    EXPECT_EQ(Captura(), ImpresoEpson("uno"));
    EXPECT_TRUE(Bitacora().contains("no tiene area de notificacion")) << Bitacora().toStdString();
    EXPECT_EQ(cola.state(), QProcess::Running);

    // SIGTERM ends window mode as it ends service mode: the window in view
    // does not hold the program up.
    Terminar(cola);
}

// With a window manager on a 1024 × 768 screen: a login through the
// on-screen keyboard, the close box of the restored window puts the queue
// back to work, and SIGTERM ends the program while the window is open.
TEST_F(Operador, TheCloseBoxResumesPrintingAndSigtermEndsTheRestoredWindow) {
    ASSERT_TRUE(m_escritorio.Abrir(true, true)) << m_escritorio.Error().toStdString();
    QProcess& cola = Arrancar();
    ASSERT_TRUE(m_salida.contains("sirviendo la cola de impresion (ventana)")) << m_salida.toStdString();

    // "Restaurar" with a valid login shows the window and stops printing.
    // The password goes in by touch: D, E, M, O and a stray X.
    ASSERT_TRUE(Menu(1));
    ASSERT_TRUE(LoginTactil("gerente", {{2, 2}, {2, 1}, {6, 3}, {8, 1}, {1, 3}}));
    const QString ventana = m_escritorio.EsperarVentana("^Servidor de Impresion$");
    ASSERT_FALSE(ventana.isEmpty());
    InsertarTrabajo(1, 1, {"uno"});

    // Alt+F4: the window manager closes the window as its close box does.
    m_escritorio.Xdotool({"windowactivate", "--sync", ventana, "key", "alt+F4"});
    EXPECT_TRUE(Esperar([&] { return Trabajos().isEmpty(); }, 10)) << Bitacora().toStdString();
    EXPECT_EQ(Captura(), ImpresoEpson("uno"));

    // Restored again, one SIGTERM ends the program.
    ASSERT_TRUE(Menu(1));
    ASSERT_TRUE(Login("gerente", "demo"));
    ASSERT_FALSE(m_escritorio.EsperarVentana("^Servidor de Impresion$").isEmpty());
    Terminar(cola);
}

TEST_F(Operador, StopsStartsAndClosesTheServerFromTheTrayIcon) {
    ASSERT_TRUE(m_escritorio.Abrir()) << m_escritorio.Error().toStdString();
    QProcess& cola = Arrancar();
    ASSERT_TRUE(m_salida.contains("sirviendo la cola de impresion (ventana)")) << m_salida.toStdString();
    InsertarTrabajo(1, 1, {"uno"});
    ASSERT_TRUE(Esperar([&] { return Trabajos().isEmpty(); }, 10));

    // "Detener" (Iniciar is disabled and skipped), a valid login, "Si".
    ASSERT_TRUE(Menu(2));
    ASSERT_TRUE(Login("gerente", "demo"));
    ASSERT_TRUE(Si());
    // Jobs now wait in the database through several ticks.
    InsertarTrabajo(2, 1, {"dos"});
    QThread::sleep(5);
    EXPECT_EQ(Trabajos(), "2");
    EXPECT_EQ(Captura(), ImpresoEpson("uno"));

    // "Iniciar" asks for no login and the job prints.
    ASSERT_TRUE(Menu(2));
    EXPECT_TRUE(Esperar([&] { return Trabajos().isEmpty(); }, 10)) << Bitacora().toStdString();
    EXPECT_EQ(Captura(), ImpresoEpson("uno") + ImpresoEpson("dos"));

    // "Cerrar" with a valid login ends the program, its line in the log.
    ASSERT_TRUE(Menu(3));
    ASSERT_TRUE(Login("gerente", "demo"));
    ASSERT_TRUE(cola.waitForFinished(10000));
    EXPECT_EQ(cola.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(cola.exitCode(), 0);
    const QString bitacora = Bitacora();
    EXPECT_TRUE(bitacora.contains("Iniciando Servidor de Comunicaciones\r\n")) << bitacora.toStdString();
    EXPECT_TRUE(bitacora.endsWith("Apagando Servidor de Comunicaciones\r\n")) << bitacora.toStdString();
}

// A USB printer modelled on a real one (1,000 bytes a second, a 4 KB buffer,
// GS r answered after printing) with no backup, whose device goes away in the
// middle of a job and comes back: no job is lost or printed twice, and the
// outage shows at most one message box, never one per failed write or
// statement.
TEST_F(Operador, AUsbPrinterGoneMidJobShowsAtMostOneBoxAndLosesNoJob) {
    ASSERT_TRUE(m_escritorio.Abrir()) << m_escritorio.Error().toStdString();
    ImpresoraVirtual usb(m_entorno.Raiz() + "/usb.bin", m_entorno.Raiz() + "/lp0");
    ASSERT_TRUE(usb.Iniciar({"--velocidad", "1000"}));
    Ajustes::Guardar("ORLAN", "Puertos", "COM1", "usb:" + usb.Destino());
    Conexion::Instancia().Ejecutar("UPDATE Impresora SET Puerto = 'COM1' WHERE Id_Impresora = 1");
    // About 2 KB a job: two seconds each at the printer's speed.
    for (int id = 1; id <= 5; ++id) {
        QList<std::optional<QString>> lineas = Marcado(id);
        for (int i = 0; i < 30; ++i) {
            lineas.insert(1, QStringLiteral("renglon %1 del pedido, 2 tacos al pastor y 1 agua").arg(i));
        }
        InsertarTrabajo(id, 1, lineas);
    }
    QProcess& cola = Arrancar();
    ASSERT_TRUE(m_salida.contains("sirviendo la cola de impresion (ventana)")) << m_salida.toStdString();

    int cajas = 0;
    // Unplugged while the second job is on paper, for four seconds.
    ASSERT_TRUE(CerrarCajasHasta([&] { return usb.Captura().contains("Trabajo 000002"); }, 30, cajas))
        << Bitacora().toStdString();
    usb.Matar();
    CerrarCajasHasta([] { return false; }, 4, cajas);
    ASSERT_TRUE(usb.Iniciar({"--velocidad", "1000"}));
    EXPECT_TRUE(CerrarCajasHasta([&] { return Trabajos().isEmpty(); }, 90, cajas)) << Bitacora().toStdString();
    EXPECT_LE(cajas, 1);
    // The server saw the device go: the job on paper was not confirmed, and
    // the printer, with nowhere to send its jobs, was held until it came back.
    const QString bitacora = Bitacora();
    EXPECT_TRUE(bitacora.contains("Cola Impresion, impresora 1 (COM1) sin respaldo")) << bitacora.toStdString();
    EXPECT_TRUE(bitacora.contains("Cola Impresion, impresora 1 (COM1) responde de nuevo")) << bitacora.toStdString();
    EXPECT_FALSE(bitacora.contains("BDME")) << bitacora.toStdString();

    const Recibos r = ContarRecibos({usb.Captura()});
    EXPECT_EQ(r.enteros, (QMap<int, int>{{1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 1}})) << Bitacora().toStdString();
    EXPECT_EQ(r.enBlanco, 0);
    EXPECT_EQ(cola.state(), QProcess::Running);
    Terminar(cola);
}
