#pragma once

#include <functional>

// SIGTERM and SIGINT, delivered on the event loop. The handler runs as an
// ordinary event, never inside a signal context, so a tick that is running
// when the signal comes finishes first.
namespace Senales {

// Installs the handler (once per process; a later call replaces it).
void AlTerminar(std::function<void(int senal)> manejador);

// True once a signal has come (set in the signal context itself): long work
// checks it between its steps so that a stop is not held back by it.
bool Pedida();

// Also on SIGTERM and SIGINT, but at once, on a thread of its own, while the
// event loop may still be busy: for what must not wait for the running event
// to end (cancelling a database statement that holds the loop, say). Takes
// effect once AlTerminar has installed the signal handlers.
void AlTerminarDesdeOtroHilo(std::function<void()> manejador);

} // namespace Senales
