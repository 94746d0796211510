#pragma once

#include <QApplication>
#include <memory>

// The pieces of window mode's start-up (orlan-cola without --servicio).

// Creates the application of window mode. Without a display to show the
// window on (neither DISPLAY nor WAYLAND_DISPLAY set, or a display that does
// not answer) it writes on standard error why, and that `orlan-cola
// --servicio` serves the queue without a window, and ends the process with
// kSalidaPantalla.
std::unique_ptr<QApplication> CrearAplicacionVentana(int& argc, char** argv);

// The message boxes of window mode: MostrarMensaje and the platform's box
// become dialogs on screen instead of lines on standard error.
void InstalarCajasVentana();

// Creates the server window of NumeroTerminal, registers it as the main
// window (VolverAlServidor) and runs its load step; returns whether the load
// step completed. The window lives until the process ends.
bool MostrarServidor();
