// CPU cost of the printer control's waits and of its per-line path.
//
// 1. The paper-status wait on a serial printer that never answers (a
//    pseudo-terminal kept silent): the share of the wall time that the waiting
//    thread spends on the CPU. Reference: the same wait done by polling the
//    port in a loop, measured in this run (close to 100%).
// 2. A 30-line receipt through Imprimirln to the simulated parallel port.
//    Reference: the same bytes handed to ImprimirCadena directly.

#include "Figura.h"
#include "impresora-virtual/ImpresoraPty.h"
#include "lpt/lptUtils.h"
#include "platform/Ajustes.h"
#include "ports/PuertoES.h"
#include "ports/PuertoSerie.h"
#include "ports/PuertoSimulado.h"
#include "printer/ctlImpresora.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <chrono>
#include <ctime>

namespace {

double CpuHilo() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// CPU share (%) of the calling thread while `trabajo` runs.
template <typename F> double PorcentajeCpu(F&& trabajo, double* segundos = nullptr) {
    QElapsedTimer pared;
    pared.start();
    const double cpu0 = CpuHilo();
    trabajo();
    const double cpu = CpuHilo() - cpu0;
    const double wall = double(pared.nsecsElapsed()) / 1e9;
    if (segundos != nullptr) {
        *segundos = wall;
    }
    return 100.0 * cpu / wall;
}

void EsperaDeEstado() {
    ImpresoraPty impresora;
    if (!impresora.Abierta()) {
        std::fprintf(stderr, "no pseudo-terminal: %s\n", qPrintable(impresora.Error()));
        return;
    }
    impresora.EstablecerRespuesta(ImpresoraPty::kSilencio);
    impresora.Iniciar();
    Ajustes::Guardar("ORLAN", "Puertos", "COM1", impresora.Ruta());

    ctlImpresora pr;
    double total = 0;
    double pared = 0;
    QString letra;
    constexpr int kVueltas = 3;
    for (int i = 0; i < kVueltas; ++i) {
        double s = 0;
        total += PorcentajeCpu([&] { pr.ConfigurarPuerto("COM1", "E", "9600,N,8,1", &letra); }, &s);
        pared += s;
    }
    pr.CerrarPuerto(1);
    if (letra != "F") {
        std::fprintf(stderr, "unexpected state %s\n", qPrintable(letra));
    }

    // The same wait done the spinning way: read the port until one second passes.
    PuertoSerie p;
    p.EstablecerCommPort(1);
    p.Abrir();
    const double giro = PorcentajeCpu([&] {
        const auto fin = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        while (std::chrono::steady_clock::now() < fin && p.Input().isEmpty()) {
        }
    });
    ImprimirFigura("CPU share of the paper-status wait (silent serial printer, " +
                       std::to_string(pared / kVueltas).substr(0, 4) + " s wall)",
                   total / kVueltas, "%", "spinning wait", giro, "%", MenosEsMejor::Si);
}

void RecibosParalelo() {
    PuertoSimulado::Opciones opciones;
    opciones.archivos = false;
    opciones.memoria = false;
    PuertoSimulado::Instalar(opciones);
    ctlImpresora pr;
    pr.InicializarPuerto("LPT1");

    QStringList lineas;
    for (int i = 0; i < 30; ++i) {
        lineas << QStringLiteral("%1 x Menú del día ........ %2,50 €").arg(i % 4 + 1).arg(i + 3, 3);
    }
    QByteArray bytes;
    for (const QString& l : lineas) {
        bytes += l.toLatin1() + "\n\r";
    }
    constexpr int kRecibos = 300;
    QElapsedTimer t;
    t.start();
    for (int r = 0; r < kRecibos; ++r) {
        for (QString l : lineas) {
            pr.Imprimirln(l);
        }
    }
    const double control = double(t.nsecsElapsed()) / 1e3 / kRecibos;
    t.restart();
    for (int r = 0; r < kRecibos; ++r) {
        ImprimirCadena(0x378, QByteArrayView(bytes));
    }
    const double directo = double(t.nsecsElapsed()) / 1e3 / kRecibos;
    ImprimirFigura("30-line receipt through Imprimirln (simulated parallel port)", control, "us",
                   "ImprimirCadena of the same bytes", directo, "us", MenosEsMejor::Si);
    PuertoES::Establecer(nullptr);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", (dir.path() + "/config").toUtf8());
    qputenv("XDG_DATA_HOME", (dir.path() + "/data").toUtf8());
    EsperaDeEstado();
    RecibosParalelo();
    return 0;
}
