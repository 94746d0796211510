#include "PruebaCola.h"
#include "testsupport/ImpresoraVirtual.h"
#include "testsupport/Recibos.h"
#include "testsupport/TiendaPropia.h"

#include <QFileInfo>

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

// A shop's own database, made by hand with the point-of-sale system's tables
// and columns only: no claim table, no terminal names, no PapelBajo, no keys.
class PruebaColaTienda : public PruebaCola {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_bd.Preparar(false)) << m_bd.Error().toStdString();
        ASSERT_TRUE(Conectar());
        CrearTablasTienda(kMotor);
    }
};

// The real server on such a database: jobs of a serial printer come out whole
// and once, those of a printer out of paper move to its backup and come out
// there, and no statement of the server fails.
TEST_F(PruebaColaTienda, TheServerPrintsAndRedirectsOnTheShopsColumnsOnly) {
    Ejecutar("INSERT INTO Terminal VALUES (1)");
    Ejecutar("INSERT INTO Terminal VALUES (2)");
    Ejecutar("INSERT INTO Parametros VALUES ('TERMINAL', 1)");
    Ejecutar("INSERT INTO Parametros VALUES ('FOLIOIMPRESION', 0)");
    // 1: the till's printer; 2: the backup of 3, which is out of paper.
    Ejecutar("INSERT INTO Impresora VALUES (1, 1, 'COM1', 'E', 'Caja', NULL, 1, 'A', 0)");
    Ejecutar("INSERT INTO Impresora VALUES (2, 1, 'COM2', 'E', 'Respaldo', NULL, 2, 'A', 0)");
    Ejecutar("INSERT INTO Impresora VALUES (3, 1, 'COM3', 'E', 'Cocina', 2, 3, 'A', 0)");
    for (int id = 1; id <= 9; ++id) {
        InsertarTrabajo(id, id <= 6 ? 1 : 3, Marcado(id));
    }

    const QString dir = m_entorno.Raiz();
    ImpresoraVirtual caja(dir + "/com1.bin"), respaldo(dir + "/com2.bin"), cocina(dir + "/com3.bin");
    ASSERT_TRUE(caja.Iniciar());
    ASSERT_TRUE(respaldo.Iniciar());
    ASSERT_TRUE(cocina.Iniciar({"--respuesta", "114"}));
    TerminalPrueba& terminal = NuevaTerminal(1);
    terminal.Ajuste("Puertos", "COM1", caja.Destino());
    terminal.Ajuste("Puertos", "COM2", respaldo.Destino());
    terminal.Ajuste("Puertos", "COM3", cocina.Destino());
    terminal.Iniciar();
    EXPECT_TRUE(Esperar([&] { return Trabajos().isEmpty(); }, 60)) << terminal.Bitacora().toStdString();
    const QByteArray fin = "Fin 000009";
    EXPECT_TRUE(Esperar([&] { return respaldo.Captura().contains(fin); }, 10));
    EXPECT_EQ(terminal.Detener(), 0) << terminal.Salida().toStdString();

    const Recibos todos = ContarRecibos({caja.Captura(), respaldo.Captura(), cocina.Captura()});
    EXPECT_EQ(todos.enteros, (QMap<int, int>{{1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 1}, {6, 1}, {7, 1}, {8, 1}, {9, 1}}));
    EXPECT_TRUE(todos.parciales.isEmpty());
    EXPECT_EQ(todos.enBlanco, 0);
    EXPECT_EQ(ContarRecibos({respaldo.Captura()}).enteros.keys(), QList<int>({7, 8, 9}));
    EXPECT_EQ(Lista("SELECT Redirigido || Estado_Impresora FROM Impresora ORDER BY Id_Impresora"), "1A,2A,2P");
    EXPECT_EQ(Lista("SELECT COUNT(*) FROM DetalleColaImpresion"), "0");
    // The redirection was replicated to terminal 2.
    EXPECT_EQ(Lista("SELECT Term FROM TransaccionesXTerminal"), "2");

    const QString bitacora = terminal.Bitacora();
    EXPECT_TRUE(bitacora.contains("la base de datos no tiene la tabla ReclamoTrabajo")) << bitacora.toStdString();
    for (const char* falla : {"A ocurrido un error", "BDME", "No es posible duplicar", "No se tiene acceso",
                              "Cola Impresion, no se pudo"}) {
        EXPECT_FALSE(bitacora.contains(falla)) << falla << "\n" << bitacora.toStdString();
    }
    // Every database failure leaves a line in the trace file.
    EXPECT_FALSE(QFileInfo::exists(terminal.RaizUnidad() + "/TT.LOG"))
        << EntornoPrueba::Leer(terminal.RaizUnidad() + "/TT.LOG").toStdString();
}
