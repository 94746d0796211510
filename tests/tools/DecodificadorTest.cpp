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
         // A printer starts in PC437: the Windows-1252 euro sign is a Ç there.
         {QString::fromUtf8("[B]TOTAL[/B] 9,50 Ç"), "[U]sub[/U][I]inv[/I]<07>", kCajon, "", "[E]G[/E]", kCorte}},
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
    // At a width of 4, expanded characters counting twice; a line wraps only
    // when a character no longer fits.
    const QByteArray ancho = "abcdef" + H("1B2120") + "ghi" + H("1B2100") + "jk\n\rl";
    EXPECT_EQ(DeAUno(ancho, 1, 4), "abcd\nef[E]g\nhi[/E]\njk\nl");
    EXPECT_EQ(DeAUno("abcd\nefgh", 1, 4), "abcd\nefgh") << "a full line and its line feed are one line";
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

// ESC/POS as other programs send it: every command is consumed by its length
// and never printed, parameters given as ASCII digits count, status and
// real-time requests print nothing, and a command the printer does not know
// is listed apart.
TEST(Decodificador, EscPosCommandsAreReadByTheirLengthAndNeverPrinted) {
    // The preamble a receipt library puts before every line: underline, Kanji
    // underline, bold, reverse, sizes, margin, width, alignment, positions.
    const QByteArray preambulo = H("1B2D30 1C2D30 1B4530 1D4230 1D2100 1D4C0000 1D574002 1B6101 1B240000 1B5C0000");
    const QByteArray flujo =
        H("1B40 1D6100 1B4D30 1C28410200 3000 1B2000 1C530000 1B3300 1B7B00 1C2E") + preambulo + "uno\n" + H("1B4531") +
        "dos" + H("1B4530 1D2111") + "tres\n" +
        H("100401 100402 100403 100404 1D7201 1D4901 1D2848 0600 3030 30313233 1005 02 1014010005") +
        H("1B2841 0400 30310201") + H("1B9900") + H("1D0F") + "cuatro\n";
    Decodificador d(1, 48);
    d.Alimentar(flujo);
    EXPECT_EQ(d.Terminar().join(u'\n'), "uno\n[B]dos[/B]tres\ncuatro");
    EXPECT_EQ(d.TomarDesconocidos(), (QStringList{"1B 99", "1D 0F"}));
    // Piece by piece, the same.
    EXPECT_EQ(DeAUno(flujo, 1, 48), "uno\n[B]dos[/B]tres\ncuatro");

    // A bit image, a raster and a receipt library's graphics never print as text.
    const QByteArray graficos = H("1B2A21 0200 FFFFFF 000000") + H("1D763000 0100 0200 FF 81") +
                                H("1D384C 0C000000 30 70 30 01 01 31 0800 0200 FF81") + H("1D284C 0200 3032") + "fin";
    EXPECT_EQ(Decodificador::Decodificar(graficos, 1), "[imagen]\n[imagen]\nfin");
    // Barcodes and two-dimensional codes show their data.
    const QByteArray codigos = H("1D6B02") + "4006381333931" + H("00") + H("1D6B49 0A 7B42") + "Cola 128" +
                               H("1D286B 0400 3141 3200 1D286B 0300 3143 06 1D286B 0300 3145 31") +
                               H("1D286B 0700 3150 30") + "hola" + H("1D286B 0300 315130");
    EXPECT_EQ(Decodificador::Decodificar(codigos, 1).toStdString(),
              "[código EAN13: 4006381333931]\n[código CODE128: Cola 128]\n[código QR: hola]");
}

// The code page of ESC t (PC437 at power-on), the international sets of ESC R
// and UTF-8.
TEST(Decodificador, CodePagesInternationalSetsAndUtf8) {
    const struct {
        QByteArray bytes;
        const char* texto;
    } casos[] = {
        {"Se\xA4or Mu\xA4oz: caf\x82", "Señor Muñoz: café"}, // PC437
        {H("1B7411") + "\x91\xEA\xA5\xE8\xEC", "Съешь"},     // PC866
        {H("1B7412") + "Za\xBE\xA2\x88\x86", "Zażółć"},      // PC852
        {H("1B7413") + "12,50 \xD5", "12,50 €"},             // PC858
        {H("1B7402") + "Gr\x94\xE1"
                       "e",
         "Größe"},                                                     // PC850
        {H("1B7410") + "9,50 \x80", "9,50 €"},                         // Windows-1252
        {H("1B5207") + "#1", "₧1"},                                    // Spain I
        {H("1B5202") + "{|}~", "äöüß"},                                // Germany
        {H("1C28430200 3002") + "caf\xC3\xA9 \xE2\x82\xAC", "café €"}, // UTF-8
        {H("1B7401") + "\x9C\x95\x9D", "╭─╮"},                         // Katakana's box drawing
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.texto);
        EXPECT_EQ(Decodificador::Decodificar(c.bytes, 1), QString::fromUtf8(c.texto));
        EXPECT_EQ(DeAUno(c.bytes, 1), QString::fromUtf8(c.texto)) << "split anywhere, even inside a character";
    }
    Decodificador d(1);
    EXPECT_TRUE(d.EstablecerTabla(16));
    EXPECT_FALSE(d.EstablecerTabla(99));
    d.Alimentar("\x80");
    EXPECT_EQ(d.Terminar().join(u'\n'), QString::fromUtf8("€")) << "a printer set to Windows-1252";
}

