#include "credentials/ProveedorCredenciales.h"
#include "platform/Ajustes.h"
#include "testsupport/BaseDatosPrueba.h"
#include "testsupport/ServidorPostgres.h"

#include <QProcess>
#include <gtest/gtest.h>

// orlan-cola --servicio against a PostgreSQL server, with the mistakes a
// technician makes in the settings and the credentials.
TEST(ArranquePostgres, ConnectionFailuresNameTheSettingAndThePortSettingReachesTheDriver) {
    EntornoPrueba entorno;
    BaseDatosPrueba bd(entorno, Motor::PostgreSql);
    ASSERT_TRUE(bd.Preparar(false)) << bd.Error().toStdString();
    Ajustes::Guardar("ORLAN", "Configuracion", "Terminal", "3");
    const QString ajustes = Ajustes::RutaArchivo("ORLAN");
    const QString credenciales = ProveedorCredenciales::RutaArchivo();
    const auto ejecutar = [] {
        QProcess proceso;
        proceso.setProcessChannelMode(QProcess::MergedChannels);
        proceso.start(QStringLiteral(ORLAN_BUILD_DIR "/src/orlan-cola"), {"--servicio"});
        const bool termino = proceso.waitForFinished(30000);
        proceso.kill();
        return std::make_pair(termino ? proceso.exitCode() : -1, QString::fromUtf8(proceso.readAll()));
    };

    // The server's own port, given explicitly, connects (no schema: status 3).
    Ajustes::Guardar("ORLAN", "Configuracion", "Puerto", "5432");
    auto [salida, texto] = ejecutar();
    EXPECT_EQ(salida, 3) << texto.toStdString();
    EXPECT_TRUE(texto.contains("conexion abierta")) << texto.toStdString();

    // Another port: nobody listens there.
    Ajustes::Guardar("ORLAN", "Configuracion", "Puerto", "5433");
    std::tie(salida, texto) = ejecutar();
    EXPECT_EQ(salida, 2);
    EXPECT_TRUE(texto.contains("SQLSTATE 08001") && texto.contains(".s.PGSQL.5433") &&
                texto.contains("Servidor y Puerto en [Configuracion] de " + ajustes))
        << texto.toStdString();
    Ajustes::Guardar("ORLAN", "Configuracion", "Puerto", "");

    // A misspelled database.
    const QString base = Ajustes::Leer("ORLAN", "Configuracion", "BASE_DE_DATOS");
    Ajustes::Guardar("ORLAN", "Configuracion", "BASE_DE_DATOS", base + "x");
    std::tie(salida, texto) = ejecutar();
    EXPECT_EQ(salida, 2);
    EXPECT_TRUE(texto.contains("does not exist") && texto.contains("BASE_DE_DATOS en [Configuracion] de " + ajustes))
        << texto.toStdString();
    Ajustes::Guardar("ORLAN", "Configuracion", "BASE_DE_DATOS", base);

    // A wrong password.
    BaseDatosPrueba::EscribirCredenciales(QByteArray("Usuario=") + ServidorPostgres::kUsuario +
                                          "\nContrasena=equivocada\nLlave=llave\n");
    std::tie(salida, texto) = ejecutar();
    EXPECT_EQ(salida, 2);
    EXPECT_TRUE(texto.contains("password authentication failed") &&
                texto.contains("Usuario= y Contrasena= en " + credenciales))
        << texto.toStdString();
    EXPECT_TRUE(EntornoPrueba::Bitacora(entorno.Datos()).contains("password authentication failed"));
}
