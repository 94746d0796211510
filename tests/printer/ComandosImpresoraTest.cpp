#include "PruebaImpresora.h"

#include <array>

namespace {

std::string Hex(const QByteArray& bytes) {
    return bytes.toHex().toUpper().toStdString();
}

#define CINCO_AVANCES "0A0D0A0D0A0D0A0D0A0D"

struct Fila {
    const char* operacion;
    void (*llamar)(ctlImpresora&);
    std::array<const char*, 4> hex; // Epson, Citizen, Star, an undefined mode
};

// Every row of the command table as the printer receives it on a parallel
// port, where Cortar feeds five lines first.
const Fila kFilas[] = {
    {"Cortar",
     [](ctlImpresora& p) { p.Cortar(); },
     {CINCO_AVANCES "1B6D", CINCO_AVANCES "1B50001B5001", CINCO_AVANCES "1B6431", CINCO_AVANCES}},
    {"Abrircaja", [](ctlImpresora& p) { EXPECT_FALSE(p.Abrircaja()); }, {"1B7000", "", "1C", ""}},
    {"Negrita(true)", [](ctlImpresora& p) { p.Negrita(true); }, {"1B4501", "1B4501", "1B4501", ""}},
    {"Negrita(false)", [](ctlImpresora& p) { p.Negrita(false); }, {"1B4500", "0F", "1B46", ""}},
    {"Subrayado(true)", [](ctlImpresora& p) { p.Subrayado(true); }, {"1B2D01", "1B2D01", "", ""}},
    {"Subrayado(false)", [](ctlImpresora& p) { p.Subrayado(false); }, {"1B2D00", "1B2D00", "", ""}},
    {"Invertido(true)", [](ctlImpresora& p) { p.Invertido(true); }, {"1B4B011B7B01", "0C", "1B5F31", ""}},
    {"Invertido(false)", [](ctlImpresora& p) { p.Invertido(false); }, {"1B4B011B7B00", "0B", "1B5F30", ""}},
    {"Color(true)", [](ctlImpresora& p) { p.Color(true); }, {"1B7201", "0D", "1B34", ""}},
    {"Color(false)", [](ctlImpresora& p) { p.Color(false); }, {"1B7200", "0B", "1B35", ""}},
    {"Expandido(true)", [](ctlImpresora& p) { p.Expandido(true); }, {"1B2120", "0E", "1B5731", ""}},
    {"Expandido(false)", [](ctlImpresora& p) { p.Expandido(false); }, {"1B2100", "0F", "1B5730", ""}},
    {"ExtraExpandido(true)", [](ctlImpresora& p) { p.ExtraExpandido(true); }, {"1B2132", "0E", "1B5731", ""}},
    {"ExtraExpandido(false)", [](ctlImpresora& p) { p.ExtraExpandido(false); }, {"1B2100", "0F", "1B5730", ""}},
    {"ResetCaracter", [](ctlImpresora& p) { p.ResetCaracter(); }, {"0D1B2100", "0F", "1B5700", ""}},
    {"ResetPrinter", [](ctlImpresora& p) { p.ResetPrinter(); }, {"1B40", "11", "1B40", ""}},
    {"Avanzar()", [](ctlImpresora& p) { p.Avanzar(); }, {"", "", "", ""}},
    {"Avanzar(3)",
     [](ctlImpresora& p) { p.Avanzar(3); },
     {"0A0D0A0D0A0D", "0A0D0A0D0A0D", "0A0D0A0D0A0D", "0A0D0A0D0A0D"}},
};

} // namespace

TEST_F(ImpresoraLpt, EveryCommandSendsItsRowOfTheTableInEveryDialect) {
    for (qint16 modo : {1, 2, 3, 0, 4}) {
        Enlazar(modo);
        for (const Fila& fila : kFilas) {
            SCOPED_TRACE(testing::Message() << fila.operacion << " mode " << modo);
            fila.llamar(m_pr);
            EXPECT_EQ(Hex(Tomar()), fila.hex[modo >= 1 && modo <= 3 ? modo - 1 : 3]);
        }
    }
    EXPECT_EQ(m_pr.GetNameModo(), "Sin Modo Definido");
    m_pr.PrintLogo();
    EXPECT_EQ(Hex(Tomar()), "0A0D0A0D0A0D0A0D2E0A0D") << "no logo in an undefined mode: blank lines, the dot, a feed";
    EXPECT_TRUE(Eventos().filter("Error Impresion").isEmpty()) << "a parallel port logs no command failure";
}

// The identification page, the logo and a cut, byte for byte, per dialect.
// ORLAN_ACTUALIZAR_DORADOS=1 rewrites the files (check the difference before
// committing it).
TEST_F(ImpresoraLpt, IdentificationPageLogoAndCutMatchTheGoldenFiles) {
    for (const char* letra : {"E", "C", "S"}) {
        SCOPED_TRACE(letra);
        Ajustes::Guardar("ORLAN", "LPT1", "Modo", letra);
        ASSERT_TRUE(m_pr.InicializarPuerto("LPT1"));
        m_puerto->LimpiarCaptura();
        m_pr.DocumentType("P");
        m_pr.PrintLogo();
        m_pr.Cortar();
        const QString ruta = QStringLiteral(ORLAN_TEST_DATA "/printer/documento_%1.bin").arg(letra);
        if (qEnvironmentVariableIntValue("ORLAN_ACTUALIZAR_DORADOS") == 1) {
            m_entorno.Escribir(ruta, Tomar());
            continue;
        }
        EXPECT_EQ(Hex(Tomar()), Hex(EntornoPrueba::Leer(ruta))) << ruta.toStdString();
    }
}
