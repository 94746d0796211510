#include "platform/Reloj.h"

#include <ctime>

namespace {

Reloj::Fuente& Actual() {
    static Reloj::Fuente fuente;
    return fuente;
}

} // namespace

namespace Reloj {

QDateTime Ahora() {
    return Actual() ? Actual()() : QDateTime::currentDateTime();
}

Fuente Establecer(Fuente fuente) {
    Fuente anterior = std::move(Actual());
    Actual() = std::move(fuente);
    return anterior;
}

std::chrono::nanoseconds Monotono() {
    if (Actual()) {
        return std::chrono::milliseconds(Actual()().toMSecsSinceEpoch());
    }
    return std::chrono::steady_clock::now().time_since_epoch();
}

std::chrono::nanoseconds MonotonoGrueso() {
    if (Actual()) {
        return std::chrono::milliseconds(Actual()().toMSecsSinceEpoch());
    }
#ifdef CLOCK_MONOTONIC_COARSE
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &t);
    return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
#else
    return std::chrono::steady_clock::now().time_since_epoch();
#endif
}

} // namespace Reloj
