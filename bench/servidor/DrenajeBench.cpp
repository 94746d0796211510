#include "Figura.h"
#include "TerminalBench.h"
#include "database/BaseDatos.h"
#include "ports/PuertoES.h"
#include "ports/PuertoSimulado.h"
#include "server/ServidorCola.h"
#include "support/ErrorEjecucion.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <vector>

// A backlog that has to drain: 10,000 jobs of 30 lines for this terminal and
// 100,020 lines of another terminal's jobs (400,020 lines in all), served by
// the real tick to the simulated parallel port. Figures: the header cleanup at
// the full backlog against the NOT IN form it replaces, and the time per job
// over the last 500 jobs of the drain against the first 500.

namespace {

constexpr int kTrabajos = 10000;
constexpr int kAjenos = 3334;
constexpr int kRenglones = 30;
constexpr int kTramo = 500;
// The NOT IN form can take minutes on PostgreSQL at this size; it is cut here
// and reported as at least this long.
constexpr int kTopeReferenciaS = 20;

double Milisegundos(const QString& sql, int veces) {
    std::vector<double> tiempos;
    for (int i = 0; i < veces; ++i) {
        QElapsedTimer reloj;
        reloj.start();
        Conexion::Instancia().Ejecutar(sql);
        tiempos.push_back(reloj.nsecsElapsed() / 1e6);
    }
    return Mediana(tiempos);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const Motor motor = *MotorPorNombre(QStringLiteral(ORLAN_BENCH_MOTOR));
    const std::string nombre = ORLAN_BENCH_MOTOR;
    TerminalBench terminal(motor, 1);
    if (!terminal.PrepararConImpresoras()) {
        std::fprintf(stderr, "bench_drenaje: %s\n", terminal.Error().toLocal8Bit().constData());
        return 1;
    }
    Conexion& c = Conexion::Instancia();
    try {
        c.Ejecutar("INSERT INTO Terminal (ID_Terminal) VALUES (2)");
        c.Ejecutar("INSERT INTO Impresora (Id_Impresora, ID_Terminal, Puerto, Modo, Id_Impresora_Respaldo, "
                   "Redirigido, Estado_Impresora, esdecheques) VALUES (3, 2, 'LPT1', 'E', NULL, 3, 'A', 0)");
        const QString numeros = QStringLiteral("WITH RECURSIVE n(g) AS (SELECT 1 UNION ALL SELECT g + 1 FROM n WHERE g "
                                               "< %1), r(k) AS (SELECT 1 UNION ALL SELECT k + 1 FROM r WHERE k < %2) ");
        c.Ejecutar(numeros.arg(kTrabajos).arg(kRenglones) +
                   "INSERT INTO ColaImpresion (IdTrabajo, Tipo, Usuario, Escribiendo, id_impresora) "
                   "SELECT g, 'R', 'caja', 0, 1 FROM n");
        c.Ejecutar(numeros.arg(kTrabajos).arg(kRenglones) +
                   "INSERT INTO DetalleColaImpresion (IdTrabajo, IdRenglon, Datos) "
                   "SELECT g, k, 'Platillo del dia con guarnicion    125.00' FROM n, r");
        c.Ejecutar(numeros.arg(kAjenos).arg(kRenglones) +
                   "INSERT INTO ColaImpresion (IdTrabajo, Tipo, Usuario, Escribiendo, id_impresora) "
                   "SELECT 100000 + g, 'R', 'caja', 0, 3 FROM n");
        c.Ejecutar(numeros.arg(kAjenos).arg(kRenglones) +
                   "INSERT INTO DetalleColaImpresion (IdTrabajo, IdRenglon, Datos) "
                   "SELECT 100000 + g, k, 'otra terminal' FROM n, r");
        c.Ejecutar("ANALYZE");

        const double limpieza = Milisegundos(SentenciaLimpieza(), 7);
        double referencia = kTopeReferenciaS * 1000.0;
        if (motor == Motor::PostgreSql) {
            c.Ejecutar(QStringLiteral("SET statement_timeout = %1").arg(kTopeReferenciaS * 1000));
            const auto plan = c.Consultar("EXPLAIN ANALYZE " + SentenciaLimpieza());
            for (; !plan->Fin(); plan->MoveNext()) {
                std::printf("    %s\n", plan->Campo(0).toString().toUtf8().constData());
            }
        }
        try {
            referencia = Milisegundos("DELETE FROM ColaImpresion WHERE IdTrabajo NOT IN (SELECT IdTrabajo FROM "
                                      "DetalleColaImpresion) AND Escribiendo=0",
                                      motor == Motor::PostgreSql ? 1 : 3);
        } catch (const ErrorEjecucion&) {
            // Cut at the limit: the reference is at least that long.
        }
        if (motor == Motor::PostgreSql) {
            c.Ejecutar("SET statement_timeout = 0");
        }
        ImprimirFigura("header cleanup at 400,020 queued lines (" + nombre + ")", limpieza, "ms", "NOT IN form",
                       referencia, "ms", MenosEsMejor::Si);

        PuertoSimulado::Opciones opciones;
        opciones.archivos = false;
        PuertoSimulado& puerto = PuertoSimulado::Instalar(opciones);
        ServidorCola servidor(1);
        servidor.Timer1().stop();
        std::vector<double> fin;
        fin.reserve(kTrabajos);
        QElapsedTimer reloj;
        QObject::connect(&servidor, &ServidorCola::TrabajoImpreso, [&] {
            fin.push_back(reloj.nsecsElapsed() / 1e6);
            puerto.LimpiarCaptura();
        });
        if (!servidor.Cargar()) {
            std::fprintf(stderr, "bench_drenaje: no se cargaron las impresoras\n");
            return 1;
        }
        reloj.start();
        while (fin.size() < size_t(kTrabajos) && reloj.elapsed() < 1800000) {
            servidor.Timer1_Timer();
        }
        PuertoES::Establecer(nullptr);
        if (fin.size() < size_t(kTrabajos)) {
            std::fprintf(stderr, "bench_drenaje: solo %zu trabajos impresos\n", fin.size());
            return 1;
        }
        const double primeros = fin[kTramo - 1] / kTramo;
        const double ultimos = (fin[kTrabajos - 1] - fin[kTrabajos - 1 - kTramo]) / kTramo;
        ImprimirFigura("drain of 10,000 jobs, last 500 (" + nombre + ")", ultimos, "ms/job", "first 500", primeros,
                       "ms/job", MenosEsMejor::Si);
    } catch (const ErrorEjecucion& e) {
        std::fprintf(stderr, "bench_drenaje: %s\n", e.Descripcion().toLocal8Bit().constData());
        return 1;
    }
    return 0;
}
