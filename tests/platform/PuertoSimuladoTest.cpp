#include "platform/PuertoSimulado.h"
#include "platform/Ajustes.h"
#include "platform/PuertoDirecto.h"
#include "testsupport/EntornoPrueba.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>

namespace {

// Data byte, strobe on, strobe off: what the output routine does per byte.
void Estrobar(PuertoES& puerto, quint8 byte) {
    puerto.write8(0x378, byte);
    puerto.write8(0x37A, 0x05);
    puerto.write8(0x37A, 0x04);
}

} // namespace

TEST(PuertoSimulado, CaptureFile) {
    EntornoPrueba entorno;
    const QString ruta = entorno.Datos() + "/lpt/378.bin";
    {
        PuertoSimulado puerto;
        EXPECT_EQ(puerto.RutaCaptura(), ruta);
        Estrobar(puerto, 'a');
        EXPECT_FALSE(QFile::exists(ruta)) << "held back until flushed";
        puerto.Vaciar();
        EXPECT_EQ(EntornoPrueba::Leer(ruta), "a");

        // A reader removes the file: the next bytes start a new one.
        QFile::remove(ruta);
        Estrobar(puerto, 'b');
        puerto.Vaciar();
        EXPECT_EQ(EntornoPrueba::Leer(ruta), "b");

        // Bytes strobed while the printer cannot take them are lost.
        puerto.EstablecerEstado(PuertoSimulado::kSinPapel);
        Estrobar(puerto, 'x');
        puerto.EstablecerEstado(PuertoSimulado::kListo);
        puerto.OcupadoDurante(1);
        Estrobar(puerto, 'y');
        EXPECT_EQ(puerto.Perdidos(), "xy");
        EXPECT_EQ(puerto.read8(0x379), 0x58) << "the busy spell lasts one status read";

        // A big output goes to the file without waiting for a flush.
        for (int i = 0; i < 64 * 1024; ++i) {
            Estrobar(puerto, 'c');
        }
        EXPECT_EQ(EntornoPrueba::Leer(ruta).size(), 1 + 64 * 1024);
        Estrobar(puerto, 'd');
    }
    const QByteArray archivo = EntornoPrueba::Leer(ruta);
    EXPECT_EQ(archivo.size(), 2 + 64 * 1024);
    EXPECT_TRUE(archivo.endsWith("cd")) << "flushed when the port goes away";

    PuertoSimulado::Opciones opciones;
    opciones.base = 0x3BC;
    opciones.archivos = false;
    PuertoSimulado sinArchivos(opciones);
    sinArchivos.write8(0x3BC, 'z');
    sinArchivos.write8(0x3BE, 1);
    sinArchivos.Vaciar();
    EXPECT_EQ(sinArchivos.Capturado(), "z");
    EXPECT_FALSE(QFile::exists(entorno.Datos() + "/lpt/3BC.bin"));
}

TEST(PuertoSimulado, ConditionFile) {
    EntornoPrueba entorno;
    PuertoSimulado puerto;
    puerto.EstablecerEstado(0x12);
    EXPECT_EQ(puerto.read8(0x379), 0x12) << "no file: the condition set in-process";

    const struct {
        const char* contenido;
        int crudo;
    } casos[] = {{"listo\n", 0xD8}, {"ocupado", 0x58}, {" SIN-PAPEL\r\n", 0xF8}, {"error", 0xD0},
                 {"0x5f", 0x5F},    {"0x", 0x12},      {"roto", 0x12},           {"0x123", 0x12}};
    for (const auto& caso : casos) {
        SCOPED_TRACE(caso.contenido);
        entorno.Escribir(puerto.RutaEstado(), caso.contenido);
        puerto.ReleerEstado();
        EXPECT_EQ(puerto.read8(0x379), caso.crudo);
    }

    // Read at most once a second: a change is not seen at once.
    entorno.Escribir(puerto.RutaEstado(), "ocupado");
    puerto.ReleerEstado();
    EXPECT_EQ(puerto.read8(0x379), 0x58);
    entorno.Escribir(puerto.RutaEstado(), "listo");
    for (int i = 0; i < 1000; ++i) {
        puerto.read8(0x379);
    }
    EXPECT_EQ(puerto.read8(0x379), 0x58);

    QFile::remove(puerto.RutaEstado());
    puerto.ReleerEstado();
    EXPECT_EQ(puerto.read8(0x379), 0x12);
}

TEST(PuertoES, BackendChosenBySetting) {
    EntornoPrueba entorno;
    PuertoES::Establecer(nullptr);
    EXPECT_NE(dynamic_cast<PuertoDirecto*>(&PuertoES::Actual()), nullptr);

    Ajustes::Guardar("ORLAN", "Puertos", "LPT", "Simulado");
    PuertoES::Establecer(nullptr);
    auto* simulado = dynamic_cast<PuertoSimulado*>(&PuertoES::Actual());
    ASSERT_NE(simulado, nullptr);
    EXPECT_EQ(simulado->Base(), 0x378);
    EXPECT_EQ(simulado->TipoPuerto(), PuertoSimulado::Tipo::Spp);
    Estrobar(*simulado, 'q');
    EXPECT_EQ(simulado->Capturado(), "") << "the server's port keeps no copy in memory";
    PuertoES::Establecer(nullptr);
    EXPECT_EQ(EntornoPrueba::Leer(entorno.Datos() + "/lpt/378.bin"), "q");
}

TEST(PuertoDirecto, RefusedPermissionFailsEveryCall) {
    int pedidos = 0;
    PuertoDirecto puerto([&pedidos](quint16 bloque) {
        ++pedidos;
        EXPECT_EQ(bloque, 0x378);
        return EPERM;
    });
    EXPECT_EQ(puerto.read8(0x379), -1);
    EXPECT_FALSE(puerto.write8(0x378, 0x41));
    EXPECT_EQ(puerto.read8(0x77A), -1);
    EXPECT_EQ(pedidos, 1) << "a refusal is final";
    EXPECT_EQ(puerto.Error(), "Sin acceso a los puertos de E/S (0x378): " + QString::fromLocal8Bit(strerror(EPERM)));
}
