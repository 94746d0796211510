#pragma once

#include <QTextStream>

// orlan-admin diagnostico: checks, in the order the server needs them, the
// settings file and its keys, the credentials file, the ODBC driver registry
// and the driver's library, the connection, the schema, this terminal's row
// and its printers (each port opened and asked for its status, and each
// backup chain). One line per check, "[ ok ]", "[aviso]" or "[FALLA]"; a
// failure or a warning says how to fix it. Returns 1 when anything would keep
// the queue from being served, else 0.
int Diagnosticar(QTextStream& salida);
