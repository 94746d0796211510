#include "TerminalPrueba.h"
#include "database/BaseDatos.h"
#include "platform/Ajustes.h"
#include "startup/ProveedorCredenciales.h"
#include "testsupport/BaseDatosPrueba.h"
#include "testsupport/DatosCola.h"
#include "testsupport/EscritorioPrueba.h"

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
