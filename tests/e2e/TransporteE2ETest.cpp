#include "PruebaCola.h"
#include "testsupport/ImpresoraVirtual.h"
#include "testsupport/Recibos.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <optional>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// What an Epson printer on a serial-like port gets for a job of type "R": the
// paper-status request, the resets, the lines, three feeds and the cut with
// its own twelve feeds.
QByteArray ImpresoEpsonSerie(const QByteArray& lineas) {
    return H("100404") + H("1B400D1B2100") + lineas + H("0A0D").repeated(15) + H("1B6D");
}

// Another program printing on a network printer ("tcp:127.0.0.1:PORT"): it
// connects at once (the printer's backlog takes it) and holds the
// connection until it is destroyed.
class OtroEmisor {
public:
    explicit OtroEmisor(const QString& destino) {
        sockaddr_in d{};
        d.sin_family = AF_INET;
        d.sin_port = htons(destino.section(u':', 2).toUShort());
        d.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        m_conectado = ::connect(m_fd, reinterpret_cast<sockaddr*>(&d), sizeof d) == 0;
    }
    ~OtroEmisor() { close(m_fd); }
    bool Enviar(const QByteArray& bytes) {
        return m_conectado && send(m_fd, bytes.constData(), bytes.size(), MSG_NOSIGNAL) == bytes.size();
    }

private:
    int m_fd = -1;
    bool m_conectado = false;
};

} // namespace

// A network printer serves one connection at a time. The server leaves it
// free once a job is confirmed, so another program prints on it while the
// server idles; and while another program holds it, the server's job waits
// (the printer is busy, not failing: its job does not go to the backup) and
// prints once the other program is done.
TEST_F(PruebaCola, ANetworkPrinterIsFreeBetweenJobsAndWaitedForWhileAnotherProgramPrints) {
    InsertarTerminales({1});
    InsertarImpresora(1, 1, 2, "'A'", "COM1");
    InsertarImpresora(2, 1, 0, "'A'", "COM2");
    const QString dir = m_entorno.Raiz();
    ImpresoraVirtual red(dir + "/com1.bin"), respaldo(dir + "/com2.bin");
    red.Iniciar({"--tcp", "0", "--velocidad", "20000"});
    respaldo.Iniciar({"--tcp", "0"});
    TerminalPrueba& terminal = NuevaTerminal(1);
    terminal.Ajuste("Puertos", "COM1", red.Destino());
    terminal.Ajuste("Puertos", "COM2", respaldo.Destino());
    terminal.Iniciar();
    InsertarTrabajo(1, 1, Marcado(1));
    ASSERT_TRUE(Esperar([&] { return Trabajos().isEmpty(); }, 30)) << terminal.Bitacora().toStdString();

    {
        OtroEmisor tableta(red.Destino());
        ASSERT_TRUE(tableta.Enviar("Pedido en linea 77\n\x1Bm"));
        EXPECT_TRUE(Esperar([&] { return red.Captura().contains("Pedido en linea 77"); }, 10))
            << "the server still holds the printer";
    }

    std::optional<OtroEmisor> tableta(std::in_place, red.Destino());
    ASSERT_TRUE(tableta->Enviar("Pedido en linea 78\n"));
    ASSERT_TRUE(Esperar([&] { return red.Captura().contains("Pedido en linea 78"); }, 10));
    InsertarTrabajo(2, 1, Marcado(2));
    EXPECT_TRUE(Esperar([&] { return terminal.Bitacora().contains("Cola Impresion, impresora 1 (COM1) ocupada"); }, 20))
        << terminal.Bitacora().toStdString();
    EXPECT_EQ(Trabajos(), "2");
    EXPECT_EQ(Lista("SELECT Redirigido || Estado_Impresora FROM Impresora WHERE Id_Impresora = 1"), "1A");
    ASSERT_TRUE(tableta->Enviar("\x1Bm"));
    tableta.reset();
    EXPECT_TRUE(Esperar([&] { return Trabajos().isEmpty(); }, 30)) << terminal.Bitacora().toStdString();
    EXPECT_EQ(terminal.Detener(), 0);
    const Recibos recibos = ContarRecibos({red.Captura()});
    EXPECT_EQ(recibos.enteros.value(1), 1);
    EXPECT_EQ(recibos.enteros.value(2), 1);
    EXPECT_FALSE(respaldo.Captura().contains("Trabajo")) << "nothing went to the backup";
}

