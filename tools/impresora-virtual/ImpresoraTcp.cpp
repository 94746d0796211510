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
        {"medio-cierre", Conducta::MedioCierre},
        {"medio-cierre-tarde", Conducta::MedioCierreTarde},
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
    : m_puerto(puerto), m_direccion(anfitrion.isEmpty() ? QStringLiteral("127.0.0.1") : anfitrion) {
    Escuchar();
}

bool ImpresoraTcp::Escuchar() {
    sockaddr_in direccion{};
    direccion.sin_family = AF_INET;
    direccion.sin_port = htons(m_puerto);
    socklen_t largo = sizeof direccion;
    if (inet_pton(AF_INET, m_direccion.toLatin1().constData(), &direccion.sin_addr) != 1) {
        m_error = QStringLiteral("dirección no válida: ") + m_direccion;
        return false;
    }
    // Non-blocking, so that a burst is taken at once until none is waiting.
    m_escucha = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const int si = 1;
    if (m_escucha < 0 || setsockopt(m_escucha, SOL_SOCKET, SO_REUSEADDR, &si, sizeof si) != 0 ||
        bind(m_escucha, reinterpret_cast<sockaddr*>(&direccion), sizeof direccion) != 0 ||
        listen(m_escucha, SOMAXCONN) != 0 ||
        getsockname(m_escucha, reinterpret_cast<sockaddr*>(&direccion), &largo) != 0) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        if (m_escucha >= 0) {
            close(m_escucha);
            m_escucha = -1;
        }
        return false;
    }
    m_puerto = ntohs(direccion.sin_port);
    return true;
}

ImpresoraTcp::~ImpresoraTcp() {
    Cerrar();
}

