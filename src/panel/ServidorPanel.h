#pragma once

#include "credentials/ProveedorCredenciales.h"
#include "panel/EstadoTienda.h"
#include "panel/ServidorHttp.h"
#include "panel/SesionesPanel.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QLatin1StringView>
#include <QList>
#include <QObject>
#include <QStringList>
#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>

// The status panel's web server:
//
//   GET  /                                  the page (with /panel.js and /panel.css)
//   GET  /api/estado                        the shop's state as JSON
//   GET  /metrics                           the same in the Prometheus text format
//   GET  /api/sesion                        the signed-in operator and the CSRF token, or 401
//   POST /api/sesion                        sign in: {"usuario": ..., "contrasena": ...}
//   POST /api/sesion/salir                  sign out
//   POST /api/impresoras/N/restablecer      the printer serves its own jobs again
//   POST /api/trabajos/N/reintentar         a set-aside job goes back to the queue
//
// Two sides. The HTTP side (ServidorHttp) speaks HTTP and holds its bounds;
// the routes here answer the page's files and a state read within its
// freshness at once, on its threads. All the rest (database, sessions, event
// log) runs on the thread that created this object, the one thread that uses
// the one database connection; a request waits for it at most
// ServidorHttp::kEsperaLectura (readers) or kEsperaAccion (sign-in and
// actions) and then answers 503, so a stalled database holds no HTTP thread
// and no other client.
//
// Reading needs no sign-in. The actions answer 401 without a live session and
// 403 without the session's CSRF token (header X-CSRF-Token) or when the
// operator no longer holds permission 27; each is written to the event log
// with the operator's name. Only a lost connection makes the readers answer
// 503 and the panel reconnect, after a pause that grows while it stays lost.
class ServidorPanel : public QObject, private ServidorHttp::Rutas {
public:
    using Peticion = ServidorHttp::Peticion;
    using Respuesta = ServidorHttp::Respuesta;

    explicit ServidorPanel(QObject* padre = nullptr);
    ~ServidorPanel() override;

    // Milliseconds a state read stays fresh (tests and benchmarks set 0).
    void EstablecerVigencia(int milisegundos) { m_vigencia = milisegundos; }
    // The HTTP side's host names, bound on connections, trusted proxies and
    // HTTPS (see ServidorHttp).
    void EstablecerNombres(const QStringList& nombres) { m_http.EstablecerNombres(nombres); }
    void EstablecerMaximoConexiones(int maximo) { m_http.EstablecerMaximoConexiones(maximo); }
    void EstablecerProxies(const QList<QHostAddress>& proxies) { m_http.EstablecerProxies(proxies); }
    void EstablecerTls(const QByteArray& certificado, const QByteArray& llave) {
        m_http.EstablecerTls(certificado, llave);
    }

    // Starts listening; returns the port, or 0 with the reason in `motivo`.
    quint16 Escuchar(const QHostAddress& direccion, quint16 puerto, QString* motivo = nullptr);

private:
    // A route: the requests it takes and who answers them. A request takes
    // the route of its method and path in kRutas, or none and 404. Both the
    // HTTP side's answer from the head and the database side read this table.
    enum class Metodo {
        Lectura, // GET or HEAD (libmicrohttpd leaves a HEAD's body out)
        Envio,   // POST
    };
    struct Ruta {
        Metodo metodo;
        QLatin1StringView ruta; // the path; empty: an action's (see LeerRutaAccion)
        // The answer from the head on the HTTP side's threads, out of what was
        // published; none (or no function): the database side answers.
        std::optional<Respuesta> (*inmediata)(ServidorPanel& panel) = nullptr;
        // Answered from the head only without a session cookie: an operator
        // may see the jobs' text, which the database side decides.
        bool sinSesion = false;
        // The answer on the database side; none where `inmediata` always answers.
        Respuesta (*atender)(ServidorPanel& panel, const Peticion& peticion) = nullptr;
        // A sign-in: it first waits its account's delay (Demora).
        bool demorada = false;
    };
    static const Ruta kRutas[];
    // The route of a request, or null. `inmediatas`: only among those
    // answered from the head (the action paths are not looked at then).
    static const Ruta* RutaDe(const Peticion& peticion, bool inmediatas);

    std::optional<Respuesta> Inmediata(const Peticion& peticion) override;
    Respuesta Atender(const Peticion& peticion) override;
    // The page, with the state drawn into it when there is one.
    Respuesta Pagina();
    Respuesta Estado(bool metricas, const Peticion& peticion);
    // The signed-in operator and the CSRF token, or 401.
    Respuesta SesionAbierta(const Peticion& peticion);
    Respuesta CerrarSesion(const Peticion& peticion);
    // Whether the request comes from a signed-in operator who still holds
    // the permission: only such a one reads the set-aside jobs' text.
    bool VeRenglones(const Peticion& peticion);
    Respuesta IniciarSesion(const Peticion& peticion);
    // Milliseconds a sign-in waits before it is checked (see SesionesPanel::Demora).
    qint64 Demora(const Peticion& peticion) override;
    Respuesta Accion(const Peticion& peticion, const QString& recurso, qint64 numero);
    // The state, fresh or cached; null after a database failure (`perdida`
    // tells whether the connection was the thing lost).
    const EstadoTienda* Leer(bool* perdida);
    bool Conectado();
    void Fallo(const QString& descripcion);
    void Perdida();
    // Publishes the answers of the current state for the HTTP side.
    void Publicar();
    // A state read still within its freshness, answered on the HTTP side at
    // once; only to a reader without a session, who is not shown the jobs' text.
    std::optional<Respuesta> EstadoVigente(bool prometheus);
    // The page with a state read within its freshness drawn into it.
    std::optional<Respuesta> PaginaVigente();

    // The answers of the last state read, for the readers within its
    // freshness on the HTTP side's threads; the page's files, read once.
    struct Publicado {
        std::mutex publicado;
        std::atomic<int> vigencia{1000};
        bool hayEstado = false;
        QByteArray json, jsonPublico, metricas; // jsonPublico: without the jobs' text
        QByteArray paginaConEstado;             // drawn without the jobs' text too
        std::chrono::steady_clock::time_point leido;
        QByteArray pagina, guion, estilos;

        // The state's answer, `edad` seconds old: the metrics, or the JSON
        // with the jobs' text when `renglones`. The caller holds `publicado`.
        Respuesta Estado(bool conMetricas, bool renglones, qint64 edad) const;
    };

    SesionesPanel m_sesiones;
    ProveedorCredenciales m_credenciales;
    std::optional<EstadoTienda> m_estado;
    QElapsedTimer m_leido;
    int m_vigencia = 1000;
    bool m_conectado = false;
    bool m_caido = false;  // the connection was lost (logged once until it recovers)
    QString m_ultimoError; // why the last read failed, when not for the connection
    QElapsedTimer m_ultimoIntento;
    std::optional<bool> m_nombresTerminal; // Terminal.Nombre, ours and optional: asked once
    std::optional<bool> m_papelBajo;       // Impresora.PapelBajo, likewise
    std::optional<bool> m_falla;           // Impresora.Falla, likewise
    qint64 m_pausa = 0;                    // before the next connection attempt, growing while the database stays lost
    Publicado m_publicado;
    // Last, so that it stops before anything its threads read goes.
    ServidorHttp m_http;
};
