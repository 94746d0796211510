#pragma once

#include <functional>

class QWidget;

// The main window of window mode (the server window). The GUI registers it
// once it exists, with the question whether the operator's last login
// succeeded; until then VentanaPrincipal() is null.
void RegistrarVentanaPrincipal(QWidget* ventana, std::function<bool()> loginValido = {});
QWidget* VentanaPrincipal();

// Asks the given form to unload (the form may refuse) and brings the main
// window back (shown, not modal), but only for a form that was on screen
// while a valid login stands: a form left over, hidden, from a finished
// dialog, or one that belongs to a login still open or failed, must not hand
// the server window to whoever stands at the till. Errors on the way are
// ignored: a missing main window or form is simply skipped.
void VolverAlServidor(QWidget* PfForma);
