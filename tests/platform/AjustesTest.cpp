#include "platform/Ajustes.h"
#include "testsupport/EntornoPrueba.h"

#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A fresh settings store whose warnings are collected in m_avisos (and
// unhooked again even when a test stops early).
class ArchivoAjustes : public ::testing::Test {
protected:
    void SetUp() override {
        Ajustes::EstablecerAvisos([this](const QString& t) { m_avisos << t; });
    }
    void TearDown() override { Ajustes::EstablecerAvisos(nullptr); }

    EntornoPrueba m_entorno;
    QStringList m_avisos;
};

} // namespace

TEST_F(ArchivoAjustes, NamesCompareWithoutCaseAndKeepTheFirstSpelling) {
    EXPECT_EQ(Ajustes::Leer("ORLAN", "Configuracion", "Terminal", "0"), "0");
    ASSERT_TRUE(Ajustes::Guardar("ORLAN", "LPT1", "Modo", "C"));
    EXPECT_EQ(Ajustes::Leer("orlan", "lpt1", "MODO", "E"), "C");
    ASSERT_TRUE(Ajustes::Guardar("orlan", "lpt1", "modo", "S"));
    EXPECT_EQ(Ajustes::Leer("Orlan", "LPT1", "Modo"), "S");

    // Written to disk before Guardar returned, under the first spelling.
    const QByteArray disco = EntornoPrueba::Leer(m_entorno.Configuracion() + "/orlan.ini");
    EXPECT_EQ(disco, "[LPT1]\nModo=S\n");
}

TEST_F(ArchivoAjustes, ValuesSurviveSpecialCharactersAndOutsideEdits) {
    const QString valor = QStringLiteral("  línea 1\\n\nseñal=2 ; [x]  ");
    ASSERT_TRUE(Ajustes::Guardar("ORLAN", "COM1", "Nombre", valor));
    EXPECT_EQ(Ajustes::Leer("ORLAN", "COM1", "Nombre"), valor);

    // A technician edits the file by hand while the program runs.
    m_entorno.Escribir(Ajustes::RutaArchivo("ORLAN"), "[Configuracion]\nTerminal = 7\nServidor=db.local\n");
    EXPECT_EQ(Ajustes::Leer("ORLAN", "Configuracion", "Terminal"), "7");
    EXPECT_EQ(Ajustes::Leer("ORLAN", "COM1", "Nombre", "ninguno"), "ninguno");
}

TEST_F(ArchivoAjustes, DamagedOrUnreadableFilesWarnAndFallBackToDefaults) {
    m_entorno.Escribir(Ajustes::RutaArchivo("ORLAN"),
                       "clave suelta=1\n[Configuracion]\nbasura sin igual\nTerminal=3\n\x01\x02\n");
    EXPECT_EQ(Ajustes::Leer("ORLAN", "Configuracion", "Terminal", "0"), "3");
    EXPECT_EQ(Ajustes::Leer("ORLAN", "Configuracion", "Servidor", "x"), "x");
    ASSERT_EQ(m_avisos.size(), 3);
    EXPECT_TRUE(m_avisos[0].contains("linea 1"));

    // A directory where the file should be: nothing to read, nothing written.
    m_avisos.clear();
    QFile::remove(Ajustes::RutaArchivo("roto"));
    QDir().mkpath(Ajustes::RutaArchivo("roto"));
    EXPECT_EQ(Ajustes::Leer("roto", "a", "b", "d"), "d");
    EXPECT_FALSE(Ajustes::Guardar("roto", "a", "b", "c"));
    EXPECT_FALSE(m_avisos.isEmpty());
}

TEST_F(ArchivoAjustes, NamesThatCannotBeReadBackAreRefusedAndTheFileStaysAsItWas) {
    ASSERT_TRUE(Ajustes::Guardar("ORLAN", "Configuracion", "Terminal", "3"));
    const QString ruta = Ajustes::RutaArchivo("ORLAN");
    const QByteArray antes = EntornoPrueba::Leer(ruta);

    // A printer's port name straight from the database.
    const QString puerto = "LPT2]\n[Configuracion]\nTerminal=7\n[X";
    const QString nombres[] = {puerto, "",  "  ", "a[b", "a]b", "a=b", "a\rb", "a\nb", QString::fromLatin1("a\0b", 3),
                               ";x",   "#x"};
    for (const QString& nombre : nombres) {
        m_avisos.clear();
        EXPECT_FALSE(Ajustes::Guardar("ORLAN", nombre, "Nombre", "x")) << nombre.toStdString();
        EXPECT_FALSE(Ajustes::Guardar("ORLAN", "LPT1", nombre, "x")) << nombre.toStdString();
        ASSERT_EQ(m_avisos.size(), 2) << nombre.toStdString();
        EXPECT_FALSE(m_avisos.join("").contains(u'\n'));
        EXPECT_EQ(Ajustes::Leer("ORLAN", nombre, "Nombre", "-"), "-");
    }
    EXPECT_EQ(EntornoPrueba::Leer(ruta), antes);
    EXPECT_EQ(Ajustes::Leer("ORLAN", "Configuracion", "Terminal"), "3");

    // Blanks around a name are not part of it, as in a hand-written file.
    ASSERT_TRUE(Ajustes::Guardar("ORLAN", " LPT1  ", " Modo ", "C"));
    EXPECT_EQ(Ajustes::Leer("ORLAN", "LPT1", "Modo"), "C");
}

