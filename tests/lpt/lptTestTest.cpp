#include "lpt/lptTest.h"
#include "PuertoLptPrueba.h"
#include "ports/PuertoDirecto.h"

#include <cerrno>
#include <tuple>

using Tipo = PuertoSimulado::Tipo;

TEST_F(PuertoLptPrueba, TestPortFunctionClassifiesEveryKindOfPort) {
    struct Caso {
        Tipo tipo;
        quint16 base;
        const char* esperado;
        bool ecp, epp, spp, ps2;
        int registro, valor; // as the classification must leave it
    };
    // The registers checked: the ECR restored; the control with the data lines
    // as output and the strobe off; at 0x3BC the EPP address register never
    // written, as B+3 there belongs to the monochrome display adapter (so an
    // EPP port at 0x3BC is seen as PS/2).
    for (const Caso& c : {Caso{Tipo::Ecp, 0x378, "ECP", true, false, false, false, 0x77A, 0x15},
                          Caso{Tipo::Epp, 0x378, "EPP", false, true, false, false, 0x37A, 0xC0},
                          Caso{Tipo::Ps2, 0x378, "PS/2", false, false, true, true, 0x37A, 0xC4},
                          Caso{Tipo::Spp, 0x378, "SPP", false, false, true, false, 0x37A, 0xC4},
                          Caso{Tipo::SinHardware, 0x378, "", false, false, false, false, 0x37A, 0xFF},
                          Caso{Tipo::Epp, 0x3BC, "PS/2", false, false, true, true, 0x3BF, 0}}) {
        SCOPED_TRACE(testing::Message() << c.esperado << " at " << c.base);
        PuertoSimulado& puerto = Instalar(c.tipo, c.base);
        EXPECT_TRUE(TestPortFunction(c.base));
        EXPECT_EQ(TipoPuertoLpt(), c.esperado);
        const SondasLpt s = ResultadoSondas();
        EXPECT_EQ(std::tie(s.ecp, s.epp, s.spp, s.ps2), std::tie(c.ecp, c.epp, c.spp, c.ps2));
        EXPECT_EQ(puerto.read8(c.registro), c.valor);
        EXPECT_EQ(puerto.Estrobos(), 0);
    }
    EXPECT_TRUE(LineasPrtErr().isEmpty());
}

TEST_F(PuertoLptPrueba, DetectarPuertoLpt) {
    Instalar(Tipo::Spp);
    EXPECT_EQ(DetectarPuertoLpt(), 0x378);
    EXPECT_EQ(TipoPuertoLpt(), "SPP");

    PuertoES::Establecer(std::make_unique<PuertoDirecto>([](quint16) { return EPERM; }));
    EXPECT_EQ(DetectarPuertoLpt(), 1);
    EXPECT_EQ(TipoPuertoLpt(), "");
    const QStringList lineas = LineasPrtErr();
    EXPECT_EQ(lineas.size(), 3) << "one line for each base tried";
    EXPECT_EQ(lineas.filter(" TestPortFunction: 48-Sin acceso a los puertos de E/S"), lineas);

    // A classification that finds nothing still runs to its end.
    Instalar(Tipo::Spp, 0x278);
    EXPECT_EQ(DetectarPuertoLpt(), 0x378);
    EXPECT_EQ(TipoPuertoLpt(), "");
}
