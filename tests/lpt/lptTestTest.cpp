#include "lpt/lptTest.h"
#include "PuertoLptPrueba.h"
#include "platform/PuertoDirecto.h"

#include <QRegularExpression>
#include <cerrno>

using Tipo = PuertoSimulado::Tipo;

TEST_F(PuertoLptPrueba, TestPortFunctionClassifiesEveryKindOfPort) {
    struct Caso {
        Tipo tipo;
        const char* esperado;
        bool ecp, epp, spp, ps2;
    };
    for (const Caso& c :
         {Caso{Tipo::Ecp, "ECP", true, false, false, false}, Caso{Tipo::Epp, "EPP", false, true, false, false},
          Caso{Tipo::Ps2, "PS/2", false, false, true, true}, Caso{Tipo::Spp, "SPP", false, false, true, false},
          Caso{Tipo::SinHardware, "", false, false, false, false}}) {
        SCOPED_TRACE(c.esperado);
        PuertoSimulado& puerto = Instalar(c.tipo);
        EXPECT_TRUE(TestPortFunction(0x378));
        EXPECT_EQ(TipoPuertoLpt(), c.esperado);
        const SondasLpt sondas = ResultadoSondas();
        EXPECT_EQ(sondas.ecp, c.ecp);
        EXPECT_EQ(sondas.epp, c.epp);
        EXPECT_EQ(sondas.spp, c.spp);
        EXPECT_EQ(sondas.ps2, c.ps2);
        EXPECT_EQ(DireccionEcr(), 0x77A);
        if (c.tipo == Tipo::Ecp) {
            EXPECT_EQ(ValorEcr(), 0x15);
            EXPECT_EQ(puerto.read8(0x77A), 0x15) << "the ECR is restored";
        }
        if (c.tipo == Tipo::Ps2 || c.tipo == Tipo::Spp) {
            EXPECT_EQ(puerto.read8(0x37A) & 0x3F, 0x0F ^ 0x0B) << "data direction left as output";
        }
        EXPECT_EQ(puerto.Estrobos(), 0);
    }
    EXPECT_TRUE(LineasPrtErr().isEmpty());
}

TEST_F(PuertoLptPrueba, NoEppProbeAt3BC) {
    PuertoSimulado& puerto = Instalar(Tipo::Epp, 0x3BC);
    EXPECT_TRUE(TestPortFunction(0x3BC));
    EXPECT_EQ(TipoPuertoLpt(), "PS/2");
    EXPECT_EQ(puerto.read8(0x3BF), 0) << "the EPP address register was never written";
}

TEST_F(PuertoLptPrueba, DetectarPuertoLpt) {
    Instalar(Tipo::Spp);
    EXPECT_EQ(DetectarPuertoLpt(), 0x378);
    EXPECT_EQ(TipoPuertoLpt(), "SPP");

    // A classification that finds nothing still runs to its end.
    Instalar(Tipo::Spp, 0x278);
    EXPECT_EQ(DetectarPuertoLpt(), 0x378);
    EXPECT_EQ(TipoPuertoLpt(), "");

    PuertoES::Establecer(std::make_unique<PuertoDirecto>([](quint16) { return EPERM; }));
    EXPECT_EQ(DetectarPuertoLpt(), 1);
    EXPECT_EQ(TipoPuertoLpt(), "");
    const QStringList lineas = LineasPrtErr();
    ASSERT_EQ(lineas.size(), 3);
    for (const QString& linea : lineas) {
        EXPECT_TRUE(linea.contains(QRegularExpression(
            "^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d TestPortFunction: 48-Sin acceso a los puertos de E/S")))
            << linea.toStdString();
    }
}

TEST_F(PuertoLptPrueba, TestPortFunctionAddressOverflow) {
    Instalar(Tipo::Ecp, 0x7F00);
    EXPECT_FALSE(TestPortFunction(0x7F00));
    EXPECT_EQ(TipoPuertoLpt(), "");
    ASSERT_EQ(LineasPrtErr().size(), 1);
    EXPECT_TRUE(LineasPrtErr()[0].endsWith(" TestPortFunction: 6-Desbordamiento"));
}
