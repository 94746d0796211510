#include "ports/NombrePuerto.h"

#include <gtest/gtest.h>

namespace {

std::string Mostrar(const QString& texto) {
    return NombrePuerto::Citar(texto).toStdString();
}

} // namespace

// The names a shop's database may hold in Impresora.Puerto: only "COM" or
// "LPT" and one digit from 1 to 9, in any case, name a port.
TEST(NombrePuerto, OnlyComOrLptAndOneDigitFromOneToNineNameAPort) {
    const struct {
        QString texto;
        NombrePuerto::Clase clase;
        int numero;
        const char* nombre;
    } puertos[] = {
        {QStringLiteral("COM1"), NombrePuerto::Clase::Serie, 1, "COM1"},
        {QStringLiteral("lpt2"), NombrePuerto::Clase::Paralelo, 2, "LPT2"},
        {QStringLiteral("cOm9"), NombrePuerto::Clase::Serie, 9, "COM9"},
        {QStringLiteral("LPT9"), NombrePuerto::Clase::Paralelo, 9, "LPT9"},
    };
    for (const auto& p : puertos) {
        const std::optional<NombrePuerto> leido = NombrePuerto::Leer(p.texto);
        ASSERT_TRUE(leido.has_value()) << Mostrar(p.texto);
        EXPECT_EQ(leido->clase, p.clase) << Mostrar(p.texto);
        EXPECT_EQ(leido->numero, p.numero) << Mostrar(p.texto);
        EXPECT_EQ(leido->nombre, QString::fromLatin1(p.nombre));
    }

    // Digits out of range, blanks and line ends a careless program left,
    // device names, paths, a digit that is not ASCII, nothing at all.
    const QString otros[] = {
        QStringLiteral("COM0"),
        QStringLiteral("LPT10"),
        QStringLiteral("COM 1"),
        QStringLiteral(" COM1"),
        QStringLiteral("COM1 "),
        QStringLiteral("COM1\n"),
        QStringLiteral("COM1") + QChar(0),
        QStringLiteral("PRN"),
        QStringLiteral("CON"),
        QStringLiteral("AUX1"),
        QStringLiteral("../x"),
        QStringLiteral("../../etc/passwd"),
        QStringLiteral("COM") + QChar(0xFF11), // full-width digit one
        QStringLiteral("COM") + QChar(0x0661), // Arabic-Indic digit one
        QStringLiteral("COMA"),
        QStringLiteral("COM:"),
        QString(),
        QStringLiteral(""),
    };
    for (const QString& texto : otros) {
        EXPECT_FALSE(NombrePuerto::Leer(texto).has_value()) << Mostrar(texto);
    }
}

// A name that failed the rule is quoted in a log line cut short and with its
// control characters shown, so that it can neither flood the log nor forge
// lines or terminal sequences in it.
TEST(NombrePuerto, QuotesAFailedNameCutShortWithItsControlCharactersShown) {
    EXPECT_EQ(NombrePuerto::Citar(QStringLiteral("PRN")), QStringLiteral("PRN"));
    EXPECT_EQ(NombrePuerto::Citar(QString()), QString());

    const QString largo = QStringLiteral("COM1\r\n[ ok ] falso\x1b[2J\x7f") + QString(60, u'x');
    const QString cita = NombrePuerto::Citar(largo);
    EXPECT_EQ(cita, QStringLiteral("COM1??[ ok ] falso?[2J?") + QString(17, u'x') + QStringLiteral("..."));

    // Exactly as long as the quote is not cut; one more is.
    EXPECT_EQ(NombrePuerto::Citar(QString(40, u'a')), QString(40, u'a'));
    EXPECT_EQ(NombrePuerto::Citar(QString(41, u'a')), QString(40, u'a') + QStringLiteral("..."));
    EXPECT_EQ(NombrePuerto::Citar(QStringLiteral("LPT\t1"), 4), QStringLiteral("LPT?..."));
}
