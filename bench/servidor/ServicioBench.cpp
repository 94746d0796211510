#include "Figura.h"
#include "MedidasProceso.h"
#include "Pisos.h"
#include "TerminalBench.h"
#include "platform/Ajustes.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <algorithm>
#include <csignal>
#include <optional>
#include <unistd.h>

// The real orlan-cola --servicio left alone on a terminal with an empty queue
// and a printer on the simulated parallel port: the CPU it takes (its own
// user and system time, not the database server's) and its resident memory.
// ORLAN_BENCH_SEGUNDOS shortens the window of 60 seconds for a quick check.

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const std::string motor = ORLAN_BENCH_MOTOR;
    TerminalBench terminal(*MotorPorNombre(ORLAN_BENCH_MOTOR), 1);
    if (!terminal.PrepararConImpresoras()) {
        std::fprintf(stderr, "%s\n", qPrintable(terminal.Error()));
        return 1;
    }

    bool numero = false;
    int segundos = qEnvironmentVariableIntValue("ORLAN_BENCH_SEGUNDOS", &numero);
    if (!numero || segundos <= 0) {
        segundos = 60;
    }

    // The service inherits this process's environment: the same settings,
    // credentials, drive root and driver registry.
    QProcess servicio;
    servicio.setProcessChannelMode(QProcess::MergedChannels);
    servicio.start(QStringLiteral(ORLAN_COLA_PROGRAMA), {QStringLiteral("--servicio")});
    QByteArray salida;
    QElapsedTimer arranque;
    arranque.start();
    while (!salida.contains("sirviendo la cola") && arranque.elapsed() < 15000 &&
           servicio.state() != QProcess::NotRunning) {
        servicio.waitForReadyRead(100);
        salida += servicio.readAll();
    }
    if (!salida.contains("sirviendo la cola")) {
        std::fprintf(stderr, "orlan-cola no arranco:\n%s\n", salida.constData());
        servicio.kill();
        servicio.waitForFinished(5000);
        return 1;
    }
    const qint64 pid = servicio.processId();

    // The window starts once the service is serving, so start-up is left out.
    const std::optional<qint64> cpuInicio = TiempoCpu(pid);
    const std::optional<qint64> nsInicio = TiempoCpuNs(pid);
    QElapsedTimer ventana;
    ventana.start();
    while (ventana.elapsed() < segundos * 1000LL && servicio.state() != QProcess::NotRunning) {
        servicio.waitForReadyRead(std::min<qint64>(500, segundos * 1000LL - ventana.elapsed()) + 1);
        salida += servicio.readAll();
    }
    const std::optional<qint64> cpuFin = TiempoCpu(pid);
    const std::optional<qint64> nsFin = TiempoCpuNs(pid);
    const double transcurrido = ventana.nsecsElapsed() / 1e9;
    const std::optional<double> rss = MemoriaMb(pid, "VmRSS");
    const std::optional<double> pico = MemoriaMb(pid, "VmHWM");
    const bool vivo = servicio.state() != QProcess::NotRunning;

    ::kill(static_cast<pid_t>(pid), SIGTERM);
    if (!servicio.waitForFinished(15000)) {
        servicio.kill();
        servicio.waitForFinished(5000);
    }
    salida += servicio.readAll();
    if (!vivo || !cpuInicio || !cpuFin || !nsInicio || !nsFin || !rss || !pico) {
        std::fprintf(stderr, "orlan-cola termino antes de tiempo o /proc no se pudo leer:\n%s\n", salida.constData());
        return 1;
    }

    // The kernel counts utime and stime in clock ticks (10 ms), sampled: an
    // idle service may be charged none in a minute. One tick is shown then,
    // never zero; the scheduler's run time below is the exact figure.
    const qint64 ticks = *cpuFin - *cpuInicio;
    const double cpu = std::max<qint64>(ticks, 1) / static_cast<double>(::sysconf(_SC_CLK_TCK)) / transcurrido * 100;
    const double cpuFino = (*nsFin - *nsInicio) / 1e9 / transcurrido * 100;
    const std::string donde = " (" + motor + ", empty queue, " + std::to_string(segundos) + " s)";
    ImprimirFigura("idle orlan-cola --servicio CPU, utime+stime" + donde +
                       (ticks == 0 ? ", no clock tick counted: one shown" : ""),
                   cpu, "% of one core", "floor", kPisoCpuPorciento, "% of one core", MenosEsMejor::Si);
    ImprimirFigura("idle orlan-cola --servicio CPU, scheduler run time of its threads" + donde, cpuFino,
                   "% of one core", "floor", kPisoCpuPorciento, "% of one core", MenosEsMejor::Si);
    ImprimirFigura("idle orlan-cola --servicio resident memory VmRSS" + donde, *rss, "MB", "floor",
                   kPisoMemoriaServicioMb, "MB", MenosEsMejor::Si);
    ImprimirFigura("idle orlan-cola --servicio peak resident memory VmHWM" + donde, *pico, "MB", "floor",
                   kPisoMemoriaServicioMb, "MB", MenosEsMejor::Si);
    return 0;
}
