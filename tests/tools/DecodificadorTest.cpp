#include "impresora-virtual/Decodificador.h"
#include "testsupport/EntornoPrueba.h"

#include <gtest/gtest.h>

namespace {

QByteArray H(const char* hex) {
    return QByteArray::fromHex(hex);
}

const QString kCorte = QString::fromUtf8("- - - - - - - - - - - ✂ corte - - - - - - - - - - -");
const QString kCajon = QString::fromUtf8("==== abre cajón ====");

// Fed one byte at a time: commands split anywhere decode the same.
QString DeAUno(const QByteArray& bytes, qint16 modo, int ancho = 0) {
    Decodificador d(modo, ancho);
    QStringList lineas;
    for (char b : bytes) {
        d.Alimentar(QByteArrayView(&b, 1));
        lineas += d.TomarLineas();
    }
    return (lineas + d.Terminar()).join(u'\n');
}

} // namespace

TEST(Decodificador, KnownStreamOfEachDialectAndThePapersWidth) {
    struct Caso {
        qint16 modo;
        QByteArray bytes;
        QStringList lineas;
    };
    const Caso casos[] = {
        {1,
         H("100404 1B40 1B4501") + "TOTAL" + H("1B4500") + " 9,50 \x80" + H("0A0D 1B2D01") + "sub" + H("1B2D00") +
             H("1B4B01 1B7B01") + "inv" + H("1B4B01 1B7B00 07 0A0D 1B7000 0A0D 1B2120") + "G" + H("0D1B2100 1B6D"),
         {QString::fromUtf8("[B]TOTAL[/B] 9,50 €"), "[U]sub[/U][I]inv[/I]<07>", kCajon, "", "[E]G[/E]", kCorte}},
        {2,
         H("11 0E") + "Modo Citizen" + H("0A0D 0F 0C") + "x" + H("0B 0D") + "y" + H("0A0D 1B5000 1B5001"),
         {"[E]Modo Citizen", "[/E][I]x[/I]y", kCorte}},
        {3,
         H("1B40 1B5731") + "Modo Star" + H("0A0D 1B5730 1B34") + "rojo" + H("1B35 1C 1B6431"),
         {"[E]Modo Star", "[/E][C]rojo[/C]", kCajon, kCorte}},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.modo);
        EXPECT_EQ(Decodificador::Decodificar(c.bytes, c.modo), c.lineas.join(u'\n'));
        EXPECT_EQ(DeAUno(c.bytes, c.modo), c.lineas.join(u'\n'));
    }
    // At a width of 4, expanded characters counting twice.
    const QByteArray ancho = "abcdef" + H("1B2120") + "ghi" + H("1B2100") + "jk\n\rl";
    EXPECT_EQ(DeAUno(ancho, 1, 4), "abcd\nef[E]g\nhi\n[/E]jk\nl");
}

// The golden byte files of the printer tests (identification page, logo, cut)
// read as receipts.
TEST(Decodificador, GoldenDocumentsReadAsReceipts) {
    EntornoPrueba entorno;
    for (const char* letra : {"E", "C", "S"}) {
        SCOPED_TRACE(letra);
        const QString base = QStringLiteral(ORLAN_TEST_DATA "/printer/documento_%1").arg(letra);
        const QByteArray bytes = EntornoPrueba::Leer(base + ".bin");
        const qint16 modo = Decodificador::ModoDeLetra(QLatin1Char(letra[0]));
        const QString recibo = Decodificador::Decodificar(bytes, modo);
        if (qEnvironmentVariableIntValue("ORLAN_ACTUALIZAR_DORADOS") == 1) {
            entorno.Escribir(base + ".txt", recibo.toUtf8() + "\n");
            continue;
        }
        EXPECT_EQ(recibo + "\n", QString::fromUtf8(EntornoPrueba::Leer(base + ".txt")));
        EXPECT_EQ(DeAUno(bytes, modo), recibo);
    }
}
