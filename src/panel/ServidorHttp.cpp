#include "panel/ServidorHttp.h"

#include "panel/LecturaPeticion.h"

#include <QJsonDocument>
#include <QMetaObject>
#include <QSet>
#include <QTimer>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <microhttpd.h>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using Respuesta = ServidorHttp::Respuesta;
using Peticion = ServidorHttp::Peticion;
using Reloj = std::chrono::steady_clock;

// libmicrohttpd's own bound on connections stays above ours, so that every
// connection our count admits is one it opens.
constexpr int kHolgura = 16;

} // namespace

Respuesta ServidorHttp::Respuesta::Json(const QJsonObject& objeto, int codigo) {
    return {codigo, QByteArray(kTipoJson), QJsonDocument(objeto).toJson(QJsonDocument::Compact), {}};
}

Respuesta ServidorHttp::Respuesta::Error(const QString& texto, int codigo) {
    return Json(QJsonObject{{"error", texto}}, codigo);
}

QByteArray ServidorHttp::Peticion::Encabezado(const QByteArray& nombre) const {
    for (const auto& [clave, valor] : encabezados) {
        if (clave.compare(nombre, Qt::CaseInsensitive) == 0) {
            return valor;
        }
    }
    return {};
}

namespace {

// A request on its way: filled on libmicrohttpd's thread, answered by the
// routes or by the deadline, whichever comes first.
struct Pendiente {
    Peticion peticion;
    MHD_Connection* conexion = nullptr;
    QByteArray anfitrion; // the host name asked for
    QByteArray version;
    bool rutaConNulo = false; // its path had an encoded NUL
    bool enviada = false;     // handed to the routes
    std::mutex m;
    bool lista = false;
    Respuesta respuesta;
};

// What the URI callback marks a request whose path encodes a NUL with.
char kRutaConNulo;

// A TCP connection: the address it is counted under, its socket's, and,
// behind a trusted proxy, the client of its last request.
struct ConexionTcp {
    QString direccion;
    bool proxy = false;
    QString cliente;
    int socket = -1;
    // Whether the current request has come whole (its head and its body),
    // and since when the connection waits for one (opened, or its last
    // answer sent).
    bool cabeza = false;
    Reloj::time_point desde;
};

// An IPv4 address mapped into IPv6 written as IPv4, so that one host has one name.
QHostAddress Normal(const QHostAddress& direccion) {
    bool v4 = false;
    const quint32 ipv4 = direccion.toIPv4Address(&v4);
    return v4 ? QHostAddress(ipv4) : direccion;
}

} // namespace

struct ServidorHttp::Http {
    ServidorHttp* servidor = nullptr;
    MHD_Daemon* demonio = nullptr;
    QHostAddress direccion;
    bool tls = false;

    // Open connections by the address they count for: a host's own, or the
    // client a trusted proxy names (the proxy itself is bounded by the total).
    std::mutex cuentas;
    QHash<QString, int> porDireccion;
    int abiertas = 0;
    QSet<ConexionTcp*> vivas;

    // Closes the connections whose request has not come whole within
    // kInactividad: a head or a body sent a byte at a time never lets the
    // idle timeout run. A body is at most kMaximoCuerpo bytes, so this is
    // also the least rate a body must come at.
    void CortarLentas() {
        const Reloj::time_point limite = Reloj::now() - std::chrono::seconds(kInactividad);
        std::lock_guard<std::mutex> cerrojo(cuentas);
        for (ConexionTcp* conexion : std::as_const(vivas)) {
            if (!conexion->cabeza && conexion->desde < limite && conexion->socket >= 0) {
                ::shutdown(conexion->socket, SHUT_RDWR); // libmicrohttpd then closes it
            }
        }
    }

    // The request on `c` has come whole: the watch on its pace ends.
    void Completa(MHD_Connection* c) {
        const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
        if (auto* conexion = info ? static_cast<ConexionTcp*>(info->socket_context) : nullptr) {
            std::lock_guard<std::mutex> cerrojo(cuentas);
            conexion->cabeza = true;
        }
    }

    void Esperando(MHD_Connection* c) {
        const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
        if (auto* conexion = info ? static_cast<ConexionTcp*>(info->socket_context) : nullptr) {
            std::lock_guard<std::mutex> cerrojo(cuentas);
            conexion->cabeza = false;
            conexion->desde = Reloj::now();
        }
    }

