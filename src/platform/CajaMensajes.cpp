#include "platform/CajaMensajes.h"

#include <cstdio>

namespace {

CajaMensajes::Presentador& Actual() {
    static CajaMensajes::Presentador presentador;
    return presentador;
}

} // namespace

namespace CajaMensajes {

int Mostrar(const Mensaje& mensaje) {
    if (Actual()) {
        return Actual()(mensaje);
    }
    const QString titulo = mensaje.titulo.isEmpty() ? QStringLiteral("orlan-cola") : mensaje.titulo;
    std::fprintf(stderr, "%s: %s\n", titulo.toLocal8Bit().constData(), mensaje.texto.toLocal8Bit().constData());
    std::fflush(stderr);
    return 1;
}

Presentador EstablecerPresentador(Presentador presentador) {
    Presentador anterior = std::move(Actual());
    Actual() = std::move(presentador);
    return anterior;
}

} // namespace CajaMensajes
