#include "PruebaImpresora.h"
#include "PruebaImpresoraVirtual.h"
#include "impresora-virtual/ImpresoraPty.h"
#include "impresora-virtual/ImpresoraTcp.h"
#include "platform/PuertoCom.h"

#include <QThread>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Classifies COM1 with each answer in turn; the port stays bound to the last.
void Clasificar(ctlImpresora& pr, ImpresoraVirtual& impresora) {
    struct Caso {
        int respuesta;
        const char* letra;
        bool resultado;
    };
    for (const Caso& c : {Caso{114, "P", false}, Caso{16, "C", true}, Caso{ImpresoraVirtual::kSilencio, "F", true},
                          Caso{18, "A", true}}) {
        SCOPED_TRACE(c.respuesta);
        impresora.EstablecerRespuesta(c.respuesta);
        QString letra;
        // The serial settings text means nothing here, not even a bad one.
        EXPECT_EQ(pr.ConfigurarPuerto("COM1", "E", "9600,P,8,1", &letra), c.resultado);
        EXPECT_EQ(letra, c.letra);
        EXPECT_EQ(Ajuste("COM1", "EstadoPapel"), QString::number(std::max(c.respuesta, 0)));
        EXPECT_EQ(Tomar(impresora, 3), kPedido);
    }
}

// A port whose listening queue is full: the system takes no more connections
// and leaves a new one unanswered. Loopback only; at most a few tries.
class PuertoSaturado {
public:
    PuertoSaturado() {
        m_escucha = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in d{};
        d.sin_family = AF_INET;
        d.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t largo = sizeof d;
        bind(m_escucha, reinterpret_cast<sockaddr*>(&d), sizeof d);
        listen(m_escucha, 0);
        getsockname(m_escucha, reinterpret_cast<sockaddr*>(&d), &largo);
        m_puerto = ntohs(d.sin_port);
        for (int i = 0; i < 8 && !m_lleno; ++i) {
            const int s = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            m_relleno.push_back(s);
            connect(s, reinterpret_cast<sockaddr*>(&d), sizeof d);
            pollfd pf{s, POLLOUT, 0};
            m_lleno = poll(&pf, 1, 200) == 0;
        }
    }
    ~PuertoSaturado() {
        for (int s : m_relleno) {
            close(s);
        }
        close(m_escucha);
    }
    bool Lleno() const { return m_lleno; }
    quint16 Puerto() const { return m_puerto; }

private:
    int m_escucha = -1;
    quint16 m_puerto = 0;
    std::vector<int> m_relleno;
    bool m_lleno = false;
};

} // namespace

TEST(PuertoCom, TheSettingsFormChoosesTheWay) {
    using Tipo = PuertoCom::Destino::Tipo;
    const auto d = PuertoCom::Interpretar(" TCP:impresora-cocina:9100 ");
    EXPECT_EQ(std::tuple(d.tipo, d.host, d.puerto, d.valido),
              std::tuple(Tipo::Tcp, QString("impresora-cocina"), 9100, true));
    EXPECT_EQ(PuertoCom::Interpretar("tcp:[::1]:9100").host, "::1");
    for (const char* malo : {"tcp:", "tcp:host", "tcp::9100", "tcp:host:0", "tcp:host:65536", "tcp:host:91x"}) {
        EXPECT_FALSE(PuertoCom::Interpretar(malo).valido) << malo;
    }
    EXPECT_EQ(PuertoCom::Interpretar("/dev/usb/lp0").tipo, Tipo::Usb);
    EXPECT_EQ(PuertoCom::Interpretar("/dev/usb/lp0").ruta, "/dev/usb/lp0");
    EXPECT_EQ(PuertoCom::Interpretar("usb:/dev/pts/7").ruta, "/dev/pts/7");
    EXPECT_EQ(PuertoCom::Interpretar("/dev/ttyUSB0").tipo, Tipo::Serie) << "a USB serial adapter is a serial port";
    EXPECT_EQ(PuertoCom::Interpretar("/dev/ttyS0").tipo, Tipo::Serie);
}

TEST(PuertoRed, ANetworkPrinterAnswersAndPrintsOnItsConnection) {
    EntornoPrueba entorno;
    ImpresoraTcp impresora;
    ASSERT_TRUE(impresora.Abierta()) << impresora.Error().toStdString();
    impresora.Iniciar();
    Ajustes::Guardar("ORLAN", "Puertos", "COM1", impresora.Destino());
    ctlImpresora pr;
    Clasificar(pr, impresora);
    EXPECT_EQ(impresora.Conexiones(), 4) << "a new connection for every classification";

    pr.SetModo(1);
    pr.Negrita(true);
    QString linea = QString::fromUtf8("Señal €");
    EXPECT_TRUE(pr.Imprimirln(linea));
    EXPECT_EQ(Tomar(impresora, 13), H("1B4501") + QByteArray("\rSe\xF1"
                                                             "al \x80\n\r"));

    // The printer goes away: printing fails instead of waiting.
    impresora.Cerrar();
    for (int i = 0; i < 50 && pr.Imprimir("x"); ++i) {
        QThread::msleep(20);
    }
    EXPECT_FALSE(pr.Imprimir("x"));

    // Nobody listens: the port failed.
    QString letra;
    EXPECT_FALSE(pr.ConfigurarPuerto("COM1", "E", "9600,N,8,1", &letra));
    EXPECT_EQ(letra, "P");
}

TEST(PuertoRed, APrinterThatDoesNotTakeTheConnectionHasNotAnswered) {
    EntornoPrueba entorno;
    PuertoSaturado saturado;
    if (!saturado.Lleno()) {
        GTEST_SKIP() << "this system still takes connections on a full queue";
    }
    Ajustes::Guardar("ORLAN", "Puertos", "COM2", QStringLiteral("tcp:127.0.0.1:%1").arg(saturado.Puerto()));
    ctlImpresora pr;
    QString letra;
    EXPECT_TRUE(pr.InicializarPuerto("COM2", &letra));
    EXPECT_EQ(letra, "F");
    EXPECT_EQ(Ajuste("COM2", "EstadoPapel"), "0");
    EXPECT_EQ(Ajuste("COM2", "Estado"), "2");
    EXPECT_FALSE(pr.Imprimir("x")) << "nothing to print on";
}

TEST(PuertoUsb, AUsbPrinterIsWrittenAndReadBackOnItsDevice) {
    EntornoPrueba entorno;
    ImpresoraPty impresora;
    ASSERT_TRUE(impresora.Abierta()) << impresora.Error().toStdString();
    impresora.Iniciar();
    Ajustes::Guardar("ORLAN", "Puertos", "COM1", "usb:" + impresora.Ruta());
    ctlImpresora pr;
    Clasificar(pr, impresora);
    pr.SetModo(1);
    pr.Cortar();
    EXPECT_EQ(Tomar(impresora, 26), QByteArray("\n\r").repeated(12) + H("1B6D"));

    // Unplugged: the device is gone.
    impresora.Cerrar();
    EXPECT_FALSE(pr.Imprimir("x"));
    QString letra;
    EXPECT_FALSE(pr.ConfigurarPuerto("COM1", "E", QString(), &letra));
    EXPECT_EQ(letra, "P");
}
