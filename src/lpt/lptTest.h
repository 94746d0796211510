#pragma once

#include <QString>
#include <QtGlobal>

// Detection and classification of the parallel port (ECP, EPP, PS/2, SPP).
// Addresses are 16-bit signed integers; an address computation
// that overflows 16 bits is a routine failure logged to PRT.ERR.

// 0x378, 0x3BC or 0x278: the first base whose classification ran to its end;
// 1 when none did.
qint16 DetectarPuertoLpt();

// Classifies the port at `base`; true when the classification ran to its end
// (also when nothing was found). Sets TipoPuertoLpt().
bool TestPortFunction(qint16 base);

// "ECP", "EPP", "PS/2", "SPP" or empty: the result of the last classification.
QString TipoPuertoLpt();

// Outcome of each probe of the last classification (all false before the
// first and at the start of every classification).
struct SondasLpt {
    bool ecp = false;
    bool epp = false;
    bool spp = false;
    bool ps2 = false;
};
SondasLpt ResultadoSondas();

// The ECR address and the value the ECP probe last read from it (0 until the
// probe has run).
qint16 DireccionEcr();
int ValorEcr();
