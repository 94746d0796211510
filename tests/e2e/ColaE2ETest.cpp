#include "PruebaCola.h"
#include "testsupport/ImpresoraVirtual.h"
#include "testsupport/Recibos.h"
#include "testsupport/TiendaPropia.h"

#include <QFileInfo>

TEST_F(PruebaCola, TheServerProcessPrintsRoutesAndKeepsWhatItCannotPrint) {
    InsertarTerminales({1, 2});
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

// The terminal's previous server died between printing job 50 and removing
// its header (the header goes once a tick), and in the middle of job 51.
// Its claims are still there: the new server prints 51 again, marked as a
// possible copy, and leaves 50's header alone, not printed as a blank slip.
TEST_F(PruebaCola, ARestartPrintsAgainOnlyTheJobsItsPredecessorHadNotFinished) {
    InsertarTerminales({1});
    InsertarImpresora(1, 1, 0);
    InsertarTrabajo(50, 1, {});
    InsertarTrabajo(51, 1, {QStringLiteral("a medio imprimir")});
    Ejecutar("INSERT INTO ReclamoTrabajo (IdTrabajo, ID_Terminal, Ficha) VALUES (50, 1, 777)");
    Ejecutar("INSERT INTO ReclamoTrabajo (IdTrabajo, ID_Terminal, Ficha) VALUES (51, 1, 778)");
    TerminalPrueba& terminal = NuevaTerminal(1);
    terminal.Iniciar();
    EXPECT_TRUE(Esperar([&] { return Trabajos().isEmpty(); }, 30)) << Trabajos().toStdString();
    EXPECT_EQ(terminal.Detener(), 0) << terminal.Salida().toStdString();
    const QByteArray captura = terminal.CapturaLpt();
    EXPECT_EQ(captura.count("*** COPIA: puede estar repetido ***"), 1) << captura.toStdString();
    EXPECT_EQ(captura.count(H("1B6D")), 1) << "one receipt cut";
    EXPECT_TRUE(captura.contains("a medio imprimir"));
    EXPECT_TRUE(terminal.Bitacora().contains("antes de reiniciarse se imprimen de nuevo: 51\r\n"))
        << terminal.Bitacora().toStdString();
    EXPECT_EQ(Lista("SELECT COUNT(*) FROM ReclamoTrabajo"), "0");
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
    InsertarTerminales({1, 2});
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

// Rows other programs wrote into the shop's tables, text where a number
// belongs among them (SQLite keeps it in an int column), with two terminals
// serving: each bad row costs only itself. Terminal 1 prints its own jobs and
// no other terminal's, deletes nothing of another job, reroutes no printer,
// keeps running, writes no bad name into its settings and logs each bad row
// once.
TEST_F(PruebaColaTienda, HostileRowsCostOnlyThemselves) {
    const bool sqlite = kMotor == Motor::Sqlite;
    if (!sqlite) {
        // A shop whose names are longer than ours.
        Ejecutar("ALTER TABLE Impresora ALTER COLUMN Nombre_Impresora TYPE varchar(5000)");
        Ejecutar("ALTER TABLE Impresora ALTER COLUMN Puerto TYPE varchar(100)");
    }
    InsertarTerminales({1, 2});
    // 1 on terminal 1 and 2 on terminal 2 print; 3 on terminal 1 is out of
    // paper and its backup is wrong; 4 and 5 on terminal 1 have no port.
    Ejecutar("INSERT INTO Impresora VALUES (1, 1, 'COM1', 'E', 'Caja', NULL, 1, 'A', 0)");
    Ejecutar("INSERT INTO Impresora VALUES (2, 2, 'COM1', 'E', 'Barra', NULL, 2, 'A', 0)");
    Ejecutar(QString("INSERT INTO Impresora VALUES (3, 1, 'COM3', 'E', 'Cocina', %1, 3, 'A', 0)")
                 .arg(sqlite ? "'1 --'" : "NULL"));
    Ejecutar("INSERT INTO Impresora VALUES (4, 1, '../../etc/passwd', 'E', 'Ruta', NULL, 4, 'A', 0)");
    Ejecutar("INSERT INTO Impresora VALUES (5, 1, 'PRN', 'E', '" + QString(4000, u'n') + "', NULL, 5, 'A', 0)");
    for (int id = 1; id <= 6; ++id) {
        InsertarTrabajo(id, id <= 4 ? 1 : 2, Marcado(id));
    }
    InsertarTrabajo(7, 3, Marcado(7));
    InsertarTrabajo(8, 4, Marcado(8));
    InsertarTrabajo(9, 5, Marcado(9));
    // Negative ids are keys of an int column like any other.
    InsertarTrabajo(-5, 1, {QStringLiteral("NEGATIVO -5")});
    // Headers with ids that are no keys, and their lines.
    QStringList hostiles;
    if (sqlite) {
        hostiles << "'IdTrabajo'"
                 << "3000000000"
                 << "'1 OR 1=1'"
                 << "1.5";
    }
    for (const QString& id : hostiles) {
        Ejecutar("INSERT INTO ColaImpresion (IdTrabajo, Tipo, Usuario, Escribiendo, id_impresora) VALUES (" + id +
                 ", 'R', 'ajeno', 0, 1)");
        Ejecutar("INSERT INTO DetalleColaImpresion VALUES (" + id + ", 1, 'AJENO " + QString(id).remove('\'') + "')");
    }

    const QString dir = m_entorno.Raiz();
    ImpresoraVirtual caja(dir + "/com1.bin"), barra(dir + "/barra.bin"), cocina(dir + "/com3.bin");
    ASSERT_TRUE(caja.Iniciar());
    ASSERT_TRUE(barra.Iniciar());
    ASSERT_TRUE(cocina.Iniciar({"--respuesta", "114"}));
    TerminalPrueba& uno = NuevaTerminal(1);
    uno.Ajuste("Puertos", "COM1", caja.Destino());
    uno.Ajuste("Puertos", "COM3", cocina.Destino());
    TerminalPrueba& dos = NuevaTerminal(2);
    dos.Ajuste("Puertos", "COM1", barra.Destino());
    uno.Iniciar();
    dos.Iniciar();
    const QByteArray fin = "Fin 000006";
    EXPECT_TRUE(Esperar([&] { return caja.Captura().contains("Fin 000004") && barra.Captura().contains(fin); }, 60))
        << uno.Bitacora().toStdString();
    // More ticks over the bad rows: a job written now is printed after them.
    InsertarTrabajo(10, 1, Marcado(10));
    EXPECT_TRUE(Esperar([&] { return caja.Captura().contains("Fin 000010") && !Trabajos().contains("10"); }, 30));
    EXPECT_TRUE(uno.Corriendo());
    EXPECT_TRUE(dos.Corriendo());
    EXPECT_EQ(uno.Detener(), 0) << uno.Salida().toStdString();
    EXPECT_EQ(dos.Detener(), 0) << dos.Salida().toStdString();

    EXPECT_EQ(ContarRecibos({caja.Captura()}).enteros, (QMap<int, int>{{1, 1}, {2, 1}, {3, 1}, {4, 1}, {10, 1}}));
    EXPECT_EQ(ContarRecibos({barra.Captura()}).enteros, (QMap<int, int>{{5, 1}, {6, 1}}));
    for (const ImpresoraVirtual* impresora : {&caja, &barra, &cocina}) {
        EXPECT_FALSE(impresora->Captura().contains("AJENO")) << impresora->Captura().toStdString();
    }
    // Every job that could not be printed is still there, lines and all;
    // no printer was rerouted but 4 and 5, which cannot print and have no
    // backup, so they keep theirs.
    EXPECT_EQ(Lista("SELECT COUNT(*) FROM ColaImpresion WHERE Usuario = 'ajeno'"), QString::number(hostiles.size()));
    EXPECT_EQ(Lista("SELECT COUNT(*) FROM DetalleColaImpresion WHERE Datos LIKE 'AJENO%'"),
              QString::number(hostiles.size()));
    EXPECT_EQ(caja.Captura().count("NEGATIVO -5"), 1);
    EXPECT_EQ(Trabajos().count(',') + 1, hostiles.size() + 3) << Trabajos().toStdString();
    EXPECT_EQ(Lista("SELECT Redirigido FROM Impresora ORDER BY Id_Impresora"), "1,2,3,4,5");

    // Named once among the start-up warnings, and once by the queue.
    const QString bitacora = uno.Bitacora();
    if (sqlite) {
        EXPECT_EQ(bitacora.count(
                      "Cola Impresion, fila no valida en ColaImpresion ('IdTrabajo'): IdTrabajo 'IdTrabajo' no es un "
                      "numero"),
                  1)
            << bitacora.toStdString();
        EXPECT_EQ(
            bitacora.count(
                "Cola Impresion, fila no valida en Impresora ('3'): Id_Impresora_Respaldo '1 --' no es un numero"),
            1);
    }
    EXPECT_EQ(bitacora.count("Cola Impresion, fila no valida en ColaImpresion ('3000000000')"), sqlite ? 1 : 0);
    const auto lineas = [&](const char* que) {
        return bitacora.split("\r\n").filter("Cola Impresion, fila no valida").filter(QLatin1String(que)).size();
    };
    EXPECT_EQ(lineas("Puerto 'PRN' no es un puerto"), 1) << bitacora.toStdString();
    EXPECT_EQ(lineas("Puerto '../../etc/passwd' no es un puerto"), 1);
    const QByteArray ajustes = EntornoPrueba::Leer(uno.RaizUnidad() + "/../../config/orlan/orlan.ini");
    EXPECT_FALSE(ajustes.contains("passwd"));
    EXPECT_FALSE(ajustes.contains("PRN"));
    EXPECT_FALSE(ajustes.contains("nnnnnnnnnn"));
}
