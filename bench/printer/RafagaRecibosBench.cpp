// 100 receipts over 100 connections to orlan-impresora-virtual --escuchar
// --png: first in a burst, all sent at once (the viewer serves one connection
// at a time, as a printer does, so the last ones wait for those before them),
// then one every 50 ms, faster than any till. For each, how long after its
// cut was sent its picture is on disk (the budget is 1 s); the viewer's CPU
// time a receipt and its memory.

#include "Figura.h"
#include "MedidasProceso.h"
#include "Pisos.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <vector>

namespace {

constexpr int kRecibos = 100;

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QByteArray recibo = [] {
        QFile f(QStringLiteral(ORLAN_FUENTE "/tests/data/escpos/receiptline-estilos.bin"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    if (recibo.isEmpty() || !dir.isValid()) {
        std::fprintf(stderr, "sin recibo de prueba o sin directorio temporal\n");
        return 1;
    }
    QProcess visor;
    visor.start(QStringLiteral(ORLAN_BUILD_DIR "/tools/impresora-virtual/orlan-impresora-virtual"),
                {"--escuchar", "127.0.0.1:0", "--modo", "E", "--png", dir.path()});
    visor.waitForReadyRead(10000);
    const QString destino = QString::fromUtf8(visor.readLine()).trimmed();
    const quint16 puerto = static_cast<quint16>(destino.section(u':', 2).toUInt());
    if (puerto == 0) {
        std::fprintf(stderr, "orlan-impresora-virtual no arranco: %s\n", destino.toUtf8().constData());
        return 1;
    }
    const double reposo = MemoriaMb(visor.processId(), "VmRSS").value_or(0);

    // A picture's time is its file's: written under another name, renamed when whole.
    QDir carpeta(dir.path());
    const auto imagenes = [&] { return carpeta.entryInfoList({"recibo-*.png"}, QDir::Files, QDir::Name); };
    // Sends kRecibos receipts, `pausa` ms apart; the delays from each cut to its picture, in ms.
    const auto tanda = [&](int pausa, double& duracion) -> std::vector<double> {
        const qsizetype antes = imagenes().size();
        std::vector<qint64> cortes;
        QElapsedTimer reloj;
        reloj.start();
        for (int i = 0; i < kRecibos; ++i) {
            QTcpSocket caja;
            caja.connectToHost(QStringLiteral("127.0.0.1"), puerto);
            if (!caja.waitForConnected(5000)) {
                return {};
            }
            caja.write(recibo);
            caja.waitForBytesWritten(5000);
            cortes.push_back(QDateTime::currentMSecsSinceEpoch());
            caja.disconnectFromHost();
            if (pausa > 0) {
                QThread::msleep(pausa);
            }
        }
        while (imagenes().size() < antes + kRecibos && reloj.elapsed() < 120000) {
            visor.waitForReadyRead(20);
            visor.readAllStandardOutput();
        }
        duracion = reloj.elapsed();
        const QFileInfoList archivos = imagenes();
        if (archivos.size() != antes + kRecibos) {
            return {};
        }
        std::vector<double> demoras;
        for (int i = 0; i < kRecibos; ++i) {
            demoras.push_back(double(archivos[antes + i].lastModified().toMSecsSinceEpoch() - cortes[i]));
        }
        return demoras;
    };
    const qint64 cpuAntes = TiempoCpuNs(visor.processId()).value_or(0);
    double duracionRafaga = 0, duracionPausada = 0;
    const std::vector<double> rafaga = tanda(0, duracionRafaga);
    const double cpuRafagaMs = (TiempoCpuNs(visor.processId()).value_or(cpuAntes) - cpuAntes) / 1e6;
    const std::vector<double> pausada = tanda(50, duracionPausada);
    const double pico = MemoriaMb(visor.processId(), "VmHWM").value_or(0);
    const double actual = MemoriaMb(visor.processId(), "VmRSS").value_or(0);
    visor.terminate();
    visor.waitForFinished(5000);
    if (rafaga.empty() || pausada.empty()) {
        std::fprintf(stderr, "no se dibujaron todos los recibos\n");
        return 1;
    }
    const auto peor = [](const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); };
    ImprimirFigura("rafaga de 100 recibos en 100 conexiones", duracionRafaga, "ms", "un segundo por recibo",
                   kPlazoReciboVisorMs * kRecibos, "ms", MenosEsMejor::Si);
    ImprimirFigura("tiempo de CPU del visor por recibo", cpuRafagaMs / kRecibos, "ms", "plazo", kPlazoReciboVisorMs,
                   "ms", MenosEsMejor::Si);
    ImprimirFigura("rafaga: demora mediana del corte a la imagen", Mediana(rafaga), "ms", "plazo", kPlazoReciboVisorMs,
                   "ms", MenosEsMejor::Si);
    ImprimirFigura("rafaga: peor demora del corte a la imagen", peor(rafaga), "ms", "plazo", kPlazoReciboVisorMs, "ms",
                   MenosEsMejor::Si);
    ImprimirFigura("un recibo cada 50 ms: peor demora del corte a la imagen", peor(pausada), "ms", "plazo",
                   kPlazoReciboVisorMs, "ms", MenosEsMejor::Si);
    ImprimirFigura("memoria residente maxima del visor", pico, "MB", "en reposo", reposo, "MB", MenosEsMejor::Si);
    ImprimirFigura("memoria residente tras 200 recibos", actual, "MB", "en reposo", reposo, "MB", MenosEsMejor::Si);
    return 0;
}
