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
#include <chrono>
#include <limits>
#include <mutex>

using namespace Qt::StringLiterals;

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
// One text for every refused sign-in, so that the answer does not tell which
// names hold the permission.
const QString kAccesoRechazado = QStringLiteral("El usuario o la contraseña no son válidos");

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

ServidorPanel::ServidorPanel(QObject* padre) : QObject(padre), m_http(*this, this) {
    m_publicado.pagina = Recurso(QStringLiteral(":/panel/index.html"));
    m_publicado.guion = Recurso(QStringLiteral(":/panel/panel.js"));
    m_publicado.estilos = Recurso(QStringLiteral(":/panel/panel.css"));
}

ServidorPanel::~ServidorPanel() = default;

quint16 ServidorPanel::Escuchar(const QHostAddress& direccion, quint16 puerto, QString* motivo) {
    m_publicado.vigencia = m_vigencia;
    return m_http.Escuchar(direccion, puerto, motivo);
}

// ---------------------------------------------------------------------------
// The routes.

const ServidorPanel::Ruta ServidorPanel::kRutas[] = {
    {.metodo = Metodo::Lectura,
     .ruta = "/"_L1,
     .inmediata = [](ServidorPanel& panel) { return panel.PaginaVigente(); },
     .atender = [](ServidorPanel& panel, const Peticion&) { return panel.Pagina(); }},
    {.metodo = Metodo::Lectura,
     .ruta = "/panel.js"_L1,
     .inmediata = [](ServidorPanel& panel) -> std::optional<Respuesta> {
         return Respuesta{200, "text/javascript; charset=utf-8", panel.m_publicado.guion, {}};
     }},
    {.metodo = Metodo::Lectura,
     .ruta = "/panel.css"_L1,
     .inmediata = [](ServidorPanel& panel) -> std::optional<Respuesta> {
         return Respuesta{200, "text/css; charset=utf-8", panel.m_publicado.estilos, {}};
     }},
    {.metodo = Metodo::Lectura,
     .ruta = "/api/estado"_L1,
     .inmediata = [](ServidorPanel& panel) { return panel.EstadoVigente(false); },
     .sinSesion = true,
     .atender = [](ServidorPanel& panel, const Peticion& peticion) { return panel.Estado(false, peticion); }},
    {.metodo = Metodo::Lectura,
     .ruta = "/metrics"_L1,
     .inmediata = [](ServidorPanel& panel) { return panel.EstadoVigente(true); },
     .atender = [](ServidorPanel& panel, const Peticion& peticion) { return panel.Estado(true, peticion); }},
    {.metodo = Metodo::Lectura,
     .ruta = "/api/sesion"_L1,
     .atender = [](ServidorPanel& panel, const Peticion& peticion) { return panel.SesionAbierta(peticion); }},
    {.metodo = Metodo::Envio,
     .ruta = "/api/sesion"_L1,
     .atender = [](ServidorPanel& panel, const Peticion& peticion) { return panel.IniciarSesion(peticion); },
     .demorada = true},
    {.metodo = Metodo::Envio,
     .ruta = "/api/sesion/salir"_L1,
     .atender = [](ServidorPanel& panel, const Peticion& peticion) { return panel.CerrarSesion(peticion); }},
    {.metodo = Metodo::Envio,
     .ruta = {},
     .atender =
         [](ServidorPanel& panel, const Peticion& peticion) {
             const RutaAccion accion = *LeerRutaAccion(peticion.ruta);
             return panel.Accion(peticion, accion.recurso, accion.numero);
         }},
    // An action's path read with GET: the path exists, the method does not.
    {.metodo = Metodo::Lectura,
     .ruta = {},
     .atender = [](ServidorPanel&,
                   const Peticion&) { return Respuesta::Error(QStringLiteral("Metodo no permitido"), 405); }},
};

const ServidorPanel::Ruta* ServidorPanel::RutaDe(const Peticion& peticion, bool inmediatas) {
    const bool lectura = peticion.metodo == "GET" || peticion.metodo == "HEAD";
    const bool envio = peticion.metodo == "POST";
    for (const Ruta& ruta : kRutas) {
        if (!(ruta.metodo == Metodo::Lectura ? lectura : envio) || (inmediatas && !ruta.inmediata)) {
            continue;
        }
        if (ruta.ruta.isEmpty() ? LeerRutaAccion(peticion.ruta).has_value() : peticion.ruta == ruta.ruta) {
            return &ruta;
        }
    }
    return nullptr;
}

// ---------------------------------------------------------------------------
// What libmicrohttpd's threads answer at once.

std::optional<Respuesta> ServidorPanel::Inmediata(const Peticion& peticion) {
    const Ruta* ruta = RutaDe(peticion, true);
    if (!ruta || (ruta->sinSesion && !TokenSesion(peticion).isEmpty())) {
        return std::nullopt;
    }
    return ruta->inmediata(*this);
}

