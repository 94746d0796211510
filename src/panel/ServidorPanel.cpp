#include "panel/ServidorPanel.h"

#include "database/AccionesCola.h"
#include "database/BaseDatos.h"
#include "database/ColumnaOpcional.h"
#include "database/ComprobacionOperador.h"
#include "panel/LecturaPeticion.h"
#include "panel/PaginaPanel.h"
#include "support/Bitacora.h"
#include "support/ErrorEjecucion.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaObject>
#include <QSet>
#include <QTimer>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <map>
#include <microhttpd.h>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using Respuesta = ServidorPanel::Respuesta;
using Peticion = ServidorPanel::Peticion;
using Reloj = std::chrono::steady_clock;

const QByteArray kCookie = "orlan_sesion";
// The pause before reconnecting to a lost database: doubled after every
// failed attempt, up to the last.
constexpr qint64 kPausaInicial = 1000;
constexpr qint64 kPausaMaxima = 16000;
// The longest user name the panel takes: the width of Empleado.Usuario.
constexpr int kLargoUsuario = 30;
constexpr int kLargoContrasena = 100;
// How long a reader's confirmed permission stands before it is asked again.
constexpr qint64 kConfirmarPermiso = 60 * 1000;
// libmicrohttpd's own bound on connections stays above ours, so that every
// connection our count admits is one it opens.
constexpr int kHolgura = 16;
// One text for every refused sign-in, so that the answer does not tell which
// names hold the permission.
const QString kAccesoRechazado = QStringLiteral("El usuario o la contraseña no son válidos");

Respuesta Json(const QJsonObject& objeto, int codigo = 200) {
    return {codigo,
            QByteArrayLiteral("application/json; charset=utf-8"),
            QJsonDocument(objeto).toJson(QJsonDocument::Compact),
            {}};
}

Respuesta Error(const QString& texto, int codigo) {
    return Json(QJsonObject{{"error", texto}}, codigo);
}

const QString kSinBaseDatos = QStringLiteral("Sin conexion con la base de datos");
// What a client is told of a failed statement: the driver's text names the
// shop's tables and columns, and any host of the LAN may ask. The log has it.
const QString kErrorBaseDatos = QStringLiteral("error de la base de datos");

QByteArray Recurso(const QString& ruta) {
    QFile archivo(ruta);
    archivo.open(QIODevice::ReadOnly);
    return archivo.readAll();
}

QByteArray TokenSesion(const Peticion& peticion) {
    return ValorCookie(peticion.Encabezado("Cookie"), kCookie);
}

// Secure when the request came over HTTPS, so that the browser never sends
// the session over plain HTTP.
QByteArray CookieSesion(const QByteArray& valor, bool borrar, bool segura) {
    return kCookie + '=' + valor + "; Path=/; HttpOnly; SameSite=Strict" + (segura ? "; Secure" : "") +
           (borrar ? "; Max-Age=0" : "");
}

// The start of the driver's text: enough to tell one failure from the last.
QString Causa(const ErrorEjecucion& e) {
    return e.Descripcion().left(160);
}

// A user name the panel will put into a statement and a log line: not empty,
// no wider than the column, no control characters (a NUL would cut the
// statement short, a line break would forge a log line).
bool UsuarioAceptable(const QString& usuario) {
    if (usuario.isEmpty() || usuario.size() > kLargoUsuario) {
        return false;
    }
    for (QChar c : usuario) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format) {
            return false;
        }
    }
    return true;
}

} // namespace

QByteArray ServidorPanel::Peticion::Encabezado(const QByteArray& nombre) const {
    for (const auto& [clave, valor] : encabezados) {
        if (clave.compare(nombre, Qt::CaseInsensitive) == 0) {
            return valor;
        }
    }
    return {};
}

// ---------------------------------------------------------------------------
// The HTTP side.

namespace {

// A request on its way: filled on libmicrohttpd's thread, answered by the
// database side or by the deadline, whichever comes first.
struct Pendiente {
    Peticion peticion;
    MHD_Connection* conexion = nullptr;
    QByteArray anfitrion; // the host name asked for
    QByteArray version;
    bool rutaConNulo = false; // its path had an encoded NUL
    bool enviada = false;     // handed to the database side
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

struct ServidorPanel::Http {
    ServidorPanel* servidor = nullptr;
    MHD_Daemon* demonio = nullptr;
    QHostAddress direccion;
    bool tls = false;
    QByteArray pagina, guion, estilos;
    std::atomic<int> vigencia{1000};

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

