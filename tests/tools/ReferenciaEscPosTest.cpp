// The reference set: receipts written by public receipt libraries
// (receiptline; node-thermal-printer, escpos-buffer and @node-escpos/core)
// and python-escpos-style streams, and our own documents, each drawn and
// compared with its golden picture; the codes on them read back by zbarimg,
// as a phone would read them, and PDF417 by zxing-cpp, which zbar cannot read.

#include "impresora-virtual/DibujoRecibo.h"
#include "testsupport/EntornoPrueba.h"

#include <QDir>
#include <QProcess>
#include <gtest/gtest.h>

namespace {

const QString kDatos = QStringLiteral(ORLAN_TEST_DATA);

// Every receipt of a stream, as --leer --png draws them.
QList<QImage> Dibujar(const QByteArray& bytes, qint16 modo, int columnas) {
    Decodificador d(modo, columnas);
    d.ConservarRenglones();
    d.Alimentar(bytes);
    d.Terminar();
    DibujoRecibo dibujo(columnas);
    dibujo.Agregar(d.TomarRenglones());
    return dibujo.Terminar();
}

QByteArray H(const char* hex) {
    return QByteArray::fromHex(hex);
}

// The dark pixels' horizontal extent in a band of rows.
std::pair<int, int> Tinta(const QImage& imagen, int desde, int hasta) {
    int izquierda = imagen.width(), derecha = -1;
    for (int y = desde; y < hasta; ++y) {
        for (int x = 0; x < imagen.width(); ++x) {
            if (qAlpha(imagen.pixel(x, y)) == 255 && qGray(imagen.pixel(x, y)) < 100) {
                izquierda = std::min(izquierda, x);
                derecha = std::max(derecha, x);
            }
        }
    }
    return {izquierda, derecha};
}

// Each receipt against its golden picture under escpos/dorados/, named after
// the stream; ORLAN_ACTUALIZAR_DORADOS=1 redraws them instead.
void CompararConDorados(const QString& archivo, const QList<QImage>& recibos) {
    const bool actualizar = qEnvironmentVariableIntValue("ORLAN_ACTUALIZAR_DORADOS") == 1;
    const QString dorados = kDatos + "/escpos/dorados/";
    QDir().mkpath(dorados);
    const QString base = dorados + QFileInfo(archivo).completeBaseName();
    for (qsizetype i = 0; i < recibos.size(); ++i) {
        const QString ruta = base + QStringLiteral("-%1.png").arg(i + 1);
        if (actualizar) {
            recibos[i].save(ruta, "PNG");
            continue;
        }
        const QImage dorado(ruta);
        ASSERT_FALSE(dorado.isNull()) << ruta.toStdString();
        const bool igual = dorado.convertToFormat(QImage::Format_ARGB32) == recibos[i];
        if (!igual) {
            recibos[i].save(QStringLiteral(ORLAN_BUILD_DIR "/") + QFileInfo(ruta).fileName(), "PNG");
        }
        EXPECT_TRUE(igual) << ruta.toStdString() << " differs; the drawing is in the build directory";
    }
    EXPECT_FALSE(QFileInfo::exists(base + QStringLiteral("-%1.png").arg(recibos.size() + 1)))
        << "fewer receipts than golden pictures";
}

// What a program prints on its standard output, a line each; empty lines
// left out.
QStringList Salida(const QString& programa, const QStringList& argumentos) {
    QProcess proceso;
    proceso.start(programa, argumentos);
    if (!proceso.waitForFinished(60000)) {
        ADD_FAILURE() << programa.toStdString() << " did not finish";
        return {};
    }
    const QByteArray errores = proceso.readAllStandardError();
    EXPECT_TRUE(errores.isEmpty() || proceso.exitCode() == 0)
        << programa.toStdString() << ": " << errores.toStdString();
    return QString::fromUtf8(proceso.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
}

// The barcodes and QR codes every receipt shows, read by zbarimg, and its
// PDF417 symbols, read by zxing-cpp; sorted.
QStringList CodigosLeidos(const QList<QImage>& recibos, const QString& carpeta) {
    QStringList leidos;
    for (qsizetype i = 0; i < recibos.size(); ++i) {
        const QString ruta = carpeta + QStringLiteral("/recibo-%1.png").arg(i + 1);
        if (!recibos[i].save(ruta, "PNG")) {
            ADD_FAILURE() << "cannot write " << ruta.toStdString();
            continue;
        }
        leidos += Salida(QStringLiteral("zbarimg"), {"--raw", "-q", ruta});
        leidos += Salida(QStringLiteral("/usr/bin/python3"),
                         {"-c",
                          "import sys, zxingcpp\n"
                          "from PIL import Image\n"
                          "for r in zxingcpp.read_barcodes(Image.open(sys.argv[1]), formats=zxingcpp.PDF417):\n"
                          "    print(r.text)\n",
                          ruta});
    }
    leidos.sort();
    return leidos;
}

// A library's stream: how the printer reads it, the receipts it cuts, the
// codes they carry and whether its drawing is compared with golden pictures.
struct Biblioteca {
    const char* archivo; // under tests/data/escpos
    qint16 modo;
    int recibos;
    QStringList codigos;
    bool dorado;
};

void ComprobarBibliotecas(const std::vector<Biblioteca>& casos) {
    for (const Biblioteca& c : casos) {
        SCOPED_TRACE(c.archivo);
        EntornoPrueba entorno;
        const QList<QImage> recibos = Dibujar(EntornoPrueba::Leer(kDatos + "/escpos/" + c.archivo), c.modo, 48);
        EXPECT_EQ(recibos.size(), c.recibos) << "a receipt for every cut";
        QStringList esperados = c.codigos;
        esperados.sort();
        EXPECT_EQ(CodigosLeidos(recibos, entorno.Raiz()).join(u',').toStdString(), esperados.join(u',').toStdString());
        if (c.dorado) {
            CompararConDorados(c.archivo, recibos);
        }
    }
}

} // namespace

TEST(ReferenciaEscPos, EveryReceiptDrawsAsItsGoldenPicture) {
    struct Caso {
        QString archivo; // under tests/data
        qint16 modo;
        int columnas;
    };
    const Caso casos[] = {
        {"escpos/escpos-estilos.bin", 1, 48},
        {"escpos/escpos-tablas.bin", 1, 48},
        {"escpos/escpos-imagenes.bin", 1, 48},
        {"escpos/escpos-codigos.bin", 1, 48},
        {"escpos/escpos-cortes.bin", 1, 48},
        {"escpos/receiptline-estilos.bin", 1, 48},
        {"escpos/receiptline-extranjero.bin", 1, 48},
        {"escpos/receiptline-codigos.bin", 1, 48},
        // Our own documents, laid out for 42 columns.
        {"printer/documento_E.bin", 1, 42},
        {"printer/documento_C.bin", 2, 42},
        {"printer/documento_S.bin", 3, 42},
        {"config/prueba_E.bin", 1, 42},
        {"config/prueba_C.bin", 2, 42},
        {"config/prueba_S.bin", 3, 42},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.archivo.toStdString());
        const QList<QImage> recibos = Dibujar(EntornoPrueba::Leer(kDatos + "/" + c.archivo), c.modo, c.columnas);
        ASSERT_FALSE(recibos.isEmpty());
        CompararConDorados(c.archivo, recibos);
    }
}