TEST_F(PruebaCola, NetworkPrintersAnswerPrintAndRedirectLikeSerialOnes) {
    InsertarTerminales({1});
    InsertarImpresora(1, 1, 2, "'A'", "COM1");
    InsertarImpresora(2, 1, 1, "'A'", "COM2");
    InsertarImpresora(3, 1, 1, "'A'", "COM3");
    InsertarTrabajo(1, 1, {QStringLiteral("<B>uno</B>")});
    InsertarTrabajo(2, 2, {QStringLiteral("dos")});
    InsertarTrabajo(3, 3, {QStringLiteral("tres")});

    const QString dir = m_entorno.Raiz();
    ImpresoraVirtual lista(dir + "/com1.bin"), sinPapel(dir + "/com2.bin"), muda(dir + "/com3.bin");
    lista.Iniciar({"--tcp", "0", "--respuesta", "18"});
    sinPapel.Iniciar({"--tcp", "0", "--respuesta", "114"});
    muda.Iniciar({"--tcp", "0", "--respuesta", "ninguna"});
    TerminalPrueba& terminal = NuevaTerminal(1);
    for (auto [puerto, impresora] :
         {std::pair{"COM1", &lista}, std::pair{"COM2", &sinPapel}, std::pair{"COM3", &muda}}) {
        ASSERT_TRUE(impresora->Destino().startsWith("tcp:127.0.0.1:")) << impresora->Destino().toStdString();
        terminal.Ajuste("Puertos", puerto, impresora->Destino());
    }
    terminal.Iniciar();

    // Job 2's printer is out of paper: its job moves to printer 1 and prints
    // there in the next tick. The silent printer is printed on, but a job
    // counts only once the printer answers GS r 1 after its last byte: it
    // never does (nor DLE EOT 4, asked next), so its job goes to printer 1
    // at once and is never sent to it again.
    EXPECT_TRUE(Esperar([&] { return Trabajos().isEmpty(); }, 40)) << Trabajos().toStdString();
    const QByteArray uno = ImpresoEpsonSerie(H("1B4501") + "uno" + H("1B4500")) + H("1D7201");
    const QByteArray dos = ImpresoEpsonSerie("dos") + H("1D7201");
    const QByteArray tres = ImpresoEpsonSerie("tres") + H("1D7201");
    // Job 3 was sent to the silent printer: it may be on paper, and says so.
    const QByteArray tresCopia =
        ImpresoEpsonSerie(H("1B4501") + "*** COPIA: puede estar repetido ***" + H("1B4500") + H("0A0D") + "tres") +
        H("1D7201");
    EXPECT_TRUE(Esperar([&] { return lista.Captura().size() >= 3 + uno.size() + dos.size() + tresCopia.size(); }, 10));
    EXPECT_EQ(terminal.Detener(), 0) << terminal.Salida().toStdString();

    // Every printer is asked once when the server starts, then once before
    // every job (DLE EOT 4) and once after it (GS r 1). The printer that
    // answers ready is asked at start-up whether it answers GS r 1 as well.
    const QByteArray arranque = H("100404");
    EXPECT_EQ(lista.Captura().toHex().toStdString(),
              (arranque + H("1D7201") + uno + dos + tresCopia).toHex().toStdString());
    EXPECT_EQ(sinPapel.Captura(), arranque + arranque);
    EXPECT_EQ(muda.Captura().toHex().toStdString(), (arranque + tres + H("100404")).toHex().toStdString());
    EXPECT_EQ(Lista("SELECT Redirigido || Estado_Impresora FROM Impresora ORDER BY Id_Impresora"), "1A,1P,1F");
    const QString bitacora = terminal.Bitacora();
    EXPECT_EQ(bitacora.count("Cola Impresion, la impresora no confirmo el trabajo 3"), 1);
    for (const char* linea : {"COLA IMPRESION: A 0", "COLA IMPRESION: P 1", "COLA IMPRESION: F 2"}) {
        EXPECT_TRUE(bitacora.contains(linea)) << linea;
    }
}

