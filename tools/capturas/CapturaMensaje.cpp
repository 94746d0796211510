#include "Capturas.h"
#include "dialogs/frmMsg.h"

// The message box: the installation error ("Aceptar") and the confirmation
// of the window's "Cerrar" ("Si"/"No", the focus on "No").
namespace {

std::unique_ptr<QWidget> Mensaje(const QString& texto, int botones) {
    auto forma = std::make_unique<frmMsg>();
    forma->MsTexto = texto;
    forma->MnBotones = botones;
    return forma;
}

const bool registradas =
    RegistrarCaptura({QStringLiteral("mensaje.png"),
                      [] { return Mensaje(QStringLiteral("Error de instalación, faltan parametros"), 16); }}) &&
    RegistrarCaptura({QStringLiteral("mensaje-si-no.png"),
                      [] { return Mensaje(QStringLiteral("En verdad quiere detener el servidor de impresion?"), 4); }});

} // namespace
