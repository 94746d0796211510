#include "PruebaImpresora.h"
#include "PruebaImpresoraVirtual.h"
#include "impresora-virtual/ImpresoraPty.h"
#include "platform/Senales.h"

#include <QDir>
#include <QFileInfo>
#include <chrono>
#include <csignal>
#include <optional>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

// A descriptor this process already holds on a pseudo-terminal (the port may
// be opened exclusively), or -1.
int Descriptor(const QString& ruta) {
    for (const QFileInfo& fd : QDir("/proc/self/fd").entryInfoList(QDir::System | QDir::NoDotAndDotDot)) {
        if (fd.symLinkTarget() == ruta && isatty(fd.fileName().toInt())) {
            return fd.fileName().toInt();
        }
    }
    return -1;
}

// The line settings of a pseudo-terminal.
std::optional<termios> Linea(const QString& ruta) {
    termios t{};
    const int fd = Descriptor(ruta);
    return fd >= 0 && tcgetattr(fd, &t) == 0 ? std::optional(t) : std::nullopt;
}

// Bytes that reached a pseudo-terminal's input and wait there to be read, -1
// if unknown.
int EnEntrada(const QString& ruta) {
    int n = 0;
    const int fd = Descriptor(ruta);
    return fd >= 0 && ioctl(fd, FIONREAD, &n) == 0 ? n : -1;
}

// Serial printers on pseudo-terminals: m_com1 on COM1, m_com2 on COM2.
class ImpresoraSerie : public ::testing::Test {
protected:
    void SetUp() override {
        for (auto [n, impresora] : {std::pair{1, &m_com1}, std::pair{2, &m_com2}}) {
            ASSERT_TRUE(impresora->Abierta()) << impresora->Error().toStdString();
            Ajustes::Guardar("ORLAN", "Puertos", QStringLiteral("COM%1").arg(n), impresora->Ruta());
            impresora->Iniciar();
        }
    }

    EntornoPrueba m_entorno;
    ImpresoraPty m_com1;
    ImpresoraPty m_com2;
    ctlImpresora m_pr;
};

} // namespace

TEST_F(ImpresoraSerie, PaperAnswerGivesTheStateAndItIsStored) {
    struct Caso {
        int respuesta;
        const char* letra;
        bool resultado;
        int estado;
    };
    Ajustes::Guardar("ORLAN", "COM2", "Modo", "C");
    Ajustes::Guardar("ORLAN", "COM2", "Nombre", "Barra");
    const QString nombre = "COLA IMPRESION: Barra (COM2 en " + m_com2.Ruta() + "): ";
    const QStringList causas = {"", "sin papel", "no contesta", "respuesta desconocida 7", ""};
    for (const Caso& c : {Caso{18, "A", true, 0}, Caso{114, "P", false, 1}, Caso{16, "C", true, 4},
                          Caso{0, "F", true, 2}, Caso{7, "D", false, 3}, Caso{ImpresoraPty::kSilencio, "F", true, 2}}) {
        SCOPED_TRACE(c.respuesta);
        m_com2.EstablecerRespuesta(c.respuesta);
        m_pr.SetModo(0);
        QString letra;
        EXPECT_EQ(m_pr.InicializarPuerto("COM2", &letra), c.resultado);
        EXPECT_EQ(letra, c.letra);
        EXPECT_EQ(m_pr.ModoImpresora(), c.resultado ? 2 : 0) << "the mode is applied only to a usable printer";
        EXPECT_EQ(Tomar(m_com2, 3), kPedido);
        EXPECT_EQ(Ajuste("COM2", "EstadoPapel"), QString::number(std::max(c.respuesta, 0)));
        EXPECT_EQ(Ajuste("COM2", "Estado"), QString::number(c.estado));
        // A state that is not ready is followed by the printer's name, where
        // it hangs and why.
        QStringList esperadas = {QStringLiteral("COLA IMPRESION: %1 %2").arg(c.letra).arg(c.estado)};
        if (!causas[c.estado].isEmpty()) {
            esperadas << nombre + causas[c.estado];
        }
        EXPECT_EQ(Eventos().mid(Eventos().size() - esperadas.size()), esperadas);
    }
    EXPECT_TRUE(m_pr.Imprimir("ok")) << "a silent printer's port stays open";
    EXPECT_EQ(Tomar(m_com2, 2), "ok");
}

