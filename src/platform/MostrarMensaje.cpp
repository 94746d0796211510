#include "platform/MostrarMensaje.h"

#include "platform/CajaMensajes.h"

#include <utility>

namespace {
PresentadorMensaje presentadorMensaje;
} // namespace

PresentadorMensaje EstablecerPresentadorMensaje(PresentadorMensaje presentador) {
    std::swap(presentadorMensaje, presentador);
    return presentador;
}

quint8 MostrarMensaje(const QString& texto, int botones) {
    if (presentadorMensaje) {
        return presentadorMensaje(texto, botones);
    }
    const CajaMensajes::Icono icono = botones == 16  ? CajaMensajes::Icono::Error
                                      : botones == 4 ? CajaMensajes::Icono::Pregunta
                                                     : CajaMensajes::Icono::Ninguno;
    return static_cast<quint8>(CajaMensajes::Mostrar({texto, QString(), icono, botones}));
}
