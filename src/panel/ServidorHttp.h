#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

class QObject;

// The status panel's HTTP side. libmicrohttpd's threads speak HTTP and hold
// the bounds a LAN host could otherwise break (idle and half-sent connections
// closed, connections per address and in total, request head and body sizes,
// the Host header, heads two readers could read apart). A request that passes
// them goes to the routes twice at most: its head on libmicrohttpd's thread,
// which the routes may answer at once from what they published; else the
// whole request on the thread of `contexto`, which it waits for at most
// kEsperaLectura (readers) or kEsperaAccion (POST: sign-in and actions)
// before it is answered 503, so a stalled database holds no HTTP thread and
// no other client.
class ServidorHttp {
public:
    // Bounds of the HTTP side.
    static constexpr int kMaximoCuerpo = 4096;         // bytes of a request body (more: 413)
    static constexpr int kMemoriaConexion = 16 * 1024; // a connection's buffer: request head and body
    static constexpr int kInactividad = 10;            // seconds an idle or half-sent connection stays
    static constexpr int kPorDireccion = 64;           // connections from one address
    static constexpr int kEsperaLectura = 3000;        // ms a reader waits for the database
    static constexpr int kEsperaAccion = 10000;        // ms a sign-in or an action waits for it

    // One request as the routes see it, and its answer.
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

        static constexpr const char* kTipoJson = "application/json; charset=utf-8";
        static Respuesta Json(const QJsonObject& objeto, int codigo = 200);
        // {"error": texto}
        static Respuesta Error(const QString& texto, int codigo);
    };

    // What the server answers to each request that passed the HTTP bounds.
    class Rutas {
    public:
        // The answer decided from the head alone, if any; on libmicrohttpd's
        // thread, so it reads only what is safe to share.
        virtual std::optional<Respuesta> Inmediata(const Peticion& peticion) = 0;
        // Milliseconds the request waits on the routes' thread before it is
        // answered (that thread stays free meanwhile).
        virtual qint64 Demora(const Peticion& peticion) = 0;
        // The answer, on the routes' thread.
        virtual Respuesta Atender(const Peticion& peticion) = 0;

    protected:
        ~Rutas() = default;
    };

    // `rutas` answers on the thread of `contexto`; both outlive this object.
    ServidorHttp(Rutas& rutas, QObject* contexto);
    // Stops listening; the requests still waiting are answered 503.
    ~ServidorHttp();

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

    struct Http; // the libmicrohttpd side

private:
    Rutas& m_rutas;
    QObject* m_contexto;
    QStringList m_nombres;
    int m_maximoConexiones = 1000;
    QList<QHostAddress> m_proxies;
    QByteArray m_certificado, m_llave; // empty: plain HTTP
    std::unique_ptr<Http> m_http;
};
