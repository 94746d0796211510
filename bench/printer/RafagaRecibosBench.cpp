// 100 receipts over 100 connections to orlan-impresora-virtual --escuchar
// --png: first in a burst, all sent at once (the viewer serves one connection
// at a time, as a printer does, so the last ones wait for those before them),
// then one every 50 ms, faster than any till. For each, how long after its
// cut was sent its picture is on disk (the budget is 1 s); the viewer's CPU
// time a receipt and its memory.

#include "Figura.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kRecibos = 100;

// Peak and current resident memory of a process, in KB (VmHWM, VmRSS).
std::pair<double, double> Memoria(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    double pico = 0, actual = 0;
    if (f.open(QIODevice::ReadOnly)) {
        for (const QByteArray& linea : f.readAll().split('\n')) {
            const auto valor = [&] { return linea.simplified().split(' ').value(1).toDouble(); };
            if (linea.startsWith("VmHWM:")) {
                pico = valor();
            } else if (linea.startsWith("VmRSS:")) {
                actual = valor();
            }
        }
    }
    return {pico, actual};
}

// CPU time of a process so far, in ms (utime + stime of /proc/<pid>/stat).
qint64 TiempoCpuMs(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly)) {
        return 0;
    }
    const QByteArray stat = f.readAll();
    const QList<QByteArray> campos = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    return campos.size() < 13 ? 0 : (campos[11].toLongLong() + campos[12].toLongLong()) * 1000 / sysconf(_SC_CLK_TCK);
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
    const double reposo = Memoria(visor.processId()).second;

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
    const qint64 cpuAntes = TiempoCpuMs(visor.processId());
    double duracionRafaga = 0, duracionPausada = 0;
    const std::vector<double> rafaga = tanda(0, duracionRafaga);
    const qint64 cpuRafaga = TiempoCpuMs(visor.processId()) - cpuAntes;
    const std::vector<double> pausada = tanda(50, duracionPausada);
    const auto [pico, actual] = Memoria(visor.processId());
    visor.terminate();
    visor.waitForFinished(5000);
    if (rafaga.empty() || pausada.empty()) {
        std::fprintf(stderr, "no se dibujaron todos los recibos\n");
        return 1;
    }
    const auto peor = [](const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); };
    ImprimirFigura("rafaga de 100 recibos en 100 conexiones", duracionRafaga, "ms", "un segundo por recibo",
                   1000.0 * kRecibos, "ms", MenosEsMejor::Si);
    ImprimirFigura("tiempo de CPU del visor por recibo", double(cpuRafaga) / kRecibos, "ms", "plazo", 1000, "ms",
                   MenosEsMejor::Si);
    ImprimirFigura("rafaga: demora mediana del corte a la imagen", Mediana(rafaga), "ms", "plazo", 1000, "ms",
                   MenosEsMejor::Si);
    ImprimirFigura("rafaga: peor demora del corte a la imagen", peor(rafaga), "ms", "plazo", 1000, "ms",
                   MenosEsMejor::Si);
    ImprimirFigura("un recibo cada 50 ms: peor demora del corte a la imagen", peor(pausada), "ms", "plazo", 1000, "ms",
                   MenosEsMejor::Si);
    ImprimirFigura("memoria residente maxima del visor", pico / 1024, "MB", "en reposo", reposo / 1024, "MB",
                   MenosEsMejor::Si);
    ImprimirFigura("memoria residente tras 200 recibos", actual / 1024, "MB", "en reposo", reposo / 1024, "MB",
                   MenosEsMejor::Si);
    return 0;
}
