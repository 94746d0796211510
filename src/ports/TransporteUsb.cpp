#include "ports/TransporteUsb.h"

#include "ports/Descriptor.h"

#include <QDeadlineTimer>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <utility>

TransporteUsb::TransporteUsb(const QString& ruta) : TransporteDescriptor(false), m_ruta(ruta) {}

TransporteUsb::~TransporteUsb() {
    Cerrar();
}

void TransporteUsb::FalloSistema(int numero) {
    m_error = m_ruta + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(numero));
}

// A printer that stopped taking bytes would make every later write of the job
// wait out its own limit: the device is closed, so that they fail at once and
// nothing of a failed output arrives later.
void TransporteUsb::SalidaFallida(int numero) {
    FalloSistema(numero);
    Cerrar();
}

void TransporteUsb::SalidaVencida() {
    m_error = m_ruta + QStringLiteral(": la salida no terminó a tiempo");
    Cerrar();
}

bool TransporteUsb::Abrir() {
    if (PortOpen()) {
        m_error = QStringLiteral("El puerto ya está abierto");
        return false;
    }
    m_entrada.clear();
    m_fd = ::open(m_ruta.toLocal8Bit().constData(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (m_fd < 0) {
        FalloSistema(errno);
        return false;
    }
    return true;
}

void TransporteUsb::Cerrar() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

// Reads what the device holds without waiting, up to kEntradaMaxima kept: a
// device that never stops sending would keep this loop reading for ever. A
// printer that cannot answer refuses reads; that is silence, not a failure.
void TransporteUsb::TomarPendiente() {
    char buffer[256];
    while (m_entrada.size() < kEntradaMaxima) {
        const auto resto = static_cast<size_t>(std::min<qint64>(sizeof buffer, kEntradaMaxima - m_entrada.size()));
        const ssize_t n = ::read(m_fd, buffer, resto);
        if (n > 0) {
            m_entrada.append(buffer, n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return;
        }
    }
}

QByteArray TransporteUsb::Input() {
    if (PortOpen()) {
        TomarPendiente();
    }
    return std::exchange(m_entrada, QByteArray());
}

qint64 TransporteUsb::InBufferCount() {
    if (PortOpen()) {
        TomarPendiente();
    }
    return m_entrada.size();
}

void TransporteUsb::DescartarEntrada() {
    // A bounded number of buffers: a device that floods is never waited out.
    for (int i = 0; i < 64 && InBufferCount() > 0; ++i) {
        m_entrada.clear();
    }
}

Transporte::Espera TransporteUsb::EsperarEntrada(int milisegundos) {
    if (Cerrado()) {
        return Espera::Fallo;
    }
    const QDeadlineTimer plazo(milisegundos);
    for (;;) {
        pollfd pf{m_fd, POLLIN, 0};
        const int r = ::poll(&pf, 1, static_cast<int>(plazo.remainingTime()));
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r < 0) {
            FalloSistema(errno);
            return Espera::Fallo;
        }
        if (r == 0) {
            return Espera::Plazo;
        }
        if (pf.revents & POLLIN) {
            return Espera::Datos;
        }
        m_error = m_ruta + QStringLiteral(": el dispositivo ya no responde");
        return Espera::Fallo;
    }
}

bool TransporteUsb::Break(bool /*activo*/) {
    return !Cerrado();
}