Respuesta ServidorPanel::Publicado::Estado(bool conMetricas, bool renglones, qint64 edad) const {
    return {200,
            conMetricas ? QByteArrayLiteral("text/plain; version=0.0.4; charset=utf-8")
                        : QByteArray(Respuesta::kTipoJson),
            conMetricas ? metricas : (renglones ? json : jsonPublico),
            {{"Age", QByteArray::number(edad)}}};
}

std::optional<Respuesta> ServidorPanel::EstadoVigente(bool prometheus) {
    std::lock_guard<std::mutex> cerrojo(m_publicado.publicado);
    const qint64 edad = std::chrono::duration_cast<std::chrono::milliseconds>(Reloj::now() - m_publicado.leido).count();
    if (!m_publicado.hayEstado || edad >= m_publicado.vigencia) {
        return std::nullopt;
    }
    return m_publicado.Estado(prometheus, false, edad / 1000);
}

std::optional<Respuesta> ServidorPanel::PaginaVigente() {
    std::lock_guard<std::mutex> cerrojo(m_publicado.publicado);
    if (!m_publicado.hayEstado || Reloj::now() - m_publicado.leido >= std::chrono::milliseconds(m_publicado.vigencia)) {
        return std::nullopt;
    }
    return Respuesta{200, "text/html; charset=utf-8", m_publicado.paginaConEstado, {}};
}

// ---------------------------------------------------------------------------
// The database side.

void ServidorPanel::Publicar() {
    std::lock_guard<std::mutex> cerrojo(m_publicado.publicado);
    m_publicado.vigencia = m_vigencia;
    m_publicado.hayEstado = m_estado.has_value();
    if (m_estado) {
        m_publicado.json = QJsonDocument(EstadoJson(*m_estado)).toJson(QJsonDocument::Compact);
        m_publicado.jsonPublico = QJsonDocument(EstadoJson(*m_estado, false)).toJson(QJsonDocument::Compact);
        m_publicado.metricas = Metricas(*m_estado);
        m_publicado.paginaConEstado = PaginaConEstado(m_publicado.pagina, *m_estado);
        m_publicado.leido = Reloj::now();
    }
}

Respuesta ServidorPanel::Atender(const Peticion& peticion) {
    const Ruta* ruta = RutaDe(peticion, false);
    if (!ruta || !ruta->atender) {
        return Respuesta::Error(QStringLiteral("No existe"), 404);
    }
    return ruta->atender(*this, peticion);
}

Respuesta ServidorPanel::Pagina() {
    bool perdida = false;
    Leer(&perdida);
    std::lock_guard<std::mutex> cerrojo(m_publicado.publicado);
    // Without a state the script's page says why; a browser without it reloads.
    return {200, "text/html; charset=utf-8", m_estado ? m_publicado.paginaConEstado : m_publicado.pagina, {}};
}

Respuesta ServidorPanel::SesionAbierta(const Peticion& peticion) {
    const SesionesPanel::Sesion* sesion = m_sesiones.Buscar(TokenSesion(peticion));
    if (!sesion) {
        return Respuesta::Error(QStringLiteral("Sin sesion"), 401);
    }
    return Respuesta::Json({{"usuario", sesion->usuario}, {"csrf", QString::fromLatin1(sesion->csrf)}});
}

Respuesta ServidorPanel::CerrarSesion(const Peticion& peticion) {
    m_sesiones.Cerrar(TokenSesion(peticion));
    return {204, {}, {}, {{"Set-Cookie", CookieSesion({}, true, peticion.segura)}}};
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
        return Respuesta::Error(texto, codigo);
    }
    const bool renglones = !metricas && VeRenglones(peticion);
    std::lock_guard<std::mutex> cerrojo(m_publicado.publicado);
    return m_publicado.Estado(metricas, renglones, m_leido.elapsed() / 1000);
}

qint64 ServidorPanel::Demora(const Peticion& peticion) {
    const Ruta* ruta = RutaDe(peticion, false);
    if (!ruta || !ruta->demorada) {
        return 0;
    }
    const QString usuario = LeerIngreso(peticion.cuerpo).usuario;
    return UsuarioAceptable(usuario) ? m_sesiones.Demora(usuario.toCaseFolded()) : 0;
}

