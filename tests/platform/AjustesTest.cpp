#include "platform/Ajustes.h"
#include "testsupport/EntornoPrueba.h"

#include <QFile>
#include <gtest/gtest.h>

TEST(Ajustes, NamesCompareWithoutCaseAndKeepTheFirstSpelling) {
    EntornoPrueba entorno;
    EXPECT_EQ(Ajustes::Leer("ORLAN", "Configuracion", "Terminal", "0"), "0");
    ASSERT_TRUE(Ajustes::Guardar("ORLAN", "LPT1", "Modo", "C"));
    EXPECT_EQ(Ajustes::Leer("orlan", "lpt1", "MODO", "E"), "C");
    ASSERT_TRUE(Ajustes::Guardar("orlan", "lpt1", "modo", "S"));
    EXPECT_EQ(Ajustes::Leer("Orlan", "LPT1", "Modo"), "S");

    // Written to disk before Guardar returned, under the first spelling.
    const QByteArray disco = EntornoPrueba::Leer(entorno.Configuracion() + "/orlan.ini");
    EXPECT_EQ(disco, "[LPT1]\nModo=S\n");
}

TEST(Ajustes, ValuesSurviveSpecialCharactersAndOutsideEdits) {
    EntornoPrueba entorno;
    const QString valor = QStringLiteral("  línea 1\\n\nseñal=2 ; [x]  ");
    ASSERT_TRUE(Ajustes::Guardar("ORLAN", "COM1", "Nombre", valor));
    EXPECT_EQ(Ajustes::Leer("ORLAN", "COM1", "Nombre"), valor);

    // A technician edits the file by hand while the program runs.
    entorno.Escribir(Ajustes::RutaArchivo("ORLAN"), "[Configuracion]\nTerminal = 7\nServidor=db.local\n");
    EXPECT_EQ(Ajustes::Leer("ORLAN", "Configuracion", "Terminal"), "7");
    EXPECT_EQ(Ajustes::Leer("ORLAN", "COM1", "Nombre", "ninguno"), "ninguno");
}

TEST(Ajustes, DamagedOrUnreadableFilesWarnAndFallBackToDefaults) {
    EntornoPrueba entorno;
    QStringList avisos;
    Ajustes::EstablecerAvisos([&](const QString& t) { avisos << t; });
    entorno.Escribir(Ajustes::RutaArchivo("ORLAN"),
                     "clave suelta=1\n[Configuracion]\nbasura sin igual\nTerminal=3\n\x01\x02\n");
    EXPECT_EQ(Ajustes::Leer("ORLAN", "Configuracion", "Terminal", "0"), "3");
    EXPECT_EQ(Ajustes::Leer("ORLAN", "Configuracion", "Servidor", "x"), "x");
    ASSERT_EQ(avisos.size(), 3);
    EXPECT_TRUE(avisos[0].contains("linea 1"));

    // A directory where the file should be: nothing to read, nothing written.
    avisos.clear();
    QFile::remove(Ajustes::RutaArchivo("roto"));
    QDir().mkpath(Ajustes::RutaArchivo("roto"));
    EXPECT_EQ(Ajustes::Leer("roto", "a", "b", "d"), "d");
    EXPECT_FALSE(Ajustes::Guardar("roto", "a", "b", "c"));
    EXPECT_FALSE(avisos.isEmpty());
    Ajustes::EstablecerAvisos(nullptr);
}
