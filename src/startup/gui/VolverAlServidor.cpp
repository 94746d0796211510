#include "startup/gui/VolverAlServidor.h"

#include <QPointer>
#include <QWidget>

namespace {
QPointer<QWidget> ventanaPrincipal;
}

void RegistrarVentanaPrincipal(QWidget* ventana) {
    ventanaPrincipal = ventana;
}

QWidget* VentanaPrincipal() {
    return ventanaPrincipal.data();
}

void VolverAlServidor(QWidget* PfForma) {
    if (ventanaPrincipal) {
        ventanaPrincipal->show();
    }
    if (PfForma) {
        PfForma->close();
    }
}
