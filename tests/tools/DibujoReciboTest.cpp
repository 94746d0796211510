#include "impresora-virtual/DibujoRecibo.h"
#include "printer/ComandosImpresora.h"

#include <QGuiApplication>
#include <QRect>
#include <gtest/gtest.h>
#include <string>

namespace {

QByteArray H(const char* hex) {
    return QByteArray::fromHex(hex);
}

// How much ink a region holds.
long Tinta(const QImage& imagen, const QRect& region) {
    long tinta = 0;
    for (int y = region.top(); y <= region.bottom(); ++y) {
        for (int x = region.left(); x <= region.right(); ++x) {
            tinta += 255 - qGray(imagen.pixel(x, y));
        }
    }
    return tinta;
}

bool Transparente(const QImage& imagen, int fila) {
    for (int x = 0; x < imagen.width(); ++x) {
        if (qAlpha(imagen.pixel(x, fila)) == 0) {
            return true;
        }
    }
    return false;
}

} // namespace

TEST(DibujoRecibo, StylesInkTheLogoAndTheTornEdges) {
    using namespace ComandosImpresora;
    const QByteArray bytes =
        "MMMMMMMMMM" + H("1B4501") + "MMMMMMMMMM" + H("1B4500 0A0D 1B4B011B7B01") + "  " +
        H("1B4B011B7B00 0A0D 1B7201") + "MMMM" + H("1B7200 0A0D 1B2132") + "M" + H("1B2100 0A0D 1B7000") +
        BytesLogo(1, BandaLogo(1), QByteArrayView(kInicioBandaLogo.data(), 1)) + H("0A0D 1B6D") + "otro\n";
    Decodificador d(1, 42);
    d.ConservarRenglones();
    d.Alimentar(bytes);
    d.Terminar();
    const QList<Renglon> renglones = d.TomarRenglones();
    ASSERT_EQ(renglones.size(), 8);
    // Bold, inverted and colour are checked on the picture below, cell by cell.
    EXPECT_TRUE(renglones[3].tramos[0].estilos.extraExpandido);
    EXPECT_EQ(renglones[3].tramos[0].estilos.Alto(), 2);
    EXPECT_EQ(renglones[4].tipo, Renglon::Tipo::Cajon);
    // The logo's 8-dot single-density band: each dot two dots wide and three tall.
    ASSERT_EQ(renglones[5].grafico.size(), QSize(2 * kColumnasLogo, 24));
    EXPECT_EQ(renglones[6].tipo, Renglon::Tipo::Corte);

    DibujoRecibo dibujo(42);
    dibujo.Agregar(renglones);
    QList<QImage> recibos = dibujo.TomarRecibos();
    ASSERT_EQ(recibos.size(), 1) << "one receipt up to the cut";
    recibos += dibujo.Terminar();
    ASSERT_EQ(recibos.size(), 2);
    const QImage& r = recibos[0];
    EXPECT_EQ(r.width(), 576);
    const int c = dibujo.AnchoColumna(), x0 = dibujo.MargenIzquierdo(), alto = dibujo.AltoLinea();
    const auto celdas = [&](int linea, int desde, int cuantas) {
        return QRect(x0 + desde * c, DibujoRecibo::kMargenSuperior + linea * alto, cuantas * c, alto);
    };
    EXPECT_GT(Tinta(r, celdas(0, 10, 10)), Tinta(r, celdas(0, 0, 10)) * 12 / 10) << "bold is darker";
    EXPECT_LT(qGray(r.pixel(celdas(1, 0, 2).center())), 60) << "inverted spaces are dark";
    bool rojo = false;
    const QRect color = celdas(2, 0, 4);
    for (int y = color.top(); y <= color.bottom(); ++y) {
        for (int x = color.left(); x <= color.right(); ++x) {
            const QRgb p = r.pixel(x, y);
            rojo = rojo || (qRed(p) > 150 && qGreen(p) < 60 && qBlue(p) < 90);
        }
    }
    EXPECT_TRUE(rojo) << "colour prints red";
    EXPECT_EQ(dibujo.Alto(renglones[3]), 2 * alto);
    EXPECT_GT(Tinta(r, celdas(3, 0, 2)), 0) << "extra expanded reaches into the upper half";
    // The logo's first row of dots.
    const int yLogo = DibujoRecibo::kMargenSuperior + 5 * alto;
    const QByteArrayView banda = BandaLogo(1).sliced(1, kColumnasLogo);
    std::string esperados, dibujados;
    for (int col = 0; col < kColumnasLogo; ++col) {
        esperados += static_cast<unsigned char>(banda[col]) & 0x80 ? '#' : '.';
        dibujados += qGray(r.pixel(x0 + col * 2, yLogo + 2)) < 100 ? '#' : '.';
    }
    EXPECT_EQ(dibujados, esperados);
    EXPECT_FALSE(Transparente(r, 0)) << "the first receipt starts on a straight edge";
    EXPECT_TRUE(Transparente(r, r.height() - 1)) << "and ends torn";
    EXPECT_TRUE(Transparente(recibos[1], 0));
    EXPECT_FALSE(Transparente(recibos[1], recibos[1].height() - 1)) << "the paper still in the printer";
}

// ESC 3 sets the feed after each line printed from then on, ESC 2 restores
// the default: the gap below a line is the spacing in force at its line feed.
TEST(DibujoRecibo, LineSpacingIsTheFeedAfterTheLine) {
    const QByteArray bytes = "MMMM\n" + H("1B3378") + "MMMM\nMMMM\n" + H("1B32") + "MMMM\nMMMM\n";
    Decodificador d(1, 48);
    d.ConservarRenglones();
    d.Alimentar(bytes);
    d.Terminar();
    DibujoRecibo dibujo(48);
    dibujo.Agregar(d.TomarRenglones());
    const QList<QImage> recibos = dibujo.Terminar();
    ASSERT_EQ(recibos.size(), 1);
    const QImage& r = recibos[0];
    // Where each line's ink starts, top to bottom.
    QList<int> arriba;
    bool antes = false;
    for (int y = 1; y < r.height() - 1; ++y) {
        bool tinta = false;
        for (int x = 1; x < r.width() - 1 && !tinta; ++x) {
            tinta = qGray(r.pixel(x, y)) < 100;
        }
        if (tinta && !antes) {
            arriba << y;
        }
        antes = tinta;
    }
    ASSERT_EQ(arriba.size(), 5);
    const int normal = dibujo.AltoLinea();
    EXPECT_EQ(arriba[1] - arriba[0], normal);
    EXPECT_EQ(arriba[2] - arriba[1], 120);
    EXPECT_EQ(arriba[3] - arriba[2], 120);
    EXPECT_EQ(arriba[4] - arriba[3], normal);
}

int main(int argc, char** argv) {
    // Fonts need a QGuiApplication; the offscreen platform needs no display.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