    bool Confiable(const QHostAddress& direccion) const {
        for (const QHostAddress& proxy : servidor->m_proxies) {
            if (proxy.isEqual(direccion, QHostAddress::ConvertV4MappedToIPv4)) {
                return true;
            }
        }
        return false;
    }

    // Whether a new connection from `sitio` may open; counted if so.
    bool Admitir(const sockaddr* sitio) {
        const QHostAddress direccion = Normal(QHostAddress(sitio));
        const bool proxy = Confiable(direccion);
        std::lock_guard<std::mutex> cerrojo(cuentas);
        if (abiertas >= servidor->m_maximoConexiones) {
            return false;
        }
        if (!proxy) {
            int& n = porDireccion[direccion.toString()];
            if (n >= kPorDireccion) {
                return false;
            }
            ++n;
        }
        ++abiertas;
        return true;
    }

    void Descontar(const QString& direccion) {
        const auto it = porDireccion.find(direccion);
        if (it != porDireccion.end() && --*it <= 0) {
            porDireccion.erase(it);
        }
    }

    void Notificar(MHD_Connection* c, void** propio, MHD_ConnectionNotificationCode que) {
        if (que == MHD_CONNECTION_NOTIFY_STARTED) {
            auto* conexion = new ConexionTcp;
            const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
            if (info && info->client_addr) {
                const QHostAddress direccion = Normal(QHostAddress(info->client_addr));
                conexion->direccion = direccion.toString();
                conexion->proxy = Confiable(direccion);
            }
            if (const MHD_ConnectionInfo* fd = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CONNECTION_FD)) {
                conexion->socket = fd->connect_fd;
            }
            conexion->desde = Reloj::now();
            *propio = conexion;
            std::lock_guard<std::mutex> cerrojo(cuentas);
            vivas.insert(conexion);
            return;
        }
        auto* conexion = static_cast<ConexionTcp*>(*propio);
        if (!conexion) {
            return;
        }
        {
            std::lock_guard<std::mutex> cerrojo(cuentas);
            --abiertas;
            Descontar(conexion->proxy ? conexion->cliente : conexion->direccion);
            vivas.remove(conexion);
        }
        delete conexion;
        *propio = nullptr;
    }

    // A proxied connection now serves `cliente`; false when that client
    // already holds as many connections as one address may.
    bool Atribuir(ConexionTcp& conexion, const QString& cliente) {
        std::lock_guard<std::mutex> cerrojo(cuentas);
        if (conexion.cliente == cliente) {
            return true;
        }
        Descontar(conexion.cliente);
        conexion.cliente.clear();
        int& n = porDireccion[cliente];
        if (n >= kPorDireccion) {
            return false;
        }
        ++n;
        conexion.cliente = cliente;
        return true;
    }

    // The client behind a trusted proxy: the right-most address of
    // X-Forwarded-For that is not itself a trusted proxy (what is left of it
    // any client may have written). Empty when it names none.
    QString Reenviado(const QByteArray& reenviado) const {
        const QList<QByteArray> saltos = reenviado.split(',');
        for (auto it = saltos.crbegin(); it != saltos.crend(); ++it) {
            QHostAddress salto;
            if (!salto.setAddress(QString::fromLatin1(it->trimmed()))) {
                return {};
            }
            salto = Normal(salto);
            if (!Confiable(salto)) {
                return salto.toString();
            }
        }
        return {};
    }

    // Requests waiting for the routes, by deadline.
    std::mutex plazos;
    std::condition_variable cambio;
    std::multimap<Reloj::time_point, std::weak_ptr<Pendiente>> esperando;
    bool terminar = false;
    std::thread vigilante;

    // Answers `p` once; resumes its connection, which then sends it.
    static void Completar(const std::shared_ptr<Pendiente>& p, Respuesta r) {
        {
            std::lock_guard<std::mutex> cerrojo(p->m);
            if (p->lista) {
                return;
            }
            p->respuesta = std::move(r);
            p->lista = true;
        }
        MHD_resume_connection(p->conexion);
    }

    void Vigilar() {
        std::unique_lock<std::mutex> cerrojo(plazos);
        while (!terminar) {
            CortarLentas();
            const Reloj::time_point vuelta = Reloj::now() + std::chrono::seconds(1);
            if (esperando.empty()) {
                cambio.wait_until(cerrojo, vuelta);
                continue;
            }
            const auto primero = esperando.begin();
            if (Reloj::now() < primero->first) {
                cambio.wait_until(cerrojo, std::min(primero->first, vuelta));
                continue;
            }
            const std::shared_ptr<Pendiente> p = primero->second.lock();
            esperando.erase(primero);
            if (p) {
                cerrojo.unlock();
                Completar(p, Respuesta::Error(QStringLiteral("La base de datos no responde"), 503));
                cerrojo.lock();
            }
        }
        // Nothing stays suspended once the server stops.
        for (auto& [plazo, debil] : esperando) {
            if (const std::shared_ptr<Pendiente> p = debil.lock()) {
                Completar(p, Respuesta::Error(QStringLiteral("El panel se detiene"), 503));
            }
        }
        esperando.clear();
    }

    bool NombreAceptado(const QByteArray& host) const {
        if (host.isEmpty()) {
            return true; // HTTP/1.0 without Host; libmicrohttpd refuses HTTP/1.1 without it
        }
        const QString nombre = NombreDeHost(host);
        if (nombre == QStringLiteral("localhost") || servidor->m_nombres.contains(nombre, Qt::CaseInsensitive)) {
            return true;
        }
        QHostAddress literal;
        if (!literal.setAddress(nombre)) {
            return false;
        }
        return direccion == QHostAddress::Any || direccion == QHostAddress::AnyIPv6 ||
               direccion.isEqual(literal, QHostAddress::ConvertV4MappedToIPv4);
    }

    static MHD_Result Enviar(MHD_Connection* c, const Respuesta& r) {
        MHD_Response* respuesta = MHD_create_response_from_buffer(
            r.cuerpo.size(), const_cast<char*>(r.cuerpo.constData()), MHD_RESPMEM_MUST_COPY);
        if (!r.tipo.isEmpty()) {
            MHD_add_response_header(respuesta, "Content-Type", r.tipo.constData());
        }
        // The answers change every second and some carry a session.
        MHD_add_response_header(respuesta, "Cache-Control", "no-store");
        MHD_add_response_header(respuesta, "X-Content-Type-Options", "nosniff");
        MHD_add_response_header(respuesta, "X-Frame-Options", "DENY");
        MHD_add_response_header(respuesta, "Content-Security-Policy", "default-src 'self'; frame-ancestors 'none'");
        for (const auto& [nombre, valor] : r.encabezados) {
            MHD_add_response_header(respuesta, nombre.constData(), valor.constData());
        }
        const MHD_Result resultado = MHD_queue_response(c, r.codigo, respuesta);
        MHD_destroy_response(respuesta);
        return resultado;
    }

    MHD_Result Pedido(MHD_Connection* c, const char* url, const char* metodo, const char* version, const char* datos,
                      size_t* tamano, void** propio) {
        const bool nulo = *propio == &kRutaConNulo;
        auto* ranura = nulo ? nullptr : static_cast<std::shared_ptr<Pendiente>*>(*propio);
        if (!ranura) {
            // The head is complete: everything that needs no body is decided here.
            auto p = std::make_shared<Pendiente>();
            p->conexion = c;
            p->peticion.metodo = metodo;
            p->peticion.ruta = QString::fromUtf8(url);
            p->version = version;
            p->rutaConNulo = nulo;
            MHD_get_connection_values(
                c, MHD_HEADER_KIND,
                [](void* destino, MHD_ValueKind, const char* clave, const char* valor) -> MHD_Result {
                    static_cast<Peticion*>(destino)->encabezados.emplaceBack(clave, valor ? valor : "");
                    return MHD_YES;
                },
                &p->peticion);
            *propio = new std::shared_ptr<Pendiente>(p);
            if (auto r = Origen(c, *p)) {
                // Answered before a byte of the body is read; the connection then closes.
                return Enviar(c, *r);
            }
            if (auto r = Inicio(*p)) {
                if (r->codigo == 413 || r->codigo == 400) {
                    // Answered before a byte of the body is read; the connection then closes.
                    return Enviar(c, *r);
                }
                p->enviada = true;
                p->lista = true;
                p->respuesta = std::move(*r);
            }
            return MHD_YES;
        }
        const std::shared_ptr<Pendiente> p = *ranura;
        if (*tamano != 0) {
            // Also without Content-Length (chunked): no more than the bound is kept.
            if (p->peticion.cuerpo.size() + qint64(*tamano) > kMaximoCuerpo) {
                return MHD_NO;
            }
            p->peticion.cuerpo.append(datos, qsizetype(*tamano));
            *tamano = 0;
            return MHD_YES;
        }
        Completa(c);
        if (!p->enviada) {
            p->enviada = true;
            MHD_suspend_connection(c);
            const bool lectura = p->peticion.metodo != "POST";
            {
                std::lock_guard<std::mutex> cerrojo(plazos);
                esperando.emplace(Reloj::now() + std::chrono::milliseconds(lectura ? kEsperaLectura : kEsperaAccion),
                                  p);
            }
            cambio.notify_one();
            QMetaObject::invokeMethod(
                servidor->m_contexto, [this, p] { Despachar(p, false); }, Qt::QueuedConnection);
            return MHD_YES;
        }
        std::lock_guard<std::mutex> cerrojo(p->m);
        return Enviar(c, p->respuesta);
    }

    // Runs a request on the routes' thread, after the delay the routes ask
    // for (a sign-in at an account guessed at lately); the thread stays free.
    void Despachar(const std::shared_ptr<Pendiente>& p, bool demorada) {
        {
            std::lock_guard<std::mutex> cerrojo(p->m);
            if (p->lista) {
                return; // already answered by its deadline: not done late
            }
        }
        if (!demorada) {
            if (const qint64 demora = servidor->m_rutas.Demora(p->peticion); demora > 0) {
                QTimer::singleShot(demora, servidor->m_contexto, [this, p] { Despachar(p, true); });
                return;
            }
        }
        Completar(p, servidor->m_rutas.Atender(p->peticion));
    }

    // Who sent the request and how: the connection's address, or behind a
    // trusted proxy the client, scheme and host name it names. An answer
    // when that client holds too many connections already.
    std::optional<Respuesta> Origen(MHD_Connection* c, Pendiente& p) {
        p.anfitrion = p.peticion.Encabezado("Host");
        const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
        auto* conexion = info ? static_cast<ConexionTcp*>(info->socket_context) : nullptr;
        if (!conexion) {
            return std::nullopt;
        }
        p.peticion.direccion = conexion->direccion;
        p.peticion.segura = tls;
        if (!conexion->proxy) {
            return std::nullopt;
        }
        const QString cliente = Reenviado(p.peticion.Encabezado("X-Forwarded-For"));
        if (!cliente.isEmpty()) {
            p.peticion.direccion = cliente;
        }
        if (p.peticion.Encabezado("X-Forwarded-Proto").trimmed().toLower() == "https") {
            p.peticion.segura = true;
        }
        const QByteArray anfitrion = p.peticion.Encabezado("X-Forwarded-Host").split(',').first().trimmed();
        if (!anfitrion.isEmpty()) {
            p.anfitrion = anfitrion;
        }
        if (!Atribuir(*conexion, p.peticion.direccion)) {
            Respuesta r = Respuesta::Error(QStringLiteral("Demasiadas conexiones"), 503);
            r.encabezados.emplaceBack("Connection", "close");
            return r;
        }
        return std::nullopt;
    }

    // A head that two readers could take for two different requests (a
    // proxy in front and we behind), refused before any handler sees it.
    static std::optional<Respuesta> Malformada(const Pendiente& p) {
        QList<QByteArray> largos;
        bool transferencia = false;
        for (const auto& [clave, valor] : p.peticion.encabezados) {
            if (clave.compare("Content-Length", Qt::CaseInsensitive) == 0) {
                largos.append(valor.trimmed());
            }
            transferencia = transferencia || clave.compare("Transfer-Encoding", Qt::CaseInsensitive) == 0;
        }
        const bool largosDistintos = largos.size() > 1 && largos.count(largos.first()) != largos.size();
        const bool sinHost =
            p.version == MHD_HTTP_VERSION_1_1 &&
            std::none_of(p.peticion.encabezados.cbegin(), p.peticion.encabezados.cend(),
                         [](const auto& e) { return e.first.compare("Host", Qt::CaseInsensitive) == 0; });
        if (largosDistintos || (transferencia && !largos.isEmpty()) || sinHost || p.rutaConNulo) {
            Respuesta r = Respuesta::Error(QStringLiteral("Peticion mal formada"), 400);
            r.encabezados.emplaceBack("Connection", "close");
            return r;
        }
        return std::nullopt;
    }

    // The answer decided from the head alone, if any. It is sent on the call
    // after the body (none for most): sent now, libmicrohttpd would close a
    // kept-alive connection.
    std::optional<Respuesta> Inicio(Pendiente& p) {
        const QByteArray& metodo = p.peticion.metodo;
        if (const std::optional<Respuesta> r = Malformada(p)) {
            return r;
        }
        const bool get = metodo == "GET" || metodo == "HEAD"; // HEAD: libmicrohttpd leaves the body out
        if (!NombreAceptado(p.anfitrion)) {
            return Respuesta::Error(QStringLiteral("Nombre de servidor no admitido"), 421);
        }
        if (!get && metodo != "POST") {
            Respuesta r = Respuesta::Error(QStringLiteral("Metodo no permitido"), 405);
            r.encabezados.emplaceBack("Allow", "GET, HEAD, POST");
            return r;
        }
        bool numero = false;
        const qint64 largo = p.peticion.Encabezado("Content-Length").toLongLong(&numero);
        if (numero && largo > kMaximoCuerpo) {
            return Respuesta::Error(QStringLiteral("Cuerpo demasiado grande"), 413);
        }
        return servidor->m_rutas.Inmediata(p.peticion);
    }
};

