#include "Figura.h"
#include "TerminalBench.h"
#include "platform/Ajustes.h"
#include "support/ErrorEjecucion.h"

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

namespace {

constexpr double kPisoCpuPorciento = 0.5;
constexpr double kPisoMemoriaMb = 40.0;

// utime + stime of a process, in clock ticks (fields 14 and 15 of
// /proc/<pid>/stat, counted after the command name, which may hold spaces).
std::optional<qint64> TiempoCpu(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    const QByteArray stat = f.readAll();
    const QList<QByteArray> campos = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    // After the name: field 3 (state) is campos[0], so field n is campos[n - 3].
    if (campos.size() < 13) {
        return std::nullopt;
    }
    return campos[11].toLongLong() + campos[12].toLongLong();
}

// Time on the CPU of every thread of a process, in nanoseconds (first field of
// /proc/<pid>/task/<tid>/schedstat): the same time as utime + stime, without
// the clock tick's 10 ms grain.
std::optional<qint64> TiempoCpuNs(qint64 pid) {
    const QDir tareas(QStringLiteral("/proc/%1/task").arg(pid));
    const QStringList hilos = tareas.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    if (hilos.isEmpty()) {
        return std::nullopt;
    }
    qint64 total = 0;
    for (const QString& hilo : hilos) {
        QFile f(tareas.filePath(hilo + QStringLiteral("/schedstat")));
        if (!f.open(QIODevice::ReadOnly)) {
            return std::nullopt;
        }
        total += f.readAll().split(' ').first().toLongLong();
    }
    return total;
}

// A "kB" line of /proc/<pid>/status (VmRSS, VmHWM) in megabytes.
std::optional<double> MemoriaMb(qint64 pid, const QByteArray& clave) {
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    for (const QByteArray& linea : f.readAll().split('\n')) {
        if (linea.startsWith(clave + ':')) {
            return linea.mid(clave.size() + 1).trimmed().split(' ').first().toLongLong() * 1024 / 1e6;
        }
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const std::string motor = ORLAN_BENCH_MOTOR;
    TerminalBench terminal(*MotorPorNombre(ORLAN_BENCH_MOTOR), 1);
    if (!terminal.Preparar()) {
        std::fprintf(stderr, "%s\n", qPrintable(terminal.Error()));
        return 1;
    }
    try {
        terminal.AltaImpresoras();
    } catch (const ErrorEjecucion& e) {
        std::fprintf(stderr, "%s\n", qPrintable(e.Descripcion()));
        return 1;
    }
    Ajustes::Guardar("ORLAN", "Puertos", "LPT", "simulado");

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
    ImprimirFigura("idle orlan-cola --servicio resident memory VmRSS" + donde, *rss, "MB", "floor", kPisoMemoriaMb,
                   "MB", MenosEsMejor::Si);
    ImprimirFigura("idle orlan-cola --servicio peak resident memory VmHWM" + donde, *pico, "MB", "floor",
                   kPisoMemoriaMb, "MB", MenosEsMejor::Si);
    return 0;
}