bool ImpresoraTcp::Leer(Cliente& c, QList<Pieza>& piezas) {
    int espera = 0;
    qsizetype cupo = Cupo(espera);
    ConElModelo([&](ModeloImpresora& m) { cupo = std::min(cupo, m.Espacio()); });
    if (cupo == 0) {
        return true; // the line is still carrying the last bytes, or the buffer is full
    }
    char buffer[4096];
    const ssize_t n = read(c.fd, buffer, static_cast<size_t>(std::min<qsizetype>(cupo, sizeof buffer)));
    if (n <= 0) {
        close(c.fd); // the program closed its end
        piezas.append({c.id, {}, true});
        return false;
    }
    Tomados(n);
    c.ultimo = steady_clock::now();
    const Conducta conducta = m_conducta;
    ModeloImpresora::Salida salida;
    if (ConElModelo([&](ModeloImpresora& m) { m.Tomar(c.id, QByteArrayView(buffer, n), salida); })) {
        for (const auto& r : salida.respuestas) {
            Responder(r.conexion, r.bytes);
        }
        return true;
    }
    const int respuesta = Respuesta();
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
    QByteArray tipos;
    PedidosEstado(QByteArrayView(buffer, n), c.estadoPedido, &tipos);
    for (const char tipo : tipos) {
        c.respondio = true;
        if (respuesta == kSilencio) {
            continue;
        }
        if (conducta == Conducta::Tarda) {
            c.respuestas.push_back(steady_clock::now() + milliseconds(kDemoraRespuesta));
            continue;
        }
        const char b = RespuestaA(tipo);
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
    // Every connection waiting is taken, unless one at a time or slowly.
    const bool todas = !m_unaALaVez && m_conducta != Conducta::AceptaLento;
    do {
        const int fd = accept4(m_escucha, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            return;
        }
        m_clientes.push_back({fd, 0, ++m_conexiones, false, {}, steady_clock::now()});
        if (m_conducta == Conducta::MedioCierre) {
            shutdown(fd, SHUT_WR);
        }
        ModeloImpresora::Salida salida;
        ConElModelo([&](ModeloImpresora& m) { m.Conectada(m_clientes.back().id, salida); });
        for (const auto& r : salida.respuestas) {
            Responder(r.conexion, r.bytes);
        }
    } while (todas);
}

QList<ImpresoraVirtual::Pieza> ImpresoraTcp::AtenderPiezas(int milisegundos) {
    QList<Pieza> piezas;
    SeguirEnergia(piezas);
    if (m_sinEnergia) {
        poll(nullptr, 0, std::min(milisegundos, 50));
        return piezas;
    }
    if (m_escucha < 0) {
        return {};
    }
    const Conducta conducta = m_conducta;
    // Sleep no longer than the next late answer, the next slow accept or the
    // next printed line.
    int espera = milisegundos;
    bool lleno = false;
    ConElModelo([&](ModeloImpresora& m) {
        const int proximo = m.HastaProximo();
        espera = proximo >= 0 ? std::min(espera, std::max(proximo, 1)) : espera;
        lleno = m.Espacio() == 0;
    });
    const int inactividad = m_inactividad;
    for (const Cliente& c : m_clientes) {
        for (const Instante& t : c.respuestas) {
            espera = std::min(espera, HastaMs(t));
        }
        if (inactividad > 0) {
            espera = std::min(espera, HastaMs(c.ultimo + milliseconds(inactividad)));
        }
    }
    if (m_esperandoDesde != Instante{}) {
        espera = std::min(espera, HastaMs(m_esperandoDesde + milliseconds(kDemoraAceptar)));
    }
    // One at a time: the listening socket waits while a connection is served.
    const bool aceptar = !m_unaALaVez || m_clientes.empty();
    std::vector<pollfd> pf{{aceptar ? m_escucha : -1, POLLIN, 0}};
    for (const Cliente& c : m_clientes) {
        const short eventos = conducta == Conducta::NoLee || lleno ? short(0)
                              : conducta == Conducta::Inunda       ? short(POLLIN | POLLOUT)
                                                                   : short(POLLIN);
        pf.push_back({c.fd, eventos, 0});
    }
    if (poll(pf.data(), pf.size(), espera) < 0) {
        return piezas;
    }
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
        if (inactividad > 0 && !(pf[i].revents & POLLIN) && HastaMs(c.ultimo + milliseconds(inactividad)) == 0) {
            close(c.fd); // quiet too long: the printer is free for others
            piezas.append({c.id, {}, true});
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
    ModeloImpresora::Salida salida;
    if (ConElModelo([&](ModeloImpresora& m) { m.Imprimir(salida); })) {
        Entregar(salida, piezas);
    }
    return piezas;
}

void ImpresoraTcp::Responder(int conexion, const QByteArray& bytes) {
    for (Cliente& c : m_clientes) {
        if (c.id != conexion) {
            continue;
        }
        // A program gone already gets no answer, nor does one on a half-closed connection.
        (void)!send(c.fd, bytes.constData(), static_cast<size_t>(bytes.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (!std::exchange(c.respondio, true) && m_conducta == Conducta::MedioCierreTarde) {
            shutdown(c.fd, SHUT_WR);
        }
    }
}

void ImpresoraTcp::Entregar(const ModeloImpresora::Salida& salida, QList<Pieza>& piezas) {
    for (const auto& p : salida.impreso) {
        piezas.append({p.conexion, p.bytes, false});
    }
    for (const auto& r : salida.respuestas) {
        Responder(r.conexion, r.bytes);
    }
}

void ImpresoraTcp::SeguirEnergia(QList<Pieza>& piezas) {
    bool encendida = true;
    if (!ConElModelo([&](ModeloImpresora& m) { encendida = m.Encendida(); }) || encendida != m_sinEnergia) {
        return;
    }
    if (!encendida) {
        // A printer without power: what it printed before the cut goes out
        // first, then its connections die with a reset and nobody listens
        // on its port.
        ModeloImpresora::Salida salida;
        ConElModelo([&](ModeloImpresora& m) { m.Imprimir(salida); });
        Entregar(salida, piezas);
        for (const Cliente& c : m_clientes) {
            Reiniciar(c.fd);
            piezas.append({c.id, {}, true});
        }
        m_clientes.clear();
        if (m_escucha >= 0) {
            close(m_escucha);
            m_escucha = -1;
        }
        m_sinEnergia = true;
    } else if (Escuchar()) {
        m_sinEnergia = false;
    }
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