TEST_F(ArchivoAjustes, AWriteChangesOnlyItsOwnLineAndKeepsEverythingElse) {
    const QString ruta = Ajustes::RutaArchivo("ORLAN");
    const QByteArray original = "# instalado por JP\n"
                                "[Configuracion]\n"
                                "  Terminal = 3\n"
                                "; respaldo: 10.0.0.9\n"
                                "Servidor=db1\n"
                                "linea que nadie entiende\n"
                                "\n"
                                "[ ]\n"
                                "Terminal=7\n"
                                "[LPT1]\n"
                                "Modo=E";
    m_entorno.Escribir(ruta, original);
    EXPECT_EQ(Ajustes::Leer("ORLAN", "Configuracion", "Terminal"), "3");

    ASSERT_TRUE(Ajustes::Guardar("ORLAN", "configuracion", "TERMINAL", "4"));
    ASSERT_TRUE(Ajustes::Guardar("ORLAN", "Configuracion", "BASE_DE_DATOS", "DB"));
    ASSERT_TRUE(Ajustes::Guardar("ORLAN", "lpt1", "Estado", "0"));
    ASSERT_TRUE(Ajustes::Guardar("ORLAN", "COM1", "Nombre", "Barra"));
    EXPECT_EQ(EntornoPrueba::Leer(ruta), "# instalado por JP\n"
                                         "[Configuracion]\n"
                                         "  Terminal = 4\n"
                                         "; respaldo: 10.0.0.9\n"
                                         "Servidor=db1\n"
                                         "BASE_DE_DATOS=DB\n"
                                         "linea que nadie entiende\n"
                                         "\n"
                                         "[ ]\n"
                                         "Terminal=7\n"
                                         "[LPT1]\n"
                                         "Modo=E\n"
                                         "Estado=0\n"
                                         "\n"
                                         "[COM1]\n"
                                         "Nombre=Barra\n");
    // The keys of the unnamed section never join the section before it.
    EXPECT_EQ(Ajustes::Leer("ORLAN", "Configuracion", "Terminal"), "4");
    EXPECT_FALSE(m_avisos.isEmpty());

    // A file written on Windows keeps its byte-order mark and line ends.
    m_entorno.Escribir(ruta, "\xEF\xBB\xBF[A]\r\nx=1\r\n\r\n[B]\r\n");
    ASSERT_TRUE(Ajustes::Guardar("ORLAN", "A", "y", "2"));
    EXPECT_EQ(EntornoPrueba::Leer(ruta), "\xEF\xBB\xBF[A]\r\nx=1\r\ny=2\r\n\r\n[B]\r\n");
    EXPECT_EQ(Ajustes::Leer("ORLAN", "A", "x"), "1");
}

TEST_F(ArchivoAjustes, FilesThatAreNotPlainOrAreTooLargeAreRefusedAndKept) {
    const QString ruta = Ajustes::RutaArchivo("ORLAN");
    const QByteArray grande = "[Configuracion]\nTerminal=3\n;" + QByteArray(1024 * 1024, 'x') + "\n";
    m_entorno.Escribir(ruta, grande);
    ASSERT_EQ(Ajustes::Leer("ORLAN", "Configuracion", "Terminal", "0"), "0");
    ASSERT_EQ(m_avisos.size(), 1);
    EXPECT_TRUE(m_avisos[0].contains(ruta));
    EXPECT_EQ(Ajustes::Leer("ORLAN", "Configuracion", "Servidor", "s"), "s");
    EXPECT_EQ(m_avisos.size(), 1); // said once, not at every read
    EXPECT_FALSE(Ajustes::Guardar("ORLAN", "Configuracion", "Terminal", "4"));
    EXPECT_EQ(EntornoPrueba::Leer(ruta), grande);

    // A pipe would block the start for ever, a device would never end.
    QFile::remove(ruta);
    ASSERT_EQ(::mkfifo(QFile::encodeName(ruta).constData(), 0600), 0);
    EXPECT_EQ(Ajustes::Leer("ORLAN", "Configuracion", "Terminal", "0"), "0");
    EXPECT_FALSE(Ajustes::Guardar("ORLAN", "Configuracion", "Terminal", "4"));
    QFile::remove(ruta);
    ASSERT_TRUE(QFile::link("/dev/zero", ruta));
    EXPECT_EQ(Ajustes::Leer("ORLAN", "Configuracion", "Terminal", "0"), "0");
    EXPECT_FALSE(Ajustes::Guardar("ORLAN", "Configuracion", "Terminal", "4"));
    EXPECT_EQ(QFileInfo(ruta).symLinkTarget(), "/dev/zero");
    EXPECT_GE(m_avisos.size(), 3);
}

// A print job reads the settings a few times: an unchanged file is not opened
// again (the kernel's open events tell), an edited one is read at once.
TEST_F(ArchivoAjustes, AnUnchangedFileIsNotOpenedAgain) {
    const QString ruta = m_entorno.Configuracion() + "/orlan.ini";
    m_entorno.Escribir(ruta, "[Cola]\nDespertar=1\n");
    EXPECT_EQ(Ajustes::Leer("ORLAN", "Cola", "Despertar"), "1");
    const int vigia = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(::inotify_add_watch(vigia, QFile::encodeName(ruta).constData(), IN_OPEN), 0);
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(Ajustes::Leer("ORLAN", "Cola", "Despertar"), "1");
    }
    alignas(inotify_event) char eventos[4096];
    EXPECT_LE(::read(vigia, eventos, sizeof eventos), 0); // nothing opened it
    ::close(vigia);

    m_entorno.Escribir(ruta, "[Cola]\nDespertar=0\nApartarTrabajosDefectuosos=1\n");
    EXPECT_EQ(Ajustes::Leer("ORLAN", "Cola", "Despertar"), "0");
}
