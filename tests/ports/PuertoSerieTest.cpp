#include "ports/PuertoSerie.h"
#include "impresora-virtual/ImpresoraPty.h"
#include "platform/Ajustes.h"
#include "testsupport/EntornoPrueba.h"

#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <thread>
#include <tuple>
#include <unistd.h>

TEST(PuertoSerie, SettingsTextsThePortCanUse) {
    const auto c = PuertoSerie::InterpretarSettings(u"19200, e ,7,2");
    ASSERT_TRUE(c);
    EXPECT_EQ(std::tuple(c->velocidad, c->paridad, c->bitsDatos, c->bitsParada), std::tuple(19200, 'E', 7, 20));
    EXPECT_EQ(PuertoSerie::InterpretarSettings(u"4800,S,5,1.5")->bitsParada, 15);
    for (const char16_t* malo : {u"9600,P,8,1", u"9600,N,4,1", u"abc,N,8,1", u"0,N,8,1", u"9600,N,9,1", u"9600,N,8,3",
                                 u"9600,N,8", u"9600,N,8,1,1", u"", u"9600,NN,8,1"}) {
        EXPECT_FALSE(PuertoSerie::InterpretarSettings(malo)) << QString::fromUtf16(malo).toStdString();
    }
    PuertoSerie p;
    EXPECT_FALSE(p.EstablecerSettings("9600,P,8,1"));
    EXPECT_EQ(p.Settings(), "9600,N,8,1") << "the old settings stay";
}

TEST(PuertoSerie, OpensTheConfiguredDeviceOnceAndMovesBytesBothWays) {
    EntornoPrueba entorno;
    EXPECT_EQ(PuertoSerie::Dispositivo(4), "/dev/ttyS3");
    ImpresoraPty impresora;
    ASSERT_TRUE(impresora.Abierta());
    impresora.EstablecerRespuesta(114);
    impresora.Iniciar();
    Ajustes::Guardar("ORLAN", "Puertos", "COM2", impresora.Ruta());
    PuertoSerie p;
    EXPECT_FALSE(p.Output("x")) << "closed";
    p.EstablecerCommPort(2);
    ASSERT_TRUE(p.EstablecerSettings("38400,N,8,2"));
    ASSERT_TRUE(p.Abrir()) << p.Error().toStdString();

    // Output is with the printer when it returns; the answer comes back.
    ASSERT_TRUE(p.Output(QByteArrayView("\x10\x04\x04", 3)));
    EXPECT_EQ(p.EsperarEntrada(2000), PuertoSerie::Espera::Datos);
    EXPECT_EQ(p.Input(), "r");
    EXPECT_EQ(p.EsperarEntrada(50), PuertoSerie::Espera::Plazo);
    EXPECT_EQ(impresora.EsperarRecibidos(3, 1000), "\x10\x04\x04");

    // Held by us: a second opening of the same device is refused.
    PuertoSerie otro;
    otro.EstablecerCommPort(2);
    EXPECT_FALSE(otro.Abrir());
    p.Cerrar();
    EXPECT_EQ(p.EsperarEntrada(10), PuertoSerie::Espera::Fallo);
    EXPECT_TRUE(otro.Abrir()) << "free again";
}

// A printer that sends without pause on a serial line (a pseudo-terminal
// whose other end is written as fast as it takes bytes): every wait reads
// what arrived, and at most a few KB are kept until they are taken.
TEST(PuertoSerie, APrinterThatSendsWithoutPauseIsKeptToAFewKilobytes) {
    EntornoPrueba entorno;
    const int maestro = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    ASSERT_GE(maestro, 0);
    ASSERT_EQ(grantpt(maestro) | unlockpt(maestro), 0);
    Ajustes::Guardar("ORLAN", "Puertos", "COM2", QString::fromLocal8Bit(ptsname(maestro)));
    PuertoSerie p;
    p.EstablecerCommPort(2);
    ASSERT_TRUE(p.Abrir()) << p.Error().toStdString();
    std::atomic<bool> seguir = true;
    std::thread inunda([&] {
        const QByteArray ruido(4096, '\x55');
        while (seguir) {
            pollfd pf{maestro, POLLOUT, 0};
            if (poll(&pf, 1, 50) > 0) {
                (void)!write(maestro, ruido.constData(), static_cast<size_t>(ruido.size()));
            }
        }
    });
    for (int i = 0; i < 100; ++i) {
        EXPECT_NE(p.EsperarEntrada(20), PuertoSerie::Espera::Fallo) << p.Error().toStdString();
        EXPECT_TRUE(p.Output("x")) << p.Error().toStdString();
    }
    EXPECT_LE(p.InBufferCount(), Transporte::kEntradaMaxima);
    const QByteArray leido = p.Input();
    EXPECT_GT(leido.size(), 0);
    EXPECT_LE(leido.size(), Transporte::kEntradaMaxima);
    EXPECT_NE(p.EsperarEntrada(20), PuertoSerie::Espera::Fallo) << "reading goes on once they are taken";
    seguir = false;
    inunda.join();
    p.Cerrar();
    close(maestro);
}