// Barcodes and QR codes are drawn so that a reader decodes them.
TEST(ReferenciaEscPos, ZbarReadsEveryCode) {
    EntornoPrueba entorno;
    const struct {
        const char* archivo;
        QStringList codigos;
    } casos[] = {
        {"escpos-codigos.bin",
         {"0036000291452", "4006381333931", "96385074", "ORLAN-42", "12345678", "A40156B", "CODE93", "Cola-128",
          "12345678", "https://example.com/recibo/42"}},
        {"receiptline-codigos.bin", {"1234567890128", "ORLAN-42", "Cola 128", "https://example.com/recibo/42"}},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.archivo);
        const QList<QImage> recibos = Dibujar(EntornoPrueba::Leer(kDatos + "/escpos/" + c.archivo), 1, 48);
        ASSERT_EQ(recibos.size(), 1);
        const QString ruta = entorno.Raiz() + "/codigos.png";
        ASSERT_TRUE(recibos[0].save(ruta, "PNG"));
        QProcess zbar;
        zbar.start(QStringLiteral("zbarimg"), {"--raw", "-q", ruta});
        ASSERT_TRUE(zbar.waitForFinished(30000)) << "zbarimg (zbar-tools) is needed";
        QStringList leidos = QString::fromUtf8(zbar.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        QStringList esperados = c.codigos;
        leidos.sort();
        esperados.sort();
        EXPECT_EQ(leidos.join(u',').toStdString(), esperados.join(u',').toStdString());
    }
}

