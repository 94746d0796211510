#include "ports/PuertoSimulado.h"
#include "platform/Ajustes.h"
#include "platform/Reloj.h"
#include "ports/PuertoDirecto.h"
#include "testsupport/EntornoPrueba.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <utility>

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
    PuertoSimulado puerto;
    Estrobar(puerto, 'a');
    puerto.Vaciar();

    // A reader removes the file: the next bytes start a new one.
    QFile::remove(ruta);
    Estrobar(puerto, 'b');
    puerto.Vaciar();
    EXPECT_EQ(EntornoPrueba::Leer(ruta), "b");

    // A big output goes to the file without waiting for a flush.
    for (int i = 0; i < 64 * 1024; ++i) {
        Estrobar(puerto, 'c');
    }
    EXPECT_EQ(EntornoPrueba::Leer(ruta).size(), 1 + 64 * 1024);
}

TEST(PuertoSimulado, ConditionFile) {
    EntornoPrueba entorno;
    PuertoSimulado puerto;
    puerto.EstablecerEstado(0x12);
    const std::pair<const char*, int> casos[] = {{"listo\n", 0xD8}, {" SIN-PAPEL\r\n", 0xF8}, {"error", 0xD0},
                                                 {"0x5f", 0x5F},    {"roto", 0x12},           {"0x123", 0x12},
                                                 {"ocupado", 0x58}};
    for (const auto& [contenido, crudo] : casos) {
        SCOPED_TRACE(contenido);
        entorno.Escribir(puerto.RutaEstado(), contenido);
        puerto.ReleerEstado();
        EXPECT_EQ(puerto.read8(0x379), crudo);
    }

    // Read at most once a second, on time alone: however many status reads
    // come within the second, the change is not seen; the first read after it,
    // however few came before, sees it.
    QDateTime ahora(QDate(2026, 12, 5), QTime(10, 0));
    Reloj::Establecer([&ahora] { return ahora; });
    puerto.ReleerEstado();
    EXPECT_EQ(puerto.read8(0x379), 0x58);
    entorno.Escribir(puerto.RutaEstado(), "listo");
    for (int i = 0; i < 1000; ++i) {
        puerto.read8(0x379);
    }
    ahora = ahora.addMSecs(999);
    EXPECT_EQ(puerto.read8(0x379), 0x58);
    ahora = ahora.addMSecs(1);
    EXPECT_EQ(puerto.read8(0x379), 0xD8);
    entorno.Escribir(puerto.RutaEstado(), "error");
    ahora = ahora.addSecs(18);
    EXPECT_EQ(puerto.read8(0x379), 0xD0);
    Reloj::Establecer({});

    // Without the file, the condition set in-process applies again.
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
    Estrobar(*simulado, 'q');
    EXPECT_EQ(simulado->Capturado(), "") << "the server's port keeps no copy in memory";
    PuertoES::Establecer(nullptr);
    EXPECT_EQ(EntornoPrueba::Leer(entorno.Datos() + "/lpt/378.bin"), "q");
}

TEST(PuertoDirecto, RefusedPermissionFailsEveryCall) {
    int pedidos = 0;
    PuertoDirecto puerto([&pedidos](quint16) {
        ++pedidos;
        return EPERM;
    });
    EXPECT_EQ(puerto.read8(0x379), -1);
    EXPECT_FALSE(puerto.write8(0x378, 0x41));
    EXPECT_EQ(puerto.read8(0x77A), -1);
    EXPECT_EQ(pedidos, 1) << "a refusal is final";
    EXPECT_EQ(puerto.Error(), "Sin acceso a los puertos de E/S (0x378): " + QString::fromLocal8Bit(strerror(EPERM)));
}