// A stop asked for while a tick works through a slow printer's queue ends the
// tick: the job being printed is either finished or cut at its next write and
// left queued whole, the rest wait in the queue, and the program ends long
// before systemd would kill it.
TEST_F(PruebaCola, AStopEndsTheTickBetweenJobs) {
    InsertarTerminales({1});
    InsertarImpresora(1, 1, 0, "'A'", "COM1");
    // Six receipts of 3.6 KB each: nearly 4 s apiece on a 9600-baud line.
    QList<std::optional<QString>> lineas;
    for (int i = 0; i < 80; ++i) {
        lineas << QString(42, u'x');
    }
    for (int id = 1; id <= 6; ++id) {
        InsertarTrabajo(id, 1, lineas);
    }
    ImpresoraVirtual lenta(m_entorno.Raiz() + "/com1.bin");
    lenta.Iniciar({"--baudios", "9600"});
    ASSERT_TRUE(lenta.Destino().startsWith("/dev/")) << lenta.Destino().toStdString();
    TerminalPrueba& terminal = NuevaTerminal(1);
    terminal.Ajuste("Puertos", "COM1", lenta.Destino());
    terminal.Ajuste("Cola", "ConfirmarRecepcion", "1");
    terminal.Iniciar();
    // Job 1 is printed once its lines are gone; its header goes with the tick.
    const auto conRenglones = [&] {
        return Lista("SELECT DISTINCT IdTrabajo FROM DetalleColaImpresion ORDER BY IdTrabajo");
    };
    ASSERT_TRUE(Esperar([&] { return conRenglones() == "2,3,4,5,6"; }, 30)) << conRenglones().toStdString();

    EXPECT_EQ(terminal.Detener(), 0) << "ended by its own stop, not killed";
    const QString quedan = Trabajos();
    EXPECT_TRUE(quedan == "2,3,4,5,6" || quedan == "3,4,5,6" || quedan == "4,5,6") << quedan.toStdString();
}

// A stop that lands while a long job is still being written to a slow serial
// printer cuts the job at its next write: that failed write is the stop's,
// not the printer's. The printer keeps its own route (its backup is on the
// other terminal) and the job stays queued whole for the next start.
TEST_F(PruebaCola, AStopInTheMiddleOfAJobIsNoFailureOfItsPrinter) {
    InsertarTerminales({1, 2});
    InsertarImpresora(1, 1, 2, "'A'", "COM1");
    InsertarImpresora(2, 2, 0, "'A'", "COM1");
    // 25 KB: more than the line's buffers hold, so writes wait on the printer.
    QList<std::optional<QString>> lineas;
    for (int i = 0; i < 600; ++i) {
        lineas << QString(42, u'x');
    }
    InsertarTrabajo(1, 1, lineas);
    ImpresoraVirtual lenta(m_entorno.Raiz() + "/com1.bin");
    lenta.Iniciar({"--baudios", "9600"});
    ASSERT_TRUE(lenta.Destino().startsWith("/dev/")) << lenta.Destino().toStdString();
    TerminalPrueba& terminal = NuevaTerminal(1);
    terminal.Ajuste("Puertos", "COM1", lenta.Destino());
    terminal.Ajuste("Cola", "ConfirmarRecepcion", "1");
    terminal.Iniciar();
    ASSERT_TRUE(Esperar([&] { return lenta.Captura().count('x') >= 2000; }, 30));

    EXPECT_EQ(terminal.Detener(), 0) << "ended by its own stop, not killed";
    EXPECT_EQ(Trabajos().toStdString(), "1");
    const QString ruta = Lista("SELECT Redirigido FROM Impresora WHERE Id_Impresora = 1") + u' ' +
                         Lista("SELECT Estado_Impresora FROM Impresora WHERE Id_Impresora = 1");
    EXPECT_EQ(ruta.toStdString(), "1 A") << terminal.Bitacora().right(1500).toStdString();
}