// The receipts of public ESC/POS libraries for Epson-family printers: two
// receipts a stream, each with its EAN13 (the printer adds the check digit),
// CODE128 and QR code, and node-thermal-printer's PDF417; escpos-buffer
// has no barcodes, only the QR code.
TEST(ReferenciaEscPos, LibraryStreams) {
    const QStringList ntp = {"4006381333931", "Cola-128", "https://example.com/recibo/1", "ORLAN PDF417 42",
                             "4006381333931", "Cola-128", "https://example.com/recibo/2", "ORLAN PDF417 42"};
    const QStringList qr = {"https://example.com/recibo/1", "https://example.com/recibo/2"};
    const QStringList nodeEscpos = {"4006381333931", "Cola-128", "https://example.com/recibo/1",
                                    "4006381333931", "Cola-128", "https://example.com/recibo/2"};
    ComprobarBibliotecas({
        {"node-thermal-printer-epson.bin", 1, 2, ntp, true},
        {"node-thermal-printer-tanca.bin", 1, 2, ntp, true},
        {"node-thermal-printer-custom.bin", 1, 2, ntp, true},
        {"escpos-buffer-tm-t20.bin", 1, 2, qr, true},
        {"escpos-buffer-tm-t88.bin", 1, 2, qr, true},
        // Its QR code is GS Z 2 and ESC Z v n k dL dH d, the 2D code command of
        // the generic ESC/POS printers the library is made for.
        {"node-escpos.bin", 1, 2, nodeEscpos, true},
    });
}

// node-thermal-printer's STAR type writes Star Line Mode: the same receipts,
// with Star's own barcode (ESC b), PDF417 (ESC GS x), fine bit image (ESC k)
// and cut (ESC d 2) commands. Its QR code never prints: the library sends the data's
// length and bytes without ESC GS y D 1 0 before them, so a Star printer
// holds no QR data when ESC GS y P comes.
TEST(ReferenciaEscPos, StarLibraryStreams) {
    ComprobarBibliotecas({
        {"node-thermal-printer-star.bin",
         3,
         2,
         {"4006381333931", "Cola-128", "ORLAN PDF417 42", "4006381333931", "Cola-128", "ORLAN PDF417 42"},
         true},
    });
}

