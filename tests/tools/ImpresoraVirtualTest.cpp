#include "platform/Ajustes.h"
#include "printer/ctlImpresora.h"
#include "testsupport/EntornoPrueba.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QTcpSocket>
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
    impresora.start(kPrograma, {"--modo", "E", "--respuesta", "16", "--captura", captura});
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
    lector.start(kPrograma, {"--leer", captura, "--modo", "E"});
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
