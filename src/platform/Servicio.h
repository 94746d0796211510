#pragma once

#include <QString>

// What the service manager learns from the server: when it serves, what it is
// doing or waiting for, and that it is still alive. Under systemd (a unit of
// Type=notify) these are sd_notify messages; anywhere else, and in a build
// without libsystemd, every call does nothing.
namespace Servicio {

// The queue is served: "READY=1". Sent once; later calls do nothing.
void Listo();

// The one line systemctl status shows as "Status:", e.g. "sirviendo 3
// impresoras, 1 en respaldo" or "sin base de datos: ...". Line breaks become
// blanks. Repeating the text last sent sends nothing.
void Estado(const QString& texto);

// The keep-alive of WatchdogSec=: "WATCHDOG=1".
void Vivo();

// Started by a service manager that listens to these messages (systemd's
// NOTIFY_SOCKET is set).
bool Gestionado();

// The process runs with the administrator's user id.
bool ComoAdministrador();

} // namespace Servicio