TEST_F(ImpresoraSerie, UnusablePortsArePaperOut) {
    auto clasificar = [&](const QString& nombre, const QString& settings = "9600,N,8,1") {
        QString letra;
        EXPECT_FALSE(m_pr.ConfigurarPuerto(nombre, "E", settings, &letra));
        EXPECT_EQ(Eventos()[Eventos().size() - 2], "COLA IMPRESION: P 1");
        EXPECT_TRUE(Eventos().last().startsWith("COLA IMPRESION: impresora (" + nombre))
            << Eventos().last().toStdString();
        EXPECT_EQ(Ajuste(nombre, "Estado"), "1");
        return letra;
    };
    EXPECT_EQ(clasificar("COM1", "9600,X,8,1"), "P");
    EXPECT_EQ(clasificar("COM1", ""), "P");
    EXPECT_EQ(Ajuste("COM1", "EstadoPapel"), "-") << "no answer was read";
    Ajustes::Guardar("ORLAN", "Puertos", "COM3", m_entorno.Raiz() + "/no-existe");
    EXPECT_EQ(clasificar("COM3"), "P");
    EXPECT_TRUE(Eventos().last().endsWith("/no-existe): no se pudo abrir: " + m_entorno.Raiz() +
                                          "/no-existe: No such file or directory"))
        << Eventos().last().toStdString();
    EXPECT_EQ(clasificar("COM5"), "P") << "no serial object";
    ctlImpresora otro; // holds COM2
    ASSERT_TRUE(otro.ConfigurarPuerto("COM2", "E", "9600,N,8,1"));
    EXPECT_EQ(clasificar("COM2"), "P");
}

TEST_F(ImpresoraSerie, TextAndCommandsGoToTheBoundPortAndTheDrawerToTheFirstWhileOpen) {
    ASSERT_TRUE(m_pr.InicializarPuerto("COM2"));
    Tomar(m_com2, 3);
    m_pr.Negrita(true);
    EXPECT_EQ(Tomar(m_com2, 3), H("1B4501"));
    QString linea = QString::fromUtf8("Señal €");
    EXPECT_TRUE(m_pr.Imprimirln(linea));
    EXPECT_EQ(linea, QString::fromUtf8("Señal €\n\r")) << "the caller's text gets the line end";
    EXPECT_EQ(Tomar(m_com2, 10), QByteArray("\rSe\xF1"
                                            "al \x80\n\r"));
    m_pr.SetModo(3);
    m_pr.Cortar();
    EXPECT_EQ(Tomar(m_com2, 27), QByteArray("\n\r").repeated(12) + H("1B6431"));

    // The drawer hangs on COM1, whatever the printer's port: nothing while it is closed.
    EXPECT_FALSE(m_pr.Abrircaja());
    ASSERT_TRUE(m_pr.InicializarPuerto("COM1"));
    ASSERT_TRUE(m_pr.InicializarPuerto("COM2"));
    EXPECT_FALSE(m_pr.Abrircaja());
    EXPECT_EQ(Tomar(m_com1, 6), kPedido + H("1B7000"));
    EXPECT_EQ(Tomar(m_com2, 3), kPedido);
    EXPECT_TRUE(Eventos().filter("Error Impresion").isEmpty());

    // A closed port logs the failed commands and takes no text.
    m_pr.CerrarPuerto(2);
    m_pr.SetModo(2);
    m_pr.Cortar();
    m_pr.ResetCaracter();
    EXPECT_EQ(Eventos().filter("Error Impresion"),
              (QStringList{"Error Impresion comando:Avanzar modo:2", "Error Impresion comando:Cortar modo:2",
                           "Error Impresion comando: ResetCaracter modo: 2"}));
    QString texto = "ABC";
    EXPECT_FALSE(m_pr.Imprimirln(texto));
    EXPECT_EQ(texto, "ABC");
    EXPECT_FALSE(m_pr.Imprimir("ABC"));
    EXPECT_TRUE(m_com2.Recibidos().isEmpty());
}

