#include "Figura.h"
#include "Pisos.h"
#include "TerminalBench.h"
#include "database/BaseDatos.h"
#include "panel/ServidorPanel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpSocket>
#include <QThread>
#include <arpa/inet.h>
#include <atomic>
#include <fstream>
#include <netinet/in.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

// A shop of 50 terminals with 4 printers each (every tenth printer redirected
// to its backup), 10,000 queued jobs of two lines (one in a hundred set aside,
// one in fifty still being written), on the tests' PostgreSQL server.
namespace {

constexpr int kTerminales = 50;
constexpr int kImpresoras = 200;
constexpr int kTrabajos = 10000;

const char kConsultaTick[] =
    "SELECT IdTrabajo,Tipo,Usuario,imp.Redirigido FROM ColaImpresion col, Impresora imp Where Col.Escribiendo = 0 "
    "AND col.id_impresora = imp.Id_Impresora AND imp.Redirigido in (select id_impresora from impresora where "
    "id_terminal = 1 and esdecheques = 0) ORDER BY IDtrabajo";

void LlenarTienda() {
    Conexion& c = Conexion::Instancia();
    c.Ejecutar(QStringLiteral("INSERT INTO Terminal (ID_Terminal, Nombre) SELECT g, 'Terminal ' || g "
                              "FROM generate_series(1, %1) g")
                   .arg(kTerminales));
    c.Ejecutar(QStringLiteral("INSERT INTO Parametros (Id_Parametro, Valor_Num) VALUES ('TERMINAL', 1)"));
    c.Ejecutar(
        QStringLiteral("INSERT INTO Impresora (Id_Impresora, ID_Terminal, Puerto, Modo, Nombre_Impresora, "
                       "Id_Impresora_Respaldo, Redirigido, Estado_Impresora, esdecheques) "
                       "SELECT g, (g - 1) / 4 + 1, 'COM' || ((g - 1) % 4 + 1), 'E', 'Impresora \"' || g || '\"', "
                       "CASE WHEN g % 4 = 0 THEN g - 3 ELSE g + 1 END, CASE WHEN g % 10 = 0 THEN g - 3 ELSE g END, "
                       "CASE WHEN g % 10 = 0 THEN 'P' ELSE 'A' END, 0 FROM generate_series(1, %1) g")
            .arg(kImpresoras));
    c.Ejecutar(
        QStringLiteral("INSERT INTO ColaImpresion (IdTrabajo, Tipo, Usuario, FechaHora, Escribiendo, id_impresora) "
                       "SELECT g, 'R', 'caja', now() - g * interval '1 second', "
                       "CASE WHEN g % 100 = 0 THEN 2 WHEN g % 50 = 0 THEN -1 ELSE 0 END, (g % %2) + 1 "
                       "FROM generate_series(1, %1) g")
            .arg(kTrabajos)
            .arg(kImpresoras));
    c.Ejecutar(QStringLiteral("INSERT INTO DetalleColaImpresion (IdTrabajo, IdRenglon, Datos) "
                              "SELECT g, r, '<B>Mesa ' || g || '</B> renglon ' || r "
                              "FROM generate_series(1, %1) g, generate_series(1, 2) r")
                   .arg(kTrabajos));
    c.Ejecutar(QStringLiteral("ANALYZE"));
}

// Median time of `vueltas` runs of `trabajo`, in milliseconds.
template <typename F> double MedianaMs(int vueltas, F&& trabajo) {
    std::vector<double> tiempos;
    for (int i = 0; i < vueltas; ++i) {
        QElapsedTimer reloj;
        reloj.start();
        trabajo();
        tiempos.push_back(reloj.nsecsElapsed() / 1e6);
    }
    return Mediana(tiempos);
}

// The panel on its own thread and event loop, as in its own process; the
// client below is a plain HTTP/1.1 client on one kept-alive connection.
class HiloPanel : public QThread {
public:
    explicit HiloPanel(int vigencia) : m_vigencia(vigencia) {}
    std::atomic<quint16> puerto{0};

protected:
    void run() override {
        ServidorPanel panel;
        panel.EstablecerVigencia(m_vigencia);
        panel.EstablecerMaximoConexiones(4096 - 128); // as orlan-panel under its unit's LimitNOFILE
        puerto = panel.Escuchar(QHostAddress::LocalHost, 0);
        exec();
    }

private:
    int m_vigencia;
};

// Answers a second to GET `ruta` for `segundos`.
double RespuestasPorSegundo(quint16 puerto, const QByteArray& ruta, double segundos) {
    QTcpSocket socket;
    const QByteArray peticion = "GET " + ruta + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    int respuestas = 0;
    QElapsedTimer reloj;
    reloj.start();
    while (reloj.elapsed() < segundos * 1000) {
        if (socket.state() != QAbstractSocket::ConnectedState) {
            socket.abort();
            socket.connectToHost(QHostAddress::LocalHost, puerto);
            if (!socket.waitForConnected(5000)) {
                return 0;
            }
        }
        socket.write(peticion);
        QByteArray datos;
        qsizetype fin = -1;
        qint64 largo = -1;
        while (true) {
            if (!socket.waitForReadyRead(10000)) {
                return 0;
            }
            datos += socket.readAll();
            if (fin < 0 && (fin = datos.indexOf("\r\n\r\n")) >= 0) {
                const QByteArray cabecera = datos.left(fin).toLower();
                const qsizetype p = cabecera.indexOf("content-length:");
                largo = p < 0 ? 0 : cabecera.mid(p + 15, cabecera.indexOf("\r\n", p) - p - 15).trimmed().toLongLong();
                if (!datos.startsWith("HTTP/1.1 200")) {
                    std::fprintf(stderr, "%s\n", datos.left(fin).constData());
                    return 0;
                }
            }
            if (fin >= 0 && datos.size() >= fin + 4 + largo) {
                break;
            }
        }
        ++respuestas;
    }
    return respuestas / (reloj.elapsed() / 1000.0);
}

// `cuantas` connections that send nothing, from 127.0.1.1, 127.0.1.2, ... (50
// an address: the panel admits 64 from one). Returns their descriptors.
std::vector<int> ConexionesOciosas(quint16 puerto, int cuantas) {
    std::vector<int> abiertas;
    for (int i = 0; i < cuantas; ++i) {
        const int s = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in desde{};
        desde.sin_family = AF_INET;
        desde.sin_addr.s_addr = htonl((127u << 24) | (1u << 8) | unsigned(i / 50 + 1));
        sockaddr_in hacia{};
        hacia.sin_family = AF_INET;
        hacia.sin_port = htons(puerto);
        hacia.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (s < 0 || ::bind(s, reinterpret_cast<sockaddr*>(&desde), sizeof desde) != 0 ||
            ::connect(s, reinterpret_cast<sockaddr*>(&hacia), sizeof hacia) != 0) {
            if (s >= 0) {
                ::close(s);
            }
            break;
        }
        abiertas.push_back(s);
    }
    return abiertas;
}

// Resident memory of this process, in MB.
double MemoriaMb() {
    std::ifstream estado("/proc/self/status");
    std::string linea;
    while (std::getline(estado, linea)) {
        if (linea.rfind("VmRSS:", 0) == 0) {
            return std::stod(linea.substr(6)) / 1024.0;
        }
    }
    return 0;
}

// Sends a POST of 100 MB, announced or in chunks, until the panel stops
// taking it (a bounded number of writes, each with a time limit).
void CuerpoGrande(quint16 puerto, bool anunciado) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    timeval limite{5, 0};
    ::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &limite, sizeof limite);
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &limite, sizeof limite);
    sockaddr_in hacia{};
    hacia.sin_family = AF_INET;
    hacia.sin_port = htons(puerto);
    hacia.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(s, reinterpret_cast<sockaddr*>(&hacia), sizeof hacia) == 0) {
        const std::string cabeza = anunciado ? "POST /no-existe HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: "
                                               "104857600\r\n\r\n"
                                             : "POST /no-existe HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                               "Transfer-Encoding: chunked\r\n\r\n";
        ::send(s, cabeza.data(), cabeza.size(), MSG_NOSIGNAL);
        const std::string trozo =
            anunciado ? std::string(1 << 20, 'x') : "100000\r\n" + std::string(1 << 20, 'x') + "\r\n";
        for (int i = 0; i < 100; ++i) {
            if (::send(s, trozo.data(), trozo.size(), MSG_NOSIGNAL) <= 0) {
                break;
            }
        }
    }
    ::close(s);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    // Room for the idle connections and their client ends, as the unit gives.
    rlimit limite{};
    ::getrlimit(RLIMIT_NOFILE, &limite);
    limite.rlim_cur = std::min<rlim_t>(limite.rlim_max, 8192);
    ::setrlimit(RLIMIT_NOFILE, &limite);
    TerminalBench terminal(Motor::PostgreSql, 1);
    if (!terminal.Preparar()) {
        std::fprintf(stderr, "%s\n", qPrintable(terminal.Error()));
        return 1;
    }
    LlenarTienda();
    const double segundos = qEnvironmentVariableIntValue("ORLAN_BENCH_SEGUNDOS") > 0
                                ? std::min(5, qEnvironmentVariableIntValue("ORLAN_BENCH_SEGUNDOS"))
                                : 5;

    // Database time of one answer: the four statements of a state read, and
    // as reference the job query each terminal's server runs every 2 s.
    for (int i = 0; i < 20; ++i) {
        LeerEstadoTienda();
    }
    const double lectura = MedianaMs(200, [] { LeerEstadoTienda(); });
    const double tick = MedianaMs(200, [] { Conexion::Instancia().Consultar(kConsultaTick); });
    ImprimirFigura("database time per panel answer (4 statements, 200 printers, 10000 jobs)", lectura, "ms",
                   "one terminal's job query on the same data", tick, "ms", MenosEsMejor::Si);
    ImprimirFigura("database time per panel answer", lectura, "ms", "goal", kMetaPanelBaseDatosMs, "ms",
                   MenosEsMejor::Si);

    // The server reads on its own thread from here on: the connection is
    // handed over by closing it here and letting the panel open it there.
    Conexion::Instancia().Cerrar();
    for (const int vigencia : {1000, 0}) {
        HiloPanel hilo(vigencia);
        hilo.start();
        while (hilo.puerto == 0) {
            QThread::msleep(10);
        }
        const double css = RespuestasPorSegundo(hilo.puerto, "/panel.css", segundos);
        const double estado = RespuestasPorSegundo(hilo.puerto, "/api/estado", segundos);
        const double metricas = RespuestasPorSegundo(hilo.puerto, "/metrics", segundos);
        const std::string como = vigencia ? " (kept 1 s)" : " (database read on every answer)";
        ImprimirFigura("answers/s GET /api/estado" + como, estado, "1/s", "GET /panel.css, no database", css, "1/s");
        ImprimirFigura("answers/s GET /metrics" + como, metricas, "1/s", "GET /panel.css, no database", css, "1/s");
        ImprimirFigura("answers/s GET /api/estado" + como, estado, "1/s", "goal", kMetaPanelRespuestasPorSegundo,
                       "1/s");
        if (vigencia) {
            // Readers while 1,000 connections a LAN host opened sit idle.
            const std::vector<int> ociosas = ConexionesOciosas(hilo.puerto, 1000);
            const double conOciosas = RespuestasPorSegundo(hilo.puerto, "/api/estado", segundos);
            ImprimirFigura("answers/s GET /api/estado with " + std::to_string(ociosas.size()) +
                               " idle connections held" + como,
                           conOciosas, "1/s", "the same without them", estado, "1/s");
            for (const int s : ociosas) {
                ::close(s);
            }
            // Memory while clients send bodies of 100 MB, announced and in chunks.
            const double antes = MemoriaMb();
            CuerpoGrande(hilo.puerto, true);
            CuerpoGrande(hilo.puerto, false);
            ImprimirFigura("memory growth under two 100 MB request bodies", MemoriaMb() - antes, "MB", "one body", 100,
                           "MB", MenosEsMejor::Si);
            // One read a second shared by every answer of that second.
            ImprimirFigura("database time per answer, kept 1 s, at the rate above", lectura / estado, "ms", "goal",
                           kMetaPanelBaseDatosMs, "ms", MenosEsMejor::Si);
        }
        hilo.quit();
        hilo.wait();
        Conexion::Instancia().Cerrar();
    }
    return 0;
}
