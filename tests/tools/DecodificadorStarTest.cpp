// Star Line Mode as --modo S reads it: a receipt written by a public receipt
// library (node-thermal-printer, printer type STAR), and the raster graphics,
// line spacing, code pages and unknown commands of Star's command set.

#include "impresora-virtual/DibujoRecibo.h"
#include "testsupport/EntornoPrueba.h"

#include <QProcess>
#include <gtest/gtest.h>

namespace {

constexpr qint16 kStar = 3;

QByteArray H(const char* hex) {
    return QByteArray::fromHex(hex);
}

struct Lectura {
    QStringList lineas;
    QList<Renglon> renglones;
    QStringList desconocidos;
};

Lectura Leer(const QByteArray& bytes, qint16 modo = kStar) {
    Decodificador d(modo, 48);
    d.ConservarRenglones();
    d.Alimentar(bytes);
    Lectura l;
    l.lineas = d.Terminar();
    l.renglones = d.TomarRenglones();
    l.desconocidos = d.TomarDesconocidos();
    return l;
}

QList<QImage> Dibujar(const QList<Renglon>& renglones) {
    DibujoRecibo dibujo(48);
    dibujo.Agregar(renglones);
    return dibujo.Terminar();
}

// The first line whose text starts with `texto`.
const Renglon* Buscar(const QList<Renglon>& renglones, const QString& texto) {
    for (const Renglon& r : renglones) {
        if (!r.tramos.isEmpty() && r.tramos[0].texto.startsWith(texto)) {
            return &r;
        }
    }
    return nullptr;
}

} // namespace

