#include "lpt/lptUtils.h"
#include "PuertoLptPrueba.h"
#include "lpt/lptTest.h"
#include "ports/PuertoDirecto.h"

#include <QElapsedTimer>
#include <QTimer>
#include <cerrno>
#include <utility>

using Tipo = PuertoSimulado::Tipo;

TEST_F(PuertoLptPrueba, ImprimirCadenaStrobesEveryByteToAReadyPrinter) {
    PuertoSimulado& puerto = Instalar(Tipo::Spp);
    ASSERT_TRUE(TestPortFunction(0x378));
    puerto.OcupadoDurante(1000); // busy for a while: waited for, nothing lost

    const QByteArray comando("\x1b@\x1b!\x10Total\xf1\x00\xff", 12);
    EXPECT_TRUE(ImprimirCadena(0x378, QByteArrayView(comando)));
    EXPECT_EQ(EntornoPrueba::Leer(puerto.RutaCaptura()), comando) << "in the file when the call returns";
    EXPECT_TRUE(ImprimirCadena(0x378, QStringView(u"Año 3€ \U0001F355")));
    EXPECT_TRUE(ImprimirLetra(0x378, u"xyz"));
    EXPECT_TRUE(ImprimirCadena(0x378, QByteArrayView()));
    EXPECT_EQ(EntornoPrueba::Leer(puerto.RutaCaptura()), comando + "A\xf1o 3\x80 ?x");
    EXPECT_EQ(puerto.read8(0x37A) & 1, 0) << "strobe released";

    // The status as the printer control reads it: bit 7 is 1 while busy.
    EXPECT_EQ(ReadStatus(0x378), 0x58);
    puerto.EstablecerEstado(PuertoSimulado::kOcupado);
    EXPECT_EQ(ReadStatus(0x378), 0xD8);
}

TEST_F(PuertoLptPrueba, BlockedPrinterStopsOutputAfter25Seconds) {
    m_paso = 100;
    for (int i = 0; quint8 estado : {PuertoSimulado::kOcupado, PuertoSimulado::kSinPapel, PuertoSimulado::kError}) {
        SCOPED_TRACE(estado);
        PuertoSimulado& puerto = Instalar(Tipo::Spp);
        ASSERT_TRUE(TestPortFunction(0x378));
        puerto.CambiarEstadoTras(1, estado); // blocked from the second byte on
        m_ahora = m_inicio;                  // on a second boundary: the 25th change comes 25 s later
        EXPECT_FALSE(ImprimirCadena(0x378, QByteArrayView("ABC")));
        EXPECT_EQ(puerto.Capturado(), "A");
        EXPECT_EQ(puerto.Estrobos(), 1) << "nothing strobed into the blocked printer";
        EXPECT_EQ(m_inicio.msecsTo(m_ahora) / 1000, 25);
        // One new line, then the rest of the text is dropped.
        EXPECT_EQ(LineasPrtErr().mid(i++), QStringList{m_ahora.toString("yyyy-MM-dd HH:mm:ss") + " ImprimirLetra: 0-"});
    }
}

TEST_F(PuertoLptPrueba, EppPortWritesAfterTheShorterWait) {
    m_paso = 100;
    PuertoSimulado& puerto = Instalar(Tipo::Epp);
    ASSERT_TRUE(TestPortFunction(0x378));
    m_ahora = m_inicio; // the port reads the clock too, on every status read

    // Busy throughout: the character goes out anyway, into a printer that
    // does not take it.
    puerto.EstablecerEstado(PuertoSimulado::kOcupado);
    EXPECT_TRUE(ImprimirCadena(0x378, QStringView(u"X")));
    EXPECT_GE(m_inicio.msecsTo(m_ahora), 3000);

    // Only the busy line holds an EPP port: out of paper, it is not waited for.
    puerto.EstablecerEstado(PuertoSimulado::kSinPapel);
    EXPECT_TRUE(ImprimirCadena(0x378, QStringView(u"Y")));
    EXPECT_EQ(m_inicio.msecsTo(m_ahora) / 1000, 3);
    EXPECT_EQ(puerto.Perdidos(), "XY");
    EXPECT_TRUE(LineasPrtErr().isEmpty());
}

