#include "ports/Descriptor.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

int EsperarDescriptor(int fd, short eventos, qint64 milisegundos) {
    const QDeadlineTimer plazo(std::max<qint64>(milisegundos, 0));
    for (;;) {
        pollfd pf{fd, eventos, 0};
        const int r = ::poll(&pf, 1, static_cast<int>(plazo.remainingTime()));
        if (r > 0) {
            return pf.revents;
        }
        if (r == 0 || errno != EINTR) {
            return r;
        }
    }
}

Escritura EscribirTodo(int fd, bool socket, QByteArrayView bytes, const QDeadlineTimer& limite, int& numeroError) {
    qsizetype hecho = 0;
    while (hecho < bytes.size()) {
        const auto resto = static_cast<size_t>(bytes.size() - hecho);
        // A printer that closed only its sending half still takes bytes.
        const ssize_t n =
            socket ? ::send(fd, bytes.data() + hecho, resto, MSG_NOSIGNAL) : ::write(fd, bytes.data() + hecho, resto);
        if (n >= 0) {
            hecho += n;
            continue;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN) {
            numeroError = errno;
            return Escritura::Fallo;
        }
        const int r = limite.hasExpired() ? 0 : EsperarDescriptor(fd, POLLOUT, limite.remainingTime());
        if (r == 0) {
            return Escritura::Plazo;
        }
        if (r < 0) {
            numeroError = errno;
            return Escritura::Fallo;
        }
    }
    return Escritura::Hecha;
}

bool TransporteDescriptor::Cerrado() {
    if (PortOpen()) {
        return false;
    }
    m_error = QStringLiteral("El puerto está cerrado");
    return true;
}

bool TransporteDescriptor::Output(QByteArrayView bytes) {
    if (Cerrado()) {
        return false;
    }
    int numero = 0;
    switch (EscribirTodo(m_fd, m_socket, bytes, QDeadlineTimer(LimiteSalida(bytes.size())), numero)) {
    case Escritura::Hecha:
        return true;
    case Escritura::Plazo:
        SalidaVencida();
        return false;
    case Escritura::Fallo:
        break;
    }
    SalidaFallida(numero);
    return false;
}
