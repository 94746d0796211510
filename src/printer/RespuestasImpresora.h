#pragma once

#include <QByteArrayView>
#include <QList>

// What a printer sends back, sorted by answer format: a DLE EOT answer is
// 0xx1xx10 in bits, a GS r answer 0xx0xxxx; an automatic status back starts
// with 0xx1xx00 and brings three more bytes, all skipped, and so is any other
// byte.
struct LlegadasImpresora {
    QList<int> enOrden;    // GS r answers
    QList<int> tiempoReal; // DLE EOT answers
};

bool EsRespuestaTiempoReal(unsigned char b);
bool EsInicioAsb(unsigned char b);
bool EsRespuestaEnOrden(unsigned char b);

// Sorts `bytes`. `restoAsb` holds the bytes of a status back still to skip;
// it carries over from one read to the next, since a status back may arrive
// split.
LlegadasImpresora ClasificarRespuestas(QByteArrayView bytes, int& restoAsb);
