#include "platform/Ajustes.h"
#include "printer/ctlImpresora.h"
#include "testsupport/EntornoPrueba.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QTcpSocket>
#include <QtEndian>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const QString kPrograma = QStringLiteral(ORLAN_BUILD_DIR "/tools/impresora-virtual/orlan-impresora-virtual");

// Reads the program's output until it holds `fin` (at most a few seconds).
QString LeerHasta(QProcess& p, const QString& fin) {
    QString salida;
    for (QDeadlineTimer plazo(5000); !salida.contains(fin) && !plazo.hasExpired();) {
        p.waitForReadyRead(100);
        salida += QString::fromUtf8(p.readAllStandardOutput());
    }
    return salida;
}

// The port of a network printer, from its first line.
quint16 Puerto(QProcess& impresora) {
    const QString destino = LeerHasta(impresora, "\n").trimmed();
    return destino.startsWith("tcp:127.0.0.1:") ? static_cast<quint16>(destino.section(u':', 2).toUInt()) : 0;
}

// Starts the viewer as a network printer on a LAN address, drawing into
// `dir`; its port, 0 when it did not start.
quint16 Escuchar(QProcess& impresora, const QString& dir) {
    impresora.start(kPrograma, {"--escuchar", "127.0.0.1:0", "--modo", "E", "--png", dir});
    return Puerto(impresora);
}

QStringList Imagenes(const QString& dir) {
    return QDir(dir).entryList({"recibo-*.png"}, QDir::Files, QDir::Name);
}

// Waits up to `ms` for `cuantas` pictures in `dir`, draining the program's
// output meanwhile; returns how many there are.
qsizetype EsperarImagenes(QProcess& p, const QString& dir, qsizetype cuantas, int ms = 20000) {
    for (QDeadlineTimer plazo(ms); Imagenes(dir).size() < cuantas && !plazo.hasExpired();) {
        p.waitForReadyRead(50);
        p.readAllStandardOutput();
    }
    return Imagenes(dir).size();
}

// A PNG's height, from its header.
quint32 AltoPng(const QString& ruta) {
    const QByteArray png = EntornoPrueba::Leer(ruta);
    return png.size() < 24 ? 0 : qFromBigEndian<quint32>(png.constData() + 20);
}

// A PNG written whole ends with its IEND chunk.
bool PngEntero(const QString& ruta) {
    const QByteArray png = EntornoPrueba::Leer(ruta);
    return png.startsWith("\x89PNG") && png.endsWith(QByteArray::fromHex("49454E44AE426082"));
}

// The peak resident memory of a running process, in kB.
qint64 PicoMemoriaKb(qint64 pid) {
    for (const QByteArray& linea : EntornoPrueba::Leer(QStringLiteral("/proc/%1/status").arg(pid)).split('\n')) {
        if (linea.startsWith("VmHWM:")) {
            return linea.mid(6).trimmed().split(' ').first().toLongLong();
        }
    }
    return -1;
}

} // namespace

TEST(ImpresoraVirtual, ServesTheControlOnAPseudoTerminalAndReplaysItsCapture) {
    EntornoPrueba entorno;
    const QString captura = entorno.Raiz() + "/captura.bin";
    const QString corte = QString::fromUtf8("- - - - - - - - - - - ✂ corte - - - - - - - - - - -\n");
    QProcess impresora;
    // A printer set to Windows-1252, the code page our receipts are written in.
    impresora.start(kPrograma, {"--modo", "E", "--tabla", "16", "--respuesta", "16", "--captura", captura});
    const QString dispositivo = LeerHasta(impresora, "\n").trimmed();
    ASSERT_TRUE(dispositivo.startsWith("/dev/")) << dispositivo.toStdString();
    Ajustes::Guardar("ORLAN", "Puertos", "COM1", dispositivo);
    {
        ctlImpresora pr;
        QString letra;
        EXPECT_TRUE(pr.InicializarPuerto("COM1", &letra));
        EXPECT_EQ(letra, "C");
        pr.Negrita(true);
        QString linea = QString::fromUtf8("Total 9,50 €");
        pr.Imprimirln(linea);
        pr.Negrita(false);
        pr.Abrircaja();
        pr.Cortar();
    }
    const QString recibo = LeerHasta(impresora, corte);
    impresora.terminate();
    EXPECT_TRUE(impresora.waitForFinished(3000));
    EXPECT_EQ(
        recibo.toStdString(),
        (QString::fromUtf8("[B]Total 9,50 €\n[/B]\n==== abre cajón ====") + QString(13, u'\n') + corte).toStdString())
        << "the cut after twelve feeds";

    QProcess lector;
    lector.start(kPrograma, {"--leer", captura, "--modo", "E", "--tabla", "16"});
    ASSERT_TRUE(lector.waitForFinished(3000));
    EXPECT_EQ(QString::fromUtf8(lector.readAllStandardOutput()).toStdString(), recibo.toStdString());

    // One picture for the receipt, numbered on from the pictures already there.
    for (const char* nombre : {"recibo-0001.png", "recibo-0002.png"}) {
        QProcess dibujo;
        dibujo.start(kPrograma, {"--leer", captura, "--png", entorno.Raiz() + "/recibos"});
        ASSERT_TRUE(dibujo.waitForFinished(5000));
        const QString ruta = entorno.Raiz() + "/recibos/" + nombre;
        EXPECT_TRUE(QString::fromUtf8(dibujo.readAllStandardOutput()).endsWith(corte + ruta + "\n"));
        EXPECT_TRUE(EntornoPrueba::Leer(ruta).startsWith("\x89PNG"));
    }

    // A capture that cannot be read is an error, not an empty receipt.
    QProcess directorio;
    directorio.start(kPrograma, {"--leer", entorno.Raiz() + "/recibos"});
    ASSERT_TRUE(directorio.waitForFinished(5000));
    EXPECT_EQ(directorio.exitCode(), 2);
    EXPECT_TRUE(directorio.readAllStandardError().contains("recibos"));
}

