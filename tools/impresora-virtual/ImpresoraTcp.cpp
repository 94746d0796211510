#include "impresora-virtual/ImpresoraTcp.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

int HastaMs(steady_clock::time_point t) {
    return static_cast<int>(std::max<qint64>(0, std::chrono::ceil<milliseconds>(t - steady_clock::now()).count()));
}

// Drops the connection with a reset, as a printer that restarts does.
void Reiniciar(int fd) {
    const linger l{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    close(fd);
}

} // namespace

std::optional<ImpresoraTcp::Conducta> ImpresoraTcp::ConductaDeNombre(const QString& nombre) {
    static const std::pair<const char*, Conducta> kNombres[] = {
        {"normal", Conducta::Normal},
        {"no-lee", Conducta::NoLee},
        {"reinicia", Conducta::ReiniciaTrasListo},
        {"inunda", Conducta::Inunda},
        {"acepta-lento", Conducta::AceptaLento},
        {"tarda", Conducta::Tarda},
    };
    for (const auto& [texto, conducta] : kNombres) {
        if (nombre == QLatin1StringView(texto)) {
            return conducta;
        }
    }
    return std::nullopt;
}

bool ImpresoraTcp::DireccionValida(const QString& direccion) {
    in_addr a{};
    return inet_pton(AF_INET, direccion.toLatin1().constData(), &a) == 1;
}

ImpresoraTcp::ImpresoraTcp(quint16 puerto, const QString& anfitrion)
    : m_direccion(anfitrion.isEmpty() ? QStringLiteral("127.0.0.1") : anfitrion) {
    m_escucha = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int si = 1;
    sockaddr_in direccion{};
    direccion.sin_family = AF_INET;
    direccion.sin_port = htons(puerto);
    socklen_t largo = sizeof direccion;
    if (inet_pton(AF_INET, m_direccion.toLatin1().constData(), &direccion.sin_addr) != 1) {
        m_error = QStringLiteral("dirección no válida: ") + m_direccion;
        Cerrar();
        return;
    }
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

bool ImpresoraTcp::Leer(Cliente& c, QList<Pieza>& piezas) {
    int espera = 0;
    const qsizetype cupo = Cupo(espera);
    if (cupo == 0) {
        return true; // the line is still carrying the last bytes
    }
    char buffer[4096];
    const ssize_t n = read(c.fd, buffer, static_cast<size_t>(std::min<qsizetype>(cupo, sizeof buffer)));
    if (n <= 0) {
        close(c.fd); // the program closed its end
        piezas.append({c.id, {}, true});
        return false;
    }
    Tomados(n);
    const int respuesta = Respuesta();
    const Conducta conducta = m_conducta;
    if (conducta == Conducta::ReiniciaTrasListo && c.respondio) {
        // Taken and thrown away; a status request now finds a printer that restarts.
        if (PedidosEstado(QByteArrayView(buffer, n), c.estadoPedido) > 0) {
            Reiniciar(c.fd);
            piezas.append({c.id, {}, true});
            return false;
        }
        return true;
    }
    piezas.append({c.id, QByteArray(buffer, n), false});
    for (int pedidos = PedidosEstado(QByteArrayView(buffer, n), c.estadoPedido); pedidos > 0; --pedidos) {
        c.respondio = true;
        if (respuesta == kSilencio) {
            continue;
        }
        if (conducta == Conducta::Tarda) {
            c.respuestas.push_back(steady_clock::now() + milliseconds(kDemoraRespuesta));
            continue;
        }
        const char b = static_cast<char>(respuesta);
        (void)!send(c.fd, &b, 1, MSG_NOSIGNAL); // a program gone already gets no answer
    }
    return true;
}

void ImpresoraTcp::Aceptar() {
    if (m_conducta == Conducta::AceptaLento) {
        if (m_esperandoDesde == Instante{}) {
            m_esperandoDesde = steady_clock::now();
        }
        if (HastaMs(m_esperandoDesde + milliseconds(kDemoraAceptar)) > 0) {
            return;
        }
        m_esperandoDesde = {};
    }
    const int fd = accept4(m_escucha, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd >= 0) {
        m_clientes.push_back({fd, 0, ++m_conexiones, false, {}});
    }
}

QList<ImpresoraVirtual::Pieza> ImpresoraTcp::AtenderPiezas(int milisegundos) {
    if (m_escucha < 0) {
        return {};
    }
    const Conducta conducta = m_conducta;
    // Sleep no longer than the next late answer or the next slow accept.
    int espera = milisegundos;
    for (const Cliente& c : m_clientes) {
        for (const Instante& t : c.respuestas) {
            espera = std::min(espera, HastaMs(t));
        }
    }
    if (m_esperandoDesde != Instante{}) {
        espera = std::min(espera, HastaMs(m_esperandoDesde + milliseconds(kDemoraAceptar)));
    }
    // One at a time: the listening socket waits while a connection is served.
    const bool aceptar = !m_unaALaVez || m_clientes.empty();
    std::vector<pollfd> pf{{aceptar ? m_escucha : -1, POLLIN, 0}};
    for (const Cliente& c : m_clientes) {
        const short eventos = conducta == Conducta::NoLee    ? short(0)
                              : conducta == Conducta::Inunda ? short(POLLIN | POLLOUT)
                                                             : short(POLLIN);
        pf.push_back({c.fd, eventos, 0});
    }
    if (poll(pf.data(), pf.size(), espera) < 0) {
        return {};
    }
    QList<Pieza> piezas;
    std::vector<Cliente> siguen;
    for (std::size_t i = 1; i < pf.size(); ++i) {
        Cliente c = m_clientes[i - 1];
        if (pf[i].revents & POLLOUT) {
            static const QByteArray kRuido(65536, '\x55');
            (void)!send(c.fd, kRuido.constData(), static_cast<size_t>(kRuido.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
        }
        if ((pf[i].revents & (POLLIN | POLLHUP | POLLERR)) && !Leer(c, piezas)) {
            continue;
        }
        // Late answers that fell due.
        const auto ahora = steady_clock::now();
        while (!c.respuestas.empty() && c.respuestas.front() <= ahora) {
            const char b = static_cast<char>(Respuesta());
            (void)!send(c.fd, &b, 1, MSG_NOSIGNAL);
            c.respuestas.erase(c.respuestas.begin());
        }
        siguen.push_back(c);
    }
    m_clientes = std::move(siguen);
    if (aceptar && ((pf[0].revents & POLLIN) || m_esperandoDesde != Instante{})) {
        Aceptar();
    }
    return piezas;
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
