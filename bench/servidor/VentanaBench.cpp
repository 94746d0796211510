#include "Figura.h"
#include "MedidasProceso.h"
#include "Pisos.h"
#include "TerminalBench.h"
#include "platform/Ajustes.h"
#include "testsupport/EscritorioPrueba.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <algorithm>
#include <csignal>
#include <unistd.h>

// The real orlan-cola in window mode on a real X server (Xvfb) with a real
// notification area (trayer), on a local SQLite database with two printers on
// the simulated parallel port and an empty queue: the time from its start to
// its icon in the notification area, then, left alone behind the icon, the CPU
// it takes and its resident memory. ORLAN_BENCH_SEGUNDOS shortens the idle
// window of 60 seconds.

namespace {

constexpr int kArranques = 5;

// The icon: a window of the program mapped inside the notification area,
// which trayer keeps in the top right corner of the screen.
bool IconoVisible(EscritorioPrueba& escritorio) {
    const QList<QRect> ventanas = escritorio.Ventanas(QStringLiteral("orlan-cola"));
    return std::any_of(ventanas.cbegin(), ventanas.cend(),
                       [](const QRect& r) { return r.left() >= 1024 - 100 && r.top() < 32; });
}

void Cerrar(QProcess& programa) {
    ::kill(static_cast<pid_t>(programa.processId()), SIGTERM);
    if (!programa.waitForFinished(15000)) {
        programa.kill();
        programa.waitForFinished(5000);
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    TerminalBench terminal(*MotorPorNombre(ORLAN_BENCH_MOTOR), 1);
    if (!terminal.PrepararConImpresoras()) {
        std::fprintf(stderr, "%s\n", qPrintable(terminal.Error()));
        return 1;
    }
    EscritorioPrueba escritorio;
    if (!escritorio.Abrir()) {
        std::fprintf(stderr, "%s\n", qPrintable(escritorio.Error()));
        return 1;
    }
    bool numero = false;
    int segundos = qEnvironmentVariableIntValue("ORLAN_BENCH_SEGUNDOS", &numero);
    if (!numero || segundos <= 0) {
        segundos = 60;
    }
    const QProcessEnvironment entorno = QProcessEnvironment::systemEnvironment();

    // Start to icon, a few times; the last start stays for the idle window.
    std::vector<double> arranques;
    QProcess* cola = nullptr;
    for (int i = 0; i < kArranques; ++i) {
        if (cola) {
            Cerrar(*cola);
            // The old icon must be gone before the next start is timed.
            for (int espera = 0; espera < 100 && IconoVisible(escritorio); ++espera) {
                QThread::msleep(20);
            }
        }
        QElapsedTimer reloj;
        reloj.start();
        cola = &escritorio.Iniciar(QStringLiteral(ORLAN_COLA_PROGRAMA), {}, entorno);
        while (!IconoVisible(escritorio) && reloj.elapsed() < 15000 && cola->state() != QProcess::NotRunning) {
            QThread::msleep(5);
        }
        if (!IconoVisible(escritorio)) {
            std::fprintf(stderr, "orlan-cola no mostro su icono:\n%s\n", cola->readAll().constData());
            return 1;
        }
        arranques.push_back(reloj.nsecsElapsed() / 1e6);
    }
    ImprimirFigura("orlan-cola window mode, start to tray icon shown (sqlite, Xvfb + trayer, median of " +
                       std::to_string(kArranques) + ")",
                   Mediana(arranques), "ms", "floor", kPisoArranqueVentanaMs, "ms", MenosEsMejor::Si);

    const qint64 pid = cola->processId();
    QThread::msleep(2000); // the first ticks and the icon's first paint are left out
    const std::optional<qint64> cpuInicio = TiempoCpu(pid);
    const std::optional<qint64> nsInicio = TiempoCpuNs(pid);
    QElapsedTimer ventana;
    ventana.start();
    while (ventana.elapsed() < segundos * 1000LL && cola->state() != QProcess::NotRunning) {
        cola->waitForFinished(static_cast<int>(std::min<qint64>(500, segundos * 1000LL - ventana.elapsed()) + 1));
    }
    const std::optional<qint64> cpuFin = TiempoCpu(pid);
    const std::optional<qint64> nsFin = TiempoCpuNs(pid);
    const double transcurrido = ventana.nsecsElapsed() / 1e9;
    const std::optional<double> rss = MemoriaMb(pid, "VmRSS");
    const std::optional<double> pico = MemoriaMb(pid, "VmHWM");
    const bool vivo = cola->state() != QProcess::NotRunning;
    Cerrar(*cola);
    if (!vivo || !cpuInicio || !cpuFin || !nsInicio || !nsFin || !rss || !pico) {
        std::fprintf(stderr, "orlan-cola termino antes de tiempo o /proc no se pudo leer:\n%s\n",
                     cola->readAll().constData());
        return 1;
    }

    const qint64 ticks = *cpuFin - *cpuInicio;
    const double cpu = std::max<qint64>(ticks, 1) / static_cast<double>(::sysconf(_SC_CLK_TCK)) / transcurrido * 100;
    const double cpuFino = (*nsFin - *nsInicio) / 1e9 / transcurrido * 100;
    const std::string donde =
        " (sqlite, Xvfb + trayer, window hidden, empty queue, " + std::to_string(segundos) + " s)";
    ImprimirFigura("idle orlan-cola window mode CPU, utime+stime" + donde +
                       (ticks == 0 ? ", no clock tick counted: one shown" : ""),
                   cpu, "% of one core", "floor", kPisoCpuPorciento, "% of one core", MenosEsMejor::Si);
    ImprimirFigura("idle orlan-cola window mode CPU, scheduler run time of its threads" + donde, cpuFino,
                   "% of one core", "floor", kPisoCpuPorciento, "% of one core", MenosEsMejor::Si);
    ImprimirFigura("idle orlan-cola window mode resident memory VmRSS" + donde, *rss, "MB", "floor",
                   kPisoMemoriaVentanaMb, "MB", MenosEsMejor::Si);
    ImprimirFigura("idle orlan-cola window mode peak resident memory VmHWM" + donde, *pico, "MB", "floor",
                   kPisoMemoriaVentanaMb, "MB", MenosEsMejor::Si);
    return 0;
}