Respuesta ServidorPanel::IniciarSesion(const Peticion& peticion) {
    const QByteArray tipo = peticion.Encabezado("Content-Type").split(';').first().trimmed().toLower();
    if (tipo != "application/json") {
        // A form of another site can post text/plain without asking first.
        return Respuesta::Error(QStringLiteral("Se espera application/json"), 415);
    }
    const auto [usuario, contrasena] = LeerIngreso(peticion.cuerpo);
    const QString direccion = peticion.direccion;
    const bool aceptable = UsuarioAceptable(usuario) && contrasena.size() <= kLargoContrasena;
    // An unacceptable name brakes only its address.
    const QString cuenta = aceptable ? usuario.toCaseFolded() : QString();
    qint64 espera = 0;
    if (m_sesiones.Bloqueada(direccion, cuenta, &espera)) {
        Respuesta r = Respuesta::Error(QStringLiteral("Demasiados intentos; espere unos minutos"), 429);
        r.encabezados.emplaceBack("Retry-After", QByteArray::number(espera));
        return r;
    }
    if (!aceptable) {
        m_sesiones.RegistrarFallo(direccion, cuenta);
        Registrar(QStringLiteral("Panel, acceso rechazado a un nombre no valido desde ") + direccion);
        return Respuesta::Error(kAccesoRechazado, 401);
    }
    if (!Conectado()) {
        return Respuesta::Error(kSinBaseDatos, 503);
    }
    ResultadoOperador resultado;
    try {
        resultado = ComprobarOperador(usuario, contrasena, m_credenciales, FormaConsulta::Enlazada);
    } catch (const ErrorEjecucion& e) {
        Registrar(QStringLiteral("Panel, al comprobar a ") + usuario + QStringLiteral(": ") + e.Descripcion());
        if (ConexionPerdida(e)) {
            Fallo(e.Descripcion());
            Perdida();
            return Respuesta::Error(kSinBaseDatos, 503);
        }
        m_sesiones.RegistrarFallo(direccion, cuenta);
        return Respuesta::Error(QStringLiteral("No se pudo comprobar el usuario: ") + kErrorBaseDatos, 500);
    }
    if (resultado != ResultadoOperador::Valido) {
        m_sesiones.RegistrarFallo(direccion, cuenta);
        Registrar(QStringLiteral("Panel, acceso rechazado a ") + usuario + QStringLiteral(" desde ") + direccion);
        return Respuesta::Error(kAccesoRechazado, 401);
    }
    m_sesiones.Olvidar(direccion, cuenta);
    const QByteArray token = m_sesiones.Abrir(usuario);
    Respuesta r =
        Respuesta::Json({{"usuario", usuario}, {"csrf", QString::fromLatin1(m_sesiones.Buscar(token)->csrf)}});
    r.encabezados.emplaceBack("Set-Cookie", CookieSesion(token, false, peticion.segura));
    return r;
}

Respuesta ServidorPanel::Accion(const Peticion& peticion, const QString& recurso, qint64 numero) {
    const SesionesPanel::Sesion* sesion = m_sesiones.Buscar(TokenSesion(peticion));
    if (!sesion) {
        return Respuesta::Error(QStringLiteral("Inicie sesion"), 401);
    }
    const QString usuario = sesion->usuario;
    if (peticion.Encabezado("X-CSRF-Token") != sesion->csrf) {
        return Respuesta::Error(QStringLiteral("Falta la marca de la sesion"), 403);
    }
    const bool impresora = recurso == QStringLiteral("impresoras");
    const QString que =
        (impresora ? QStringLiteral("la impresora ") : QStringLiteral("el trabajo ")) + QString::number(numero);
    // Both ids are int columns: a larger number names nothing (and cut to
    // int it would name another).
    if (numero > std::numeric_limits<qint32>::max()) {
        return Respuesta::Error(QStringLiteral("No existe ") + que, 404);
    }
    if (!Conectado()) {
        return Respuesta::Error(kSinBaseDatos, 503);
    }
    try {
        // The right is checked again: the operator's group may have lost it
        // since signing in.
        if (!TienePermisoOperador(usuario)) {
            return Respuesta::Error(kAccesoRechazado, 403);
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
            return Respuesta::Json({{"mensaje", impresora ? QStringLiteral("Impresora restablecida")
                                                          : QStringLiteral("Trabajo de vuelta en la cola")}});
        case ResultadoAccion::SinCambios:
            return Respuesta::Json(
                {{"mensaje", QStringLiteral("La impresora ya atiende sus trabajos; nada que hacer")}});
        case ResultadoAccion::NoExiste:
            return Respuesta::Error(QStringLiteral("No existe ") + que, 404);
        case ResultadoAccion::NoApartado:
            return Respuesta::Error(QStringLiteral("El trabajo no esta apartado"), 409);
        case ResultadoAccion::Fallida:
            break;
        }
    } catch (const ErrorEjecucion& e) {
        Registrar(QStringLiteral("Panel, ") + e.Descripcion());
        if (ConexionPerdida(e)) {
            Fallo(e.Descripcion());
            Perdida();
            return Respuesta::Error(kSinBaseDatos, 503);
        }
    }
    return Respuesta::Error(QStringLiteral("No se pudo hacer (vea la bitacora)"), 500);
}
