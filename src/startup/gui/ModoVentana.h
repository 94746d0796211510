#pragma once

#include "platform/CajaMensajes.h"

#include <QString>

// Window mode's start-up, around the start-up steps shared with service mode.

// Whether window mode can open a display, checked before the QApplication
// exists (Qt aborts the process when it cannot open one). Without DISPLAY,
// WAYLAND_DISPLAY and QT_QPA_PLATFORM there is none; otherwise a child process
// opens the platform with the program's arguments. On false, `motivo` says why.
bool PantallaDisponible(int argc, char** argv, QString* motivo);

// Prepares the QApplication for window mode: the forms' font substitutions;
// MostrarMensaje shows frmMsg and the platform's standard box is a
// QMessageBox; and closing the last window (a message box, a dialog) does not
// end the program, which lives on serving the queue.
void PrepararModoVentana();

// The platform's standard box as window mode shows it: a QMessageBox with the
// message's icon and title (the application's name when empty), "Si" and "No"
// for button code 4, "Aceptar" for every other code. Returns 1 "Aceptar",
// 6 "Si" or 7 "No".
int MostrarCajaEstandar(const CajaMensajes::Mensaje& mensaje);
