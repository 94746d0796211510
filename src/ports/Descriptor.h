#pragma once

#include <QByteArrayView>
#include <QDeadlineTimer>

// What the device transports (network socket, USB printer node) share: their
// descriptors are non-blocking, and a write of a whole job waits for room
// only up to its limit.

// poll() on one descriptor for at most `milisegundos`, again after a signal
// for what is left: the revents, 0 when the time ran out, -1 on failure.
int EsperarDescriptor(int fd, short eventos, qint64 milisegundos);

// Writes all of `bytes` to `fd` (with send() and no SIGPIPE on a socket):
// Hecha, Plazo when `limite` passed with bytes still to go, or Fallo with the
// system's error in `numeroError`.
enum class Escritura { Hecha, Plazo, Fallo };
Escritura EscribirTodo(int fd, bool socket, QByteArrayView bytes, const QDeadlineTimer& limite, int& numeroError);
