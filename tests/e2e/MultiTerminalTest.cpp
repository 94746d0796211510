#include "PruebaCola.h"
#include "testsupport/ImpresoraVirtual.h"
#include "testsupport/Recibos.h"
#include "testsupport/ServidorPostgres.h"

#include <QThread>
#include <tuple>

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

namespace {

// Terminals 1 and 2, each with a serial printer (1 and 2) that is the
// other's backup.
void DosTerminalesSerie() {
    Conexion& c = Conexion::Instancia();
    for (int t : {1, 2}) {
        c.Ejecutar(QString("INSERT INTO Terminal (ID_Terminal) VALUES (%1)").arg(t));
    }
    c.Ejecutar("INSERT INTO Parametros (Id_Parametro, Valor_Num) VALUES ('TERMINAL', 1)");
    InsertarImpresora(1, 1, 2, "'A'", "COM1");
    InsertarImpresora(2, 2, 1, "'A'", "COM1");
}

// Job `id` for `impresora`, long enough (about 75 bytes a line, 20 lines by
// default) that a slow printer is still taking it seconds after its first line.
void InsertarTrabajoLargo(int id, int impresora, int renglones = 20) {
    QList<std::optional<QString>> lineas = Marcado(id);
    for (int i = 0; i < renglones; ++i) {
        lineas.insert(1, QStringLiteral("renglon largo del pedido ").repeated(3));
    }
    InsertarTrabajo(id, impresora, lineas);
}

} // namespace

// A printer restored while the terminal that serves it as a backup is printing
// its jobs: each job comes out once, on one of the two printers, and no blank
// receipt comes out for a job the other terminal printed. Run both ways: with
// the backup slower than the restored printer, and faster.
TEST_F(PruebaCola, APrinterRestoredWhileItsBackupPrintsItsJobsPrintsEachJobOnce) {
    DosTerminalesSerie();
    // About 190 bytes a job: 0.4 s at 4800 baud, 0.8 s at 2400.
    ImpresoraVirtual impresoraUno(m_entorno.Raiz() + "/com1-t1.bin");
    impresoraUno.Iniciar({"--baudios", "4800"});
    ImpresoraVirtual impresoraDos(m_entorno.Raiz() + "/com1-t2.bin");
    impresoraDos.Iniciar({"--baudios", "2400"});
    TerminalPrueba& uno = NuevaTerminal(1);
    TerminalPrueba& dos = NuevaTerminal(2);
    for (auto [terminal, impresora] : {std::pair{&uno, &impresoraUno}, std::pair{&dos, &impresoraDos}}) {
        ASSERT_FALSE(impresora->Destino().isEmpty());
        terminal->Ajuste("Puertos", "COM1", impresora->Destino());
        terminal->Ajuste("Cola", "ConfirmarRecepcion", "1");
        terminal->Iniciar();
    }
    const auto Capturas = [&] { return QList<QByteArray>{impresoraUno.Captura(), impresoraDos.Captura()}; };

    for (auto [propia, respaldo, primero] : {std::tuple{1, 2, 1}, std::tuple{2, 1, 101}}) {
        SCOPED_TRACE(QString("impresora %1 restablecida").arg(propia).toStdString());
        Ejecutar(QString("UPDATE Impresora SET Redirigido = %1 WHERE Id_Impresora = %2").arg(respaldo).arg(propia));
        for (int id = primero; id < primero + 20; ++id) {
            InsertarTrabajo(id, propia, Marcado(id));
        }
        // The backup has printed two of them: the rest are in its tick's list.
        ASSERT_TRUE(Esperar([&] { return ContarRecibos(Capturas()).enteros.value(primero + 1) > 0; }, 60));
        Ejecutar(
            QString("UPDATE Impresora SET Redirigido = %1, Estado_Impresora='A' WHERE Id_Impresora = %1").arg(propia));
        EXPECT_TRUE(Esperar([&] { return Trabajos().isEmpty(); }, 90)) << Trabajos().toStdString();
        // Whatever a terminal still had in its list has come out by now.
        QList<QByteArray> antes;
        ASSERT_TRUE(Esperar(
            [&] {
                const QList<QByteArray> ahora = Capturas();
                const bool quietas = ahora == antes;
                antes = ahora;
                QThread::msleep(1500);
                return quietas;
            },
            90));
    }
    const Recibos r = ContarRecibos(Capturas());
    int repetidos = 0;
    for (int id : r.enteros.keys()) {
        repetidos += r.enteros[id] > 1 ? 1 : 0;
    }
    EXPECT_EQ(r.enteros.size(), 40);
    EXPECT_EQ(repetidos, 0);
    EXPECT_TRUE(r.parciales.isEmpty());
    EXPECT_EQ(r.enBlanco, 0);
    EXPECT_EQ(Lista("SELECT COUNT(*) FROM ReclamoTrabajo"), "0");
    EXPECT_EQ(uno.Detener(), 0);
    EXPECT_EQ(dos.Detener(), 0);
}

