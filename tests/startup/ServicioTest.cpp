#include "database/BaseDatos.h"
#include "impresora-virtual/ImpresoraPty.h"
#include "platform/Ajustes.h"
#include "startup/Arranque.h"
#include "testsupport/BaseDatosPrueba.h"
#include "testsupport/GestorServicio.h"

#include <QCoreApplication>
#include <QTimer>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

// A wrong database path under systemd: the server says why it waits in its
// status line, tells the manager it is up (so that systemctl start returns),
// stays up, and serves as soon as the settings file is mended, long before its
// pause would end; then its ticks feed the watchdog.
TEST(Servicio, SaysWhyItWaitsAndServesOnceTheSettingsAreMended) {
    EntornoPrueba entorno;
    BaseDatosPrueba bd(entorno, Motor::Sqlite);
    ASSERT_TRUE(bd.Preparar(true));
    Conexion::Instancia().Ejecutar("INSERT INTO Terminal (ID_Terminal) VALUES (1)");
    Conexion::Instancia().Ejecutar("INSERT INTO Parametros (Id_Parametro, Valor_Num) VALUES ('TERMINAL', 1)");
    Conexion::Instancia().Ejecutar("INSERT INTO Impresora (Id_Impresora, ID_Terminal, Puerto, Modo, Redirigido, "
                                   "Estado_Impresora, esdecheques) VALUES (1, 1, 'COM1', 'E', 1, 'A', 0)");
    Ajustes::Guardar("ORLAN", "Configuracion", "Terminal", "1");
    // The printer is a pseudo-terminal of the test's own: a machine's ttyS0
    // may not exist or may be closed to this user.
    ImpresoraPty impresora;
    impresora.Iniciar();
    Ajustes::Guardar("ORLAN", "Puertos", "COM1", impresora.Ruta());
    const QString base = Ajustes::Leer("ORLAN", "Configuracion", "BASE_DE_DATOS");
    Ajustes::Guardar("ORLAN", "Configuracion", "BASE_DE_DATOS", entorno.Raiz() + "/no/existe/dborlan.db");

    Gestor gestor(entorno.Raiz() + "/notify");
    OpcionesArranque opciones;
    opciones.servicio = true;
    opciones.reintentar = true;
    opciones.primeraPausa = opciones.pausaMaxima = opciones.pausaConexion = 1h;
    bool arreglado = false;
    QTimer mirar;
    QObject::connect(&mirar, &QTimer::timeout, [&] {
        if (!arreglado && gestor.Indice("READY=1") >= 0) {
            arreglado = true;
            Ajustes::Guardar("ORLAN", "Configuracion", "BASE_DE_DATOS", base);
        }
        if (gestor.Indice("STATUS=sirviendo") >= 0 && gestor.Indice("WATCHDOG=1") >= 0) {
            QCoreApplication::exit(0);
        }
    });
    mirar.start(20);
    QTimer::singleShot(60s, [] { QCoreApplication::exit(0); });
    EXPECT_EQ(Arrancar(opciones), 0);

    const QStringList& mensajes = gestor.Mensajes();
    const QString todos = mensajes.join(u'|');
    ASSERT_GE(gestor.Indice("STATUS=sin base de datos: "), 0) << todos.toStdString();
    const QString espera = mensajes[gestor.Indice("STATUS=sin base de datos: ")];
    EXPECT_TRUE(espera.contains("BASE_DE_DATOS") && espera.contains("nuevo intento en 3600 s")) << espera.toStdString();
    EXPECT_GT(gestor.Indice("READY=1"), gestor.Indice("STATUS=sin base de datos: ")) << todos.toStdString();
    EXPECT_EQ(mensajes.count("READY=1"), 1) << todos.toStdString();
    EXPECT_TRUE(mensajes.contains("STATUS=sirviendo 1 impresora")) << todos.toStdString();
    EXPECT_GE(gestor.Indice("WATCHDOG=1"), 0) << todos.toStdString();
}

TEST(Servicio, ThePauseDoublesUpToItsCap) {
    std::vector<long> pausas;
    for (int fallos = 0; fallos < 9; ++fallos) {
        pausas.push_back(static_cast<long>(PausaReintento(fallos, 5s, 300s).count() / 1000));
    }
    EXPECT_EQ(pausas, (std::vector<long>{5, 10, 20, 40, 80, 160, 300, 300, 300}));
}
