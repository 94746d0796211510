#include "platform/Reloj.h"

namespace {

Reloj::Fuente& Actual() {
    static Reloj::Fuente fuente;
    return fuente;
}

} // namespace

namespace Reloj {

QDateTime Ahora() { return Actual() ? Actual()() : QDateTime::currentDateTime(); }

Fuente Establecer(Fuente fuente) {
    Fuente anterior = std::move(Actual());
    Actual() = std::move(fuente);
    return anterior;
}

} // namespace Reloj
