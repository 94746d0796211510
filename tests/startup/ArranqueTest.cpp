#include "platform/Ajustes.h"
#include "testsupport/BaseDatosPrueba.h"
#include "testsupport/EntornoPrueba.h"

#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>

namespace {

struct Resultado {
    int salida = -1;
    QString salidaEstandar;
    QString errores;
};

// Runs orlan-cola in service mode with the environment of the test (its
// settings, credentials and data directories, ODBCSYSINI).
Resultado Ejecutar(const QStringList& argumentos = {QStringLiteral("--servicio")}) {
    QProcess proceso;
    proceso.start(QStringLiteral(ORLAN_BUILD_DIR "/src/orlan-cola"), argumentos);
    Resultado r;
    if (!proceso.waitForFinished(30000) || proceso.exitStatus() != QProcess::NormalExit) {
        proceso.kill();
        return r;
    }
    r.salida = proceso.exitCode();
    r.salidaEstandar = QString::fromUtf8(proceso.readAllStandardOutput());
    r.errores = QString::fromUtf8(proceso.readAllStandardError());
    return r;
}

} // namespace

TEST(Arranque, AnIncompleteInstallationStopsBeforeTheDatabase) {
    EntornoPrueba entorno;
    BaseDatosPrueba bd(entorno, Motor::Sqlite);
    ASSERT_TRUE(bd.Preparar(false));
    const QString archivoBase = Ajustes::Leer("ORLAN", "Configuracion", "BASE_DE_DATOS");
    const QString mensaje = "Error de instalación, faltan parametros";

    // No Terminal key at all, then 0, text, out of 16 bits and empty.
    for (const char* valor : {static_cast<const char*>(nullptr), "0", "abc", "40000", "-32769", ""}) {
        if (valor) {
            Ajustes::Guardar("ORLAN", "Configuracion", "Terminal", valor);
        }
        const Resultado r = Ejecutar();
        EXPECT_EQ(r.salida, 1) << (valor ? valor : "(sin clave)");
        EXPECT_TRUE(r.errores.contains(mensaje)) << r.errores.toStdString();
        EXPECT_FALSE(QFile::exists(archivoBase)) << "the database was contacted";
    }
    const QString bitacora = QString::fromUtf8(EntornoPrueba::Leer(entorno.Datos() + "/nodra/OrlanComTra" +
                                                                   QDate::currentDate().toString("ddMMyyyy") + ".log"));
    EXPECT_TRUE(bitacora.contains("Valor no valido en Configuracion/Terminal: \"40000\""));
}

TEST(Arranque, ConnectsOrEndsWhenTheConnectionFails) {
    EntornoPrueba entorno;
    BaseDatosPrueba bd(entorno, Motor::Sqlite);
    ASSERT_TRUE(bd.Preparar(false));
    Ajustes::Guardar("ORLAN", "Configuracion", "Terminal", "3");
    const QString archivoBase = Ajustes::Leer("ORLAN", "Configuracion", "BASE_DE_DATOS");

    // The connection opens; a database without the schema has no printers to
    // load, which ends the start with its own status.
    Resultado r = Ejecutar();
    EXPECT_EQ(r.salida, 3) << r.errores.toStdString();
    EXPECT_TRUE(r.salidaEstandar.contains("terminal 3, conexion abierta")) << r.salidaEstandar.toStdString();
    EXPECT_TRUE(r.errores.contains("no se pudieron cargar las impresoras de la terminal 3")) << r.errores.toStdString();
    EXPECT_TRUE(QFile::exists(archivoBase));

    // A database file in a directory that does not exist cannot be opened.
    Ajustes::Guardar("ORLAN", "Configuracion", "BASE_DE_DATOS", entorno.Raiz() + "/no/existe/dborlan.db");
    r = Ejecutar();
    EXPECT_EQ(r.salida, 2);
    EXPECT_TRUE(r.salidaEstandar.isEmpty());

    // Without credentials there is no connection attempt.
    Ajustes::Guardar("ORLAN", "Configuracion", "BASE_DE_DATOS", archivoBase);
    QFile::remove(entorno.Configuracion() + "/credenciales.ini");
    EXPECT_EQ(Ejecutar().salida, 2);
}

TEST(Arranque, AnswersHelpAndVersion) {
    Resultado r = Ejecutar({"--version"});
    EXPECT_EQ(r.salida, 0);
    EXPECT_TRUE(r.salidaEstandar.contains(ORLAN_VERSION));
    r = Ejecutar({"--help"});
    EXPECT_EQ(r.salida, 0);
    EXPECT_TRUE(r.salidaEstandar.contains("--servicio"));
    EXPECT_NE(Ejecutar({"--desconocida"}).salida, 0);
}
