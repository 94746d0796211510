#pragma once

#include "impresora-virtual/ImpresoraVirtual.h"

#include <QByteArray>

inline QByteArray H(const char* hex) {
    return QByteArray::fromHex(hex);
}

// The paper-sensor status request every classification of a COM port sends.
inline const QByteArray kPedido = H("100404");

// Exactly what a virtual printer received since the last call.
inline QByteArray Tomar(ImpresoraVirtual& impresora, qsizetype esperados) {
    QByteArray bytes = impresora.EsperarRecibidos(esperados, 2000);
    impresora.VaciarRecibidos();
    return bytes;
}
