#include "TerminalPrueba.h"
#include "crypto/clsDES.h"
#include "database/BaseDatos.h"
#include "platform/Ajustes.h"
#include "startup/ProveedorCredenciales.h"
#include "testsupport/BaseDatosPrueba.h"
#include "testsupport/DatosCola.h"
#include "testsupport/EscritorioPrueba.h"

#include <QFile>
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
        clsDES des;
        des.Key(*ProveedorCredenciales().ObtenerLlave());
        for (const QString& sql :
             {QStringLiteral("INSERT INTO Empleado (ID_Empleado, Usuario, Contraseña) VALUES (1, 'gerente', '%1')")
                  .arg(des.EncryptString("demo", {}, true)),
              QStringLiteral("INSERT INTO EmpleadosXGrupo (ID_Empleado, ID_Grupo_Trabajo) VALUES (1, 1)"),
              QStringLiteral("INSERT INTO PermisosXGrupo_Trabajo (ID_Grupo_Trabajo, ID_Permiso) VALUES (1, 27)")}) {
            Conexion::Instancia().Ejecutar(sql);
        }
    }

    // Starts orlan-cola without --servicio and waits until it serves.
    QProcess& Arrancar() {
        QProcess& cola = m_escritorio.Iniciar(QStringLiteral(ORLAN_BUILD_DIR "/src/orlan-cola"), {},
                                              QProcessEnvironment::systemEnvironment());
        Esperar([&] { return Salida(cola).contains("sirviendo la cola") || cola.state() != QProcess::Running; }, 20);
        return cola;
    }
    QString Salida(QProcess& cola) { return m_salida += QString::fromUtf8(cola.readAll()); }

    // The program's window lying inside the notification area.
    std::optional<QRect> Icono() {
        std::optional<QRect> icono;
        Esperar(
            [&] {
                for (const QRect& r : m_escritorio.Ventanas("orlan-cola")) {
                    if (r.left() >= 1024 - 100 && r.top() < 32) {
                        icono = r;
                    }
                }
                return icono.has_value();
            },
            10);
        return icono;
    }

    // Right-clicks the icon and picks a menu item with the keyboard, going
    // down `bajadas` enabled items from the top.
    bool Menu(int bajadas) {
        const std::optional<QRect> icono = Icono();
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

    QString Bitacora() const {
        QString todo;
        const QDir dir(m_entorno.Datos() + "/nodra");
        for (const QString& nombre : dir.entryList({"OrlanComTra*.log"}, QDir::Files, QDir::Name)) {
            todo += QString::fromUtf8(EntornoPrueba::Leer(dir.filePath(nombre)));
        }
        return todo;
    }
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

TEST_F(Operador, WithoutADisplayWindowModeSaysSoAndPointsAtTheService) {
    QProcess cola;
    QProcessEnvironment entorno = QProcessEnvironment::systemEnvironment();
    entorno.remove("DISPLAY");
    entorno.remove("WAYLAND_DISPLAY");
    entorno.remove("QT_QPA_PLATFORM");
    cola.setProcessEnvironment(entorno);
    cola.setProcessChannelMode(QProcess::MergedChannels);
    cola.start(ORLAN_BUILD_DIR "/src/orlan-cola", QStringList());
    ASSERT_TRUE(cola.waitForFinished(20000));
    EXPECT_EQ(cola.exitCode(), 4);
    EXPECT_TRUE(cola.readAll().contains("orlan-cola --servicio"));
}