// The backup's terminal dies (with its printer) in the middle of a job it
// claimed, and the printer is restored: the job waits for the claim to expire
// and then comes out whole, once, on the restored printer.
TEST_F(PruebaCola, AJobClaimedByATerminalThatDiedIsPrintedOnceTheClaimExpires) {
    DosTerminalesSerie();
    Ejecutar("UPDATE Impresora SET Redirigido = 2 WHERE Id_Impresora = 1");
    ImpresoraVirtual impresoraUno(m_entorno.Raiz() + "/com1-t1.bin");
    impresoraUno.Iniciar({"--baudios", "0"});
    ImpresoraVirtual impresoraDos(m_entorno.Raiz() + "/com1-t2.bin");
    impresoraDos.Iniciar({"--baudios", "1200"});
    TerminalPrueba& uno = NuevaTerminal(1);
    TerminalPrueba& dos = NuevaTerminal(2);
    for (auto [terminal, impresora] : {std::pair{&uno, &impresoraUno}, std::pair{&dos, &impresoraDos}}) {
        terminal->Ajuste("Puertos", "COM1", impresora->Destino());
        terminal->Ajuste("Cola", "ConfirmarRecepcion", "1");
        terminal->Ajuste("Cola", "VenceReclamo", "4");
    }
    dos.Iniciar();
    InsertarTrabajoLargo(1, 1);
    ASSERT_TRUE(Esperar([&] { return impresoraDos.Captura().contains("Trabajo 000001"); }, 30));
    dos.Matar();
    impresoraDos.Matar();
    EXPECT_EQ(Lista("SELECT ID_Terminal FROM ReclamoTrabajo WHERE IdTrabajo = 1"), "2");

    uno.Iniciar();
    Ejecutar("UPDATE Impresora SET Redirigido = 1, Estado_Impresora='A' WHERE Id_Impresora = 1");
    EXPECT_TRUE(Esperar([&] { return Trabajos().isEmpty(); }, 60)) << uno.Bitacora().toStdString();
    const Recibos r = ContarRecibos({impresoraUno.Captura(), impresoraDos.Captura()});
    EXPECT_EQ(r.enteros.value(1), 1);
    EXPECT_EQ(ContarRecibos({impresoraUno.Captura()}).enteros.value(1), 1);
    const QString bitacora = uno.Bitacora();
    EXPECT_TRUE(bitacora.contains("trabajo 1: lo imprime la terminal 2")) << bitacora.toStdString();
    EXPECT_TRUE(bitacora.contains("trabajo 1: el reclamo de la terminal 2 vencio")) << bitacora.toStdString();
    // Its dead holder may have printed it: the copy says so.
    EXPECT_TRUE(impresoraUno.Captura().contains("*** COPIA: puede estar repetido ***"));
    EXPECT_TRUE(bitacora.contains("trabajo 1 se imprime de nuevo marcado COPIA: el reclamo de la terminal 2 vencio"));
    EXPECT_EQ(Lista("SELECT COUNT(*) FROM ReclamoTrabajo"), "0");
    EXPECT_EQ(uno.Detener(), 0);
}