TEST_F(ImpresoraSerie, RecibirReturnsTheFramedAnswerOrTimesOutAndClosesThePort) {
    ASSERT_TRUE(m_pr.InicializarPuerto("COM1"));
    // An old answer, discarded when Recibir starts: once it is in the port's
    // input (the pseudo-terminal hands bytes over on its own time).
    m_com1.Enviar(H("02585803 58585858"));
    for (int i = 0; i < 5000 && EnEntrada(m_com1.Ruta()) < 8; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(EnEntrada(m_com1.Ruta()), 8);
    // In pieces, after a DC2, with bytes before the STX and after the four that follow the ETX.
    std::thread piezas([&] {
        for (const char* pieza : {"12024142", "4344033132", "333435"}) {
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
            m_com1.Enviar(H(pieza));
        }
    });
    EXPECT_EQ(m_pr.Recibir().toLatin1(), H("02414243 4403 31323334"));
    piezas.join();
    EXPECT_FALSE(m_pr.Imprimir("x")) << "closed";

    ASSERT_TRUE(m_pr.InicializarPuerto("COM1"));
    const auto reloj = Reloj::Establecer([t = QDateTime::currentDateTime()]() mutable { return t = t.addSecs(3); });
    try {
        m_pr.Recibir();
        ADD_FAILURE() << "no error";
    } catch (const ErrorRecibir& e) {
        EXPECT_EQ(e.Numero(), 200);
        EXPECT_EQ(e.Origen(), "Time Out");
        EXPECT_EQ(e.Descripcion(), "Error de Comunicación");
    }
    Reloj::Establecer(reloj);
    EXPECT_FALSE(m_pr.Imprimir("x")) << "closed";
}

TEST_F(ImpresoraSerie, SpanishParityLettersOpenTheirParity) {
    // "P" (Par) is even and "I" (Impar) odd; only a whole parity field counts.
    for (auto [guardado, serie] : {std::pair{"9600,P,8,1", "9600,E,8,1"}, std::pair{"19200, i ,7,2", "19200,O,7,2"},
                                   std::pair{"9600,E,8,1", "9600,E,8,1"}, std::pair{"9600,PI,8,1", "9600,PI,8,1"},
                                   std::pair{"P,8,1", "P,8,1"}, std::pair{"", ""}}) {
        EXPECT_EQ(ctlImpresora::SettingsSerie(guardado), serie) << guardado;
    }
    EXPECT_TRUE(ctlImpresora::SettingsSerie(QString()).isNull());

    // On the line: a pseudo-terminal keeps the odd flag (it drops the parity
    // enable, and refuses even parity outright).
    Ajustes::Guardar("ORLAN", "COM1", "Settings", "9600,I,8,1");
    QString letra;
    EXPECT_TRUE(m_pr.InicializarPuerto("COM1", &letra));
    EXPECT_EQ(letra, "A");
    const auto t = Linea(m_com1.Ruta());
    ASSERT_TRUE(t);
    EXPECT_EQ(t->c_cflag & PARODD, tcflag_t(PARODD));
    Ajustes::Guardar("ORLAN", "COM1", "Settings", "9600,X,8,1");
    EXPECT_FALSE(m_pr.InicializarPuerto("COM1", &letra));
    EXPECT_EQ(letra, "P");
}

// A printer that answered before the job confirms it only by answering ready
// again after the job's bytes; one that never answered is not asked.
TEST_F(ImpresoraSerie, AfterAJobOnlyAPrinterThatStillAnswersReadyConfirmsIt) {
    ASSERT_TRUE(m_pr.InicializarPuerto("COM1"));
    Tomar(m_com1, 3);
    EXPECT_TRUE(m_pr.Imprimir("cuenta"));
    EXPECT_TRUE(m_pr.ConfirmarRecepcion());
    EXPECT_EQ(Tomar(m_com1, 9), "cuenta" + H("1D7201")) << "GS r 1, answered in order, follows the job's bytes";
    for (int respuesta : {114, ImpresoraPty::kSilencio}) {
        m_com1.EstablecerRespuesta(respuesta);
        EXPECT_FALSE(m_pr.ConfirmarRecepcion()) << respuesta;
        Tomar(m_com1, 3);
    }
    m_com1.EstablecerRespuesta(16);
    EXPECT_TRUE(m_pr.ConfirmarRecepcion());
    Tomar(m_com1, 3);

    // Star's command set has no GS r, which a Star printer would print as
    // text: it is asked DLE EOT 4.
    Ajustes::Guardar("ORLAN", "COM1", "Modo", "S");
    m_com1.EstablecerRespuesta(18);
    ASSERT_TRUE(m_pr.InicializarPuerto("COM1"));
    Tomar(m_com1, 3);
    EXPECT_TRUE(m_pr.Imprimir("cuenta"));
    EXPECT_TRUE(m_pr.ConfirmarRecepcion());
    EXPECT_EQ(Tomar(m_com1, 9), "cuenta" + H("100404"));

    m_com2.EstablecerRespuesta(ImpresoraPty::kSilencio);
    ASSERT_TRUE(m_pr.InicializarPuerto("COM2"));
    Tomar(m_com2, 3);
    EXPECT_TRUE(m_pr.ConfirmarRecepcion()) << "a printer that never answers is printed on all the same";
    EXPECT_TRUE(m_com2.EsperarRecibidos(1, 300).isEmpty());
}

// A 9600-baud printer takes about 960 bytes a second and answers only after
// them: the wait for the confirmation allows the job's own line time.
TEST_F(ImpresoraSerie, TheConfirmationWaitsForTheLineToCarryTheJob) {
    m_com1.EstablecerBaudios(9600);
    ASSERT_TRUE(m_pr.InicializarPuerto("COM1"));
    QString linea = QString(42, u'x');
    for (int i = 0; i < 80; ++i) {
        QString copia = linea;
        ASSERT_TRUE(m_pr.Imprimirln(copia));
    }
    EXPECT_TRUE(m_pr.ConfirmarRecepcion()) << m_pr.Causa().toStdString();
    EXPECT_EQ(Tomar(m_com1, 3 + 80 * 45 + 3).size(), 3 + 80 * 45 + 3);
}

// A stop request (systemd's SIGTERM) during a long job on a 9600-baud line:
// the job is cut at its next write, so the program can end long before the
// job would, and the job stays queued. Run in a child process: a stop, once
// asked for, stays asked for.
TEST_F(ImpresoraSerie, AStopRequestEndsALongSerialJobAtItsNextWrite) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            Senales::AlTerminar([](int) {});
            m_com1.EstablecerBaudios(9600);
            if (!m_pr.InicializarPuerto("COM1")) {
                std::_Exit(2);
            }
            // 400 lines, about 19 s on the line; the stop comes at line 20.
            int escritas = 0;
            bool fallo = false;
            for (; escritas < 400 && !fallo; ++escritas) {
                if (escritas == 20) {
                    std::raise(SIGTERM);
                }
                QString linea(42, u'x');
                fallo = !m_pr.Imprimirln(linea);
            }
            std::_Exit(fallo && escritas <= 22 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}
