#include "panel/ServidorPanel.h"

#include "database/AccionesCola.h"
#include "database/BaseDatos.h"
#include "startup/ComprobacionOperador.h"
#include "support/Bitacora.h"
#include "support/ErrorEjecucion.h"

#include <QFile>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QUrlQuery>

namespace {

using Codigo = QHttpServerResponse::StatusCode;

const QByteArray kCookie = "orlan_sesion";
// A lost database is tried again at most this often, so a panel whose database
// host is down does not spend every request waiting for a connection.
constexpr qint64 kReintentoConexion = 2000;

QHttpServerResponse Json(const QJsonObject& objeto, Codigo codigo = Codigo::Ok) {
    QHttpServerResponse r(QByteArrayLiteral("application/json; charset=utf-8"),
                          QJsonDocument(objeto).toJson(QJsonDocument::Compact), codigo);
    return r;
}

QHttpServerResponse Error(const QString& texto, Codigo codigo) {
    return Json(QJsonObject{{"error", texto}}, codigo);
}

QHttpServerResponse Recurso(const QString& ruta, const QByteArray& tipo) {
    QFile archivo(ruta);
    archivo.open(QIODevice::ReadOnly);
    return QHttpServerResponse(tipo, archivo.readAll());
}

QByteArray Encabezado(const QHttpServerRequest& peticion, const QByteArray& nombre) {
    for (const auto& [clave, valor] : peticion.headers()) {
        if (clave.compare(nombre, Qt::CaseInsensitive) == 0) {
            return valor;
        }
    }
    return {};
}

QByteArray TokenSesion(const QHttpServerRequest& peticion) {
    for (const QByteArray& parte : Encabezado(peticion, "Cookie").split(';')) {
        const QByteArray p = parte.trimmed();
        if (p.startsWith(kCookie + '=')) {
            return p.mid(kCookie.size() + 1);
        }
    }
    return {};
}

QByteArray CookieSesion(const QByteArray& valor, bool borrar) {
    return kCookie + '=' + valor + "; Path=/; HttpOnly; SameSite=Strict" + (borrar ? "; Max-Age=0" : "");
}

QString Direccion(const QHttpServerRequest& peticion) {
    return peticion.remoteAddress().toString();
}

} // namespace

ServidorPanel::ServidorPanel(QObject* padre) : QAbstractHttpServer(padre) {}

bool ServidorPanel::handleRequest(const QHttpServerRequest& peticion, QTcpSocket* socket) {
    QHttpServerResponse respuesta = Atender(peticion);
    // The answers change every second and some carry a session.
    respuesta.setHeader("Cache-Control", "no-store");
    respuesta.setHeader("X-Content-Type-Options", "nosniff");
    respuesta.setHeader("X-Frame-Options", "DENY");
    respuesta.setHeader("Content-Security-Policy", "default-src 'self'; frame-ancestors 'none'");
    // The answer goes out in more than one write; without this the last small
    // segment waits for the client's delayed acknowledgement.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    respuesta.write(makeResponder(peticion, socket));
    return true;
}

void ServidorPanel::missingHandler(const QHttpServerRequest& peticion, QTcpSocket* socket) {
    makeResponder(peticion, socket).write(Codigo::NotFound);
}

