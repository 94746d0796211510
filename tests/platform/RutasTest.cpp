#include "platform/Rutas.h"
#include "testsupport/EntornoPrueba.h"

#include <gtest/gtest.h>

TEST(Rutas, DriveCMapsUnderTheDataDirectory) {
    EntornoPrueba entorno;
    EXPECT_EQ(Rutas::RaizUnidad(), entorno.Datos());
    EXPECT_EQ(Rutas::Local("C:\\nodra\\log"), entorno.Datos() + "/nodra/log");
    EXPECT_EQ(Rutas::Local("c:/TT.LOG"), entorno.Datos() + "/TT.LOG");
    EXPECT_EQ(Rutas::Local("C:\\"), entorno.Datos());
    EXPECT_EQ(Rutas::Local("/var/tmp/x"), "/var/tmp/x");
    EXPECT_EQ(Rutas::DirectorioConfiguracion(), entorno.Configuracion());

    qputenv("XDG_DATA_HOME", "relativo/no/vale");
    EXPECT_TRUE(Rutas::RaizUnidad().endsWith("/.local/share/orlan"));
}
