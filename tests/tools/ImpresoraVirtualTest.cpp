#include "platform/Ajustes.h"
#include "printer/ctlImpresora.h"
#include "testsupport/EntornoPrueba.h"

#include <QElapsedTimer>
#include <QProcess>
#include <gtest/gtest.h>

namespace {

const QString kPrograma = QStringLiteral(ORLAN_BUILD_DIR "/tools/impresora-virtual/orlan-impresora-virtual");
const QString kCorte = QString::fromUtf8("- - - - - - - - - - - ✂ corte - - - - - - - - - - -");

// Reads the program's output until it holds `fin` (at most a few seconds).
QString LeerHasta(QProcess& p, const QString& fin) {
    QString salida;
    QElapsedTimer t;
    t.start();
    while (!salida.contains(fin) && t.elapsed() < 5000) {
        p.waitForReadyRead(100);
        salida += QString::fromUtf8(p.readAllStandardOutput());
    }
    return salida;
}

} // namespace

TEST(ImpresoraVirtual, ServesTheControlOnAPseudoTerminalAndReadsItsCapture) {
    EntornoPrueba entorno;
    const QString captura = entorno.Raiz() + "/captura.bin";
    QProcess impresora;
    impresora.start(kPrograma, {"--modo", "E", "--respuesta", "16", "--captura", captura});
    ASSERT_TRUE(impresora.waitForStarted());
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
    const QStringList recibo = LeerHasta(impresora, kCorte).split(u'\n');
    impresora.terminate();
    EXPECT_TRUE(impresora.waitForFinished(3000));
    const QString esperado =
        QString::fromUtf8("[B]Total 9,50 €|[/B]|==== abre cajón ====") + QString(12, u'|') + u'|' + kCorte + u'|';
    EXPECT_EQ(recibo.join(u'|').toStdString(), esperado.toStdString()) << "the cut after twelve feeds";

    QProcess lector;
    lector.start(kPrograma, {"--leer", captura, "--modo", "E"});
    ASSERT_TRUE(lector.waitForFinished(3000));
    EXPECT_EQ(QString::fromUtf8(lector.readAllStandardOutput()).toStdString(), recibo.join(u'\n').toStdString());
}

TEST(ImpresoraVirtual, FollowsAGrowingCaptureFile) {
    EntornoPrueba entorno;
    const QString captura = entorno.Escribir(entorno.Raiz() + "/378.bin", "viejo\n\r");
    QProcess seguidor;
    seguidor.setReadChannel(QProcess::StandardError);
    seguidor.start(kPrograma, {"--seguir", captura, "--modo", "C"});
    ASSERT_TRUE(seguidor.waitForStarted());
    ASSERT_TRUE(seguidor.waitForReadyRead(3000));
    EXPECT_EQ(seguidor.readAllStandardError(), "siguiendo " + captura.toUtf8() + " desde el byte 7\n");
    QFile f(captura);
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write(QByteArray::fromHex("0E") + "Mesa 4" + QByteArray::fromHex("0A0D 0F 1B5000 1B5001"));
    f.close();
    seguidor.setReadChannel(QProcess::StandardOutput);
    const QString salida = LeerHasta(seguidor, kCorte);
    seguidor.terminate();
    EXPECT_TRUE(seguidor.waitForFinished(3000));
    EXPECT_EQ(salida.toStdString(), ("[E]Mesa 4\n[/E]\n" + kCorte + "\n").toStdString())
        << "only what came after the start";

    QProcess ayuda;
    ayuda.start(kPrograma, {"--help"});
    ASSERT_TRUE(ayuda.waitForFinished(3000));
    EXPECT_TRUE(ayuda.readAllStandardOutput().contains("--seguir"));
    ayuda.start(kPrograma, {"--modo", "Q"});
    ASSERT_TRUE(ayuda.waitForFinished(3000));
    EXPECT_EQ(ayuda.exitCode(), 2);
}