TEST_F(PuertoLptPrueba, ABusyPrinterIsPolledNotSpunOn) {
    // A clock a hundred times faster than the real one: the 25 seconds of a
    // blocked printer pass in a quarter of a second. Polled about once a
    // millisecond after the first moments, the status is read a few hundred
    // times in them; spun on, hundreds of thousands of times.
    QElapsedTimer real;
    int rapidez = 100;
    const auto reloj = [&] { return m_ahora = m_inicio.addMSecs(real.nsecsElapsed() * rapidez / 1000000); };
    PuertoSimulado& puerto = Instalar(Tipo::Spp);
    ASSERT_TRUE(TestPortFunction(0x378));
    puerto.EstablecerEstado(PuertoSimulado::kOcupado);
    const qint64 antes = puerto.LecturasEstado();
    real.start();
    Reloj::Establecer(reloj);
    EXPECT_FALSE(ImprimirCadena(0x378, QByteArrayView("A")));
    EXPECT_GE(m_inicio.msecsTo(m_ahora), 24000) << "25 changes of the second";
    EXPECT_LT(puerto.LecturasEstado() - antes, 2500);

    // While it sleeps between reads the wait still lets events through: a
    // timer frees the printer 20 ms (real) into a 2.5-second wait.
    rapidez = 10;
    m_inicio = m_ahora = QDateTime(QDate(2026, 12, 5), QTime(11, 0, 0));
    real.restart();
    QTimer::singleShot(20, [&puerto] { puerto.EstablecerEstado(PuertoSimulado::kListo); });
    EXPECT_TRUE(ImprimirCadena(0x378, QByteArrayView("B")));
    EXPECT_EQ(puerto.Capturado(), "B");
}

TEST_F(PuertoLptPrueba, Dec2bin) {
    for (const auto& [valor, bits] : {std::pair<qint64, QString>{0, "00000000"},
                                      {5, "00000101"},
                                      {216, "11011000"},
                                      {256, "100000000"},
                                      {0x7FFFFFFF, QString(31, u'1')}}) {
        EXPECT_EQ(dec2bin(valor), bits);
    }
    EXPECT_EQ(dec2bin(qint64(1) << 31), "");
    EXPECT_EQ(LineasPrtErr(), QStringList{"2026-12-05 10:00:00 dec2bin: 6-Desbordamiento"});
}

TEST_F(PuertoLptPrueba, PortFailuresAreLoggedAndReturnFalse) {
    // 0x7FFF + 1 overflows before anything is written; at 0x7FFE the data
    // byte goes out and the control address overflows.
    m_paso = 100; // a wait on a wrapped-around address ends
    PuertoSimulado& puerto = Instalar(Tipo::Spp, 0x7FFE);
    EXPECT_FALSE(ImprimirCadena(0x7FFF, QByteArrayView("A")));
    EXPECT_FALSE(ImprimirCadena(0x7FFE, QByteArrayView("BC")));
    EXPECT_EQ(puerto.read8(0x7FFE), 'B');
    EXPECT_EQ(ReadStatus(0x7FFF), -1);
    EXPECT_FALSE(TestPortFunction(0x7F00)) << "the ECR address overflows";
    EXPECT_FALSE(ImprimirLetra(0x7FFE, u"")) << "no character to print";

    PuertoES::Establecer(std::make_unique<PuertoDirecto>([](quint16) { return EPERM; }));
    EXPECT_FALSE(ImprimirCadena(0x378, QStringView(u"hola")));
    EXPECT_EQ(ReadStatus(0x378), -1);

    const QString desborde = "6-Desbordamiento", sinAcceso = "48-Sin acceso a los puertos de E/S (0x378): ";
    const QStringList esperadas = {"ImprimirLetra: " + desborde, "ImprimirLetra: " + desborde,
                                   "ReadStatus: " + desborde,    "TestPortFunction: " + desborde,
                                   "ImprimirLetra: 5-",          "ImprimirLetra: " + sinAcceso,
                                   "ReadStatus: " + sinAcceso};
    const QStringList lineas = LineasPrtErr();
    ASSERT_EQ(lineas.size(), esperadas.size());
    for (qsizetype i = 0; i < lineas.size(); ++i) {
        EXPECT_TRUE(lineas[i].contains(" " + esperadas[i])) << lineas[i].toStdString();
    }
}
