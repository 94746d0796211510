#include "printer/RespuestasImpresora.h"

bool EsRespuestaTiempoReal(unsigned char b) {
    return (b & 0x93) == 0x12;
}

bool EsInicioAsb(unsigned char b) {
    return (b & 0x93) == 0x10;
}

bool EsRespuestaEnOrden(unsigned char b) {
    return (b & 0x90) == 0x00;
}

LlegadasImpresora ClasificarRespuestas(QByteArrayView bytes, int& restoAsb) {
    LlegadasImpresora llegadas;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (restoAsb > 0) {
            --restoAsb;
        } else if (EsInicioAsb(b)) {
            restoAsb = 3;
        } else if (EsRespuestaTiempoReal(b)) {
            llegadas.tiempoReal.append(b);
        } else if (EsRespuestaEnOrden(b)) {
            llegadas.enOrden.append(b);
        }
    }
    return llegadas;
}
