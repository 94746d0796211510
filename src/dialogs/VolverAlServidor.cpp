#include "dialogs/VolverAlServidor.h"

#include <QPointer>
#include <QWidget>

namespace {
QPointer<QWidget> ventanaPrincipal;
std::function<bool()> loginValido;
} // namespace

void RegistrarVentanaPrincipal(QWidget* ventana, std::function<bool()> valido) {
    ventanaPrincipal = ventana;
    loginValido = std::move(valido);
}

QWidget* VentanaPrincipal() {
    return ventanaPrincipal.data();
}

void VolverAlServidor(QWidget* PfForma) {
    const bool aLaVista = PfForma && PfForma->isVisible();
    if (ventanaPrincipal && aLaVista && loginValido && loginValido()) {
        ventanaPrincipal->show();
    }
    if (PfForma) {
        PfForma->close();
    }
}