// As a network printer every connection starts from a clean decoder: one
// program's truncated bit image holds nothing of the next one's receipt.
TEST(ImpresoraVirtual, ATruncatedCommandOnOneConnectionHoldsNoOtherReceipt) {
    EntornoPrueba entorno;
    QProcess impresora;
    impresora.start(kPrograma, {"--tcp", "0", "--modo", "E"});
    const QString destino = LeerHasta(impresora, "\n").trimmed();
    ASSERT_TRUE(destino.startsWith("tcp:127.0.0.1:")) << destino.toStdString();
    const quint16 puerto = static_cast<quint16>(destino.section(u':', 2).toUInt());
    QTcpSocket truncado;
    truncado.connectToHost("127.0.0.1", puerto);
    ASSERT_TRUE(truncado.waitForConnected(3000));
    truncado.write(QByteArray::fromHex("1B2A21FFFF")); // announces 65535 columns, sends none
    ASSERT_TRUE(truncado.waitForBytesWritten(3000));
    QTcpSocket siguiente;
    siguiente.connectToHost("127.0.0.1", puerto);
    ASSERT_TRUE(siguiente.waitForConnected(3000));
    siguiente.write("cuenta 12\n");
    ASSERT_TRUE(siguiente.waitForBytesWritten(3000));
    EXPECT_TRUE(LeerHasta(impresora, "cuenta 12\n").contains("cuenta 12\n"));
    impresora.terminate();
    EXPECT_TRUE(impresora.waitForFinished(3000));
}

// Served on a LAN address as a till would use it: every cut form ends a
// picture while the connection is still open, a connection that closes ends
// its own, and a second connection open at the same time has its own paper,
// so receipts never mix.
TEST(ImpresoraVirtual, EveryCutAndEveryClosedConnectionEndsItsOwnPicture) {
    EntornoPrueba entorno;
    const QString dir = entorno.Raiz() + "/recibos";
    QProcess impresora;
    const quint16 puerto = Escuchar(impresora, dir);
    ASSERT_NE(puerto, 0);
    const auto imagenes = [&] { return Imagenes(dir); };
    const auto esperarImagenes = [&](qsizetype cuantas) { return EsperarImagenes(impresora, dir, cuantas); };

    QTcpSocket caja;
    caja.connectToHost("127.0.0.1", puerto);
    ASSERT_TRUE(caja.waitForConnected(3000));
    QByteArray siete;
    for (const char* corte : {"1D5600", "1D5601", "1D564103", "1D5642 03", "1B69", "1B6D", "1D5631"}) {
        siete += "recibo\n" + QByteArray::fromHex(corte);
    }
    caja.write(siete);
    ASSERT_TRUE(caja.waitForBytesWritten(3000));
    EXPECT_EQ(esperarImagenes(7), 7) << "seven receipts, seven pictures, the connection still open";

    // A second till while the first is still connected.
    caja.write("sin corte, hasta cerrar\n");
    ASSERT_TRUE(caja.waitForBytesWritten(3000));
    QTcpSocket otra;
    otra.connectToHost("127.0.0.1", puerto);
    ASSERT_TRUE(otra.waitForConnected(3000));
    otra.write("de la otra caja\n" + QByteArray::fromHex("1D5600"));
    ASSERT_TRUE(otra.waitForBytesWritten(3000));
    caja.disconnectFromHost();
    EXPECT_EQ(esperarImagenes(9), 9) << "the other till's receipt and the closed connection's";
    otra.disconnectFromHost();
    const auto alto = [&](const char* nombre) { return AltoPng(dir + "/" + nombre); };
    EXPECT_GT(alto("recibo-0008.png"), 0u);
    EXPECT_LT(alto("recibo-0008.png"), 120u) << "one line each: nothing of the other till";
    EXPECT_LT(alto("recibo-0009.png"), 120u);

    // Twenty connections, each one receipt ending in GS V 0.
    for (int i = 0; i < 20; ++i) {
        QTcpSocket s;
        s.connectToHost("127.0.0.1", puerto);
        ASSERT_TRUE(s.waitForConnected(3000));
        s.write(QByteArray("venta ") + QByteArray::number(i) + "\n" + QByteArray::fromHex("1D5600"));
        ASSERT_TRUE(s.waitForBytesWritten(3000));
        s.disconnectFromHost();
        if (s.state() != QAbstractSocket::UnconnectedState) {
            s.waitForDisconnected(3000);
        }
    }
    EXPECT_EQ(esperarImagenes(29), 29);
    impresora.terminate();
    EXPECT_TRUE(impresora.waitForFinished(3000));
    EXPECT_EQ(imagenes().size(), 29) << "nothing left over for the end";
}

