#include "Figura.h"
#include "FlotaBench.h"
#include "Pisos.h"
#include "TerminalBench.h"
#include "credentials/ProveedorCredenciales.h"
#include "support/ErrorEjecucion.h"
#include "testsupport/DatosCola.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QThread>
#include <algorithm>
#include <memory>
#include <vector>

// Ten real `orlan-cola --servicio` terminals on one database, one job a second
// each, spread over the second: the time from a writer's release of a job
// (Escribiendo = 0 committed) to its first byte at the printer, with
// [Cola] Despertar off (the reference, the 2-s poll) and on, in one run. On
// PostgreSQL also the database connections the terminals hold either way,
// and how twenty terminals started together spread their polls.
// ORLAN_BENCH_SEGUNDOS sets each window (30 s).

namespace {

constexpr int kTerminales = 10;
// Terminals started together for the spread of their polls.
constexpr int kJuntas = 20;

struct Medida {
    std::vector<double> latencias;
    int conexiones = 0;
};

class Banco {
public:
    explicit Banco(Motor motor) : m_motor(motor), m_propia(motor, 1000), m_flota(motor, m_propia) {}
    int Correr();

private:
    bool Arrancar(bool despertar, int cuantas = kTerminales);
    void Dispersion();
    Medida Medir();

    Motor m_motor;
    TerminalBench m_propia;
    FlotaBench m_flota;
    int m_segundos = 30;
};

bool Banco::Arrancar(bool despertar, int cuantas) {
    m_flota.Detener();
    const bool arrancaron = m_flota.Agregar(cuantas, 60, [&](int, TerminalPrueba& t) {
        t.Ajuste(QStringLiteral("Cola"), QStringLiteral("Despertar"), despertar ? QStringLiteral("1") : "0");
    });
    Pasar(3000); // the listening connections come up
    return arrancaron;
}

// Twenty terminals started within a few milliseconds: where in the 2-s period
// each one's last job query started (pg_stat_activity), and the most of them
// that fall within 10 ms of each other. In lock step that is all twenty.
void Banco::Dispersion() {
    Pasar(6000);
    std::vector<qint64> fases;
    auto consulta = Conexion::Instancia().Consultar(
        "SELECT (EXTRACT(EPOCH FROM query_start) * 1000)::bigint % 2000 FROM pg_stat_activity WHERE query LIKE "
        "'SELECT IdTrabajo%' AND datname = current_database()");
    for (; !consulta->Fin(); consulta->MoveNext()) {
        fases.push_back(consulta->Campo(0).toLongLong());
    }
    int juntas = 0;
    for (qint64 a : fases) {
        int cerca = 0;
        for (qint64 b : fases) {
            const qint64 d = (b - a + 2000) % 2000;
            cerca += d < 10 ? 1 : 0;
        }
        juntas = std::max(juntas, cerca);
    }
    ImprimirFigura("most of " + std::to_string(fases.size()) +
                       " terminals started together whose job queries fall within 10 ms",
                   juntas, "terminals", "lock step", kJuntas, "terminals", MenosEsMejor::Si);
}

Medida Banco::Medir() {
    Medida medida;
    medida.latencias = m_flota.Latencias(kTerminales, m_segundos, [&] {
        if (m_motor == Motor::PostgreSql) {
            medida.conexiones = Lista("SELECT COUNT(*) FROM pg_stat_activity WHERE datname = current_database() AND "
                                      "pid <> pg_backend_pid()")
                                    .toInt();
        }
    });
    return medida;
}

int Banco::Correr() {
    bool numero = false;
    const int segundos = qEnvironmentVariableIntValue("ORLAN_BENCH_SEGUNDOS", &numero);
    if (numero && segundos > 0) {
        m_segundos = segundos;
    }
    if (!m_propia.Preparar()) {
        std::fprintf(stderr, "%s\n", qPrintable(m_propia.Error()));
        return 1;
    }
    const std::string nombre = m_motor == Motor::PostgreSql ? "postgresql" : "sqlite";
    try {
        Conexion& c = Conexion::Instancia();
        c.Ejecutar("INSERT INTO Parametros (Id_Parametro, Valor_Num) VALUES ('TERMINAL', 1)");
        for (int n = 1; n <= kJuntas; ++n) {
            c.Ejecutar(QStringLiteral("INSERT INTO Terminal (ID_Terminal) VALUES (%1)").arg(n));
            InsertarImpresora(2 * n - 1, n, 2 * n);
            InsertarImpresora(2 * n, n, 2 * n - 1);
        }
        Medida apagado, encendido;
        for (bool despertar : {false, true}) {
            if (!Arrancar(despertar)) {
                return 1;
            }
            (despertar ? encendido : apagado) = Medir();
            m_flota.Detener();
        }
        const std::string donde = " (" + nombre + ", 10 terminals, one job a second each, " +
                                  std::to_string(encendido.latencias.size()) + " jobs)";
        for (const auto& [cual, p] : {std::pair{"p50", 0.5}, {"p99", 0.99}, {"max", 1.0}}) {
            ImprimirFigura(std::string("release to first byte with Despertar=1, ") + cual + donde,
                           Percentil(encendido.latencias, p), "ms", std::string("Despertar=0, ") + cual,
                           Percentil(apagado.latencias, p), "ms", MenosEsMejor::Si);
        }
        ImprimirFigura("release to first byte with Despertar=1, p99" + donde, Percentil(encendido.latencias, 0.99),
                       "ms", "goal", kMetaDespertarMs, "ms", MenosEsMejor::Si);
        if (m_motor == Motor::PostgreSql) {
            ImprimirFigura("database connections of 10 terminals with Despertar=1", encendido.conexiones, "connections",
                           "Despertar=0", apagado.conexiones, "connections", MenosEsMejor::Si);
            if (!Arrancar(false, kJuntas)) {
                return 1;
            }
            Dispersion();
            m_flota.Detener();
        }
    } catch (const ErrorEjecucion& e) {
        std::fprintf(stderr, "%s\n", qPrintable(e.Descripcion()));
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    return Banco(*MotorPorNombre(QStringLiteral(ORLAN_BENCH_MOTOR))).Correr();
}