    // The answers of the last state read, for the readers within its freshness.
    std::mutex publicado;
    bool hayEstado = false;
    QByteArray json, jsonPublico, metricas; // jsonPublico: without the jobs' text
    QByteArray paginaConEstado;             // drawn without the jobs' text too
    Reloj::time_point leido;

    // Requests waiting for the database side, by deadline.
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
                Completar(p, Error(QStringLiteral("La base de datos no responde"), 503));
                cerrojo.lock();
            }
        }
        // Nothing stays suspended once the server stops.
        for (auto& [plazo, debil] : esperando) {
            if (const std::shared_ptr<Pendiente> p = debil.lock()) {
                Completar(p, Error(QStringLiteral("El panel se detiene"), 503));
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

    // A state read still within its freshness, answered here at once; only
    // to a reader without a session, who is not shown the jobs' text.
    std::optional<Respuesta> EstadoVigente(bool prometheus) {
        std::lock_guard<std::mutex> cerrojo(publicado);
        const qint64 edad = std::chrono::duration_cast<std::chrono::milliseconds>(Reloj::now() - leido).count();
        if (!hayEstado || edad >= vigencia) {
            return std::nullopt;
        }
        Respuesta r{200,
                    prometheus ? QByteArrayLiteral("text/plain; version=0.0.4; charset=utf-8")
                               : QByteArrayLiteral("application/json; charset=utf-8"),
                    prometheus ? metricas : jsonPublico,
                    {{"Age", QByteArray::number(edad / 1000)}}};
        return r;
    }

    // The page with a state read within its freshness drawn into it.
    std::optional<Respuesta> PaginaVigente() {
        std::lock_guard<std::mutex> cerrojo(publicado);
        if (!hayEstado || Reloj::now() - leido >= std::chrono::milliseconds(vigencia)) {
            return std::nullopt;
        }
        return Respuesta{200, "text/html; charset=utf-8", paginaConEstado, {}};
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
                servidor, [this, p] { Despachar(p, false); }, Qt::QueuedConnection);
            return MHD_YES;
        }
        std::lock_guard<std::mutex> cerrojo(p->m);
        return Enviar(c, p->respuesta);
    }

    // Runs a request on the database side; a sign-in at an account guessed
    // at lately first waits its account's delay (the thread stays free).
    void Despachar(const std::shared_ptr<Pendiente>& p, bool demorada) {
        {
            std::lock_guard<std::mutex> cerrojo(p->m);
            if (p->lista) {
                return; // already answered by its deadline: not done late
            }
        }
        if (!demorada) {
            if (const qint64 demora = servidor->Demora(p->peticion); demora > 0) {
                QTimer::singleShot(demora, servidor, [this, p] { Despachar(p, true); });
                return;
            }
        }
        Completar(p, servidor->Atender(p->peticion));
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
            Respuesta r = Error(QStringLiteral("Demasiadas conexiones"), 503);
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
            Respuesta r = Error(QStringLiteral("Peticion mal formada"), 400);
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
            return Error(QStringLiteral("Nombre de servidor no admitido"), 421);
        }
        if (!get && metodo != "POST") {
            Respuesta r = Error(QStringLiteral("Metodo no permitido"), 405);
            r.encabezados.emplaceBack("Allow", "GET, HEAD, POST");
            return r;
        }
        bool numero = false;
        const qint64 largo = p.peticion.Encabezado("Content-Length").toLongLong(&numero);
        if (numero && largo > kMaximoCuerpo) {
            return Error(QStringLiteral("Cuerpo demasiado grande"), 413);
        }
        const QString& ruta = p.peticion.ruta;
        if (get && ruta == QStringLiteral("/")) {
            return PaginaVigente();
        }
        if (get && ruta == QStringLiteral("/panel.js")) {
            return Respuesta{200, "text/javascript; charset=utf-8", guion, {}};
        }
        if (get && ruta == QStringLiteral("/panel.css")) {
            return Respuesta{200, "text/css; charset=utf-8", estilos, {}};
        }
        if (get && (ruta == QStringLiteral("/api/estado") || ruta == QStringLiteral("/metrics"))) {
            const bool prometheus = ruta == QStringLiteral("/metrics");
            if (prometheus || TokenSesion(p.peticion).isEmpty()) {
                return EstadoVigente(prometheus);
            }
        }
        return std::nullopt;
    }
};

ServidorPanel::ServidorPanel(QObject* padre) : QObject(padre), m_http(std::make_unique<Http>()) {
    m_http->servidor = this;
    m_http->pagina = Recurso(QStringLiteral(":/panel/index.html"));
    m_http->guion = Recurso(QStringLiteral(":/panel/panel.js"));
    m_http->estilos = Recurso(QStringLiteral(":/panel/panel.css"));
}