// Every cut ends a receipt: GS V in each form (the feed-and-cut ones feed
// first), ESC i and ESC m.
TEST(Decodificador, EveryCutFormEndsAReceipt) {
    for (const char* corte : {"1D5600", "1D5601", "1D5630", "1D5631", "1D564103", "1D564203", "1D566103", "1D566203",
                              "1D566703", "1D566803", "1B69", "1B6D"}) {
        SCOPED_TRACE(corte);
        Decodificador d(1, 48);
        d.ConservarRenglones();
        d.Alimentar("uno\n" + H(corte) + "dos\n");
        EXPECT_EQ(d.Terminar().join(u'\n'), "uno\n" + kCorte + "\ndos");
        const QList<Renglon> renglones = d.TomarRenglones();
        ASSERT_GE(renglones.size(), 3);
        EXPECT_EQ(renglones[renglones.size() - 2].tipo, Renglon::Tipo::Corte);
        const bool alimenta = QByteArray(corte).size() == 8;
        EXPECT_EQ(renglones.size(), alimenta ? 4 : 3) << "the feed before the cut";
        if (alimenta) {
            EXPECT_EQ(renglones[1].avance, 3);
        }
    }
}

// A stream of feeds or of oversized pictures costs neither memory nor time:
// a run of feeds is one line on paper, of a picture larger than the paper
// only the print area's part is kept.
TEST(Decodificador, HostileStreamsStayBounded) {
    Decodificador d(1, 48);
    d.ConservarRenglones();
    QByteArray avances;
    for (int i = 0; i < 20000; ++i) {
        avances += H("1B64FF");
    }
    d.Alimentar(avances);
    EXPECT_EQ(d.TomarLineas().size(), 20000 * 255);
    EXPECT_EQ(d.TomarRenglones().size(), 20000);
    d.Alimentar(H("1D763000 FFFF 4000") + QByteArray(65535 * 64, '\xFF') + "fin\n");
    const QList<Renglon> renglones = d.TomarRenglones();
    ASSERT_EQ(renglones.size(), 2);
    EXPECT_EQ(renglones[0].grafico.size(), QSize(576, 64));
    EXPECT_EQ(renglones[1].tramos.value(0).texto, "fin");
}

// A stream that never ends its command or its line costs time and memory in
// proportion to its length: a barcode's data stops at 255 bytes, a line at
// the widest paper or at 2048 characters and marks, and the same stream reads
// the same whole or byte by byte.
TEST(Decodificador, UnendingCommandsAndLinesStayBounded) {
    const QByteArray sinNul = H("1D6B04") + QByteArray(300 * 1024, 'A');
    const QByteArray controles(256 * 1024, '\x07');
    QByteArray encima; // the same place written over and over
    for (int i = 0; i < 20000; ++i) {
        encima += "ab" + H("1B5CE8FF");
    }
    const QByteArray* const flujos[] = {&sinNul, &controles, &encima};
    for (const QByteArray* cual : flujos) {
        const QByteArray& flujo = *cual;
        Decodificador d(1);
        d.Alimentar(flujo);
        const QStringList lineas = d.Terminar();
        const QStringList registro = d.TomarDesconocidos();
        ASSERT_FALSE(lineas.isEmpty());
        for (const QString& linea : lineas) {
            ASSERT_LE(linea.size(), 2048);
        }
        if (cual == &sinNul) {
            ASSERT_EQ(registro.size(), 1);
            EXPECT_TRUE(registro[0].startsWith("1D 6B 04 41")) << registro[0].toStdString();
            // What follows the refused command is text, wrapped past 4096 dots.
            EXPECT_EQ(lineas[0], QString(4096 / 12, u'A'));
            EXPECT_EQ(lineas.join(QString()).size(), sinNul.size() - 3 - 255);
        } else {
            EXPECT_EQ(lineas.size(), 1);
            EXPECT_EQ(registro, QStringList{"linea de mas de 2048 caracteres: el resto no se imprime"});
        }
    }
    // Smaller pieces of each, whole and byte by byte.
    for (const QByteArray& flujo : {sinNul.first(20000), controles.first(20000), encima.first(20000)}) {
        EXPECT_EQ(DeAUno(flujo, 1), Decodificador::Decodificar(flujo, 1));
    }
}

