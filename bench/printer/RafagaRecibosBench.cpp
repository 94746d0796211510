// 100 receipts over 100 connections to orlan-impresora-virtual --escuchar
// --png: first all 100 connections open at once, then in a burst one after
// another, then one every 50 ms, faster than any till. For each, how long
// after its cut was sent its picture is on disk (the budget is 1 s); the
// viewer's CPU time a receipt and its memory. Before that, a capture of 1,000
// receipts read with --leer --png: the reader's peak memory and CPU time a
// receipt.

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
#include <memory>
#include <sys/resource.h>
#include <vector>

namespace {

constexpr int kRecibos = 100;
constexpr int kRecibosCaptura = 1000;

double Segundos(const timeval& t) {
    return double(t.tv_sec) + t.tv_usec / 1e6;
}

// Reads a capture of kRecibosCaptura receipts with --leer --png. Its peak
// memory (MB) and CPU time (ms) come from getrusage once it was reaped, so it
// must be the first child to end. False when not every picture was written.
bool LeerCaptura(const QByteArray& recibo, double& picoMb, double& cpuMs) {
    QTemporaryDir dir;
    QFile captura(dir.filePath(QStringLiteral("captura.bin")));
    if (!dir.isValid() || !captura.open(QIODevice::WriteOnly) ||
        captura.write(recibo.repeated(kRecibosCaptura)) != recibo.size() * kRecibosCaptura) {
        return false;
    }
    captura.close();
    QProcess lector;
    lector.start(QStringLiteral(ORLAN_BUILD_DIR "/tools/impresora-virtual/orlan-impresora-virtual"),
                 {"--leer", captura.fileName(), "--modo", "E", "--png", dir.path()});
    if (!lector.waitForFinished(600000) || lector.exitCode() != 0) {
        return false;
    }
    rusage uso{};
    getrusage(RUSAGE_CHILDREN, &uso);
    picoMb = uso.ru_maxrss * 1024 / 1e6;
    cpuMs = (Segundos(uso.ru_utime) + Segundos(uso.ru_stime)) * 1000;
    return QDir(dir.path()).entryList({"recibo-*.png"}, QDir::Files).size() == kRecibosCaptura;
}

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
    double picoLectura = 0, cpuLectura = 0;
    if (!LeerCaptura(recibo, picoLectura, cpuLectura)) {
        std::fprintf(stderr, "--leer no dibujo todos los recibos de la captura\n");
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
    // All connections open at once, each sends its receipt and closes; the
    // time from the first connect to the last picture on disk.
    const auto simultaneas = [&]() -> double {
        const qsizetype antes = imagenes().size();
        QElapsedTimer reloj;
        reloj.start();
        std::vector<std::unique_ptr<QTcpSocket>> cajas;
        for (int i = 0; i < kRecibos; ++i) {
            cajas.push_back(std::make_unique<QTcpSocket>());
            cajas.back()->connectToHost(QStringLiteral("127.0.0.1"), puerto);
        }
        for (auto& caja : cajas) {
            if (!caja->waitForConnected(5000)) {
                return -1;
            }
            caja->write(recibo);
        }
        for (auto& caja : cajas) {
            caja->waitForBytesWritten(5000);
            caja->disconnectFromHost();
        }
        while (imagenes().size() < antes + kRecibos && reloj.elapsed() < 120000) {
            visor.waitForReadyRead(20);
            visor.readAllStandardOutput();
        }
        return imagenes().size() == antes + kRecibos ? double(reloj.elapsed()) : -1;
    };
    const double duracionSimultaneas = simultaneas();
    const qint64 cpuAntes = TiempoCpuNs(visor.processId()).value_or(0);
    double duracionRafaga = 0, duracionPausada = 0;
    const std::vector<double> rafaga = tanda(0, duracionRafaga);
    const double cpuRafagaMs = (TiempoCpuNs(visor.processId()).value_or(cpuAntes) - cpuAntes) / 1e6;
    const std::vector<double> pausada = tanda(50, duracionPausada);
    const double pico = MemoriaMb(visor.processId(), "VmHWM").value_or(0);
    const double actual = MemoriaMb(visor.processId(), "VmRSS").value_or(0);
    visor.terminate();
    visor.waitForFinished(5000);
    if (duracionSimultaneas < 0 || rafaga.empty() || pausada.empty()) {
        std::fprintf(stderr, "no se dibujaron todos los recibos\n");
        return 1;
    }
    const auto peor = [](const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); };
    ImprimirFigura("100 conexiones a la vez, un recibo cada una: hasta la ultima imagen", duracionSimultaneas, "ms",
                   "un segundo por recibo", kPlazoReciboVisorMs * kRecibos, "ms", MenosEsMejor::Si);
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
    ImprimirFigura("memoria residente tras 300 recibos", actual, "MB", "en reposo", reposo, "MB", MenosEsMejor::Si);
    ImprimirFigura("--leer de 1000 recibos: memoria residente maxima", picoLectura, "MB", "el visor en reposo", reposo,
                   "MB", MenosEsMejor::Si);
    ImprimirFigura("--leer de 1000 recibos: tiempo de CPU por recibo", cpuLectura / kRecibosCaptura, "ms", "plazo",
                   kPlazoReciboVisorMs, "ms", MenosEsMejor::Si);
    return 0;
}
