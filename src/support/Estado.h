#pragma once

#include <QString>

// Process-wide state of the server, set once at start-up and read by every
// subsystem; it lives until the process ends.

// The terminal this server works for, from setting ORLAN/Configuracion/Terminal.
inline qint16 NumeroTerminal = 0;

// Address of the database server, from setting ORLAN/Configuracion/Servidor
// (set by Conectar).
inline QString NombreServidor;

// Number of the button that closed the last message box (1 "Aceptar",
// 6 "Si", 7 "No"), written only by a button press and read by MostrarMensaje.
// It is not reset between boxes: a box closed without a button gives the
// previous answer again.
inline quint8 MnRespuesta = 0;
