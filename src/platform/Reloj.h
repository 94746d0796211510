#pragma once

#include <QDateTime>
#include <functional>

// The wall clock that the event log, the parallel-port waits and the printer
// time-outs read. Tests replace it to cross midnight or to let 25 seconds pass
// without waiting for them.
namespace Reloj {

QDateTime Ahora();

using Fuente = std::function<QDateTime()>;

// Installs a clock (an empty one restores the system clock) and returns the
// previous one.
Fuente Establecer(Fuente fuente);

} // namespace Reloj