ServidorHttp::ServidorHttp(Rutas& rutas, QObject* contexto)
    : m_rutas(rutas), m_contexto(contexto), m_http(std::make_unique<Http>()) {
    m_http->servidor = this;
}

ServidorHttp::~ServidorHttp() {
    // No new connections; the requests still waiting are answered by the
    // watchman as it stops, so that none stays suspended.
    MHD_socket escucha = MHD_INVALID_SOCKET;
    if (m_http->demonio) {
        escucha = MHD_quiesce_daemon(m_http->demonio);
    }
    if (m_http->vigilante.joinable()) {
        {
            std::lock_guard<std::mutex> cerrojo(m_http->plazos);
            m_http->terminar = true;
        }
        m_http->cambio.notify_one();
        m_http->vigilante.join();
    }
    if (m_http->demonio) {
        MHD_stop_daemon(m_http->demonio);
    }
    if (escucha != MHD_INVALID_SOCKET) {
        ::close(escucha); // handed back by MHD_quiesce_daemon
    }
}

quint16 ServidorHttp::Escuchar(const QHostAddress& direccion, quint16 puerto, QString* motivo) {
    m_http->direccion = direccion;
    m_http->tls = !m_certificado.isEmpty();
    if (m_http->tls && MHD_is_feature_supported(MHD_FEATURE_TLS) != MHD_YES) {
        if (motivo) {
            *motivo = QStringLiteral("la libmicrohttpd instalada no trae soporte de TLS (HTTPS)");
        }
        return 0;
    }
    // The socket is made here so that a refusal says why (address in use,
    // not this machine's, ...).
    const bool v6 = direccion.protocol() == QAbstractSocket::IPv6Protocol;
    sockaddr_storage sitio{};
    socklen_t largo = 0;
    if (v6) {
        auto* s6 = reinterpret_cast<sockaddr_in6*>(&sitio);
        s6->sin6_family = AF_INET6;
        s6->sin6_port = htons(puerto);
        const Q_IPV6ADDR a = direccion.toIPv6Address();
        std::memcpy(&s6->sin6_addr, &a, sizeof a);
        largo = sizeof *s6;
    } else {
        auto* s4 = reinterpret_cast<sockaddr_in*>(&sitio);
        s4->sin_family = AF_INET;
        s4->sin_port = htons(puerto);
        s4->sin_addr.s_addr = htonl(direccion.toIPv4Address());
        largo = sizeof *s4;
    }
    const int s = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int si = 1;
    if (s < 0 || ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &si, sizeof si) != 0 ||
        ::bind(s, reinterpret_cast<sockaddr*>(&sitio), largo) != 0 || ::listen(s, 128) != 0) {
        if (motivo) {
            *motivo = QString::fromLocal8Bit(std::strerror(errno));
        }
        if (s >= 0) {
            ::close(s);
        }
        return 0;
    }
    ::getsockname(s, reinterpret_cast<sockaddr*>(&sitio), &largo);
    const quint16 escuchando = ntohs(v6 ? reinterpret_cast<sockaddr_in6*>(&sitio)->sin6_port
                                        : reinterpret_cast<sockaddr_in*>(&sitio)->sin_port);

    // The certificate and the key only with TLS; libmicrohttpd copies neither,
    // and both outlive the daemon as members.
    m_certificado.append('\0');
    m_llave.append('\0');
    MHD_OptionItem tls[] = {
        {MHD_OPTION_HTTPS_MEM_CERT, 0, m_certificado.data()},
        {MHD_OPTION_HTTPS_MEM_KEY, 0, m_llave.data()},
        {MHD_OPTION_END, 0, nullptr},
    };
    if (!m_http->tls) {
        tls[0] = tls[2];
    }
    m_http->vigilante = std::thread([h = m_http.get()] { h->Vigilar(); });
    m_http->demonio = MHD_start_daemon(
        MHD_USE_AUTO_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME | (v6 ? MHD_USE_IPv6 : 0) |
            (m_http->tls ? MHD_USE_TLS : 0),
        0,
        [](void* h, const sockaddr* sitio, socklen_t) {
            return static_cast<Http*>(h)->Admitir(sitio) ? MHD_YES : MHD_NO;
        },
        m_http.get(),
        [](void* h, MHD_Connection* c, const char* url, const char* metodo, const char* version, const char* datos,
           size_t* tamano,
           void** propio) { return static_cast<Http*>(h)->Pedido(c, url, metodo, version, datos, tamano, propio); },
        m_http.get(), MHD_OPTION_LISTEN_SOCKET, s, MHD_OPTION_THREAD_POOL_SIZE, 2u, MHD_OPTION_CONNECTION_TIMEOUT,
        unsigned(kInactividad), MHD_OPTION_CONNECTION_LIMIT, unsigned(m_maximoConexiones + kHolgura),
        MHD_OPTION_URI_LOG_CALLBACK,
        static_cast<void* (*)(void*, const char*, MHD_Connection*)>([](void*, const char* uri, MHD_Connection*) {
            // The path comes to the handler decoded, cut at an encoded NUL.
            const QByteArray crudo(uri);
            return crudo.contains("%00") ? static_cast<void*>(&kRutaConNulo) : nullptr;
        }),
        nullptr, MHD_OPTION_NOTIFY_CONNECTION,
        static_cast<MHD_NotifyConnectionCallback>(
            [](void* h, MHD_Connection* c, void** propio, MHD_ConnectionNotificationCode que) {
                static_cast<Http*>(h)->Notificar(c, propio, que);
            }),
        m_http.get(), MHD_OPTION_CONNECTION_MEMORY_LIMIT, size_t(kMemoriaConexion), MHD_OPTION_NOTIFY_COMPLETED,
        static_cast<MHD_RequestCompletedCallback>(
            [](void* h, MHD_Connection* c, void** propio, MHD_RequestTerminationCode) {
                static_cast<Http*>(h)->Esperando(c);
                if (*propio != &kRutaConNulo) {
                    delete static_cast<std::shared_ptr<Pendiente>*>(*propio);
                }
                *propio = nullptr;
            }),
        m_http.get(), MHD_OPTION_ARRAY, tls, MHD_OPTION_END);
    if (!m_http->demonio) {
        if (motivo) {
            *motivo = m_http->tls ? QStringLiteral("no se pudo iniciar el servidor HTTPS (el certificado y la llave "
                                                   "no sirven o no corresponden entre si)")
                                  : QStringLiteral("no se pudo iniciar el servidor HTTP");
        }
        ::close(s);
        return 0;
    }
    return escuchando;
}