// Styles, sizes, alignment and the code page show as the printer would print
// them; a picture per cut; the barcodes and the QR code read back with zbarimg.
TEST(DecodificadorStar, NodeThermalPrinterReceipt) {
    EntornoPrueba entorno;
    const Lectura l = Leer(EntornoPrueba::Leer(QStringLiteral(ORLAN_TEST_DATA "/star/node-thermal-printer-star.bin")));
    EXPECT_TRUE(l.desconocidos.isEmpty()) << l.desconocidos.join(u',').toStdString();
    const QString texto = l.lineas.join(u'\n');
    for (const char* esperado :
         {"[X]ORLAN", "[/X]Cafe del Puerto", "[B]Negrita", "[/B][U]Subrayado", "[E]Ancho doble", "2,50 \u20ac",
          "[código CODE128: ORLAN-42]", "[código CODE128: Cola-128]", "[código QR: https://example.com/recibo/42]",
          "[código PDF417: ORLAN PDF417 42]", "==== abre caj\u00f3n ===="}) {
        EXPECT_TRUE(texto.contains(QString::fromUtf8(esperado))) << esperado << "\n" << texto.toStdString();
    }
    EXPECT_EQ(texto.count(QStringLiteral("corte")), 4);

    const Renglon* orlan = Buscar(l.renglones, "ORLAN");
    const Renglon* alto = Buscar(l.renglones, "Alto doble");
    const Renglon* derecha = Buscar(l.renglones, "Derecha");
    const Renglon* negrita = Buscar(l.renglones, "Negrita");
    ASSERT_TRUE(orlan && alto && derecha && negrita);
    EXPECT_EQ(orlan->alineacion, Renglon::Alineacion::Centro);
    EXPECT_EQ(orlan->tramos[0].estilos.Ancho(), 2);
    EXPECT_EQ(orlan->tramos[0].estilos.Alto(), 2);
    EXPECT_EQ(alto->tramos[0].estilos.Alto(), 2);
    EXPECT_EQ(alto->tramos[0].estilos.Ancho(), 1);
    EXPECT_EQ(derecha->alineacion, Renglon::Alineacion::Derecha);
    EXPECT_TRUE(negrita->tramos[0].estilos.negrita);
    EXPECT_EQ(negrita->alineacion, Renglon::Alineacion::Izquierda);

    const QList<QImage> recibos = Dibujar(l.renglones);
    ASSERT_EQ(recibos.size(), 4) << "one picture per cut";
    QStringList leidos;
    for (const QImage& recibo : recibos) {
        const QString ruta = entorno.Raiz() + "/star.png";
        ASSERT_TRUE(recibo.save(ruta, "PNG"));
        QProcess zbar;
        zbar.start(QStringLiteral("zbarimg"), {"--raw", "-q", ruta});
        ASSERT_TRUE(zbar.waitForFinished(30000)) << "zbarimg (zbar-tools) is needed";
        leidos += QString::fromUtf8(zbar.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    }
    leidos.sort();
    EXPECT_EQ(leidos.join(u',').toStdString(), "Cola-128,ORLAN-42,https://example.com/recibo/42");
}

// Raster graphics (ESC GS S, and the rows of raster mode, whose bytes are
// never commands), line spacing, feeds, cuts, code pages and the drawer.
TEST(DecodificadorStar, GraphicsSpacingCutsAndCodePages) {
    // 16 x 2 dots, then a raster page of two 8-dot rows; a row holds 1C (FS),
    // which outside raster mode opens the drawer.
    const Lectura l = Leer(H("1B1D53 01 0200 0200 00 FF00 00FF") + H("1B2A7241 62 0100 1C 62 0100 80 1B2A7242") +
                           H("1B7A00") + "a\n" + H("1B4114") + "b\n" + H("1B30") + "c\n" + H("1B6400 1B6402 1B6433") +
                           "\x80" + H("1B1D7401") + "\x80\n" + H("1B070B37 07"));
    EXPECT_TRUE(l.desconocidos.isEmpty()) << l.desconocidos.join(u',').toStdString();
    ASSERT_GE(l.renglones.size(), 9);
    const QImage& raster = l.renglones[0].grafico;
    ASSERT_EQ(raster.size(), QSize(16, 2));
    EXPECT_EQ(qGray(raster.pixel(0, 0)), 0);
    EXPECT_EQ(qGray(raster.pixel(8, 0)), 255);
    EXPECT_EQ(qGray(raster.pixel(8, 1)), 0);
    const QImage& pagina = l.renglones[1].grafico;
    ASSERT_EQ(pagina.size(), QSize(8, 2));
    EXPECT_EQ(qGray(pagina.pixel(3, 0)), 0) << "1C is the row's dots";
    EXPECT_EQ(qGray(pagina.pixel(0, 1)), 0);
    EXPECT_EQ(l.renglones[2].espaciado, 24) << "ESC z 0: 3 mm";
    EXPECT_EQ(l.renglones[3].espaciado, 40) << "ESC A 20: 5 mm";
    EXPECT_EQ(l.renglones[4].espaciado, 24) << "ESC 0: 3 mm";
    for (int i : {5, 6, 7}) {
        EXPECT_EQ(l.renglones[i].tipo, Renglon::Tipo::Corte) << i;
    }
    EXPECT_EQ(l.lineas.filter(QStringLiteral("abre caj")).size(), 1) << "ESC BEL sets the pulse, BEL opens";
    EXPECT_TRUE(l.lineas.contains(QString::fromUtf8("\u20acÇ"))) << "Windows-1252, then PC437 (ESC GS t 1)";
}

// Bit images: ESC k, 24 rows of n1 bytes a dot a bit (node-thermal-printer's
// logo), and ESC K, a byte a column of 8 dots, each dot 3 x 3. None of their
// bytes is read as text or as a command.
TEST(DecodificadorStar, BitImages) {
    QByteArray fina = H("1B6B 0100");
    for (int fila = 0; fila < 24; ++fila) {
        fina += fila == 23 ? '\x01' : fila == 5 ? '\x0F' : '\x80';
    }
    const Lectura l = Leer(fina + "\n" + H("1B4B 0200 80 01") + "\nfin\n");
    EXPECT_TRUE(l.desconocidos.isEmpty()) << l.desconocidos.join(u',').toStdString();
    ASSERT_GE(l.renglones.size(), 3);
    const QImage& banda = l.renglones[0].grafico;
    ASSERT_EQ(banda.size(), QSize(8, 24));
    EXPECT_EQ(qGray(banda.pixel(0, 0)), 0);
    EXPECT_EQ(qGray(banda.pixel(7, 0)), 255);
    EXPECT_EQ(qGray(banda.pixel(7, 23)), 0);
    EXPECT_EQ(qGray(banda.pixel(4, 5)), 0) << "0F is dots, not upside-down printing";
    const QImage& columnas = l.renglones[1].grafico;
    ASSERT_EQ(columnas.size(), QSize(6, 24));
    EXPECT_EQ(qGray(columnas.pixel(2, 2)), 0);
    EXPECT_EQ(qGray(columnas.pixel(3, 0)), 255);
    EXPECT_EQ(qGray(columnas.pixel(5, 23)), 0);
    EXPECT_FALSE(l.renglones[2].alReves);
    EXPECT_EQ(l.lineas.last(), "fin");
}

// A command the viewer does not know is listed for --registro in every mode.
TEST(DecodificadorStar, UnknownCommandsAreListedInEveryMode) {
    for (const qint16 modo : {1, 2, 3}) {
        SCOPED_TRACE(modo);
        const Lectura l = Leer("a" + H("1B7E") + "b\n", modo);
        EXPECT_EQ(l.desconocidos.value(0).left(5), "1B 7E");
    }
}
