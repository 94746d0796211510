#pragma once

#include <QDateTime>
#include <chrono>
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

// A clock for measuring waits rather than telling the time: the system's
// monotonic clock, which neither the time zone nor a change of the wall clock
// moves, and which is read without a system call. While a clock
// is installed with Establecer, both follow that clock instead (its
// milliseconds since the epoch), so that a test's clock governs the waits
// too; one that stands still then stops them from ending on time.
std::chrono::nanoseconds Monotono();
// The same to within a few milliseconds, cheaper still, for callers that look
// at it on every pass of a fast loop. The two are not to be compared.
std::chrono::nanoseconds MonotonoGrueso();

} // namespace Reloj
