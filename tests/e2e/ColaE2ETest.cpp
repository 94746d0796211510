#include "PruebaCola.h"

TEST_F(PruebaCola, TheServerProcessPrintsRoutesAndKeepsWhatItCannotPrint) {
    Ejecutar("INSERT INTO Terminal (ID_Terminal) VALUES (1)");
    Ejecutar("INSERT INTO Terminal (ID_Terminal) VALUES (2)");
    Ejecutar("INSERT INTO Parametros (Id_Parametro, Valor_Num) VALUES ('TERMINAL', 1)");
    InsertarImpresora(1, 1, 2);
    InsertarImpresora(2, 2, 1);
    InsertarImpresora(3, 1, 1, "'D'");
    InsertarImpresora(4, 1, 1, "NULL");
    InsertarImpresora(5, 1, 2, "'d'");

    InsertarTrabajo(12, 1, {QStringLiteral("Total: <B>15.00</B>"), QStringLiteral("Señor Muñoz")});
    InsertarTrabajo(10, 1, {QStringLiteral("<H>Mesa 4</H>"), std::nullopt, QStringLiteral("<CAJA>")});
    InsertarTrabajo(9, 1, {QStringLiteral("a medias")}, true);
    InsertarTrabajo(13, 3, {QStringLiteral("fuera de servicio")});
    InsertarTrabajo(14, 4, {QStringLiteral("sin estado")});
    InsertarTrabajo(15, 5, {QStringLiteral("minuscula")});
    InsertarTrabajo(16, 1, {QStringLiteral("<S>abierta"), QStringLiteral("a < b")});
    InsertarTrabajo(17, 2, {QStringLiteral("de la otra terminal")});

    TerminalPrueba& terminal = NuevaTerminal(1);
    terminal.Iniciar();
    // Jobs 13 and 14 are redirected to printer 1 in the first tick and printed
    // in the second; 16 stays, 9 is still being written, 17 is not ours.
    EXPECT_TRUE(Esperar([&] { return Trabajos() == "9,16,17"; }, 30)) << Trabajos().toStdString();
    EXPECT_TRUE(Esperar([&] { return terminal.Bitacora().count("Cola Impresion, ") >= 2; }, 10));
    EXPECT_EQ(terminal.Detener(), 0) << terminal.Salida().toStdString();

    EXPECT_EQ(Lista("SELECT Redirigido || Estado_Impresora FROM Impresora WHERE Id_Impresora IN (3, 4) "
                    "ORDER BY Id_Impresora"),
              "1D,1D");
    EXPECT_EQ(Lista("SELECT COUNT(*) FROM TransaccionesXTerminal"), "2");
    EXPECT_EQ(Lista("SELECT COUNT(*) FROM DetalleColaImpresion WHERE IdTrabajo = 16"), "2");

    const QByteArray parcial = H("1B40") + H("0D1B2100") + H("1B2D01") + "abierta" + "a ";
    const QByteArray primero = ImpresoEpson(H("1B2120") + "Mesa 4" + H("1B2100") + H("1B7000")) +
                               ImpresoEpson("Total: " + H("1B4501") + "15.00" + H("1B4500") + "Se\xF1or Mu\xF1oz") +
                               ImpresoEpson("minuscula") + parcial;
    const QByteArray segundo = ImpresoEpson("fuera de servicio") + ImpresoEpson("sin estado") + parcial;
    QByteArray captura = terminal.CapturaLpt();
    ASSERT_TRUE(captura.startsWith(primero + segundo)) << captura.toHex().toStdString();
    // Every later tick tries job 16 again and stops at the same place.
    captura.remove(0, primero.size() + segundo.size());
    EXPECT_EQ(captura, parcial.repeated(captura.size() / parcial.size()));

    const QString bitacora = terminal.Bitacora();
    EXPECT_TRUE(bitacora.contains("Iniciando Cola de Impresion \r\n"));
    EXPECT_TRUE(bitacora.contains("UPDATE Impresora SET Redirigido = 1, Estado_Impresora='D' WHERE Id_Impresora=3"));
    EXPECT_TRUE(bitacora.contains("Apagando Servidor de Comunicaciones"));
}