ServidorPanel::~ServidorPanel() {
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

quint16 ServidorPanel::Escuchar(const QHostAddress& direccion, quint16 puerto, QString* motivo) {
    m_http->vigencia = m_vigencia;
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

// ---------------------------------------------------------------------------
// The database side.

void ServidorPanel::Publicar() {
    std::lock_guard<std::mutex> cerrojo(m_http->publicado);
    m_http->vigencia = m_vigencia;
    m_http->hayEstado = m_estado.has_value();
    if (m_estado) {
        m_http->json = QJsonDocument(EstadoJson(*m_estado)).toJson(QJsonDocument::Compact);
        m_http->jsonPublico = QJsonDocument(EstadoJson(*m_estado, false)).toJson(QJsonDocument::Compact);
        m_http->metricas = Metricas(*m_estado);
        m_http->paginaConEstado = PaginaConEstado(m_http->pagina, *m_estado);
        m_http->leido = Reloj::now();
    }
}

Respuesta ServidorPanel::Atender(const Peticion& peticion) {
    const QString& ruta = peticion.ruta;
    const bool get = peticion.metodo == "GET" || peticion.metodo == "HEAD";
    const bool post = peticion.metodo == "POST";
    if (get && (ruta == QStringLiteral("/api/estado") || ruta == QStringLiteral("/metrics"))) {
        return Estado(ruta == QStringLiteral("/metrics"), peticion);
    }
    if (get && ruta == QStringLiteral("/")) {
        bool perdida = false;
        Leer(&perdida);
        std::lock_guard<std::mutex> cerrojo(m_http->publicado);
        // Without a state the script's page says why; a browser without it reloads.
        return {200, "text/html; charset=utf-8", m_estado ? m_http->paginaConEstado : m_http->pagina, {}};
    }
    if (ruta == QStringLiteral("/api/sesion")) {
        if (post) {
            return IniciarSesion(peticion);
        }
        const SesionesPanel::Sesion* sesion = m_sesiones.Buscar(TokenSesion(peticion));
        if (!get) {
            return Error(QStringLiteral("Metodo no permitido"), 405);
        }
        if (!sesion) {
            return Error(QStringLiteral("Sin sesion"), 401);
        }
        return Json({{"usuario", sesion->usuario}, {"csrf", QString::fromLatin1(sesion->csrf)}});
    }
    if (ruta == QStringLiteral("/api/sesion/salir") && post) {
        m_sesiones.Cerrar(TokenSesion(peticion));
        return {204, {}, {}, {{"Set-Cookie", CookieSesion({}, true, peticion.segura)}}};
    }
    if (const std::optional<RutaAccion> accion = LeerRutaAccion(ruta)) {
        if (!post) {
            return Error(QStringLiteral("Metodo no permitido"), 405);
        }
        return Accion(peticion, accion->recurso, accion->numero);
    }
    return Error(QStringLiteral("No existe"), 404);
}

bool ServidorPanel::Conectado() {
    if (m_conectado) {
        return true;
    }
    if (m_ultimoIntento.isValid() && m_ultimoIntento.elapsed() < m_pausa) {
        return false;
    }
    m_ultimoIntento.start();
    m_conectado = Conectar();
    if (!m_conectado) {
        m_pausa = std::clamp<qint64>(m_pausa * 2, kPausaInicial, kPausaMaxima);
        const ErroresProveedor& errores = Conexion::Instancia().Errores();
        Fallo(errores.isEmpty() ? QStringLiteral("no se pudo abrir la base de datos") : errores.first().descripcion);
    }
    return m_conectado;
}

void ServidorPanel::Fallo(const QString& descripcion) {
    if (!m_caido) {
        Registrar(QStringLiteral("Panel, sin base de datos: ") + descripcion);
    }
    m_caido = true;
}

void ServidorPanel::Perdida() {
    m_conectado = false;
    m_pausa = 0;
    m_ultimoIntento.invalidate();
    m_estado.reset();
    Publicar();
}

const EstadoTienda* ServidorPanel::Leer(bool* perdida) {
    *perdida = false;
    if (m_estado && m_leido.isValid() && m_leido.elapsed() < m_vigencia) {
        return &*m_estado;
    }
    if (!Conectado()) {
        *perdida = true;
        return nullptr;
    }
    try {
        if (!m_nombresTerminal) {
            m_nombresTerminal = ExisteColumna(QStringLiteral("Terminal"), QStringLiteral("Nombre"));
            if (!*m_nombresTerminal) {
                Registrar(QStringLiteral("Panel: la tabla Terminal no tiene la columna Nombre; "
                                         "las terminales se muestran por su numero"));
            }
        }
        if (!m_papelBajo) {
            m_papelBajo = ExisteColumna(QStringLiteral("Impresora"), QStringLiteral("PapelBajo"));
            if (!*m_papelBajo) {
                Registrar(QStringLiteral("Panel: la tabla Impresora no tiene la columna PapelBajo; "
                                         "el papel por terminarse no se muestra"));
            }
        }
        if (!m_falla) {
            m_falla = ExisteColumna(QStringLiteral("Impresora"), QStringLiteral("Falla"));
            if (!*m_falla) {
                Registrar(QStringLiteral("Panel: la tabla Impresora no tiene la columna Falla; "
                                         "no se muestra por que una impresora no imprime"));
            }
        }
        m_estado = LeerEstadoTienda(*m_nombresTerminal, *m_papelBajo, *m_falla);
        m_leido.start();
        m_ultimoError.clear();
        Publicar();
        if (m_caido) {
            Registrar(QStringLiteral("Panel, base de datos disponible de nuevo"));
            m_caido = false;
        }
        return &*m_estado;
    } catch (const ErrorEjecucion& e) {
        m_estado.reset();
        if (ConexionPerdida(e)) {
            Fallo(e.Descripcion());
            Perdida();
            *perdida = true;
        } else {
            // Logged when the cause changes: readers come every second.
            if (Causa(e) != m_ultimoError) {
                Registrar(QStringLiteral("Panel, no se pudo leer el estado: ") + e.Descripcion());
                m_ultimoError = Causa(e);
            }
        }
        return nullptr;
    }
}

bool ServidorPanel::VeRenglones(const Peticion& peticion) {
    SesionesPanel::Sesion* sesion = m_sesiones.Buscar(TokenSesion(peticion));
    if (!sesion) {
        return false;
    }
    const qint64 ahora = m_sesiones.Ahora();
    if (ahora - sesion->permiso < kConfirmarPermiso) {
        return true;
    }
    try {
        if (!TienePermisoOperador(sesion->usuario)) {
            return false;
        }
    } catch (const ErrorEjecucion&) {
        return false; // the next reader asks again
    }
    sesion->permiso = ahora;
    return true;
}

Respuesta ServidorPanel::Estado(bool metricas, const Peticion& peticion) {
    bool perdida = false;
    if (!Leer(&perdida)) {
        const QString texto = perdida ? kSinBaseDatos : QStringLiteral("No se pudo leer el estado: ") + kErrorBaseDatos;
        const int codigo = perdida ? 503 : 500;
        if (metricas) {
            return {codigo, "text/plain; charset=utf-8", "orlan-panel: " + texto.toUtf8() + '\n', {}};
        }
        return Error(texto, codigo);
    }
    const bool renglones = !metricas && VeRenglones(peticion);
    std::lock_guard<std::mutex> cerrojo(m_http->publicado);
    const qint64 edad = m_leido.elapsed() / 1000;
    return {200,
            metricas ? QByteArrayLiteral("text/plain; version=0.0.4; charset=utf-8")
                     : QByteArrayLiteral("application/json; charset=utf-8"),
            metricas ? m_http->metricas : (renglones ? m_http->json : m_http->jsonPublico),
            {{"Age", QByteArray::number(edad)}}};
}

qint64 ServidorPanel::Demora(const Peticion& peticion) {
    if (peticion.metodo != "POST" || peticion.ruta != QStringLiteral("/api/sesion")) {
        return 0;
    }
    const QString usuario = LeerIngreso(peticion.cuerpo).usuario;
    return UsuarioAceptable(usuario) ? m_sesiones.Demora(usuario.toCaseFolded()) : 0;
}

Respuesta ServidorPanel::IniciarSesion(const Peticion& peticion) {
    const QByteArray tipo = peticion.Encabezado("Content-Type").split(';').first().trimmed().toLower();
    if (tipo != "application/json") {
        // A form of another site can post text/plain without asking first.
        return Error(QStringLiteral("Se espera application/json"), 415);
    }
    const auto [usuario, contrasena] = LeerIngreso(peticion.cuerpo);
    const QString direccion = peticion.direccion;
    const bool aceptable = UsuarioAceptable(usuario) && contrasena.size() <= kLargoContrasena;
    // An unacceptable name brakes only its address.
    const QString cuenta = aceptable ? usuario.toCaseFolded() : QString();
    qint64 espera = 0;
    if (m_sesiones.Bloqueada(direccion, cuenta, &espera)) {
        Respuesta r = Error(QStringLiteral("Demasiados intentos; espere unos minutos"), 429);
        r.encabezados.emplaceBack("Retry-After", QByteArray::number(espera));
        return r;
    }
    if (!aceptable) {
        m_sesiones.RegistrarFallo(direccion, cuenta);
        Registrar(QStringLiteral("Panel, acceso rechazado a un nombre no valido desde ") + direccion);
        return Error(kAccesoRechazado, 401);
    }
    if (!Conectado()) {
        return Error(kSinBaseDatos, 503);
    }
    ResultadoOperador resultado;
    try {
        resultado = ComprobarOperador(usuario, contrasena, m_credenciales, FormaConsulta::Enlazada);
    } catch (const ErrorEjecucion& e) {
        Registrar(QStringLiteral("Panel, al comprobar a ") + usuario + QStringLiteral(": ") + e.Descripcion());
        if (ConexionPerdida(e)) {
            Fallo(e.Descripcion());
            Perdida();
            return Error(kSinBaseDatos, 503);
        }
        m_sesiones.RegistrarFallo(direccion, cuenta);
        return Error(QStringLiteral("No se pudo comprobar el usuario: ") + kErrorBaseDatos, 500);
    }
    if (resultado != ResultadoOperador::Valido) {
        m_sesiones.RegistrarFallo(direccion, cuenta);
        Registrar(QStringLiteral("Panel, acceso rechazado a ") + usuario + QStringLiteral(" desde ") + direccion);
        return Error(kAccesoRechazado, 401);
    }
    m_sesiones.Olvidar(direccion, cuenta);
    const QByteArray token = m_sesiones.Abrir(usuario);
    Respuesta r = Json({{"usuario", usuario}, {"csrf", QString::fromLatin1(m_sesiones.Buscar(token)->csrf)}});
    r.encabezados.emplaceBack("Set-Cookie", CookieSesion(token, false, peticion.segura));
    return r;
}

Respuesta ServidorPanel::Accion(const Peticion& peticion, const QString& recurso, qint64 numero) {
    const SesionesPanel::Sesion* sesion = m_sesiones.Buscar(TokenSesion(peticion));
    if (!sesion) {
        return Error(QStringLiteral("Inicie sesion"), 401);
    }
    const QString usuario = sesion->usuario;
    if (peticion.Encabezado("X-CSRF-Token") != sesion->csrf) {
        return Error(QStringLiteral("Falta la marca de la sesion"), 403);
    }
    const bool impresora = recurso == QStringLiteral("impresoras");
    const QString que =
        (impresora ? QStringLiteral("la impresora ") : QStringLiteral("el trabajo ")) + QString::number(numero);
    // Both ids are int columns: a larger number names nothing (and cut to
    // int it would name another).
    if (numero > std::numeric_limits<qint32>::max()) {
        return Error(QStringLiteral("No existe ") + que, 404);
    }
    if (!Conectado()) {
        return Error(kSinBaseDatos, 503);
    }
    try {
        // The right is checked again: the operator's group may have lost it
        // since signing in.
        if (!TienePermisoOperador(usuario)) {
            return Error(kAccesoRechazado, 403);
        }
        const ResultadoAccion r =
            impresora ? RestablecerImpresora(static_cast<int>(numero)) : ReintentarTrabajo(numero);
        // The next reader sees the change, not the state read before it.
        m_estado.reset();
        Publicar();
        switch (r) {
        case ResultadoAccion::Hecha:
        case ResultadoAccion::NoReplicada: // the local update stands; Actualizar logged the replication
            Registrar(QStringLiteral("Panel, ") + usuario +
                      (impresora ? QStringLiteral(" restablecio ") : QStringLiteral(" reintento ")) + que);
            return Json({{"mensaje", impresora ? QStringLiteral("Impresora restablecida")
                                               : QStringLiteral("Trabajo de vuelta en la cola")}});
        case ResultadoAccion::SinCambios:
            return Json({{"mensaje", QStringLiteral("La impresora ya atiende sus trabajos; nada que hacer")}});
        case ResultadoAccion::NoExiste:
            return Error(QStringLiteral("No existe ") + que, 404);
        case ResultadoAccion::NoApartado:
            return Error(QStringLiteral("El trabajo no esta apartado"), 409);
        case ResultadoAccion::Fallida:
            break;
        }
    } catch (const ErrorEjecucion& e) {
        Registrar(QStringLiteral("Panel, ") + e.Descripcion());
        if (ConexionPerdida(e)) {
            Fallo(e.Descripcion());
            Perdida();
            return Error(kSinBaseDatos, 503);
        }
    }
    return Error(QStringLiteral("No se pudo hacer (vea la bitacora)"), 500);
}
