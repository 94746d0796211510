#pragma once

#include "credentials/ProveedorCredenciales.h"
#include "panel/EstadoTienda.h"
#include "panel/SesionesPanel.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QPair>
#include <QStringList>
#include <memory>
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
// Two sides. libmicrohttpd's threads speak HTTP and hold the bounds a LAN host
// could otherwise break (idle and half-sent connections closed, connections per
// address and in total, request head and body sizes, the Host header); they
// answer the page's files and a state read within its freshness at once. All
// the rest (database, sessions, event log) runs on the thread that created
// this object, the one thread that uses the one database connection; a
// request waits for it at most kEsperaLectura (readers) or kEsperaAccion
// (sign-in and actions) and then answers 503, so a stalled database holds no
// HTTP thread and no other client.
//
// Reading needs no sign-in. The actions answer 401 without a live session and
// 403 without the session's CSRF token (header X-CSRF-Token) or when the
// operator no longer holds permission 27; each is written to the event log
// with the operator's name. Only a lost connection makes the readers answer
// 503 and the panel reconnect, after a pause that grows while it stays lost.
class ServidorPanel : public QObject {
public:
    // Bounds of the HTTP side.
    static constexpr int kMaximoCuerpo = 4096;         // bytes of a request body (more: 413)
    static constexpr int kMemoriaConexion = 16 * 1024; // a connection's buffer: request head and body
    static constexpr int kInactividad = 10;            // seconds an idle or half-sent connection stays
    static constexpr int kPorDireccion = 64;           // connections from one address
    static constexpr int kEsperaLectura = 3000;        // ms a reader waits for the database
    static constexpr int kEsperaAccion = 10000;        // ms a sign-in or an action waits for it

    explicit ServidorPanel(QObject* padre = nullptr);
    ~ServidorPanel() override;

    // Milliseconds a state read stays fresh (tests and benchmarks set 0).
    void EstablecerVigencia(int milisegundos) { m_vigencia = milisegundos; }
    // Host names the browser may use besides the listening address and
    // "localhost" (a page of another site rebound to our address sends its own).
    void EstablecerNombres(const QStringList& nombres) { m_nombres = nombres; }
    // Connections in total (the descriptors the process may open bound it).
    void EstablecerMaximoConexiones(int maximo) { m_maximoConexiones = maximo; }
    // Reverse proxies whose X-Forwarded-For, -Proto and -Host are believed:
    // the brake, the log and the connections per address then count the
    // client the proxy names. From any other host those headers are ignored.
    void EstablecerProxies(const QList<QHostAddress>& proxies) { m_proxies = proxies; }
    // Serves HTTPS only, with this certificate chain and private key (PEM).
    void EstablecerTls(const QByteArray& certificado, const QByteArray& llave) {
        m_certificado = certificado;
        m_llave = llave;
    }

    // Starts listening; returns the port, or 0 with the reason in `motivo`.
    quint16 Escuchar(const QHostAddress& direccion, quint16 puerto, QString* motivo = nullptr);

    // One request as the database side sees it, and its answer.
    struct Peticion {
        QByteArray metodo;
        QString ruta;
        QList<QPair<QByteArray, QByteArray>> encabezados;
        QByteArray cuerpo;
        QString direccion;   // the client's: behind a trusted proxy, the one it names
        bool segura = false; // came over HTTPS, to us or to a trusted proxy
        QByteArray Encabezado(const QByteArray& nombre) const;
    };
    struct Respuesta {
        int codigo = 200;
        QByteArray tipo;
        QByteArray cuerpo;
        QList<QPair<QByteArray, QByteArray>> encabezados;
    };

    struct Http; // the libmicrohttpd side

private:
    Respuesta Atender(const Peticion& peticion);
    Respuesta Estado(bool metricas, const Peticion& peticion);
    // Whether the request comes from a signed-in operator who still holds
    // the permission: only such a one reads the set-aside jobs' text.
    bool VeRenglones(const Peticion& peticion);
    Respuesta IniciarSesion(const Peticion& peticion);
    // Milliseconds a sign-in waits before it is checked (see SesionesPanel::Demora).
    qint64 Demora(const Peticion& peticion);
    Respuesta Accion(const Peticion& peticion, const QString& recurso, qint64 numero);
    // The state, fresh or cached; null after a database failure (`perdida`
    // tells whether the connection was the thing lost).
    const EstadoTienda* Leer(bool* perdida);
    bool Conectado();
    void Fallo(const QString& descripcion);
    void Perdida();
    // Publishes the answers of the current state for the HTTP side.
    void Publicar();

    SesionesPanel m_sesiones;
    ProveedorCredenciales m_credenciales;
    std::optional<EstadoTienda> m_estado;
    QElapsedTimer m_leido;
    int m_vigencia = 1000;
    QStringList m_nombres;
    int m_maximoConexiones = 1000;
    QList<QHostAddress> m_proxies;
    QByteArray m_certificado, m_llave; // empty: plain HTTP
    bool m_conectado = false;
    bool m_caido = false;  // the connection was lost (logged once until it recovers)
    QString m_ultimoError; // why the last read failed, when not for the connection
    QElapsedTimer m_ultimoIntento;
    std::optional<bool> m_nombresTerminal; // Terminal.Nombre, ours and optional: asked once
    std::optional<bool> m_papelBajo;       // Impresora.PapelBajo, likewise
    std::optional<bool> m_falla;           // Impresora.Falla, likewise
    qint64 m_pausa = 0;                    // before the next connection attempt, growing while the database stays lost
    std::unique_ptr<Http> m_http;
};
