#include "Figura.h"
#include "lpt/lptTest.h"
#include "lpt/lptUtils.h"
#include "ports/PuertoSimulado.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <chrono>
#include <ctime>
#include <map>

// Characters a second through ImprimirCadena on the simulated port: the whole
// handshake (status read, data, strobe on and off), the time checks, the
// capture and its file.
//
// Reference: a physical parallel port. Each register access is one I/O cycle
// on the ISA bus (or the LPC bus that emulates it), about 1 us with the
// standard wait states (ISA: 8-bit I/O cycle at 8.33 MHz, 4 + 4 wait states;
// LPC I/O cycles are of the same order). A character takes at least four of
// them (status, data, strobe on, strobe off), so about 250,000 characters a
// second at best.
constexpr double kCaracteresPorSegundoPuertoFisico = 1e6 / 4.0;

namespace {

const QByteArray kRenglon = "  2 x Cafe con leche ............... 5.40 EUR\r\n"; // a receipt line

void Preparar() {
    PuertoSimulado::Opciones opciones;
    opciones.memoria = false; // as the server runs it: the capture file only
    PuertoSimulado::Instalar(opciones);
    TestPortFunction(0x378);
}

void Renglon(benchmark::State& state) {
    Preparar();
    for (auto _ : state) {
        benchmark::DoNotOptimize(ImprimirCadena(0x378, QByteArrayView(kRenglon)));
    }
    state.SetItemsProcessed(state.iterations() * kRenglon.size());
}

void RenglonTexto(benchmark::State& state) {
    Preparar();
    const QString texto = QString::fromLatin1(kRenglon);
    for (auto _ : state) {
        benchmark::DoNotOptimize(ImprimirCadena(0x378, QStringView(texto)));
    }
    state.SetItemsProcessed(state.iterations() * texto.size());
}

void Bloque(benchmark::State& state) {
    Preparar();
    const QByteArray bloque = kRenglon.repeated(100);
    for (auto _ : state) {
        benchmark::DoNotOptimize(ImprimirCadena(0x378, QByteArrayView(bloque)));
    }
    state.SetItemsProcessed(state.iterations() * bloque.size());
}

BENCHMARK(Renglon)->UseRealTime();
BENCHMARK(RenglonTexto)->UseRealTime();
BENCHMARK(Bloque)->UseRealTime();

// CPU share of a wait on a busy printer: the printer stays busy for
// kSegundosOcupada seconds, until a timer (an event let through by the wait)
// makes it ready, and one character is printed.
//
// Reference: the same wait done the way it was done before it learnt to
// sleep, copied below: spinning on the status register, yielding to events
// every half millisecond, and reading the local wall clock on every pass to
// count the changes of the second.
constexpr int kSegundosOcupada = 10;

double CpuHilo() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// The spinning wait of one character (reference only).
bool LetraGirando(quint16 base, quint8 codigo) {
    PuertoES& puerto = PuertoES::Actual();
    int contador = 0;
    int recordado = -1;
    int pases = 1;
    auto ultimaCesion = std::chrono::steady_clock::now();
    for (;;) {
        const int estado = puerto.read8(base + 1);
        const bool listo = (estado & 0xA8) == 0x88;
        if (--pases <= 0) {
            pases = 16;
            if (std::chrono::steady_clock::now() - ultimaCesion >= std::chrono::microseconds(500)) {
                QCoreApplication::processEvents();
                ultimaCesion = std::chrono::steady_clock::now();
            }
        }
        if (listo) {
            break;
        }
        const int segundo = QDateTime::currentDateTime().time().msecsSinceStartOfDay() / 1000;
        if (recordado < 0) {
            recordado = segundo;
        } else if (segundo != recordado) {
            recordado = segundo;
            ++contador;
        }
        if (contador >= 25) {
            return false;
        }
    }
    puerto.write8(base, codigo);
    const int c = puerto.read8(base + 2);
    puerto.write8(base + 2, quint8(c | 1));
    puerto.write8(base + 2, quint8(c & ~1));
    return true;
}

// CPU share (%) of the calling thread while `imprimir` waits for the busy
// printer and prints one character.
template <typename F> double CpuEspera(F&& imprimir, double& pared) {
    PuertoSimulado::Opciones opciones;
    opciones.archivos = false;
    PuertoSimulado& puerto = PuertoSimulado::Instalar(opciones);
    TestPortFunction(0x378);
    puerto.EstablecerEstado(PuertoSimulado::kOcupado);
    QTimer::singleShot(kSegundosOcupada * 1000, [&puerto] { puerto.EstablecerEstado(PuertoSimulado::kListo); });
    QElapsedTimer reloj;
    reloj.start();
    const double cpu0 = CpuHilo();
    const bool impreso = imprimir();
    const double cpu = CpuHilo() - cpu0;
    pared = double(reloj.nsecsElapsed()) / 1e9;
    if (!impreso || puerto.Capturado() != "x") {
        std::fprintf(stderr, "the character did not reach the printer\n");
    }
    return 100.0 * cpu / pared;
}

void EsperaOcupada() {
    double pared = 0;
    double paredGiro = 0;
    const double cpu = CpuEspera([] { return ImprimirCadena(0x378, QByteArrayView("x")); }, pared);
    const double giro = CpuEspera([] { return LetraGirando(0x378, 'x'); }, paredGiro);
    ImprimirFigura("CPU share of a " + std::to_string(int(pared + 0.5)) + " s wait on a busy printer (simulated port)",
                   cpu, "% of a core", "spinning wait of " + std::to_string(int(paredGiro + 0.5)) + " s", giro,
                   "% of a core", MenosEsMejor::Si);
}

class Recolector : public benchmark::ConsoleReporter {
public:
    // No colours: the escape codes would stick to the start of the figure lines.
    Recolector() : ConsoleReporter(OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const auto it = run.counters.find("items_per_second");
            if (it != run.counters.end()) {
                m_porSegundo[run.run_name.function_name] = it->second.value;
            }
        }
    }
    std::map<std::string, double> m_porSegundo;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv); // processEvents() has a real event loop to look at, as in the server
    QTemporaryDir raiz;
    qputenv("XDG_DATA_HOME", raiz.path().toUtf8());

    benchmark::Initialize(&argc, argv);
    Recolector recolector;
    benchmark::RunSpecifiedBenchmarks(&recolector);
    benchmark::Shutdown();

    const std::string renglon = "renglon de " + std::to_string(kRenglon.size()) + " caracteres";
    const std::map<std::string, std::string> figuras = {
        {"Renglon", "ImprimirCadena bytes, " + renglon + ", puerto simulado"},
        {"RenglonTexto", "ImprimirCadena texto, " + renglon + ", puerto simulado"},
        {"Bloque",
         "ImprimirCadena bytes, bloque de " + std::to_string(kRenglon.size() * 100) + " caracteres, puerto simulado"},
    };
    for (const auto& [nombre, porSegundo] : recolector.m_porSegundo) {
        const auto figura = figuras.find(nombre);
        ImprimirFigura(figura != figuras.end() ? figura->second : nombre, porSegundo, "caracteres/s",
                       "puerto paralelo fisico, 4 ciclos de bus de ~1 us", kCaracteresPorSegundoPuertoFisico,
                       "caracteres/s");
    }
    EsperaOcupada();
    return 0;
}
