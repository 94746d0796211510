// The markup renderer driving the printer control on the in-process simulated
// parallel port. Input: the first byte picks the dialect, the rest is job
// lines in UTF-8, one per text line. Every line must either render or fail as
// the pre-print check says it will, never crash, and leave no byte lost.

#include "EntornoFuzz.h"

#include "ports/PuertoES.h"
#include "ports/PuertoSimulado.h"
#include "printer/ctlImpresora.h"
#include "server/InterpretarRenglon.h"
#include "support/ErrorEjecucion.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* datos, std::size_t largo) {
    PrepararEntornoFuzz();
    if (largo == 0) {
        return 0;
    }
    static PuertoSimulado& puerto = PuertoSimulado::Instalar({.archivos = false});
    static ctlImpresora pr2;
    static const bool enlazado = pr2.InicializarPuerto(QStringLiteral("LPT1"));
    if (!enlazado) {
        std::abort();
    }
    pr2.SetModo(static_cast<qint16>(datos[0] % 3 + 1));
    pr2.ResetPrinter();
    const QString texto = QString::fromUtf8(reinterpret_cast<const char*>(datos + 1), qsizetype(largo - 1));
    for (const QString& renglon : texto.split(u'\n')) {
        bool imprimible = true;
        try {
            ComprobarRenglon(renglon);
        } catch (const ErrorEjecucion&) {
            imprimible = false;
        }
        try {
            if (InterpretarRenglon(pr2, renglon) != ResultadoRenglon::Completo) {
                std::abort(); // a ready printer takes every byte
            }
            if (!imprimible) {
                std::abort(); // the check refused a line the renderer finished
            }
        } catch (const ErrorEjecucion&) {
            if (imprimible) {
                std::abort(); // the check passed a line the renderer cannot finish
            }
        }
        pr2.Avanzar();
    }
    pr2.Cortar();
    if (!puerto.Perdidos().isEmpty()) {
        std::abort();
    }
    puerto.LimpiarCaptura();
    return 0;
}
