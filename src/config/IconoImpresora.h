#pragma once

#include <QIcon>

// The printer configuration form's icon: a receipt printer with a ticket
// coming out of it. The server shows the same icon in the notification area.
// Drawn in code at the sizes desktops ask for (16 to 64 pixels), so no image
// file has to travel with the program. Needs a QGuiApplication.
QIcon IconoImpresora();
