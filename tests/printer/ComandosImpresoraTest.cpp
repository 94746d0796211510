#include "printer/ComandosImpresora.h"
#include "PruebaImpresora.h"

#include <QFile>
#include <array>
#include <functional>

namespace {

QByteArray H(const char* hex) {
    return QByteArray::fromHex(hex);
}

const QByteArray kCincoAvances = H("0A0D 0A0D 0A0D 0A0D 0A0D");

struct Fila {
    const char* operacion;
    std::function<void(ctlImpresora&)> llamar;
    std::array<QByteArray, 3> bytes; // Epson, Citizen, Star
};

// Every row of the command table, as the printer receives it on a parallel
// port (where Cortar feeds five lines first).
const std::vector<Fila>& Filas() {
    static const std::vector<Fila> filas = {
        {"Cortar",
         [](ctlImpresora& p) { p.Cortar(); },
         {kCincoAvances + H("1B6D"), kCincoAvances + H("1B5000 1B5001"), kCincoAvances + H("1B6431")}},
        {"Abrircaja", [](ctlImpresora& p) { EXPECT_FALSE(p.Abrircaja()); }, {H("1B7000"), H(""), H("1C")}},
        {"Negrita(true)", [](ctlImpresora& p) { p.Negrita(true); }, {H("1B4501"), H("1B4501"), H("1B4501")}},
        {"Negrita(false)", [](ctlImpresora& p) { p.Negrita(false); }, {H("1B4500"), H("0F"), H("1B46")}},
        {"Subrayado(true)", [](ctlImpresora& p) { p.Subrayado(true); }, {H("1B2D01"), H("1B2D01"), H("")}},
        {"Subrayado(false)", [](ctlImpresora& p) { p.Subrayado(false); }, {H("1B2D00"), H("1B2D00"), H("")}},
        {"Invertido(true)", [](ctlImpresora& p) { p.Invertido(true); }, {H("1B4B01 1B7B01"), H("0C"), H("1B5F31")}},
        {"Invertido(false)", [](ctlImpresora& p) { p.Invertido(false); }, {H("1B4B01 1B7B00"), H("0B"), H("1B5F30")}},
        {"Color(true)", [](ctlImpresora& p) { p.Color(true); }, {H("1B7201"), H("0D"), H("1B34")}},
        {"Color(false)", [](ctlImpresora& p) { p.Color(false); }, {H("1B7200"), H("0B"), H("1B35")}},
        {"Expandido(true)", [](ctlImpresora& p) { p.Expandido(true); }, {H("1B2120"), H("0E"), H("1B5731")}},
        {"Expandido(false)", [](ctlImpresora& p) { p.Expandido(false); }, {H("1B2100"), H("0F"), H("1B5730")}},
        {"ExtraExpandido(true)", [](ctlImpresora& p) { p.ExtraExpandido(true); }, {H("1B2132"), H("0E"), H("1B5731")}},
        {"ExtraExpandido(false)",
         [](ctlImpresora& p) { p.ExtraExpandido(false); },
         {H("1B2100"), H("0F"), H("1B5730")}},
        {"ResetCaracter", [](ctlImpresora& p) { p.ResetCaracter(); }, {H("0D1B2100"), H("0F"), H("1B5700")}},
        {"ResetPrinter", [](ctlImpresora& p) { p.ResetPrinter(); }, {H("1B40"), H("11"), H("1B40")}},
        {"Avanzar()", [](ctlImpresora& p) { p.Avanzar(); }, {H(""), H(""), H("")}},
        {"Avanzar(3)",
         [](ctlImpresora& p) { p.Avanzar(3); },
         {H("0A0D0A0D0A0D"), H("0A0D0A0D0A0D"), H("0A0D0A0D0A0D")}},
    };
    return filas;
}

} // namespace

TEST_F(ImpresoraLpt, EveryCommandSendsItsRowOfTheTableInEveryDialect) {
    for (qint16 modo = 1; modo <= 3; ++modo) {
        Enlazar(modo);
        for (const Fila& fila : Filas()) {
            SCOPED_TRACE(testing::Message() << fila.operacion << " mode " << modo);
            fila.llamar(m_pr);
            EXPECT_EQ(Tomar().toHex(' '), fila.bytes[static_cast<std::size_t>(modo - 1)].toHex(' '));
        }
    }
    EXPECT_TRUE(Eventos().filter("Error Impresion").isEmpty()) << "a parallel port logs no command failure";
}

