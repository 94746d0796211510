#include "Figura.h"
#include "lpt/lptTest.h"
#include "lpt/lptUtils.h"
#include "platform/PuertoSimulado.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
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
    return 0;
}
