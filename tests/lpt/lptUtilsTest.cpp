#include "lpt/lptUtils.h"
#include "PuertoLptPrueba.h"
#include "lpt/lptTest.h"
#include "platform/PuertoDirecto.h"

#include <QTimer>
#include <cerrno>

using Tipo = PuertoSimulado::Tipo;

TEST_F(PuertoLptPrueba, ImprimirCadenaStrobesEveryByteToAReadyPrinter) {
    PuertoSimulado& puerto = Instalar(Tipo::Spp);
    ASSERT_TRUE(TestPortFunction(0x378));

    const QByteArray comando("\x1b@\x1b!\x10Total\xf1\x00\xff", 12);
    EXPECT_TRUE(ImprimirCadena(0x378, QByteArrayView(comando)));
    EXPECT_TRUE(ImprimirCadena(0x378, QStringView(u"Año 3€")));
    QByteArray esperado = comando + QByteArray("A\xf1o 3\x80");
    EXPECT_EQ(EntornoPrueba::Leer(puerto.RutaCaptura()), esperado) << "in the file when the call returns";
    EXPECT_TRUE(ImprimirLetra(0x378, u"xyz"));
    esperado += 'x';
    EXPECT_EQ(puerto.Capturado(), esperado);
    EXPECT_EQ(EntornoPrueba::Leer(puerto.RutaCaptura()), esperado);
    EXPECT_EQ(puerto.read8(0x37A) & 1, 0) << "strobe released";

    const qint64 lecturas = puerto.LecturasEstado();
    EXPECT_TRUE(ImprimirCadena(0x378, QByteArrayView()));
    EXPECT_TRUE(ImprimirCadena(0x378, QStringView()));
    EXPECT_EQ(puerto.LecturasEstado(), lecturas) << "an empty text touches no register";

    // A printer busy for a while is waited for; nothing is lost.
    puerto.LimpiarCaptura();
    puerto.OcupadoDurante(1000);
    EXPECT_TRUE(ImprimirCadena(0x378, QByteArrayView("ok")));
    EXPECT_EQ(puerto.Capturado(), "ok");
    EXPECT_TRUE(LineasPrtErr().isEmpty());

    // Paper runs out after three bytes: the rest of the text stays unsent.
    m_paso = 500;
    puerto.CambiarEstadoTras(3, PuertoSimulado::kSinPapel);
    EXPECT_FALSE(ImprimirCadena(0x378, QByteArrayView("abcdef")));
    EXPECT_EQ(puerto.Capturado(), "okabc");
    EXPECT_TRUE(puerto.Perdidos().isEmpty()) << "nothing strobed into the empty printer";
    ASSERT_EQ(LineasPrtErr().size(), 1);
    EXPECT_TRUE(LineasPrtErr()[0].endsWith(" ImprimirLetra: 0-"));
    puerto.EstablecerEstado(PuertoSimulado::kListo);
    m_paso = 0;

    EXPECT_FALSE(ImprimirLetra(0x378, u""));
    ASSERT_EQ(LineasPrtErr().size(), 2);
    EXPECT_TRUE(LineasPrtErr()[1].contains(" ImprimirLetra: 5-"));
}

TEST_F(PuertoLptPrueba, BlockedPrinterStopsOutputAfter25Seconds) {
    m_paso = 100;
    int lineas = 0;
    for (quint8 estado : {PuertoSimulado::kOcupado, PuertoSimulado::kSinPapel, PuertoSimulado::kError}) {
        SCOPED_TRACE(estado);
        PuertoSimulado& puerto = Instalar(Tipo::Spp);
        ASSERT_TRUE(TestPortFunction(0x378));
        puerto.EstablecerEstado(estado);
        m_ahora = m_inicio; // on a second boundary: the 25th change comes 25 s later
        EXPECT_FALSE(ImprimirCadena(0x378, QByteArrayView("AB")));
        EXPECT_EQ(puerto.Estrobos(), 0);
        EXPECT_GE(m_inicio.msecsTo(m_ahora), 25000);
        EXPECT_LE(m_inicio.msecsTo(m_ahora), 25300);
        const QStringList prtErr = LineasPrtErr();
        ASSERT_EQ(prtErr.size(), ++lineas) << "one line, then the rest of the text is dropped";
        EXPECT_EQ(prtErr.back(), m_ahora.toString("yyyy-MM-dd HH:mm:ss") + " ImprimirLetra: 0-");
    }
}

TEST_F(PuertoLptPrueba, EppPortWritesAfterTheShorterWait) {
    m_paso = 100;
    PuertoSimulado& puerto = Instalar(Tipo::Epp);
    ASSERT_TRUE(TestPortFunction(0x378));
    ASSERT_EQ(TipoPuertoLpt(), "EPP");

    // Busy throughout: the character goes out anyway, into a printer that
    // does not take it.
    puerto.EstablecerEstado(PuertoSimulado::kOcupado);
    m_ahora = m_inicio;
    EXPECT_TRUE(ImprimirCadena(0x378, QStringView(u"X")));
    EXPECT_GE(m_inicio.msecsTo(m_ahora), 3000);
    EXPECT_LE(m_inicio.msecsTo(m_ahora), 3300);
    EXPECT_EQ(puerto.Perdidos(), "X");

    // Busy for one second, then ready: taken. Paper out does not hold an EPP port.
    puerto.EstablecerEstado(PuertoSimulado::kSinPapel);
    puerto.OcupadoHasta(m_ahora.addSecs(1));
    EXPECT_TRUE(ImprimirCadena(0x378, QStringView(u"Y")));
    EXPECT_EQ(puerto.Estrobos(), 2);
    EXPECT_TRUE(LineasPrtErr().isEmpty());
}

