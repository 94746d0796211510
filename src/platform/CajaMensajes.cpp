#include "platform/CajaMensajes.h"

#include <QCoreApplication>
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
    // Each program names itself: the database layer's messages also reach
    // standard error from orlan-admin.
    QString titulo = mensaje.titulo.isEmpty() ? QCoreApplication::applicationName() : mensaje.titulo;
    if (titulo.isEmpty()) {
        titulo = QStringLiteral("orlan-cola");
    }
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
