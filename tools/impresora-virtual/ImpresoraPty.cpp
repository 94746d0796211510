#include "impresora-virtual/ImpresoraPty.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
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
    QList<Pieza> impreso;
    if (AtenderConModelo(milisegundos, impreso)) {
        return impreso;
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
    QByteArray tipos;
    PedidosEstado(QByteArrayView(buffer, n), m_estadoPedido, &tipos);
    for (const char tipo : tipos) {
        if (Respuesta() != kSilencio) {
            const char c = RespuestaA(tipo);
            Enviar(QByteArrayView(&c, 1));
        }
    }
    return {Pieza{0, QByteArray(buffer, n), false}};
}

bool ImpresoraPty::AtenderConModelo(int milisegundos, QList<Pieza>& piezas) {
    int espera = milisegundos;
    qsizetype cupo = 0;
    bool encendida = true;
    if (!ConElModelo([&](ModeloImpresora& m) {
            const int proximo = m.HastaProximo();
            espera = proximo >= 0 ? std::min(espera, std::max(proximo, 1)) : espera;
            cupo = m.Espacio();
            encendida = m.Encendida();
        })) {
        return false;
    }
    // A full buffer is not read: the line stops and the sender waits.
    pollfd pf{m_maestro, static_cast<short>(cupo > 0 ? POLLIN : 0), 0};
    ModeloImpresora::Salida salida;
    if (poll(&pf, 1, espera) > 0 && (pf.revents & POLLIN)) {
        char buffer[4096];
        const ssize_t n = read(m_maestro, buffer, static_cast<size_t>(std::min<qsizetype>(cupo, sizeof buffer)));
        // Switched off, the printer takes nothing: its adapter's line drops what comes.
        if (n > 0 && encendida) {
            ConElModelo([&](ModeloImpresora& m) { m.Tomar(0, QByteArrayView(buffer, n), salida); });
        }
    }
    ConElModelo([&](ModeloImpresora& m) { m.Imprimir(salida); });
    for (const auto& p : salida.impreso) {
        piezas.append({0, p.bytes, false});
    }
    for (const auto& r : salida.respuestas) {
        Enviar(r.bytes);
    }
    return true;
}

qsizetype ImpresoraPty::Pendientes() const {
    int cuantos = 0;
    return m_maestro >= 0 && ::ioctl(m_maestro, FIONREAD, &cuantos) == 0 ? cuantos : 0;
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