QHttpServerResponse ServidorPanel::Atender(const QHttpServerRequest& peticion) {
    const QString ruta = peticion.url().path();
    const bool get = peticion.method() == QHttpServerRequest::Method::Get;
    const bool post = peticion.method() == QHttpServerRequest::Method::Post;
    if (get && ruta == QStringLiteral("/")) {
        return Recurso(QStringLiteral(":/panel/index.html"), "text/html; charset=utf-8");
    }
    if (get && ruta == QStringLiteral("/panel.js")) {
        return Recurso(QStringLiteral(":/panel/panel.js"), "text/javascript; charset=utf-8");
    }
    if (get && ruta == QStringLiteral("/panel.css")) {
        return Recurso(QStringLiteral(":/panel/panel.css"), "text/css; charset=utf-8");
    }
    if (get && (ruta == QStringLiteral("/api/estado") || ruta == QStringLiteral("/metrics"))) {
        return Estado(ruta == QStringLiteral("/metrics"));
    }
    if (ruta == QStringLiteral("/api/sesion")) {
        if (post) {
            return IniciarSesion(peticion);
        }
        const SesionesPanel::Sesion* sesion = m_sesiones.Buscar(TokenSesion(peticion));
        if (!get) {
            return Error(QStringLiteral("Metodo no permitido"), Codigo::MethodNotAllowed);
        }
        if (!sesion) {
            return Error(QStringLiteral("Sin sesion"), Codigo::Unauthorized);
        }
        return Json({{"usuario", sesion->usuario}, {"csrf", QString::fromLatin1(sesion->csrf)}});
    }
    if (ruta == QStringLiteral("/api/sesion/salir") && post) {
        m_sesiones.Cerrar(TokenSesion(peticion));
        QHttpServerResponse r(Codigo::NoContent);
        r.setHeader("Set-Cookie", CookieSesion({}, true));
        return r;
    }
    static const QRegularExpression kAccion(QStringLiteral("^/api/(impresoras|trabajos)/([0-9]{1,15})/(\\w+)$"));
    const QRegularExpressionMatch m = kAccion.match(ruta);
    if (m.hasMatch() &&
        ((m.captured(1) == QStringLiteral("impresoras") && m.captured(3) == QStringLiteral("restablecer")) ||
         (m.captured(1) == QStringLiteral("trabajos") && m.captured(3) == QStringLiteral("reintentar")))) {
        if (!post) {
            return Error(QStringLiteral("Metodo no permitido"), Codigo::MethodNotAllowed);
        }
        return Accion(peticion, m.captured(1), m.captured(2).toLongLong());
    }
    return Error(QStringLiteral("No existe"), Codigo::NotFound);
}