// A terminal printing a long job renews its claim: the other terminal, whose
// printer is restored meanwhile and whose claims expire sooner than the job
// lasts, waits for it and never prints it too.
TEST_F(PruebaCola, AClaimRenewedWhileItsJobPrintsNeverExpires) {
    DosTerminalesSerie();
    Ejecutar("UPDATE Impresora SET Redirigido = 2 WHERE Id_Impresora = 1");
    ImpresoraVirtual impresoraUno(m_entorno.Raiz() + "/com1-t1.bin");
    impresoraUno.Iniciar({"--baudios", "0"});
    // A network printer at 600 B/s: the job takes seconds to come out, and
    // its answer comes after it.
    ImpresoraVirtual impresoraDos(m_entorno.Raiz() + "/com1-t2.bin");
    impresoraDos.Iniciar({"--tcp", "0", "--velocidad", "600"});
    TerminalPrueba& uno = NuevaTerminal(1);
    TerminalPrueba& dos = NuevaTerminal(2);
    for (auto [terminal, impresora] : {std::pair{&uno, &impresoraUno}, std::pair{&dos, &impresoraDos}}) {
        terminal->Ajuste("Puertos", "COM1", impresora->Destino());
        terminal->Ajuste("Cola", "VenceReclamo", "1");
        terminal->Iniciar();
    }
    // About 6 KB: ten seconds at that speed.
    InsertarTrabajoLargo(1, 1, 80);
    InsertarTrabajoLargo(2, 1);
    ASSERT_TRUE(Esperar([&] { return impresoraDos.Captura().contains("Trabajo 000001"); }, 30));
    Ejecutar("UPDATE Impresora SET Redirigido = 1, Estado_Impresora='A' WHERE Id_Impresora = 1");
    EXPECT_TRUE(Esperar([&] { return Trabajos().isEmpty(); }, 60));
    EXPECT_EQ(uno.Detener(), 0);
    EXPECT_EQ(dos.Detener(), 0);
    EXPECT_EQ(ContarRecibos({impresoraUno.Captura(), impresoraDos.Captura()}).enteros,
              (QMap<int, int>{{1, 1}, {2, 1}}));
    EXPECT_FALSE(impresoraUno.Captura().contains("Trabajo 000001"));
    const QString bitacora = uno.Bitacora();
    EXPECT_TRUE(bitacora.contains("trabajo 1: lo imprime la terminal 2")) << bitacora.toStdString();
    EXPECT_FALSE(bitacora.contains("vencio")) << bitacora.toStdString() << dos.Bitacora().toStdString();
}

// A terminal killed in the middle of a job and started again, as its service
// manager does, takes its own claim back at once: the job is printed again
// before the jobs written after it, its copy marked as one, instead of
// waiting for the claim to expire.
TEST_F(PruebaCola, ATerminalKilledMidJobPrintsItAgainAtOnceMarkedAsACopy) {
    DosTerminalesSerie();
    ImpresoraVirtual impresora(m_entorno.Raiz() + "/com1-t1.bin");
    impresora.Iniciar({"--baudios", "1200"});
    TerminalPrueba& uno = NuevaTerminal(1);
    uno.Ajuste("Puertos", "COM1", impresora.Destino());
    uno.Ajuste("Cola", "ConfirmarRecepcion", "1");
    uno.Iniciar();
    InsertarTrabajoLargo(1, 1);
    ASSERT_TRUE(Esperar([&] { return impresora.Captura().contains("Trabajo 000001"); }, 30));
    uno.Matar();
    EXPECT_EQ(Lista("SELECT ID_Terminal FROM ReclamoTrabajo WHERE IdTrabajo = 1"), "1");
    InsertarTrabajo(2, 1, Marcado(2));

    uno.Iniciar();
    // Confirmed by the serial printer's status answer, the jobs may still be
    // on their way through the slow line when the queue is empty.
    EXPECT_TRUE(Esperar([&] { return Trabajos().isEmpty() && impresora.Captura().contains("Fin 000002"); }, 60))
        << uno.Bitacora().toStdString();
    EXPECT_EQ(uno.Detener(), 0);
    const QByteArray captura = impresora.Captura();
    const qsizetype copia = captura.indexOf("*** COPIA: puede estar repetido ***");
    ASSERT_GE(copia, 0) << captura.toStdString();
    // The marked copy is whole, and it came before the next job.
    const qsizetype corte = captura.indexOf("\x1B\x6D", copia);
    const QByteArray recibo = captura.mid(copia, corte - copia);
    EXPECT_TRUE(recibo.contains("Trabajo 000001") && recibo.contains("Fin 000001")) << recibo.toStdString();
    EXPECT_LT(copia, captura.indexOf("Trabajo 000002"));
    EXPECT_EQ(ContarRecibos({captura}).enteros.value(2), 1);
    EXPECT_TRUE(uno.Bitacora().contains(
        "trabajo 1 se imprime de nuevo marcado COPIA: esta terminal lo reclamaba cuando se detuvo"))
        << uno.Bitacora().toStdString();
    EXPECT_EQ(Lista("SELECT COUNT(*) FROM ReclamoTrabajo"), "0");
}
