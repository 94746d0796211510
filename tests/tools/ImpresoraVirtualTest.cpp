#include "platform/Ajustes.h"
#include "printer/ctlImpresora.h"
#include "testsupport/EntornoPrueba.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QTcpSocket>
#include <QtEndian>
#include <gtest/gtest.h>

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
// its own, and a second connection waits for the first, so receipts never mix.
TEST(ImpresoraVirtual, EveryCutAndEveryClosedConnectionEndsItsOwnPicture) {
    EntornoPrueba entorno;
    const QString dir = entorno.Raiz() + "/recibos";
    QProcess impresora;
    impresora.start(kPrograma, {"--escuchar", "127.0.0.1:0", "--modo", "E", "--png", dir});
    const QString destino = LeerHasta(impresora, "\n").trimmed();
    ASSERT_TRUE(destino.startsWith("tcp:127.0.0.1:")) << destino.toStdString();
    const quint16 puerto = static_cast<quint16>(destino.section(u':', 2).toUInt());
    const auto imagenes = [&] { return QDir(dir).entryList({"recibo-*.png"}, QDir::Files, QDir::Name); };
    const auto esperarImagenes = [&](qsizetype cuantas) {
        for (QDeadlineTimer plazo(10000); imagenes().size() < cuantas && !plazo.hasExpired();) {
            impresora.waitForReadyRead(50);
            impresora.readAllStandardOutput();
        }
        return imagenes().size();
    };

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

    // A second till while the first is still connected waits its turn.
    caja.write("sin corte, hasta cerrar\n");
    ASSERT_TRUE(caja.waitForBytesWritten(3000));
    QTcpSocket otra;
    otra.connectToHost("127.0.0.1", puerto);
    ASSERT_TRUE(otra.waitForConnected(3000));
    otra.write("de la otra caja\n" + QByteArray::fromHex("1D5600"));
    ASSERT_TRUE(otra.waitForBytesWritten(3000));
    caja.disconnectFromHost();
    EXPECT_EQ(esperarImagenes(9), 9) << "the closed connection's receipt, then the other till's";
    otra.disconnectFromHost();
    // A PNG's height, from its header.
    const auto alto = [&](const char* nombre) {
        const QByteArray png = EntornoPrueba::Leer(dir + "/" + nombre);
        return png.size() < 24 ? 0 : qFromBigEndian<quint32>(png.constData() + 20);
    };
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
