#include "credentials/ProveedorCredenciales.h"
#include "database/BaseDatos.h"
#include "impresora-virtual/ImpresoraPty.h"
#include "platform/Ajustes.h"
#include "startup/Arranque.h"
#include "testsupport/BaseDatosPrueba.h"
#include "testsupport/GestorServicio.h"
#include "testsupport/ServidorPostgres.h"

#include <QCoreApplication>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

// A PostgreSQL server that comes up after the terminal (a power cut, the till
// boots first) is tried every pausaConexion, never on the doubling pause, and
// served as soon as it answers; a refused password is what doubles, and the
// status line names the credentials file, the one to mend.
TEST(Servicio, TriesALateDatabaseEveryFewSecondsAndBacksOffOnlyOnAPassword) {
    EntornoPrueba entorno;
    BaseDatosPrueba bd(entorno, Motor::PostgreSql);
    ASSERT_TRUE(bd.Preparar(true)) << bd.Error().toStdString();
    Conexion::Instancia().Ejecutar("INSERT INTO Terminal (ID_Terminal) VALUES (1)");
    Conexion::Instancia().Ejecutar("INSERT INTO Parametros (Id_Parametro, Valor_Num) VALUES ('TERMINAL', 1)");
    Conexion::Instancia().Ejecutar("INSERT INTO Impresora (Id_Impresora, ID_Terminal, Puerto, Modo, Redirigido, "
                                   "Estado_Impresora, esdecheques) VALUES (1, 1, 'COM1', 'E', 1, 'A', 0)");
    Ajustes::Guardar("ORLAN", "Configuracion", "Terminal", "1");
    ImpresoraPty impresora;
    impresora.Iniciar();
    Ajustes::Guardar("ORLAN", "Puertos", "COM1", impresora.Ruta());
    ServidorPostgres& servidor = ServidorPostgres::Compartido();

    OpcionesArranque opciones;
    opciones.servicio = true;
    opciones.reintentar = true;
    opciones.primeraPausa = 100ms;
    opciones.pausaMaxima = 1h;
    opciones.pausaConexion = 300ms;
    // Runs the start-up until it serves, calling `despues` once `fallos`
    // waiting status lines have been sent; returns those lines.
    const auto Arrancando = [&](const QString& nombre, int fallos, const std::function<void()>& despues) {
        Gestor gestor(entorno.Raiz() + "/" + nombre);
        bool hecho = false;
        QTimer mirar;
        QObject::connect(&mirar, &QTimer::timeout, [&] {
            const QStringList esperas = gestor.Mensajes().filter("STATUS=sin base de datos");
            if (!hecho && esperas.size() >= fallos) {
                hecho = true;
                despues();
            }
            if (gestor.Indice("STATUS=sirviendo") >= 0) {
                QCoreApplication::exit(0);
            }
        });
        mirar.start(20);
        QTimer::singleShot(60s, [] { QCoreApplication::exit(0); });
        EXPECT_EQ(Arrancar(opciones), 0);
        EXPECT_GE(gestor.Indice("STATUS=sirviendo 1 impresora"), 0) << gestor.Mensajes().join('|').toStdString();
        return gestor.Mensajes().filter("STATUS=sin base de datos");
    };

    // The status line is sent when it changes: one line for every try of
    // the same pause. The database comes back after several tries.
    ASSERT_TRUE(servidor.Detener());
    const QStringList tarde = Arrancando("tarde", 1, [&] {
        QTimer::singleShot(2s, [&] { EXPECT_TRUE(servidor.Iniciar()) << servidor.Error().toStdString(); });
    });
    ASSERT_FALSE(tarde.isEmpty());
    for (const QString& linea : tarde) {
        EXPECT_TRUE(linea.contains("nuevo intento en 0.3 s") && !linea.contains("credenciales rechazadas"))
            << linea.toStdString();
    }

    BaseDatosPrueba::EscribirCredenciales(QByteArray("Usuario=") + ServidorPostgres::kUsuario +
                                          "\nContrasena=la mala\nLlave=llave\n");
    const QStringList rechazada = Arrancando("rechazada", 3, [] {
        BaseDatosPrueba::EscribirCredenciales(QByteArray("Usuario=") + ServidorPostgres::kUsuario +
                                              "\nContrasena=" + ServidorPostgres::kContrasena + "\nLlave=llave\n");
    });
    ASSERT_GE(rechazada.size(), 3);
    for (int i = 0; i < 3; ++i) {
        const QString& linea = rechazada[i];
        EXPECT_TRUE(linea.contains("credenciales rechazadas; nuevo intento en " + QString::number(0.1 * (1 << i)) +
                                   " s o al cambiar " + ProveedorCredenciales::RutaArchivo()))
            << linea.toStdString();
    }
}
