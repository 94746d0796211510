// The virtual printer's decoder: a stream fed whole or in pieces decodes the
// same. Input: the dialect, the paper width, a seed for the piece sizes, then
// the printer bytes.

#include "EntornoFuzz.h"

#include "impresora-virtual/Decodificador.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* datos, std::size_t largo) {
    PrepararEntornoFuzz();
    if (largo < 3) {
        return 0;
    }
    const auto modo = static_cast<qint16>(datos[0] % 4); // 0 is an unknown dialect
    const int ancho = datos[1] % 64;
    std::uint32_t semilla = datos[2] | 1u;
    const QByteArrayView flujo(reinterpret_cast<const char*>(datos + 3), qsizetype(largo - 3));

    const QString entero = Decodificador::Decodificar(flujo, modo, ancho);

    Decodificador partes(modo, ancho);
    QStringList lineas;
    for (qsizetype p = 0; p < flujo.size();) {
        semilla = semilla * 1103515245u + 12345u;
        const qsizetype pieza = std::min<qsizetype>(1 + (semilla >> 16) % 7, flujo.size() - p);
        partes.Alimentar(flujo.sliced(p, pieza));
        lineas += partes.TomarLineas();
        p += pieza;
    }
    lineas += partes.Terminar();
    if (lineas.join(u'\n') != entero) {
        std::abort();
    }
    return 0;
}