TEST_F(PuertoLptPrueba, WaitLetsPendingEventsRun) {
    PuertoSimulado& puerto = Instalar(Tipo::Spp);
    ASSERT_TRUE(TestPortFunction(0x378));
    puerto.EstablecerEstado(PuertoSimulado::kOcupado);
    // Only an event handled during the wait can free the printer. The 25 s
    // take 25,000 clock readings, many times the half millisecond after which
    // the wait yields.
    m_paso = 1;
    QTimer::singleShot(0, [&puerto] { puerto.EstablecerEstado(PuertoSimulado::kListo); });
    EXPECT_TRUE(ImprimirCadena(0x378, QByteArrayView("z")));
    EXPECT_EQ(puerto.Capturado(), "z");
}

TEST_F(PuertoLptPrueba, RegisterViews) {
    PuertoSimulado& puerto = Instalar(Tipo::Spp);
    EXPECT_EQ(ReadStatus(0x378), 0x58);
    puerto.EstablecerEstado(PuertoSimulado::kSinPapel);
    EXPECT_EQ(ReadStatus(0x378), 0x78);
    EXPECT_TRUE(WriteControl(0x378, 0x0F));
    EXPECT_EQ(puerto.read8(0x37A), 0xC4);
    EXPECT_EQ(ReadControl(0x378), 0xCF);
    EXPECT_TRUE(WriteData(0x378, 0x1A5));
    EXPECT_EQ(ReadData(0x378), 0xA5);

    EXPECT_EQ(BitOf(0xD8, 7), 1);
    EXPECT_EQ(BitOf(0xD8, 5), 0);
    EXPECT_EQ(BitOf(-1, 14), 1);

    EXPECT_EQ(dec2bin(0), "00000000");
    EXPECT_EQ(dec2bin(5), "00000101");
    EXPECT_EQ(dec2bin(216), "11011000");
    EXPECT_EQ(dec2bin(255), "11111111");
    EXPECT_EQ(dec2bin(256), "100000000");
    EXPECT_EQ(dec2bin(0x7FFFFFFF), QString(31, u'1'));
    EXPECT_TRUE(LineasPrtErr().isEmpty());
    EXPECT_EQ(dec2bin(qint64(1) << 31), "");
    ASSERT_EQ(LineasPrtErr().size(), 1);
    EXPECT_EQ(LineasPrtErr()[0], "2026-12-05 10:00:00 dec2bin: 6-Desbordamiento");
}

TEST_F(PuertoLptPrueba, PortFailuresAreLoggedAndReturnFalse) {
    // 0x7FFF + 1 overflows before anything is written; at 0x7FFE the data
    // byte goes out and the control address overflows.
    PuertoSimulado& puerto = Instalar(Tipo::Spp, 0x7FFE);
    EXPECT_FALSE(ImprimirCadena(0x7FFF, QByteArrayView("A")));
    EXPECT_FALSE(ImprimirCadena(0x7FFE, QByteArrayView("BC")));
    EXPECT_EQ(puerto.read8(0x7FFE), 'B');
    EXPECT_EQ(ReadStatus(0x7FFF), -1);

    int permisos = 0;
    PuertoES::Establecer(std::make_unique<PuertoDirecto>([&permisos](quint16) {
        ++permisos;
        return EPERM;
    }));
    EXPECT_FALSE(ImprimirCadena(0x378, QStringView(u"hola")));
    EXPECT_FALSE(ImprimirLetra(0x378, u"h"));
    EXPECT_EQ(ReadStatus(0x378), -1);
    EXPECT_FALSE(WriteData(0x378, 0));
    EXPECT_EQ(permisos, 1);

    const QStringList lineas = LineasPrtErr();
    ASSERT_EQ(lineas.size(), 7);
    EXPECT_TRUE(lineas[0].endsWith(" ImprimirLetra: 6-Desbordamiento"));
    EXPECT_TRUE(lineas[1].endsWith(" ImprimirLetra: 6-Desbordamiento"));
    EXPECT_TRUE(lineas[2].endsWith(" ReadStatus: 6-Desbordamiento"));
    const QString sinAcceso = "48-Sin acceso a los puertos de E/S (0x378): ";
    EXPECT_TRUE(lineas[3].contains(" ImprimirLetra: " + sinAcceso)) << lineas[3].toStdString();
    EXPECT_TRUE(lineas[4].contains(" ImprimirLetra: " + sinAcceso));
    EXPECT_TRUE(lineas[5].contains(" ReadStatus: 48-"));
    EXPECT_TRUE(lineas[6].contains(" WriteData: 48-"));
}
