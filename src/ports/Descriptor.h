#pragma once

#include "ports/Transporte.h"

#include <QByteArrayView>
#include <QDeadlineTimer>
#include <QString>

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

// A transport on one descriptor: whether it is open, its last error and the
// output of a whole job are the same for each; what a write that failed or
// ran out of time leaves behind is each kind's own.
class TransporteDescriptor : public Transporte {
public:
    bool PortOpen() const final { return m_fd >= 0; }
    bool Output(QByteArrayView bytes) final;
    const QString& Error() const final { return m_error; }

protected:
    explicit TransporteDescriptor(bool socket) : m_socket(socket) {}

    // True, with the error said, when the way is closed.
    bool Cerrado();
    // An output not taken within its limit, and one the system refused with
    // errno `numero`: each sets m_error and closes the way.
    virtual void SalidaVencida() = 0;
    virtual void SalidaFallida(int numero) = 0;

    int m_fd = -1;
    QString m_error;

private:
    bool m_socket;
};
