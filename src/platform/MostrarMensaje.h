#pragma once

#include <QString>
#include <functional>

// The system's own message box (MostrarMensaje), the seam every layer reaches
// it through: the login, the server window and the start-up call it here, and
// window mode installs the form that shows it. Without a presenter it is the
// platform's standard message box (CajaMensajes), which in service mode writes
// to standard error.

// Shows the system's message box with a text and a button code (0 or 16:
// "Aceptar"; 4: "Si" and "No") and returns the number of the button pressed
// (1 "Aceptar", 6 "Si", 7 "No").
quint8 MostrarMensaje(const QString& texto, int botones);

// What MostrarMensaje shows. Window mode installs the system's own message box;
// without a presenter (service mode) the text goes to standard error and the
// answer is 1. Tests install one that records the call and answers at once.
// Returns the previous presenter.
using PresentadorMensaje = std::function<quint8(const QString& texto, int botones)>;
PresentadorMensaje EstablecerPresentadorMensaje(PresentadorMensaje presentador);
