#include "PruebaCola.h"
#include "testsupport/ServidorPostgres.h"

// Two terminals on one database: terminal 1's printer runs out of paper, its
// jobs move to its backup on terminal 2, which prints them; then the database
// server goes away and comes back under both running servers.
TEST_F(PruebaCola, ABackupOnAnotherTerminalPrintsWhenAPrinterRunsOutOfPaper) {
    for (int t : {1, 2, 3}) {
        Ejecutar(QString("INSERT INTO Terminal (ID_Terminal) VALUES (%1)").arg(t));
    }
    Ejecutar("INSERT INTO Parametros (Id_Parametro, Valor_Num) VALUES ('TERMINAL', 1)");
    InsertarImpresora(1, 1, 2);
    InsertarImpresora(2, 2, 1);

    TerminalPrueba& uno = NuevaTerminal(1);
    TerminalPrueba& dos = NuevaTerminal(2);
    m_entorno.Escribir(uno.RaizUnidad() + "/lpt/378.estado", "sin-papel\n");
    uno.Iniciar();
    dos.Iniciar();

    InsertarTrabajo(1, 1, {QStringLiteral("<B>Comanda 7</B>"), QStringLiteral("2 tacos al pastor")});
    ASSERT_TRUE(Esperar([&] { return Trabajos().isEmpty(); }, 30)) << Trabajos().toStdString();

    const QString sentencia = "UPDATE Impresora SET Redirigido = 2, Estado_Impresora='P' WHERE Id_Impresora=1";
    EXPECT_EQ(Lista("SELECT Transaccion FROM Transacciones"), sentencia);
    EXPECT_EQ(Lista("SELECT ID_Terminal FROM TransaccionesXTerminal WHERE ID_Transaccion = "
                    "(SELECT MAX(ID_Transaccion) FROM Transacciones) ORDER BY ID_Terminal"),
              "2,3");
    EXPECT_TRUE(uno.CapturaLpt().isEmpty());
    EXPECT_EQ(dos.CapturaLpt(), ImpresoEpson(H("1B4501") + "Comanda 7" + H("1B4500") + "2 tacos al pastor"));
    EXPECT_TRUE(uno.Bitacora().contains(sentencia));
    EXPECT_TRUE(uno.Bitacora().contains("COLA IMPRESION: FALTA PAPEL "));

    // The server stops under both terminals: their ticks fail and are logged,
    // and once it is back they serve the queue again without a restart.
    ServidorPostgres& servidor = ServidorPostgres::Compartido();
    ASSERT_TRUE(servidor.Detener());
    EXPECT_TRUE(Esperar([&] { return dos.Bitacora().contains("Cola Impresion, "); }, 15))
        << dos.Bitacora().toStdString();
    ASSERT_TRUE(servidor.Iniciar()) << servidor.Error().toStdString();
    ASSERT_TRUE(Conectar());
    InsertarTrabajo(2, 2, {QStringLiteral("de vuelta")});
    EXPECT_TRUE(Esperar([&] { return Trabajos().isEmpty(); }, 30)) << dos.Bitacora().toStdString();
    EXPECT_TRUE(dos.CapturaLpt().endsWith(ImpresoEpson("de vuelta")));
    EXPECT_TRUE(uno.Corriendo() && dos.Corriendo());
    EXPECT_EQ(uno.Detener(), 0);
    EXPECT_EQ(dos.Detener(), 0);
}
