#pragma once

#include <QString>

// Why the last Conectar() failed, for the technician: the driver's first
// SQLSTATE and text (or the credentials' own reason when the connection was
// never tried), then the setting, file or variable that most likely needs
// fixing. One line, e.g.
//   SQLSTATE 08001: could not connect to server ...; revise Servidor (y Puerto)
//   en [Configuracion] de /home/caja/.config/orlan/orlan.ini
QString ExplicarFalloConexion();

// Whether the last Conectar() failed on the credentials: the server refused
// the account or its password (or the credentials file could not be read).
// Trying again soon cannot mend that and may lock the account; any other
// failure (no server, no network, a server still starting) may pass by itself.
bool CredencialesRechazadas();

// The library a driver registry (an odbcinst.ini, as in ODBCSYSINI) gives for
// the driver name "SQL Server"; empty when it names none.
QString LibreriaRegistrada(const QString& registro);
