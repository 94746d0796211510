#pragma once

#include <QIcon>

// A small receipt printer with a sheet coming out of it: the icon of the
// printer configuration form and of the server's tray entry. Drawn at the
// usual icon sizes; needs a QGuiApplication.
QIcon IconoConfiguracion();
