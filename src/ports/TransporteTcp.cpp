#include "ports/TransporteTcp.h"

#include "ports/Descriptor.h"

#include <QDeadlineTimer>
#include <QSet>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <linux/sockios.h>
#include <memory>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace {

QString TextoSistema(int numero) {
    return QString::fromLocal8Bit(std::strerror(numero));
}

// What getaddrinfo is asked for: stream sockets to a numeric port.
addrinfo Pista(int banderas) {
    addrinfo pista{};
    pista.ai_family = AF_UNSPEC;
    pista.ai_socktype = SOCK_STREAM;
    pista.ai_flags = AI_NUMERICSERV | banderas;
    return pista;
}

// A name lookup that may outlive its caller: the thread that asks the
// system's resolver shares it with the caller, who may stop waiting.
struct Consulta {
    std::mutex cerrojo;
    std::condition_variable hecha;
    bool terminada = false;
    bool abandonada = false;
    int resultado = 0;
    addrinfo* direcciones = nullptr;
};

// Hosts whose lookup is still running. Never destroyed: a lookup left
// behind may end while the program exits.
std::mutex& CerrojoPendientes() {
    static auto* cerrojo = new std::mutex;
    return *cerrojo;
}
QSet<QByteArray>& Pendientes() {
    static auto* hosts = new QSet<QByteArray>;
    return *hosts;
}

// The system's resolver waits on a dead name server for as long as it is
// configured to: it is asked on a thread of its own, which is left behind
// after `milisegundos`. A host whose last lookup has not ended yet is not
// asked again meanwhile, so that a dead name server cannot pile up threads.
// The getaddrinfo result, or nothing when the time ran out.
std::optional<int> ResolverConPlazo(const QByteArray& host, const QByteArray& servicio, int milisegundos,
                                    addrinfo*& lista) {
    {
        const std::lock_guard<std::mutex> cerrojo(CerrojoPendientes());
        if (Pendientes().contains(host)) {
            return std::nullopt;
        }
        Pendientes().insert(host);
    }
    auto consulta = std::make_shared<Consulta>();
    try {
        std::thread([consulta, host, servicio] {
            const addrinfo pista = Pista(0);
            addrinfo* direcciones = nullptr;
            const int r = ::getaddrinfo(host.constData(), servicio.constData(), &pista, &direcciones);
            {
                const std::lock_guard<std::mutex> cerrojo(CerrojoPendientes());
                Pendientes().remove(host);
            }
            const std::lock_guard<std::mutex> cerrojo(consulta->cerrojo);
            if (consulta->abandonada) {
                if (r == 0) {
                    ::freeaddrinfo(direcciones);
                }
                return;
            }
            consulta->resultado = r;
            consulta->direcciones = r == 0 ? direcciones : nullptr;
            consulta->terminada = true;
            consulta->hecha.notify_one();
        }).detach();
    } catch (const std::system_error&) {
        const std::lock_guard<std::mutex> cerrojo(CerrojoPendientes());
        Pendientes().remove(host);
        return EAI_AGAIN;
    }
    std::unique_lock<std::mutex> cerrojo(consulta->cerrojo);
    if (!consulta->hecha.wait_for(cerrojo, std::chrono::milliseconds(milisegundos),
                                  [&] { return consulta->terminada; })) {
        consulta->abandonada = true;
        return std::nullopt;
    }
    lista = consulta->direcciones;
    return consulta->resultado;
}

} // namespace

bool TransporteTcp::Resolver(addrinfo*& lista) {
    const QByteArray host = m_host.toUtf8();
    const QByteArray servicio = QByteArray::number(m_puerto);
    const addrinfo pista = Pista(AI_NUMERICHOST);
    // An address needs no resolver.
    int r = ::getaddrinfo(host.constData(), servicio.constData(), &pista, &lista);
    if (r == EAI_NONAME) {
        const std::optional<int> resuelto = ResolverConPlazo(host, servicio, kPlazoConexion, lista);
        if (!resuelto) {
            m_error = QStringLiteral("%1:%2: no se pudo resolver %1 en %3 s")
                          .arg(m_host)
                          .arg(m_puerto)
                          .arg(kPlazoConexion / 1000);
            return false;
        }
        r = *resuelto;
    }
    if (r != 0) {
        m_error = QStringLiteral("%1:%2: %3").arg(m_host).arg(m_puerto).arg(QString::fromLocal8Bit(gai_strerror(r)));
        return false;
    }
    return true;
}

TransporteTcp::TransporteTcp(const QString& host, quint16 puerto)
    : TransporteDescriptor(true), m_host(host), m_puerto(puerto) {}

TransporteTcp::~TransporteTcp() {
    Cerrar();
}

bool TransporteTcp::Abrir() {
    if (PortOpen()) {
        m_error = QStringLiteral("El puerto ya está abierto");
        return false;
    }
    m_sinRespuesta = false;
    m_medioCerrada = false;
    m_entrada.clear();
    addrinfo* lista = nullptr;
    if (!Resolver(lista)) {
        return false;
    }
    // The time limit is shared by every address of the host.
    const QDeadlineTimer plazo(kPlazoConexion);
    bool conectada = false;
    for (const addrinfo* a = lista; a != nullptr && !conectada && !plazo.hasExpired(); a = a->ai_next) {
        conectada = Conectar(a->ai_addr, a->ai_addrlen, a->ai_family, plazo.remainingTime());
    }
    ::freeaddrinfo(lista);
    if (!conectada && (m_sinRespuesta || plazo.hasExpired())) {
        m_sinRespuesta = true;
        m_error = QStringLiteral("%1:%2: la impresora no tomó la conexión a tiempo").arg(m_host).arg(m_puerto);
    }
    return conectada;
}

