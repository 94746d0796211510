#include "database/PruebaBaseDatos.h"
#include "platform/Ajustes.h"
#include "server/ServidorCola.h"
#include "support/ErrorEjecucion.h"
#include "testsupport/DatosCola.h"
#include "testsupport/ServidorPostgres.h"

// A database server that stops answering but keeps its connections open
// (SIGSTOP on every PostgreSQL process). Without the time-outs every call
// below would wait until the server is resumed; the test program's own
// time-out then fails the test.
class TiempoEspera : public PruebaBaseDatos {
protected:
    void SetUp() override {
        PruebaBaseDatos::SetUp();
        Ajustes::Guardar("ORLAN", "Configuracion", "TiempoConexion", "2");
        Ajustes::Guardar("ORLAN", "Configuracion", "TiempoConsulta", "1");
        ASSERT_TRUE(Conectar());
        InstalarPuerto();
    }
    void TearDown() override {
        ServidorPostgres::Compartido().Reanudar();
        PruebaBaseDatos::TearDown();
    }
};

TEST_F(TiempoEspera, AHungServerFailsTheCallAsALostLink) {
    ServidorPostgres& servidor = ServidorPostgres::Compartido();
    ASSERT_TRUE(servidor.Suspender()) << servidor.Error().toStdString();
    try {
        Conexion::Instancia().Consultar("SELECT 1");
        FAIL() << "the query returned on a stopped server";
    } catch (const ErrorEjecucion& e) {
        EXPECT_EQ(e.Numero(), ErrorEjecucion::kErrorBaseDatos);
        ASSERT_GE(e.Errores().size(), 2);
        EXPECT_EQ(e.Errores()[0].sqlState, "08S01");
        EXPECT_EQ(e.Errores()[1].sqlState, "HYT00");
        EXPECT_TRUE(e.Descripcion().startsWith("Tiempo de espera agotado")) << e.Descripcion().toStdString();
    }
    // A login on the stopped server gives up too.
    EXPECT_FALSE(Conectar());
    EXPECT_FALSE(Conexion::Instancia().Errores().isEmpty());

    ASSERT_TRUE(servidor.Reanudar());
    ASSERT_TRUE(Conectar()) << Conexion::Instancia().Errores().value(0).descripcion.toStdString();
    EXPECT_EQ(Lista("SELECT 7"), "7");
}

// The tick that meets the hung server ends with its log lines and keeps the
// job; ticks during the outage log the failed logins; once the server is back
// the job prints.
TEST_F(TiempoEspera, TheTickEndsLogsAndLosesNothing) {
    InsertarTerminales({1});
    InsertarImpresora(1, 1, 0);
    InsertarTrabajo(5, 1, {"cinco"});
    ServidorCola servidor(1);
    servidor.EstablecerActivo(true);

    ServidorPostgres& pg = ServidorPostgres::Compartido();
    ASSERT_TRUE(pg.Suspender());
    servidor.Timer1_Timer();
    EXPECT_TRUE(Bitacora().contains("Cola Impresion, Tiempo de espera agotado")) << Bitacora().toStdString();
    EXPECT_TRUE(Bitacora().contains("A ocurrido un error y es necesario reiniciar"));
    servidor.Timer1_Timer();
    EXPECT_TRUE(Bitacora().contains("Cola Impresion, sin conexion con la base de datos: ")) << Bitacora().toStdString();
    EXPECT_TRUE(m_puerto->Capturado().isEmpty());

    ASSERT_TRUE(pg.Reanudar());
    servidor.Timer1_Timer();
    EXPECT_TRUE(Bitacora().contains("conexion con la base de datos restablecida")) << Bitacora().toStdString();
    EXPECT_EQ(m_puerto->Capturado(), ImpresoEpson("cinco"));
    EXPECT_EQ(Lista("SELECT COUNT(*) FROM ColaImpresion"), "0");
}