// An 80 mm roll prints 48 columns of 12-dot Font A and 64 of Font B; lines
// keep their alignment, positions and margins; sizes go up to 8x.
TEST(ReferenciaEscPos, PrintStateOnPaper) {
    EXPECT_EQ(Decodificador(1, 32, 384).Celda(), 12) << "a 58 mm roll: 32 columns on 384 dots";
    Decodificador d(1, 48);
    EXPECT_EQ(d.Celda(), 12);
    d.ConservarRenglones();
    d.Alimentar(QByteArray(48, 'M') + "\n" + H("1B4D01") + QByteArray(64, 'M') + "\n" + H("1B4D00 1B6101") + "MM\n" +
                H("1B6102") + "MM\n" + H("1B6100 1B244001") + "M\n" + H("1D4C6000") + "M\n" + H("1D4C0000 1D2177") +
                "M\n" + H("1D2100 1B7B01") + "MMMM\n" + H("1B7B00 1B3350") + "M\n");
    d.Terminar();
    const QList<Renglon> renglones = d.TomarRenglones();
    ASSERT_EQ(renglones.size(), 9) << "48 columns of Font A and 64 of Font B fit a line each";
    DibujoRecibo dibujo(48);
    const QList<QImage> recibos = [&] {
        dibujo.Agregar(renglones);
        return dibujo.Terminar();
    }();
    ASSERT_EQ(recibos.size(), 1);
    const QImage& r = recibos[0];
    int y = DibujoRecibo::kMargenSuperior;
    std::vector<std::pair<int, int>> tinta;
    for (const Renglon& renglon : renglones) {
        tinta.push_back(Tinta(r, y, y + dibujo.Alto(renglon)));
        y += dibujo.Alto(renglon);
    }
    EXPECT_LE(tinta[0].first, 2);
    EXPECT_GE(tinta[0].second, 570) << "48 characters reach across the paper";
    EXPECT_GE(tinta[1].second, 570) << "and so do 64 of Font B";
    EXPECT_NEAR((tinta[2].first + tinta[2].second) / 2, 288, 3) << "centred";
    EXPECT_GE(tinta[3].second, 572) << "to the right";
    EXPECT_NEAR(tinta[4].first, 320, 3) << "ESC $ puts it at dot 320";
    EXPECT_NEAR(tinta[5].first, 96, 3) << "GS L leaves a margin of 96 dots";
    EXPECT_EQ(dibujo.Alto(renglones[6]), 8 * dibujo.Alto(renglones[0]) - 8 * (dibujo.AltoLinea() - 24) + 8 * 4)
        << "8x8 is eight lines tall";
    EXPECT_GE(tinta[6].second - tinta[6].first, 8 * 12 - 24) << "and eight columns wide";
    EXPECT_GE(tinta[7].second, 572) << "upside-down, the line starts at the right";
    EXPECT_EQ(dibujo.Alto(renglones[8]), 80) << "ESC 3 sets the line spacing in dots";
}

// ESC ! 0 ends everything ESC ! set (sizes, emphasis, underline, font B), as
// the libraries that reset their text this way expect; GS ! 0 ends the
// double width of ESC ! 0x20 as well as its own sizes.
TEST(ReferenciaEscPos, ResetsOfThePrintModes) {
    Decodificador d(1, 48);
    d.ConservarRenglones();
    d.Alimentar(H("1B40 1B21B9") + "grande\n" + H("1B2100") + "normal\n" + H("1B2120") + "ancho\n" + H("1D2100") +
                "normal\n" + H("1D2111") + "doble\n" + H("1B2100") + "normal\n");
    d.Terminar();
    const QList<Renglon> renglones = d.TomarRenglones();
    ASSERT_EQ(renglones.size(), 6);
    const auto estilos = [&](int i) { return renglones[i].tramos.value(0).estilos; };
    EXPECT_EQ(estilos(0).Ancho(), 2);
    EXPECT_TRUE(estilos(0).negrita && estilos(0).subrayado && estilos(0).fuenteB && estilos(0).alto == 2);
    for (const int i : {1, 3, 5}) {
        const Estilos e = estilos(i);
        EXPECT_EQ(renglones[i].tramos.value(0).texto, "normal") << i;
        EXPECT_TRUE(e.Ancho() == 1 && e.alto == 1 && !e.negrita && !e.subrayado && !e.fuenteB) << i;
    }
}