bool TransporteTcp::Conectar(const void* direccion, unsigned largo, int familia, qint64 limite) {
    const int fd = ::socket(familia, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        m_error = QStringLiteral("%1:%2: %3").arg(m_host).arg(m_puerto).arg(TextoSistema(errno));
        return false;
    }
    int error = 0;
    if (::connect(fd, static_cast<const sockaddr*>(direccion), largo) != 0) {
        error = errno;
    }
    if (error == EINPROGRESS) {
        const int r = EsperarDescriptor(fd, POLLOUT, limite);
        socklen_t l = sizeof error;
        error = r > 0    ? (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &l) == 0 ? error : errno)
                : r == 0 ? ETIMEDOUT
                         : errno;
        m_sinRespuesta = r == 0;
    }
    if (error != 0) {
        m_error = QStringLiteral("%1:%2: %3").arg(m_host).arg(m_puerto).arg(TextoSistema(error));
        ::close(fd);
        return false;
    }
    // Commands are a few bytes each: send them at once.
    const int si = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &si, sizeof si);
    m_fd = fd;
    return true;
}

void TransporteTcp::Cerrar() {
    if (m_fd < 0) {
        return;
    }
    // The system still delivers what the printer has not taken yet, then
    // closes the connection in order; but input left unread would make it
    // reset the connection instead and throw those bytes away. A bounded
    // amount is read first: a printer that floods the connection is reset.
    char buffer[4096];
    for (int i = 0; i < 64 && ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT) > 0; ++i) {
    }
    ::close(m_fd);
    m_fd = -1;
}

void TransporteTcp::Fallar(const QString& texto, bool reiniciar) {
    m_error = QStringLiteral("%1:%2: %3").arg(m_host).arg(m_puerto).arg(texto);
    if (reiniciar && m_fd >= 0) {
        const linger l{1, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    }
    Cerrar();
}

void TransporteTcp::SalidaVencida() {
    Fallar(QStringLiteral("la salida no terminó a tiempo"), true);
}

void TransporteTcp::SalidaFallida(int numero) {
    Fallar(TextoSistema(numero), false);
}

bool TransporteTcp::TomarPendiente() {
    char buffer[4096];
    while (!m_medioCerrada && m_entrada.size() < kEntradaMaxima) {
        const ssize_t n = ::recv(m_fd, buffer, static_cast<size_t>(kEntradaMaxima - m_entrada.size()), 0);
        if (n > 0) {
            m_entrada.append(buffer, n);
        } else if (n == 0) {
            m_medioCerrada = true; // the printer's FIN: the connection still takes bytes
        } else if (errno == EINTR) {
            continue;
        } else if (errno == EAGAIN) {
            return true;
        } else {
            Fallar(TextoSistema(errno), false);
            return false;
        }
    }
    return true;
}

QByteArray TransporteTcp::Input() {
    if (PortOpen()) {
        TomarPendiente();
    }
    return std::exchange(m_entrada, QByteArray());
}

qint64 TransporteTcp::InBufferCount() {
    if (PortOpen()) {
        TomarPendiente();
    }
    return m_entrada.size();
}

void TransporteTcp::DescartarEntrada() {
    // Drains what the system holds too, a bounded number of buffers at a
    // time: a printer that floods the connection is never waited out.
    for (int i = 0; i < 64 && InBufferCount() > 0; ++i) {
        m_entrada.clear();
    }
}

Transporte::Espera TransporteTcp::EsperarEntrada(int milisegundos) {
    if (Cerrado()) {
        return Espera::Fallo;
    }
    const qsizetype antes = m_entrada.size();
    if (antes >= kEntradaMaxima) {
        return Espera::Datos; // nothing more is read until these are taken
    }
    const QDeadlineTimer plazo(milisegundos);
    while (!m_medioCerrada) {
        const int r = EsperarDescriptor(m_fd, POLLIN, plazo.remainingTime());
        if (r == 0) {
            return Espera::Plazo;
        }
        if (r < 0) {
            Fallar(TextoSistema(errno), false);
            return Espera::Fallo;
        }
        if (!TomarPendiente()) {
            return Espera::Fallo;
        }
        if (m_entrada.size() > antes) {
            return Espera::Datos;
        }
        if (plazo.hasExpired()) {
            return Espera::Plazo;
        }
    }
    m_error = QStringLiteral("%1:%2: la impresora cerró su lado de la conexión; ya no puede contestar")
                  .arg(m_host)
                  .arg(m_puerto);
    return Espera::Fallo;
}

qint64 TransporteTcp::PorEnviar() {
    int enCola = 0;
    if (!PortOpen() || ::ioctl(m_fd, SIOCOUTQ, &enCola) != 0) {
        return 0;
    }
    return enCola;
}

bool TransporteTcp::Break(bool /*activo*/) {
    return !Cerrado();
}