// A printer refuses a code wider than its line, and CODE128 data without its
// code set; a raster larger than the paper prints the part inside the print
// area. Each is logged.
TEST(Decodificador, CodesWiderThanTheLineAndOversizedPicturesAreLogged) {
    const auto decodificar = [](const QByteArray& bytes, QStringList& registro) {
        Decodificador d(1, 48);
        d.ConservarRenglones();
        d.Alimentar(bytes);
        const QString texto = d.Terminar().join(u'\n');
        registro = d.TomarDesconocidos();
        QList<Renglon> renglones = d.TomarRenglones();
        return std::pair{texto, renglones};
    };
    QStringList registro;
    // CODE128 of 14 characters at 3 dots a module is 567 dots wide; of 15, 600.
    auto [cabe, renglones] = decodificar(H("1D6B49 10 7B42") + "ABCDEFGHIJKLMN", registro);
    EXPECT_EQ(cabe, QString::fromUtf8("[código CODE128: ABCDEFGHIJKLMN]"));
    ASSERT_EQ(renglones.size(), 1);
    EXPECT_EQ(renglones[0].grafico.width(), 567);
    EXPECT_TRUE(registro.isEmpty());

    const QByteArray ancho = H("1D6B49 11 7B42") + "ABCDEFGHIJKLMNO";
    std::tie(cabe, renglones) = decodificar(ancho + "fin\n", registro);
    EXPECT_EQ(cabe, "fin");
    ASSERT_EQ(renglones.size(), 1);
    EXPECT_TRUE(renglones[0].grafico.isNull());
    ASSERT_EQ(registro.size(), 1);
    EXPECT_TRUE(registro[0].contains("600 puntos, mas ancho que la linea de 576")) << registro[0].toStdString();

    // A QR code of 16-dot modules.
    const QByteArray datos(200, 'x');
    const QByteArray qr = H("1D286B 0300 3143 10 1D286B") + QByteArray(1, char(datos.size() + 3)) + H("00 3150 30") +
                          datos + H("1D286B 0300 315130");
    std::tie(cabe, renglones) = decodificar(qr, registro);
    EXPECT_EQ(cabe, "");
    ASSERT_EQ(registro.size(), 1);
    EXPECT_TRUE(registro[0].contains("mas ancho que la linea de 576")) << registro[0].toStdString();

    std::tie(cabe, renglones) = decodificar(H("1D6B49 04") + "Cola", registro);
    EXPECT_EQ(cabe, "");
    EXPECT_EQ(registro,
              QStringList{"1D 6B 49 04 43 6F 6C 61: CODE128 sin juego de codigos al principio ({A, {B o {C)"});

    // 65535 bytes a row, two rows: the first 576 dots of each.
    QByteArray filas = QByteArray(65535, '\xFF') + QByteArray(65535, '\x00');
    std::tie(cabe, renglones) = decodificar(H("1D763000 FFFF 0200") + filas + H("1D763000 0000 0000"), registro);
    EXPECT_EQ(cabe, "[imagen]");
    ASSERT_EQ(renglones.size(), 1);
    EXPECT_EQ(renglones[0].grafico.size(), QSize(576, 2));
    EXPECT_EQ(qGray(renglones[0].grafico.pixel(575, 0)), 0);
    EXPECT_EQ(qGray(renglones[0].grafico.pixel(575, 1)), 255);
    ASSERT_EQ(registro.size(), 2);
    EXPECT_TRUE(registro[0].endsWith("imagen de 524280x2 puntos: se imprimen 576x2")) << registro[0].toStdString();
    EXPECT_TRUE(registro[1].endsWith("imagen vacia")) << registro[1].toStdString();
}

// A command cut off by the end of the stream prints nothing and is logged;
// the buzzer, ESC B n t, takes its two bytes.
TEST(Decodificador, TruncatedCommandsAndTheBuzzer) {
    const struct {
        qint16 modo;
        QByteArray bytes;
        const char* texto;
    } casos[] = {
        {1, "uno\n" + H("1B2A21 0500 FFFF"), "uno"},
        {1, "uno\n" + H("1D6B49 08 7B42 41"), "uno"},
        {1, "uno\n" + H("1D2841"), "uno"},
        {2, "uno\n" + H("1B2A00 0500 FFFF"), "uno"},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.bytes.toHex().toStdString());
        Decodificador d(c.modo);
        d.Alimentar(c.bytes);
        EXPECT_EQ(d.Terminar().join(u'\n'), c.texto);
        const QStringList registro = d.TomarDesconocidos();
        ASSERT_EQ(registro.size(), 1);
        EXPECT_TRUE(registro[0].endsWith(": comando incompleto al final")) << registro[0].toStdString();
        EXPECT_EQ(DeAUno(c.bytes, c.modo), c.texto);
    }
    Decodificador d(1);
    const QByteArray zumbador = "ab" + H("1B420302") + "cd\n";
    d.Alimentar(zumbador);
    EXPECT_EQ(d.Terminar().join(u'\n'), "abcd");
    EXPECT_TRUE(d.TomarDesconocidos().isEmpty());
    EXPECT_EQ(DeAUno(zumbador, 1), "abcd");
}
