#pragma once

#include <QString>

// Why the last Conectar() failed, for the technician: the driver's first
// SQLSTATE and text (or the credentials' own reason when the connection was
// never tried), then the setting, file or variable that most likely needs
// fixing. One line, e.g.
//   SQLSTATE 08001: could not connect to server ...; revise Servidor (y Puerto)
//   en [Configuracion] de /home/caja/.config/orlan/orlan.ini
QString ExplicarFalloConexion();

// The library a driver registry (an odbcinst.ini, as in ODBCSYSINI) gives for
// the driver name "SQL Server"; empty when it names none.
QString LibreriaRegistrada(const QString& registro);
