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

} // namespace Senales
