#pragma once

#include <QString>

// Process-wide state of the server, set once at start-up and read by every
// subsystem; it lives until the process ends.

// The terminal this server works for, from setting ORLAN/Configuracion/Terminal.
inline qint16 NumeroTerminal = 0;

// Address of the database server, from setting ORLAN/Configuracion/Servidor
// (set by Conectar).
inline QString NombreServidor;