// A modelled printer with --gsr-tarde answers the first GS r 1 late, after
// the answer to a GS I asked behind it, and every later GS r 1 in its place.
TEST(ImpresoraVirtual, OnlyTheFirstGsRAnswerComesLate) {
    QProcess impresora;
    impresora.start(kPrograma, {"--tcp", "0", "--modo", "E", "--velocidad", "0", "--gsr-tarde", "1"});
    const QString destino = LeerHasta(impresora, "\n").trimmed();
    ASSERT_TRUE(destino.startsWith("tcp:127.0.0.1:")) << destino.toStdString();
    QTcpSocket caja;
    caja.connectToHost("127.0.0.1", static_cast<quint16>(destino.section(u':', 2).toUInt()));
    ASSERT_TRUE(caja.waitForConnected(3000));
    // GS r 1 (paper: 00 ready), then GS I 1 (model: 20).
    const QByteArray pedidos = "recibo\n" + QByteArray::fromHex("1D7201 1D4901");
    const auto respuestas = [&] {
        caja.write(pedidos);
        QByteArray recibido;
        for (QDeadlineTimer plazo(10000); recibido.size() < 2 && !plazo.hasExpired();) {
            caja.waitForReadyRead(100);
            recibido += caja.readAll();
        }
        return recibido.toHex().toStdString();
    };
    EXPECT_EQ(respuestas(), "2000") << "the first GS r 1 answered after the GS I behind it";
    EXPECT_EQ(respuestas(), "0020") << "the next one in its place";
    EXPECT_EQ(respuestas(), "0020");
    impresora.terminate();
    EXPECT_TRUE(impresora.waitForFinished(3000));
}

// On a LAN address the viewer takes every connection as it comes: sixty tills
// connected at once, each sending its receipt in two halves between the
// others' halves, get sixty pictures while their connections and an idle one
// opened before them are still open, each picture one till's receipt alone.
// The idle connection is closed as a printer closes it, its half receipt
// drawn then.
TEST(ImpresoraVirtual, TakesEveryConnectionOfABurstAndClosesAnIdleOne) {
    EntornoPrueba entorno;
    const QString dir = entorno.Raiz() + "/recibos";
    QProcess impresora;
    const quint16 puerto = Escuchar(impresora, dir);
    ASSERT_NE(puerto, 0);
    QTcpSocket ociosa;
    ociosa.connectToHost("127.0.0.1", puerto);
    ASSERT_TRUE(ociosa.waitForConnected(3000));

    constexpr int kCajas = 60;
    constexpr int kLargos = 5; // receipts of 2 to 6 lines
    std::vector<std::unique_ptr<QTcpSocket>> cajas;
    for (int i = 0; i < kCajas; ++i) {
        cajas.push_back(std::make_unique<QTcpSocket>());
        cajas.back()->connectToHost("127.0.0.1", puerto);
    }
    for (auto& caja : cajas) {
        ASSERT_TRUE(caja->waitForConnected(10000));
    }
    for (int i = 0; i < kCajas; ++i) {
        cajas[i]->write((QByteArray("caja ") + QByteArray::number(i) + "\n").repeated(1 + i % kLargos));
        ASSERT_TRUE(cajas[i]->waitForBytesWritten(3000));
    }
    for (auto& caja : cajas) {
        caja->write("total\n" + QByteArray::fromHex("1D5600"));
        ASSERT_TRUE(caja->waitForBytesWritten(3000));
    }
    EXPECT_EQ(EsperarImagenes(impresora, dir, kCajas), kCajas) << "every receipt drawn at its cut";
    std::map<quint32, int> altos;
    for (const QString& nombre : Imagenes(dir)) {
        ++altos[AltoPng(dir + "/" + nombre)];
    }
    EXPECT_EQ(altos.size(), std::size_t(kLargos)) << "no picture holds lines of two tills";
    for (const auto& [alto, cuantas] : altos) {
        EXPECT_EQ(cuantas, kCajas / kLargos) << alto;
    }
    cajas.clear();

    ociosa.write("a medias\n");
    ASSERT_TRUE(ociosa.waitForBytesWritten(3000));
    EXPECT_TRUE(ociosa.waitForDisconnected(30000)) << "an idle connection is closed";
    EXPECT_EQ(EsperarImagenes(impresora, dir, kCajas + 1), kCajas + 1);
    EXPECT_LT(AltoPng(dir + QStringLiteral("/recibo-%1.png").arg(kCajas + 1)), 120u) << "the idle one's half receipt";
    impresora.terminate();
    EXPECT_TRUE(impresora.waitForFinished(3000));
}

