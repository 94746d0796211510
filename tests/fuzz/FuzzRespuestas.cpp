// How the printer control sorts the bytes a printer sends back: each answer
// lands in the list of its format, nothing is counted twice, and a read split
// anywhere (a status back cut in two included) sorts as the whole. Input: a
// byte that chooses the split, then what the printer sent.

#include "printer/RespuestasImpresora.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* datos, std::size_t largo) {
    if (largo == 0) {
        return 0;
    }
    const QByteArrayView bytes(datos + 1, qsizetype(largo - 1));
    const qsizetype corte = datos[0] % (bytes.size() + 1);

    int resto = 0;
    const LlegadasImpresora todo = ClasificarRespuestas(bytes, resto);
    int restoPartido = 0;
    LlegadasImpresora partido = ClasificarRespuestas(bytes.first(corte), restoPartido);
    const LlegadasImpresora segunda = ClasificarRespuestas(bytes.sliced(corte), restoPartido);
    partido.enOrden += segunda.enOrden;
    partido.tiempoReal += segunda.tiempoReal;
    if (partido.enOrden != todo.enOrden || partido.tiempoReal != todo.tiempoReal || restoPartido != resto) {
        std::abort();
    }
    if (resto < 0 || resto > 3 || todo.enOrden.size() + todo.tiempoReal.size() > bytes.size()) {
        std::abort();
    }
    for (const int b : todo.enOrden) {
        if (b < 0 || b > 0xFF || !EsRespuestaEnOrden(static_cast<unsigned char>(b))) {
            std::abort();
        }
    }
    for (const int b : todo.tiempoReal) {
        if (b < 0 || b > 0xFF || !EsRespuestaTiempoReal(static_cast<unsigned char>(b))) {
            std::abort();
        }
    }
    // With no status back in it, every answer byte is kept, in order.
    bool conAsb = false;
    QList<int> esperados;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        conAsb = conAsb || EsInicioAsb(b);
        if (EsRespuestaEnOrden(b)) {
            esperados.append(b);
        }
    }
    if (!conAsb && todo.enOrden != esperados) {
        std::abort();
    }
    return 0;
}
