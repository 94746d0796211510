#include "ports/PuertoES.h"

#include "platform/Ajustes.h"
#include "ports/PuertoDirecto.h"
#include "ports/PuertoPpdev.h"
#include "ports/PuertoSimulado.h"

namespace {

std::unique_ptr<PuertoES>& Propio() {
    static std::unique_ptr<PuertoES> puerto;
    return puerto;
}

} // namespace

PuertoES& PuertoES::Crear() {
    const QString modo = Ajustes::Leer(QStringLiteral("ORLAN"), QStringLiteral("Puertos"), QStringLiteral("LPT"),
                                       QStringLiteral("directo"));
    if (modo.trimmed().compare(QStringLiteral("simulado"), Qt::CaseInsensitive) == 0) {
        PuertoSimulado::Opciones opciones;
        opciones.memoria = false; // a server runs for days: the file is the record
        Establecer(std::make_unique<PuertoSimulado>(opciones));
    } else if (modo.trimmed().compare(QStringLiteral("ppdev"), Qt::CaseInsensitive) == 0) {
        Establecer(std::make_unique<PuertoPpdev>());
    } else {
        Establecer(std::make_unique<PuertoDirecto>());
    }
    return *s_actual;
}

std::unique_ptr<PuertoES> PuertoES::Establecer(std::unique_ptr<PuertoES> nuevo) {
    std::unique_ptr<PuertoES> anterior = std::move(Propio());
    Propio() = std::move(nuevo);
    s_actual = Propio().get();
    return anterior;
}
