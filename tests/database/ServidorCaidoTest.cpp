#include "database/PruebaBaseDatos.h"
#include "testsupport/ServidorPostgres.h"

using ServidorCaido = PruebaBaseDatos;

TEST_F(ServidorCaido, AServerThatGoesAwayIsReportedAndAReconnectWorks) {
    Ejecutar("INSERT INTO Parametros (Id_Parametro, Valor_Num) VALUES ('TERMINAL', 1)");
    ServidorPostgres& servidor = ServidorPostgres::Compartido();
    ASSERT_TRUE(servidor.Detener()) << servidor.Error().toStdString();

    EXPECT_EQ(AbrirConsulta("SELECT Valor_Num FROM Parametros"), nullptr);
    ASSERT_FALSE(Conexion::Instancia().Errores().isEmpty());
    EXPECT_EQ(Conexion::Instancia().Errores().first().sqlState, "08S01");
    EXPECT_GE(Conexion::Instancia().Errores().size(), 2); // the driver's own records are kept
    EXPECT_TRUE(Bitacora().endsWith(" A ocurrido un error y es necesario reiniciar\r\n"));
    EXPECT_FALSE(Actualizar("Parametros", "Valor_Num=2", "Id_Parametro='TERMINAL'"));
    EXPECT_TRUE(m_mensajes.isEmpty());
    EXPECT_FALSE(Conectar());

    ASSERT_TRUE(servidor.Iniciar()) << servidor.Error().toStdString();
    ASSERT_TRUE(Conectar());
    EXPECT_EQ(ObtenerValor("Valor_Num", "Parametros", "ID_Parametro='TERMINAL'"), "1");
}
