#pragma once

#include <QString>

// A lock on a file that the kernel drops with the process that holds it
// (flock), however that process ends: while it is held, no other process
// holds the same file's lock. One server runs per terminal through it.
namespace BloqueoProceso {

enum class Resultado {
    Tomado,   // this call took it
    YaPropio, // this process held it already
    Ajeno,    // another process holds it
    Error,    // the file could not be made or opened; `error` says why
};

// Takes the lock of `ruta`, creating the file (mode 0600) and its directory
// when missing. Never waits. The lock is kept until the process ends.
Resultado Tomar(const QString& ruta, QString* error = nullptr);

} // namespace BloqueoProceso
