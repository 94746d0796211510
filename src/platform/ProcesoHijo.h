#pragma once

#include <functional>

// Runs a probe that may abort the process (for example opening a display,
// which Qt answers with abort() when it cannot) in a child process, so that
// the caller survives to report the failure itself.
namespace ProcesoHijo {

// Runs `prueba` in a forked child whose standard output and error are
// discarded and which writes no core file. True when the probe returned
// normally and the child exited with status 0; false when the child aborted,
// was killed or the fork failed. Call it before the process starts threads.
bool Probar(const std::function<void()>& prueba);

} // namespace ProcesoHijo
