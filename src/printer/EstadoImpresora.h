#pragma once

#include <QString>

// What the status check found a printer to be. The number is what the
// settings store keeps under "Estado"; the letter is what the printer control
// hands its users and the server stores for the printer.
enum class EstadoImpresora {
    Lista = 0,       // "A": the printer answers ready
    NoImprime = 1,   // "P": paper out, or the port could not be opened or read
    NoContesta = 2,  // "F": a serial printer gave no answer (or answered 0)
    Desconocido = 3, // "D": an unknown answer or port kind
    Respuesta16 = 4, // "C": a serial printer answered 16
};

// The state's number, 0 to 4.
int NumeroEstado(EstadoImpresora estado);

// The state's letter: "A", "P", "F", "D" or "C".
QString LetraEstado(EstadoImpresora estado);
