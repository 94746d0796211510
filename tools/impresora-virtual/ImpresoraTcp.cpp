#include "impresora-virtual/ImpresoraTcp.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

ImpresoraTcp::ImpresoraTcp(quint16 puerto) {
    m_escucha = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int si = 1;
    sockaddr_in direccion{};
    direccion.sin_family = AF_INET;
    direccion.sin_port = htons(puerto);
    direccion.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t largo = sizeof direccion;
    if (m_escucha < 0 || setsockopt(m_escucha, SOL_SOCKET, SO_REUSEADDR, &si, sizeof si) != 0 ||
        bind(m_escucha, reinterpret_cast<sockaddr*>(&direccion), sizeof direccion) != 0 || listen(m_escucha, 8) != 0 ||
        getsockname(m_escucha, reinterpret_cast<sockaddr*>(&direccion), &largo) != 0) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        Cerrar();
        return;
    }
    m_puerto = ntohs(direccion.sin_port);
}

ImpresoraTcp::~ImpresoraTcp() {
    Cerrar();
}

QByteArray ImpresoraTcp::Atender(int milisegundos) {
    if (m_escucha < 0) {
        return {};
    }
    std::vector<pollfd> pf{{m_escucha, POLLIN, 0}};
    for (const Cliente& c : m_clientes) {
        pf.push_back({c.fd, POLLIN, 0});
    }
    if (poll(pf.data(), pf.size(), milisegundos) <= 0) {
        return {};
    }
    QByteArray llegados;
    std::vector<Cliente> siguen;
    for (std::size_t i = 1; i < pf.size(); ++i) {
        Cliente c = m_clientes[i - 1];
        if (pf[i].revents == 0) {
            siguen.push_back(c);
            continue;
        }
        char buffer[4096];
        const ssize_t n = read(c.fd, buffer, sizeof buffer);
        if (n <= 0) {
            close(c.fd); // the program closed its end
            continue;
        }
        llegados.append(buffer, n);
        const int respuesta = Respuesta();
        for (int pedidos = PedidosEstado(QByteArrayView(buffer, n), c.estadoPedido); pedidos > 0; --pedidos) {
            if (respuesta != kSilencio) {
                const char b = static_cast<char>(respuesta);
                (void)!send(c.fd, &b, 1, MSG_NOSIGNAL); // a program gone already gets no answer
            }
        }
        siguen.push_back(c);
    }
    m_clientes = std::move(siguen);
    if (pf[0].revents & POLLIN) {
        const int fd = accept4(m_escucha, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
            m_clientes.push_back({fd, 0});
            ++m_conexiones;
        }
    }
    return llegados;
}

void ImpresoraTcp::Cerrar() {
    Detener();
    for (const Cliente& c : m_clientes) {
        close(c.fd);
    }
    m_clientes.clear();
    if (m_escucha >= 0) {
        close(m_escucha);
        m_escucha = -1;
    }
}
