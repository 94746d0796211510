#include "impresora-virtual/ImpresoraPty.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

ImpresoraPty::ImpresoraPty() {
    char nombre[256] = {};
    if (openpty(&m_maestro, &m_esclavo, nombre, nullptr, nullptr) != 0) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        m_maestro = m_esclavo = -1;
        return;
    }
    // Raw from the start: a terminal's echo would send our own answers back.
    termios t{};
    tcgetattr(m_esclavo, &t);
    cfmakeraw(&t);
    tcsetattr(m_esclavo, TCSANOW, &t);
    fcntl(m_maestro, F_SETFD, FD_CLOEXEC);
    fcntl(m_esclavo, F_SETFD, FD_CLOEXEC);
    m_ruta = QString::fromLocal8Bit(nombre);
}

ImpresoraPty::~ImpresoraPty() {
    Cerrar();
}

QList<ImpresoraVirtual::Pieza> ImpresoraPty::AtenderPiezas(int milisegundos) {
    if (m_maestro < 0) {
        return {};
    }
    int espera = 0;
    const qsizetype cupo = Cupo(espera);
    if (cupo == 0) {
        // The line is still carrying the last bytes.
        poll(nullptr, 0, std::min(espera, milisegundos));
        return {};
    }
    pollfd pf{m_maestro, POLLIN, 0};
    if (poll(&pf, 1, milisegundos) <= 0 || !(pf.revents & POLLIN)) {
        return {};
    }
    char buffer[4096];
    const ssize_t n = read(m_maestro, buffer, static_cast<size_t>(std::min<qsizetype>(cupo, sizeof buffer)));
    if (n <= 0) {
        return {};
    }
    Tomados(n);
    const int respuesta = Respuesta();
    for (int pedidos = PedidosEstado(QByteArrayView(buffer, n), m_estadoPedido); pedidos > 0; --pedidos) {
        if (respuesta != kSilencio) {
            const char c = static_cast<char>(respuesta);
            Enviar(QByteArrayView(&c, 1));
        }
    }
    return {Pieza{0, QByteArray(buffer, n), false}};
}

bool ImpresoraPty::Enviar(QByteArrayView bytes) {
    qsizetype hecho = 0;
    while (m_maestro >= 0 && hecho < bytes.size()) {
        const ssize_t n = write(m_maestro, bytes.data() + hecho, static_cast<size_t>(bytes.size() - hecho));
        if (n < 0 && errno != EINTR) {
            return false;
        }
        hecho += n > 0 ? n : 0;
    }
    return m_maestro >= 0;
}

void ImpresoraPty::Cerrar() {
    Detener();
    if (m_esclavo >= 0) {
        close(m_esclavo);
        m_esclavo = -1;
    }
    if (m_maestro >= 0) {
        close(m_maestro);
        m_maestro = -1;
    }
}