// --leer draws each receipt as its bytes are read, not at the end: fed
// through a pipe, receipts come out as they are written, and three hundred
// more leave the peak memory about where ten left it. SIGINT ends the read
// while the pipe is still open, the pictures written by then whole.
TEST(ImpresoraVirtual, ReadsACaptureAsItComesAndStopsOnSigint) {
    EntornoPrueba entorno;
    const QString dir = entorno.Raiz() + "/recibos";
    const QByteArray fifo = (entorno.Raiz() + "/captura").toLocal8Bit();
    ASSERT_EQ(mkfifo(fifo.constData(), 0600), 0);
    QProcess lector;
    lector.start(kPrograma, {"--leer", QString::fromLocal8Bit(fifo), "--modo", "E", "--png", dir});
    // A pipe opens for writing once its reader has opened it.
    int tuberia = -1;
    for (QDeadlineTimer plazo(10000); tuberia < 0 && !plazo.hasExpired(); lector.waitForFinished(50)) {
        tuberia = open(fifo.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    }
    ASSERT_GE(tuberia, 0);
    const auto escribir = [&](int desde, int cuantos) {
        QByteArray bytes;
        for (int i = desde; i < desde + cuantos; ++i) {
            for (int linea = 0; linea < 20; ++linea) {
                bytes += "recibo " + QByteArray::number(i) + ", linea " + QByteArray::number(linea) + "\n";
            }
            bytes += QByteArray::fromHex("1D5600");
        }
        // The pipe is non-blocking: while it is full, the reader's output is
        // drained, or both would wait on each other.
        qsizetype hecho = 0;
        for (QDeadlineTimer plazo(60000); hecho < bytes.size() && !plazo.hasExpired();) {
            const ssize_t n = write(tuberia, bytes.constData() + hecho, static_cast<size_t>(bytes.size() - hecho));
            if (n > 0) {
                hecho += n;
            } else if (errno != EAGAIN) {
                return false;
            } else {
                lector.waitForReadyRead(20);
                lector.readAllStandardOutput();
            }
        }
        return hecho == bytes.size();
    };
    ASSERT_TRUE(escribir(0, 10));
    ASSERT_EQ(EsperarImagenes(lector, dir, 10), 10) << "pictures while the capture is still being read";
    const qint64 pico = PicoMemoriaKb(lector.processId());
    ASSERT_TRUE(escribir(10, 300));
    EXPECT_EQ(EsperarImagenes(lector, dir, 310, 60000), 310);
#ifndef __SANITIZE_ADDRESS__
    // A picture of this receipt takes about 1.4 MB in memory. (AddressSanitizer
    // holds freed memory back for a while, so its builds are not measured.)
    EXPECT_LT(PicoMemoriaKb(lector.processId()) - pico, 40 * 1024) << "pictures are not kept";
#else
    static_cast<void>(pico);
#endif

    ASSERT_EQ(write(tuberia, "sin cortar\n", 11), 11);
    kill(static_cast<pid_t>(lector.processId()), SIGINT);
    EXPECT_TRUE(lector.waitForFinished(15000)) << "SIGINT ends the read";
    close(tuberia);
    if (lector.state() != QProcess::NotRunning) {
        lector.kill();
        lector.waitForFinished(3000);
    }
    EXPECT_EQ(lector.exitStatus(), QProcess::NormalExit);
    const QStringList imagenes = Imagenes(dir);
    EXPECT_EQ(imagenes.size(), 310);
    for (const QString& nombre : imagenes) {
        EXPECT_TRUE(PngEntero(dir + "/" + nombre)) << nombre.toStdString();
    }
    EXPECT_EQ(QDir(dir).entryList(QDir::Files).size(), imagenes.size()) << "no temporary file left";
}
