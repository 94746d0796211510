#include "lpt/lptTest.h"

#include "lpt/lptRegistros.h"
#include "lpt/lptUtils.h"

namespace {

enum class Tipo { Ninguno, Ecp, Epp, Ps2, Spp };

Tipo g_tipo = Tipo::Ninguno;
SondasLpt g_sondas;
qint16 g_direccionEcr = 0;
int g_valorEcr = 0;

using lpt::Direccion;
using lpt::EscribirControl;
using lpt::Inp32;
using lpt::LeerControl;
using lpt::LeerEstado;
using lpt::Out32;

bool ProbeEcp(qint16 base) {
    const qint16 ecr = Direccion(base, 0x402);
    g_direccionEcr = ecr;
    g_valorEcr = Inp32(ecr);
    if (BitOf(g_valorEcr, 0) != 1 || BitOf(g_valorEcr, 1) != 0) {
        return false;
    }
    if (BitOf(LeerControl(base), 1) == 0) {
        EscribirControl(base, 0x0F);
        if (BitOf(LeerControl(base), 1) == 0) {
            return false;
        }
    }
    Out32(ecr, 0x34);
    const bool ecp = Inp32(ecr) == 0x35;
    Out32(ecr, g_valorEcr);
    return ecp;
}

int ResetEppTimeoutBit(qint16 base) {
    const int tiempoAgotado = BitOf(LeerEstado(base), 0);
    const qint16 estado = Direccion(base, 1);
    Out32(estado, 1);
    Out32(estado, 0);
    LeerEstado(base);
    return tiempoAgotado;
}

bool ProbeEpp(qint16 base) {
    const qint16 direccion = Direccion(base, 3);
    for (int patron : {0x55, 0xAA}) {
        Out32(direccion, patron);
        ResetEppTimeoutBit(base);
        const int leido = Inp32(direccion);
        ResetEppTimeoutBit(base);
        if (leido != patron) {
            return false;
        }
    }
    return true;
}

bool ProbeSpp(qint16 base) {
    EscribirControl(base, 0x0F); // data lines driven by the port
    Out32(base, 0x55);
    if (Inp32(base) != 0x55) {
        return false;
    }
    Out32(base, 0xAA);
    return Inp32(base) == 0xAA;
}

bool ProbePs2(qint16 base) {
    EscribirControl(base, 0x2F); // data lines as input: a bidirectional port stops echoing them
    Out32(base, 0x55);
    bool bidireccional = Inp32(base) != 0x55;
    if (!bidireccional) {
        Out32(base, 0xAA);
        bidireccional = Inp32(base) != 0xAA;
    }
    EscribirControl(base, 0x0F);
    return bidireccional;
}

} // namespace

namespace lpt {

bool TipoEsEpp() {
    return g_tipo == Tipo::Epp;
}

} // namespace lpt

qint16 DetectarPuertoLpt() {
    for (qint16 base : {qint16(0x378), qint16(0x3BC), qint16(0x278)}) {
        if (TestPortFunction(base)) {
            return base;
        }
    }
    return 1;
}

bool TestPortFunction(qint16 base) {
    try {
        g_sondas = SondasLpt{};
        g_tipo = Tipo::Ninguno;
        if ((g_sondas.ecp = ProbeEcp(base))) {
            g_tipo = Tipo::Ecp;
            return true;
        }
        // No EPP probe at 0x3BC: B+3 is 0x3BF there, a register of the monochrome display adapter.
        g_sondas.epp = base != 0x3BC && ProbeEpp(base);
        if (g_sondas.epp) {
            g_tipo = Tipo::Epp;
        } else if ((g_sondas.spp = ProbeSpp(base))) {
            g_sondas.ps2 = ProbePs2(base);
            g_tipo = g_sondas.ps2 ? Tipo::Ps2 : Tipo::Spp;
        }
        return true;
    } catch (const ErrorEjecucion& error) {
        lpt::RegistrarFallo("TestPortFunction", error);
        return false;
    }
}

QString TipoPuertoLpt() {
    switch (g_tipo) {
    case Tipo::Ecp:
        return QStringLiteral("ECP");
    case Tipo::Epp:
        return QStringLiteral("EPP");
    case Tipo::Ps2:
        return QStringLiteral("PS/2");
    case Tipo::Spp:
        return QStringLiteral("SPP");
    case Tipo::Ninguno:
        break;
    }
    return QString();
}

SondasLpt ResultadoSondas() {
    return g_sondas;
}

qint16 DireccionEcr() {
    return g_direccionEcr;
}

int ValorEcr() {
    return g_valorEcr;
}
