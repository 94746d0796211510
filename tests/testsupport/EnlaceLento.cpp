#include "testsupport/EnlaceLento.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <list>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

using Reloj = std::chrono::steady_clock;

struct Pieza {
    Reloj::time_point cuando;
    std::string datos; // empty: the sender closed its side
    std::size_t enviado = 0;
};

// One direction of a connection: what was read from `desde`, waiting for its
// time to be written to `hacia`.
struct Sentido {
    int desde = -1;
    int hacia = -1;
    std::deque<Pieza> piezas;
    bool cerrado = false; // `desde` closed and its end was passed on
    bool leyendo = true;
};

struct Par {
    Sentido subida; // client -> server
    Sentido bajada; // server -> client
    bool hablo = false;
    bool respondio = false;
    bool roto = false;
};

void SinBloqueo(int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    const int si = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &si, sizeof si); // fails harmlessly on the Unix side
}

// Writes the pieces whose time has come; false when the peer is gone.
bool Entregar(Sentido& s, Reloj::time_point ahora) {
    while (!s.piezas.empty() && s.piezas.front().cuando <= ahora) {
        Pieza& p = s.piezas.front();
        if (p.datos.empty()) {
            shutdown(s.hacia, SHUT_WR);
            s.cerrado = true;
            s.piezas.pop_front();
            continue;
        }
        const ssize_t n = send(s.hacia, p.datos.data() + p.enviado, p.datos.size() - p.enviado, MSG_NOSIGNAL);
        if (n < 0) {
            return errno == EAGAIN || errno == EWOULDBLOCK;
        }
        p.enviado += static_cast<std::size_t>(n);
        if (p.enviado < p.datos.size()) {
            return true;
        }
        s.piezas.pop_front();
    }
    return true;
}

} // namespace

EnlaceLento::EnlaceLento(const QString& destino, int retardoMs, const QString& direccion)
    : m_destino(destino.toLocal8Bit()), m_retardoMs(retardoMs) {
    m_escucha = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in d{};
    d.sin_family = AF_INET;
    d.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (!direccion.isEmpty()) {
        inet_pton(AF_INET, direccion.toLatin1().constData(), &d.sin_addr);
    }
    socklen_t largo = sizeof d;
    if (pipe2(m_despertar, O_CLOEXEC | O_NONBLOCK) != 0 ||
        bind(m_escucha, reinterpret_cast<sockaddr*>(&d), sizeof d) != 0 || listen(m_escucha, 64) != 0 ||
        getsockname(m_escucha, reinterpret_cast<sockaddr*>(&d), &largo) != 0) {
        return;
    }
    m_puerto = ntohs(d.sin_port);
    m_hilo = std::thread([this] { Bucle(); });
}

EnlaceLento::~EnlaceLento() {
    m_fin.store(true);
    if (m_despertar[1] >= 0) {
        const char c = 0;
        [[maybe_unused]] const ssize_t n = write(m_despertar[1], &c, 1);
    }
    if (m_hilo.joinable()) {
        m_hilo.join();
    }
    for (const int fd : {m_escucha, m_despertar[0], m_despertar[1]}) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

void EnlaceLento::Bucle() {
    std::list<Par> pares;
    std::vector<char> bufer(65536);
    while (!m_fin.load()) {
        const auto ahora = Reloj::now();
        int espera = 100;
        for (const Par& p : pares) {
            for (const Sentido* s : {&p.subida, &p.bajada}) {
                if (!s->piezas.empty()) {
                    const auto falta =
                        std::chrono::ceil<std::chrono::milliseconds>(s->piezas.front().cuando - ahora).count();
                    espera = std::min<int>(espera, static_cast<int>(std::max<qint64>(0, falta)));
                }
            }
        }
        std::vector<pollfd> fds{{m_despertar[0], POLLIN, 0}, {m_escucha, POLLIN, 0}};
        for (const Par& p : pares) {
            for (const Sentido* s : {&p.subida, &p.bajada}) {
                // A descriptor with nothing to wait for is left out (-1): a
                // closed peer would report POLLHUP for ever.
                const bool pendiente = !s->piezas.empty() && s->piezas.front().cuando <= ahora;
                fds.push_back({s->leyendo ? s->desde : -1, POLLIN, 0});
                fds.push_back({pendiente ? s->hacia : -1, POLLOUT, 0});
            }
        }
        if (poll(fds.data(), fds.size(), espera) < 0 && errno != EINTR) {
            break;
        }
        if (fds[1].revents & POLLIN) {
            const int cliente = accept4(m_escucha, nullptr, nullptr, SOCK_CLOEXEC);
            if (cliente >= 0) {
                const int servidor = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
                sockaddr_un d{};
                d.sun_family = AF_UNIX;
                std::memcpy(d.sun_path, m_destino.constData(),
                            std::min<std::size_t>(m_destino.size(), sizeof d.sun_path - 1));
                if (connect(servidor, reinterpret_cast<sockaddr*>(&d), sizeof d) != 0) {
                    close(servidor);
                    close(cliente);
                } else {
                    SinBloqueo(cliente);
                    SinBloqueo(servidor);
                    Par& p = pares.emplace_back();
                    p.subida.desde = p.bajada.hacia = cliente;
                    p.subida.hacia = p.bajada.desde = servidor;
                }
            }
        }
        const auto leido = Reloj::now();
        const auto retardo = std::chrono::milliseconds(m_retardoMs.load());
        for (Par& p : pares) {
            for (Sentido* s : {&p.subida, &p.bajada}) {
                if (!s->leyendo) {
                    continue;
                }
                const ssize_t n = read(s->desde, bufer.data(), bufer.size());
                if (n > 0) {
                    if (s == &p.subida && (!p.hablo || p.respondio)) {
                        m_viajes.fetch_add(1);
                        p.hablo = true;
                        p.respondio = false;
                    } else if (s == &p.bajada) {
                        p.respondio = true;
                    }
                    s->piezas.push_back({leido + retardo, std::string(bufer.data(), static_cast<std::size_t>(n))});
                } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
                    s->leyendo = false;
                    s->piezas.push_back({leido + retardo, std::string()});
                }
            }
            const auto ya = Reloj::now();
            p.roto = !Entregar(p.subida, ya) || !Entregar(p.bajada, ya) || (p.subida.cerrado && p.bajada.cerrado);
        }
        for (auto it = pares.begin(); it != pares.end();) {
            if (it->roto) {
                close(it->subida.desde);
                close(it->subida.hacia);
                it = pares.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (Par& p : pares) {
        close(p.subida.desde);
        close(p.subida.hacia);
    }
}