TEST_F(ImpresoraLpt, UndefinedModeSendsNothingButLineFeeds) {
    for (qint16 modo : {0, 4, 7, -1}) {
        Enlazar(modo);
        EXPECT_EQ(m_pr.GetNameModo(), "Sin Modo Definido");
        for (const Fila& fila : Filas()) {
            SCOPED_TRACE(testing::Message() << fila.operacion << " mode " << modo);
            fila.llamar(m_pr);
            const QByteArray esperado = QByteArray(fila.operacion) == "Cortar"       ? kCincoAvances
                                        : QByteArray(fila.operacion) == "Avanzar(3)" ? fila.bytes[0]
                                                                                     : QByteArray();
            EXPECT_EQ(Tomar().toHex(' '), esperado.toHex(' '));
        }
        m_pr.PrintLogo();
        EXPECT_EQ(Tomar(), H("0A0D 0A0D 0A0D 0A0D 2E 0A0D")) << "four blank lines, the dot and a feed";
    }
}

TEST(ComandosImpresora, LogoBandsHaveTheirFramingAndLengths) {
    using namespace ComandosImpresora;
    const int datos[] = {127, 126, 127, 256, 257};
    for (int banda = 1; banda <= kBandasLogo; ++banda) {
        SCOPED_TRACE(banda);
        const QByteArray b = BandaLogo(banda).toByteArray();
        ASSERT_EQ(b.size(), datos[banda - 1] + 3);
        EXPECT_EQ(b[0], '\0') << "high byte of the column count";
        EXPECT_EQ(b.right(3), banda < 5 ? H("1B4B07") : H("1B4B00"));
        EXPECT_EQ(b.mid(1 + kColumnasLogo, datos[banda - 1] - 1 - kColumnasLogo),
                  QByteArray(datos[banda - 1] - 1 - kColumnasLogo, '\0'))
            << "padding";
        EXPECT_EQ(BytesLogo(1, b, "\x74").size(), 4 + 1 + b.size());
    }
    // Band 1 as runs: 00, FF x28, FE x6, FD x9, FB x28, FD x6, FE x9, FF x29, then 00 x10.
    const QByteArray banda1 = QByteArray(1, '\0') + QByteArray(1, '\0') + QByteArray(28, '\xFF') +
                              QByteArray(6, '\xFE') + QByteArray(9, '\xFD') + QByteArray(28, '\xFB') +
                              QByteArray(6, '\xFD') + QByteArray(9, '\xFE') + QByteArray(29, '\xFF') +
                              QByteArray(10, '\0') + H("1B4B07");
    EXPECT_EQ(BandaLogo(1).toByteArray(), banda1);
    EXPECT_TRUE(BandaLogo(0).isEmpty());
    EXPECT_TRUE(BandaLogo(6).isEmpty());
    EXPECT_TRUE(BytesLogo(2, banda1, "\x74").isEmpty());
    EXPECT_TRUE(BytesLogo(3, banda1, "\x74").isEmpty());
}

// The identification page, the logo and a cut, byte for byte, per dialect.
// ORLAN_ACTUALIZAR_DORADOS=1 rewrites the files (check the difference before
// committing it).
TEST_F(ImpresoraLpt, IdentificationPageLogoAndCutMatchTheGoldenFiles) {
    const bool actualizar = qEnvironmentVariableIntValue("ORLAN_ACTUALIZAR_DORADOS") == 1;
    for (const char* letra : {"E", "C", "S"}) {
        SCOPED_TRACE(letra);
        Ajustes::Guardar("ORLAN", "LPT1", "Modo", letra);
        ASSERT_TRUE(m_pr.InicializarPuerto("LPT1"));
        m_puerto->LimpiarCaptura();
        m_pr.DocumentType("P");
        m_pr.PrintLogo();
        m_pr.Cortar();
        const QString ruta = QStringLiteral(ORLAN_TEST_DATA "/printer/documento_%1.bin").arg(letra);
        if (actualizar) {
            m_entorno.Escribir(ruta, Tomar());
            continue;
        }
        const QByteArray dorado = EntornoPrueba::Leer(ruta);
        ASSERT_FALSE(dorado.isEmpty()) << ruta.toStdString();
        EXPECT_EQ(Tomar().toHex(' '), dorado.toHex(' '));
    }
}
