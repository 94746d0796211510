#include "support/Bitacora.h"
#include "platform/CajaMensajes.h"
#include "platform/Reloj.h"
#include "testsupport/EntornoPrueba.h"

#include <QFile>
#include <gtest/gtest.h>

namespace {

struct RelojFijo {
    QDateTime ahora;
    RelojFijo(QDateTime inicio) : ahora(std::move(inicio)) {
        Reloj::Establecer([this] { return ahora; });
    }
    ~RelojFijo() { Reloj::Establecer(nullptr); }
};

} // namespace

TEST(Bitacora, CreatesTheDirectoriesAndWritesDailyFilesAcrossMidnight) {
    EntornoPrueba entorno;
    RelojFijo reloj(QDateTime(QDate(2026, 12, 4), QTime(23, 59, 59)));

    EXPECT_TRUE(Registrar("Iniciando Cola de Impresion "));
    EXPECT_TRUE(Registrar(""));
    EXPECT_EQ(NombreBitacora(), "/OrlanComTra");
    EXPECT_TRUE(QFileInfo(entorno.Datos() + "/nodra/log").isDir());

    const QString dia1 = entorno.Datos() + "/nodra/OrlanComTra04122026.log";
    EXPECT_EQ(EntornoPrueba::Leer(dia1), "04/12/2026 23:59:59Iniciando Cola de Impresion \r\n04/12/2026 23:59:59\r\n");

    reloj.ahora = QDateTime(QDate(2026, 12, 5), QTime(0, 0, 1));
    EXPECT_TRUE(Registrar("señal"));
    EXPECT_EQ(EntornoPrueba::Leer(entorno.Datos() + "/nodra/OrlanComTra05122026.log"),
              QString("05/12/2026 00:00:01señal\r\n").toUtf8());
    EXPECT_EQ(EntornoPrueba::Leer(dia1).count('\n'), 2);

    RegistrarErroresBD(
        {{"23000", 2627, "Violation of PRIMARY KEY"}, {"01000", -1, "The statement has been terminated."}});
    EXPECT_TRUE(EntornoPrueba::Leer(entorno.Datos() + "/nodra/OrlanComTra05122026.log")
                    .endsWith("2627Violation of PRIMARY KEY23000\r\n05/12/2026 00:00:01-1The statement has been "
                              "terminated.01000\r\n"));

    // Line breaks inside a message (database drivers put them in their texts)
    // would start a line without a time stamp.
    EXPECT_TRUE(Registrar("ERROR: no existe;\nError while executing\r\nthe query\r"));
    EXPECT_TRUE(EntornoPrueba::Leer(entorno.Datos() + "/nodra/OrlanComTra05122026.log")
                    .endsWith("01000\r\n05/12/2026 00:00:01ERROR: no existe; Error while executing the query \r\n"));
}

TEST(Bitacora, ADirectoryThatCannotBeCreatedShowsTheMessageAndStillTries) {
    EntornoPrueba entorno;
    // A file where the log directory should be.
    entorno.Escribir(entorno.Datos() + "/nodra/log", "no soy un directorio");
    QStringList mostrados;
    auto anterior = CajaMensajes::EstablecerPresentador([&](const CajaMensajes::Mensaje& m) {
        mostrados << m.texto;
        return 1;
    });
    EXPECT_TRUE(Registrar("sigue"));
    EXPECT_TRUE(Registrar("sigue"));
    CajaMensajes::EstablecerPresentador(anterior);
    EXPECT_EQ(mostrados, QStringList(2, "Error en bitacora al crear el directorio C:\\nodra\\log !"));

    EXPECT_TRUE(CrearRuta(entorno.Raiz() + "/a/b/c"));
    EXPECT_TRUE(CrearRuta("C:\\x\\y\\"));
    EXPECT_TRUE(QFileInfo(entorno.Datos() + "/x/y").isDir());
    EXPECT_FALSE(CrearRuta("C:\\nodra\\log\\z"));
}
