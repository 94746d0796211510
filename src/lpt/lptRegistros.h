#pragma once

// Shared by lptTest and lptUtils only: port reads and writes and 16-bit
// address arithmetic that raise ErrorEjecucion on a failed port call or an
// overflow, for the routines' traps to catch.

#include "ports/PuertoES.h"
#include "support/ErrorEjecucion.h"

#include <QtGlobal>

namespace lpt {

constexpr qint64 kErrorArgumento = 5;
constexpr qint64 kErrorDesbordamiento = 6;

[[noreturn]] void FalloPuerto();
[[noreturn]] void Desbordamiento();

// base + desplazamiento as a 16-bit signed integer.
inline qint16 Direccion(qint16 base, int desplazamiento) {
    const int suma = base + desplazamiento;
    if (suma > 32767 || suma < -32768) {
        Desbordamiento();
    }
    return qint16(suma);
}

// A 16-bit address names the same port whether it is taken as signed or not.
inline int Inp32(qint16 direccion) {
    const int valor = PuertoES::Actual().read8(quint16(direccion));
    if (valor < 0) {
        FalloPuerto();
    }
    return valor;
}

inline void Out32(qint16 direccion, int valor) {
    if (!PuertoES::Actual().write8(quint16(direccion), quint8(valor))) {
        FalloPuerto();
    }
}

// Register views that raise instead of logging, for use inside the routines.
inline int LeerEstado(qint16 base) {
    return Inp32(Direccion(base, 1)) ^ 0x80;
}
inline int LeerControl(qint16 base) {
    return Inp32(Direccion(base, 2)) ^ 0x0B;
}
inline void EscribirControl(qint16 base, int valor) {
    Out32(Direccion(base, 2), valor ^ 0x0B);
}

// "<rutina>: <number>-<description>" into PRT.ERR.
void RegistrarFallo(const char* rutina, const ErrorEjecucion& error);

// True while the port at the last classified base is an EPP port.
bool TipoEsEpp();

} // namespace lpt