bool ServidorPanel::Conectado() {
    if (m_conectado) {
        return true;
    }
    if (m_ultimoIntento.isValid() && m_ultimoIntento.elapsed() < kReintentoConexion) {
        return false;
    }
    m_ultimoIntento.start();
    m_conectado = Conectar();
    if (!m_conectado) {
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

const EstadoTienda* ServidorPanel::Leer() {
    if (m_estado && m_leido.isValid() && m_leido.elapsed() < m_vigencia) {
        return &*m_estado;
    }
    m_estado.reset();
    if (!Conectado()) {
        return nullptr;
    }
    try {
        m_estado = LeerEstadoTienda();
        m_cuerpoJson.clear();
        m_cuerpoMetricas.clear();
        m_leido.start();
        if (m_caido) {
            Registrar(QStringLiteral("Panel, base de datos disponible de nuevo"));
            m_caido = false;
        }
        return &*m_estado;
    } catch (const ErrorEjecucion& e) {
        Fallo(e.Descripcion());
        // Reconnected on a later request: the connection may be the thing lost.
        m_conectado = false;
        m_ultimoIntento.start();
        return nullptr;
    }
}

QHttpServerResponse ServidorPanel::Estado(bool metricas) {
    const EstadoTienda* estado = Leer();
    if (!estado) {
        if (metricas) {
            return QHttpServerResponse("text/plain; charset=utf-8", "orlan-panel: sin base de datos\n",
                                       Codigo::ServiceUnavailable);
        }
        return Error(QStringLiteral("Sin conexion con la base de datos"), Codigo::ServiceUnavailable);
    }
    // Every answer of the same read is the same text: it is written once.
    if (metricas) {
        if (m_cuerpoMetricas.isEmpty()) {
            m_cuerpoMetricas = Metricas(*estado);
        }
        return QHttpServerResponse("text/plain; version=0.0.4; charset=utf-8", m_cuerpoMetricas);
    }
    if (m_cuerpoJson.isEmpty()) {
        m_cuerpoJson = QJsonDocument(EstadoJson(*estado)).toJson(QJsonDocument::Compact);
    }
    return QHttpServerResponse(QByteArrayLiteral("application/json; charset=utf-8"), m_cuerpoJson);
}

QHttpServerResponse ServidorPanel::IniciarSesion(const QHttpServerRequest& peticion) {
    const QString direccion = Direccion(peticion);
    qint64 espera = 0;
    if (m_sesiones.Bloqueada(direccion, &espera)) {
        QHttpServerResponse r =
            Error(QStringLiteral("Demasiados intentos; espere unos minutos"), Codigo::TooManyRequests);
        r.setHeader("Retry-After", QByteArray::number(espera));
        return r;
    }
    const QJsonObject datos = QJsonDocument::fromJson(peticion.body()).object();
    const QString usuario = datos.value(QStringLiteral("usuario")).toString();
    const QString contrasena = datos.value(QStringLiteral("contrasena")).toString();
    if (!Conectado()) {
        return Error(QStringLiteral("Sin conexion con la base de datos"), Codigo::ServiceUnavailable);
    }
    ResultadoOperador resultado;
    try {
        resultado = ComprobarOperador(usuario, contrasena, m_credenciales);
    } catch (const ErrorEjecucion& e) {
        Registrar(QStringLiteral("Panel, ") + e.Descripcion());
        m_conectado = false;
        return Error(QStringLiteral("No se pudo comprobar el usuario (vea la bitacora)"), Codigo::ServiceUnavailable);
    }
    if (resultado != ResultadoOperador::Valido) {
        m_sesiones.RegistrarFallo(direccion);
        Registrar(QStringLiteral("Panel, acceso rechazado a ") + usuario + QStringLiteral(" desde ") + direccion);
        return Error(resultado == ResultadoOperador::UsuarioInvalido
                         ? QStringLiteral("El usuario es inválido o no tiene privilegios suficientes")
                         : QStringLiteral("La contraseña es incorrecta"),
                     Codigo::Unauthorized);
    }
    m_sesiones.Olvidar(direccion);
    const QByteArray token = m_sesiones.Abrir(usuario);
    QHttpServerResponse r = Json({{"usuario", usuario}, {"csrf", QString::fromLatin1(m_sesiones.Buscar(token)->csrf)}});
    r.setHeader("Set-Cookie", CookieSesion(token, false));
    return r;
}

QHttpServerResponse ServidorPanel::Accion(const QHttpServerRequest& peticion, const QString& recurso, qint64 numero) {
    const SesionesPanel::Sesion* sesion = m_sesiones.Buscar(TokenSesion(peticion));
    if (!sesion) {
        return Error(QStringLiteral("Inicie sesion"), Codigo::Unauthorized);
    }
    const QString usuario = sesion->usuario;
    if (Encabezado(peticion, "X-CSRF-Token") != sesion->csrf) {
        return Error(QStringLiteral("Falta la marca de la sesion"), Codigo::Forbidden);
    }
    if (!Conectado()) {
        return Error(QStringLiteral("Sin conexion con la base de datos"), Codigo::ServiceUnavailable);
    }
    const bool impresora = recurso == QStringLiteral("impresoras");
    try {
        // The right is checked again: the operator's group may have lost it
        // since signing in.
        if (!TienePermisoOperador(usuario)) {
            return Error(QStringLiteral("El usuario es inválido o no tiene privilegios suficientes"),
                         Codigo::Forbidden);
        }
        const ResultadoAccion r =
            impresora ? RestablecerImpresora(static_cast<int>(numero)) : ReintentarTrabajo(numero);
        m_estado.reset();
        const QString que =
            (impresora ? QStringLiteral("la impresora ") : QStringLiteral("el trabajo ")) + QString::number(numero);
        switch (r) {
        case ResultadoAccion::Hecha:
        case ResultadoAccion::NoReplicada: // the local update stands; Actualizar logged the replication
            Registrar(QStringLiteral("Panel, ") + usuario +
                      (impresora ? QStringLiteral(" restablecio ") : QStringLiteral(" reintento ")) + que);
            return Json({{"mensaje", impresora ? QStringLiteral("Impresora restablecida")
                                               : QStringLiteral("Trabajo de vuelta en la cola")}});
        case ResultadoAccion::NoExiste:
            return Error(QStringLiteral("No existe ") + que, Codigo::NotFound);
        case ResultadoAccion::NoApartado:
            return Error(QStringLiteral("El trabajo no esta apartado"), Codigo::Conflict);
        case ResultadoAccion::Fallida:
            break;
        }
    } catch (const ErrorEjecucion& e) {
        Registrar(QStringLiteral("Panel, ") + e.Descripcion());
        m_conectado = false;
    }
    return Error(QStringLiteral("No se pudo hacer (vea la bitacora)"), Codigo::InternalServerError);
}
