#include "Figura.h"
#include "FlotaBench.h"
#include "MedidasProceso.h"
#include "Pisos.h"
#include "TerminalBench.h"
#include "credentials/ProveedorCredenciales.h"
#include "platform/Ajustes.h"
#include "server/ServidorCola.h"
#include "support/ErrorEjecucion.h"
#include "testsupport/DatosCola.h"
#include "testsupport/ServidorPostgres.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <algorithm>
#include <csignal>
#include <memory>
#include <vector>

// Many terminals on one PostgreSQL server: 10, 50 and 200 real
// `orlan-cola --servicio` processes, each with its two printers on its own
// simulated parallel port, idle. Per size: the database server's CPU (the
// postmaster and every backend), the CPU of one terminal, and the time of an
// empty tick of one more terminal (this process) while the others poll. At 10
// terminals also the latency from a writer's release of a job (Escribiendo =
// 0) to its first byte at the printer, one job a second per terminal. Last,
// the job query's plan at 100,000 queued lines. ORLAN_BENCH_SEGUNDOS shortens
// each window (60 s).

namespace {

constexpr int kTerminalPropia = 1000;

// The run time of the postmaster and of each of its children, by pid.
QMap<qint64, qint64> CpuServidor(qint64 postmaster) {
    QMap<qint64, qint64> tiempos;
    tiempos[postmaster] = TiempoCpuNs(postmaster).value_or(0);
    for (const QString& p : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(QStringLiteral("/proc/") + p + QStringLiteral("/stat"));
        if (!stat.open(QIODevice::ReadOnly)) {
            continue;
        }
        const QByteArray texto = stat.readAll();
        const QList<QByteArray> campos = texto.mid(texto.lastIndexOf(')') + 2).split(' ');
        if (campos.size() > 1 && campos[1].toLongLong() == postmaster) {
            tiempos[p.toLongLong()] = TiempoCpuNs(p.toLongLong()).value_or(0);
        }
    }
    return tiempos;
}

class Escala {
public:
    int Correr();

private:
    bool Agregar(int hasta);
    // Returns the database server's CPU share.
    double Inactivas(int n, const std::string& modo = std::string());
    void Latencia();
    void Plan();

