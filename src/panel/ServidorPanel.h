#pragma once

#include "panel/EstadoTienda.h"
#include "panel/SesionesPanel.h"
#include "startup/ProveedorCredenciales.h"

#include <QAbstractHttpServer>
#include <QElapsedTimer>
#include <QHttpServerResponse>
#include <optional>

// The status panel's web server, on the one database connection:
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
// Reading needs no sign-in. The actions answer 401 without a live session and
// 403 without the session's CSRF token (header X-CSRF-Token) or when the
// operator no longer holds permission 27; each is written to the event log
// with the operator's name. The state is read again at most once a second;
// a lost database makes the readers answer 503 and is reconnected on a later
// request.
class ServidorPanel : public QAbstractHttpServer {
public:
    explicit ServidorPanel(QObject* padre = nullptr);

    // Milliseconds a state read stays fresh (tests and benchmarks set 0).
    void EstablecerVigencia(int milisegundos) { m_vigencia = milisegundos; }

protected:
    bool handleRequest(const QHttpServerRequest& peticion, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& peticion, QTcpSocket* socket) override;

private:
    QHttpServerResponse Atender(const QHttpServerRequest& peticion);
    QHttpServerResponse Estado(bool metricas);
    QHttpServerResponse IniciarSesion(const QHttpServerRequest& peticion);
    QHttpServerResponse Accion(const QHttpServerRequest& peticion, const QString& recurso, qint64 numero);
    // The state, fresh or cached; null after a database failure.
    const EstadoTienda* Leer();
    bool Conectado();
    void Fallo(const QString& descripcion);

    SesionesPanel m_sesiones;
    ProveedorCredenciales m_credenciales;
    std::optional<EstadoTienda> m_estado;
    QByteArray m_cuerpoJson; // the answers of m_estado, written on first use
    QByteArray m_cuerpoMetricas;
    QElapsedTimer m_leido;
    int m_vigencia = 1000;
    bool m_conectado = false;
    bool m_caido = false; // the last read failed (logged once until it recovers)
    QElapsedTimer m_ultimoIntento;
};
