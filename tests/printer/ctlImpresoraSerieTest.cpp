#include "PruebaImpresora.h"
#include "impresora-virtual/ImpresoraPty.h"

#include <chrono>
#include <thread>

namespace {

QByteArray H(const char* hex) {
    return QByteArray::fromHex(hex);
}

const QByteArray kPedido = H("100404");

// Serial printers on pseudo-terminals: m_com1 on COM1, m_com2 on COM2.
class ImpresoraSerie : public ::testing::Test {
protected:
    void SetUp() override {
        for (auto [n, impresora] : {std::pair{1, &m_com1}, std::pair{2, &m_com2}}) {
            ASSERT_TRUE(impresora->Abierta()) << impresora->Error().toStdString();
            Conectar(n, impresora->Ruta());
            impresora->Iniciar();
        }
    }

    static void Conectar(int n, const QString& dispositivo) {
        Ajustes::Guardar("ORLAN", "Puertos", QStringLiteral("COM%1").arg(n), dispositivo);
    }

    // Exactly what `impresora` received since the last call.
    static QByteArray Tomar(ImpresoraPty& impresora, qsizetype esperados) {
        QByteArray bytes = impresora.EsperarRecibidos(esperados, 2000);
        impresora.VaciarRecibidos();
        return bytes;
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
    for (const Caso& c : {Caso{18, "A", true, 0}, Caso{114, "P", false, 1}, Caso{16, "C", true, 4},
                          Caso{0, "F", true, 2}, Caso{7, "D", false, 3}}) {
        SCOPED_TRACE(c.respuesta);
        m_com2.EstablecerRespuesta(c.respuesta);
        m_pr.SetModo(0);
        QString letra;
        EXPECT_EQ(m_pr.InicializarPuerto("COM2", &letra), c.resultado);
        EXPECT_EQ(letra, c.letra);
        EXPECT_FALSE(m_pr.EsLpt());
        EXPECT_EQ(m_pr.NumeroPuerto(), 2);
        EXPECT_EQ(m_pr.ModoImpresora(), c.resultado ? 2 : 0);
        EXPECT_EQ(Tomar(m_com2, 3), kPedido);
        EXPECT_EQ(Ajuste("COM2", "EstadoPapel"), QString::number(c.respuesta));
        EXPECT_EQ(Ajuste("COM2", "Estado"), QString::number(c.estado));
        EXPECT_EQ(Eventos().last(), QStringLiteral("COLA IMPRESION: %1 %2").arg(c.letra).arg(c.estado));
    }
    EXPECT_TRUE(m_com1.Recibidos().isEmpty());
}

TEST_F(ImpresoraSerie, SilentPrinterIsFAfterTheDeadline) {
    m_com1.EstablecerRespuesta(ImpresoraPty::kSilencio);
    QString letra;
    EXPECT_TRUE(m_pr.ConfigurarPuerto("COM1", "E", "9600,N,8,1", &letra));
    EXPECT_EQ(letra, "F");
    EXPECT_EQ(Ajuste("COM1", "EstadoPapel"), "0");
    EXPECT_EQ(Ajuste("COM1", "Estado"), "2");
    EXPECT_TRUE(m_pr.Imprimir("ok")) << "the port stays open";
    EXPECT_EQ(Tomar(m_com1, 5), kPedido + "ok");
}

TEST_F(ImpresoraSerie, PortFailuresArePaperOut) {
    auto clasificar = [&](const QString& nombre, const QString& settings = "9600,N,8,1") {
        QString letra;
        const bool ok = m_pr.ConfigurarPuerto(nombre, "E", settings, &letra);
        EXPECT_FALSE(ok);
        EXPECT_EQ(Eventos().last(), "COLA IMPRESION: P 1");
        EXPECT_EQ(Ajuste(nombre, "Estado"), "1");
        return letra;
    };
    for (const char* settings : {"9600,P,8,1", "9600,N,4,1", "abc,N,8,1", "9600,N,8", ""}) {
        EXPECT_EQ(clasificar("COM1", settings), "P") << settings;
    }
    EXPECT_EQ(Ajuste("COM1", "EstadoPapel"), "-") << "no answer was read";

    Conectar(3, m_entorno.Raiz() + "/no-existe");
    EXPECT_EQ(clasificar("COM3"), "P");
    EXPECT_EQ(clasificar("COM5"), "P") << "no serial object";

    // A port that another program holds.
    ctlImpresora otro;
    ASSERT_TRUE(otro.ConfigurarPuerto("COM2", "E", "9600,N,8,1"));
    EXPECT_EQ(clasificar("COM2"), "P");

    // An unplugged printer: the device is gone.
    ASSERT_TRUE(m_pr.ConfigurarPuerto("COM1", "E", "19200,N,8,2"));
    m_com1.Cerrar();
    EXPECT_EQ(clasificar("COM1"), "P");
    EXPECT_TRUE(Tomar(m_com2, 3) == kPedido);
}

TEST_F(ImpresoraSerie, CommandsAndTextReachTheBoundPort) {
    ASSERT_TRUE(m_pr.InicializarPuerto("COM2"));
    Tomar(m_com2, 3);
    m_pr.Negrita(true);
    m_pr.Negrita(false);
    EXPECT_EQ(Tomar(m_com2, 6), H("1B4501 1B4500"));

    QString linea = "ABC";
    EXPECT_TRUE(m_pr.Imprimirln(linea));
    EXPECT_EQ(linea, "ABC\n\r") << "the caller's text gets the line end";
    EXPECT_EQ(Tomar(m_com2, 6), H("0D414243 0A0D"));
    EXPECT_TRUE(m_pr.Imprimir(QString::fromUtf8("Señal €")));
    EXPECT_EQ(Tomar(m_com2, 7), QByteArray("Se\xF1"
                                           "al \x80"));

    m_pr.SetModo(3);
    m_pr.Cortar();
    EXPECT_EQ(Tomar(m_com2, 27), QByteArray("\n\r").repeated(12) + H("1B6431"));

    // The drawer hangs on the first serial port: nothing while it is closed.
    m_pr.SetModo(1);
    EXPECT_FALSE(m_pr.Abrircaja());
    m_pr.Imprimir("|");
    EXPECT_EQ(Tomar(m_com2, 1), "|");
    ASSERT_TRUE(m_pr.InicializarPuerto("COM1"));
    ASSERT_TRUE(m_pr.InicializarPuerto("COM2"));
    Tomar(m_com1, 3);
    Tomar(m_com2, 3);
    EXPECT_FALSE(m_pr.Abrircaja());
    EXPECT_EQ(Tomar(m_com1, 3), H("1B7000"));
    EXPECT_TRUE(m_com2.Recibidos().isEmpty());
    EXPECT_TRUE(Eventos().filter("Error Impresion").isEmpty());
}

TEST_F(ImpresoraSerie, ClosedPortLogsEveryCommandAndPrintsNothing) {
    ASSERT_TRUE(m_pr.InicializarPuerto("COM2"));
    Tomar(m_com2, 3);
    m_pr.CerrarPuerto(2);
    m_pr.SetModo(2);
    const qsizetype antes = Eventos().size();
    m_pr.Cortar();
    m_pr.Negrita(true);
    m_pr.Subrayado(true);
    m_pr.Invertido(true);
    m_pr.Color(true);
    m_pr.Avanzar(2);
    m_pr.Expandido(true);
    m_pr.ExtraExpandido(true);
    m_pr.ResetCaracter();
    m_pr.ResetPrinter();
    m_pr.PrintLogo();
    EXPECT_EQ(Eventos().mid(antes), (QStringList{
                                        "Error Impresion comando:Avanzar modo:2",
                                        "Error Impresion comando:Cortar modo:2",
                                        "Error Impresion comando:Negrita modo:2",
                                        "Error Impresion comando:Subrayado modo:2",
                                        "Error Impresion comando:Invertido modo:2",
                                        "Error Impresion comando:Color modo:2",
                                        "Error Impresion comando:Avanzar modo:2",
                                        "Error Impresion comando:Expandido modo:2",
                                        "Error Impresion comando:Expandido modo:2",
                                        "Error Impresion comando: ResetCaracter modo: 2",
                                        "Error Impresion comando:resetPrinter modo:2",
                                        "Error Impresion comando:Logo modo:2",
                                        "Error Impresion comando:Logo modo:2",
                                        "Error Impresion comando:Logo modo:2",
                                        "Error Impresion comando:Logo modo:2",
                                        "Error Impresion comando:Logo modo:2",
                                        "Error Impresion comando:Avanzar modo:2",
                                    }));
    QString linea = "ABC";
    EXPECT_FALSE(m_pr.Imprimirln(linea));
    EXPECT_EQ(linea, "ABC");
    EXPECT_FALSE(m_pr.Imprimir("ABC"));
    EXPECT_TRUE(m_com2.Recibidos().isEmpty());
}

TEST_F(ImpresoraSerie, RecibirReturnsTheFramedAnswerAndClosesThePort) {
    ASSERT_TRUE(m_pr.InicializarPuerto("COM1"));
    Tomar(m_com1, 3);
    m_com1.Enviar("stale"); // discarded when Recibir starts
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::thread respuesta([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        m_com1.Enviar(H("024F4B03 31323334"));
    });
    EXPECT_EQ(m_pr.Recibir().toLatin1(), H("024F4B03 31323334"));
    respuesta.join();
    EXPECT_FALSE(m_pr.Imprimir("x")) << "closed";

    // In pieces, after a DC2, with bytes before the STX and after the 4.
    ASSERT_TRUE(m_pr.InicializarPuerto("COM1"));
    std::thread piezas([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        m_com1.Enviar(H("12 02 41 42"));
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        m_com1.Enviar(H("4344 03 3132"));
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        m_com1.Enviar(H("3334 35"));
    });
    EXPECT_EQ(m_pr.Recibir().toLatin1(), H("02414243 4403 31323334"));
    piezas.join();
}

TEST_F(ImpresoraSerie, RecibirTimesOutWithError200) {
    ASSERT_TRUE(m_pr.InicializarPuerto("COM1"));
    try {
        RelojQueAvanza reloj(3);
        m_pr.Recibir();
        ADD_FAILURE() << "no error";
    } catch (const ErrorRecibir& e) {
        EXPECT_EQ(e.Numero(), 200);
        EXPECT_EQ(e.Origen(), "Time Out");
        EXPECT_EQ(e.Descripcion(), "Error de Comunicación");
    }
    EXPECT_FALSE(m_pr.Imprimir("x")) << "closed";
    EXPECT_THROW(m_pr.Recibir(), ErrorRecibir) << "on a closed port";
}