    int m_segundos = 60;
    TerminalBench m_propia{Motor::PostgreSql, kTerminalPropia};
    FlotaBench m_flota{Motor::PostgreSql, m_propia};
    std::vector<std::unique_ptr<TerminalPrueba>>& m_terminales = m_flota.Terminales();
};

// Starts terminals, with their rows, until there are `hasta`, and waits
// until all serve.
bool Escala::Agregar(int hasta) {
    return m_flota.Agregar(hasta, 120, [](int n, TerminalPrueba&) {
        Conexion::Instancia().Ejecutar(QStringLiteral("INSERT INTO Terminal (ID_Terminal) VALUES (%1)").arg(n));
        InsertarImpresora(2 * n - 1, n, 2 * n);
        InsertarImpresora(2 * n, n, 2 * n - 1);
    });
}

double Escala::Inactivas(int n, const std::string& modo) {
    Pasar(3000);
    ServidorPostgres& pg = ServidorPostgres::Compartido();
    const QMap<qint64, qint64> bdAntes = CpuServidor(pg.Pid());
    std::vector<qint64> antes;
    for (auto& t : m_terminales) {
        antes.push_back(TiempoCpuNs(t->Pid()).value_or(0));
    }
    QElapsedTimer ventana;
    ventana.start();
    Pasar(m_segundos * 1000LL);
    const double segundos = ventana.nsecsElapsed() / 1e9;
    const QMap<qint64, qint64> bdDespues = CpuServidor(pg.Pid());
    qint64 bd = 0;
    for (auto it = bdDespues.cbegin(); it != bdDespues.cend(); ++it) {
        bd += it.value() - bdAntes.value(it.key(), 0);
    }
    qint64 terminales = 0;
    for (size_t i = 0; i < m_terminales.size(); ++i) {
        terminales += TiempoCpuNs(m_terminales[i]->Pid()).value_or(antes[i]) - antes[i];
    }
    const double bdPorciento = bd / 1e9 / segundos * 100;
    const double terminalPorciento = terminales / 1e9 / segundos * 100 / n;

    // An empty tick of one more terminal, while the others poll.
    ServidorCola servidor(kTerminalPropia);
    servidor.EstablecerActivo(true);
    std::vector<double> ticks;
    for (int i = 0; i < 200; ++i) {
        QElapsedTimer t;
        t.start();
        servidor.Timer1_Timer();
        ticks.push_back(t.nsecsElapsed() / 1e6);
    }
    servidor.EstablecerActivo(false);

    const std::string donde =
        " (" + std::to_string(n) + " idle terminals" + modo + ", " + std::to_string(m_segundos) + " s)";
    ImprimirFigura("database server CPU" + donde, bdPorciento, "% of one core",
                   "goal at " + std::to_string(kMetaTerminales) + " terminals", kMetaBaseDatosPorciento,
                   "% of one core", MenosEsMejor::Si);
    ImprimirFigura("database server CPU per terminal" + donde, bdPorciento / n, "% of one core", "goal per terminal",
                   kMetaBaseDatosPorciento / kMetaTerminales, "% of one core", MenosEsMejor::Si);
    ImprimirFigura("orlan-cola CPU per terminal" + donde, terminalPorciento, "% of one core", "floor",
                   kPisoCpuPorciento, "% of one core", MenosEsMejor::Si);
    ImprimirFigura("empty tick, median of 200" + donde, Percentil(ticks, 0.5), "ms", "floor", kPisoTickMs, "ms",
                   MenosEsMejor::Si);
    ImprimirFigura("empty tick, p99 of 200" + donde, Percentil(ticks, 0.99), "ms", "floor", kPisoTickMs, "ms",
                   MenosEsMejor::Si);
    return bdPorciento;
}

// One job a second for each of the first ten terminals, spread over the
// second: release to first byte.
void Escala::Latencia() {
    const std::vector<double> latencias = m_flota.Latencias(10, m_segundos);
    if (latencias.empty()) {
        return;
    }
    const std::string donde = " (10 terminals, one job a second each, " + std::to_string(latencias.size()) + " jobs)";
    ImprimirFigura("release to first byte at the printer, p50" + donde, Percentil(latencias, 0.5), "ms",
                   "poll interval + 50 ms", kMetaLatenciaMs, "ms", MenosEsMejor::Si);
    ImprimirFigura("release to first byte at the printer, p99" + donde, Percentil(latencias, 0.99), "ms",
                   "poll interval + 50 ms", kMetaLatenciaMs, "ms", MenosEsMejor::Si);
}

// The job query at 100,000 queued lines (20,000 jobs of 5 lines for the 400
// printers of 200 terminals), as planned, against the same query with index
// scans switched off.
void Escala::Plan() {
    Conexion& c = Conexion::Instancia();
    c.Ejecutar("DELETE FROM DetalleColaImpresion");
    c.Ejecutar("DELETE FROM ColaImpresion");
    c.Ejecutar("INSERT INTO ColaImpresion (IdTrabajo, Tipo, Usuario, Escribiendo, id_impresora) "
               "SELECT g, 'R', 'caja', 0, 1 + g % 400 FROM generate_series(1, 20000) g");
    c.Ejecutar("INSERT INTO DetalleColaImpresion (IdTrabajo, IdRenglon, Datos) "
               "SELECT j, r, 'renglon ' || r FROM generate_series(1, 20000) j, generate_series(1, 5) r");
    c.Ejecutar("ANALYZE");
    const QString consulta =
        QStringLiteral("SELECT IdTrabajo,Tipo,Usuario,imp.Redirigido FROM ColaImpresion col, Impresora imp Where "
                       "Col.Escribiendo = 0 AND col.id_impresora = imp.Id_Impresora AND imp.Redirigido in (select "
                       "id_impresora from impresora where id_terminal = 7 and esdecheques = 0) ORDER BY IDtrabajo");
    auto medir = [&](QString* plan) {
        std::vector<double> tiempos;
        for (int i = 0; i < 50; ++i) {
            QElapsedTimer t;
            t.start();
            c.Consultar(consulta);
            tiempos.push_back(t.nsecsElapsed() / 1e6);
        }
        plan->clear();
        for (auto filas = c.Consultar("EXPLAIN " + consulta); !filas->Fin(); filas->MoveNext()) {
            *plan += filas->Campo(0).toString() + u'\n';
        }
        return Percentil(tiempos, 0.5);
    };
    QString plan, planSinIndices;
    const double conIndices = medir(&plan);
    c.Ejecutar("SET enable_indexscan = off");
    c.Ejecutar("SET enable_bitmapscan = off");
    const double sinIndices = medir(&planSinIndices);
    c.Ejecutar("RESET enable_indexscan");
    c.Ejecutar("RESET enable_bitmapscan");
    std::fprintf(stderr, "plan of the job query at 100,000 queued lines:\n%s", qPrintable(plan));
    const bool usaIndice = plan.contains("ix_colaimpresion_impresora") && plan.contains("ix_impresora_terminal");
    ImprimirFigura(std::string("job query at 100,000 queued lines, median of 50, ") +
                       (usaIndice ? "index scans on ColaImpresion and Impresora" : "NOT using the job indexes"),
                   conIndices, "ms", "same query with index scans off", sinIndices, "ms", MenosEsMejor::Si);
}

int Escala::Correr() {
    bool numero = false;
    const int segundos = qEnvironmentVariableIntValue("ORLAN_BENCH_SEGUNDOS", &numero);
    if (numero && segundos > 0) {
        m_segundos = segundos;
    }
    if (!m_propia.Preparar()) {
        std::fprintf(stderr, "%s\n", qPrintable(m_propia.Error()));
        return 1;
    }
    try {
        Conexion::Instancia().Ejecutar("INSERT INTO Parametros (Id_Parametro, Valor_Num) VALUES ('TERMINAL', 1)");
        Conexion::Instancia().Ejecutar(
            QStringLiteral("INSERT INTO Terminal (ID_Terminal) VALUES (%1)").arg(kTerminalPropia));
        InsertarImpresora(5001, kTerminalPropia, 5002);
        InsertarImpresora(5002, kTerminalPropia, 5001);
        double sinDespertar = 0;
        for (int n : {10, 50, 200}) {
            if (!Agregar(n)) {
                return 1;
            }
            sinDespertar = Inactivas(n);
            if (n == 10) {
                Latencia();
            }
        }
        // The same terminals also woken by the database ([Cola] Despertar=1):
        // each holds a LISTEN connection that waits without a query.
        for (auto& t : m_terminales) {
            t->Detener();
            t->Ajuste(QStringLiteral("Cola"), QStringLiteral("Despertar"), QStringLiteral("1"));
            t->Iniciar();
        }
        // Two connections a terminal now; every one of them listens.
        const QString escuchas = "SELECT COUNT(*) FROM pg_stat_activity WHERE application_name = 'orlan-cola escucha' "
                                 "AND query LIKE 'LISTEN%'";
        if (!Esperar([&] { return Lista(escuchas).toInt() == kMetaTerminales; }, 120)) {
            std::fprintf(stderr, "solo %s terminales escuchan\n", qPrintable(Lista(escuchas)));
            return 1;
        }
        const double conDespertar = Inactivas(kMetaTerminales, ", Despertar=1");
        ImprimirFigura("database server CPU, 200 idle terminals with Despertar=1", conDespertar, "% of one core",
                       "Despertar=0", sinDespertar, "% of one core", MenosEsMejor::Si);
        for (auto& t : m_terminales) {
            if (t->Pid() > 0) {
                ::kill(static_cast<pid_t>(t->Pid()), SIGTERM);
            }
        }
        for (auto& t : m_terminales) {
            t->Detener();
        }
        Plan();
    } catch (const ErrorEjecucion& e) {
        std::fprintf(stderr, "%s\n", qPrintable(e.Descripcion()));
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    return Escala().Correr();
}
