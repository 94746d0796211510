#pragma once

// Window mode's last start-up step: creates the server window of
// NumeroTerminal, registers it as the main window (VolverAlServidor) and runs
// its load step; returns whether the load step completed. The window lives
// until the process ends.
bool MostrarServidor();
