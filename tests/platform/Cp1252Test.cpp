#include "platform/Cp1252.h"

#include <gtest/gtest.h>

TEST(Cp1252, MapsTheWholeCodePageBothWays) {
    for (int b = 0; b < 256; ++b) {
        const QByteArray byte(1, static_cast<char>(b));
        EXPECT_EQ(Cp1252::Codificar(Cp1252::Decodificar(byte)), byte) << b;
    }
    EXPECT_EQ(Cp1252::Codificar(u"ñÑáé€“”…"), QByteArray("\xF1\xD1\xE1\xE9\x80\x93\x94\x85"));
    EXPECT_EQ(Cp1252::Decodificar("Contrase\xF1"
                                  "a \x80"),
              QStringLiteral("Contraseña €"));
}

TEST(Cp1252, CharactersOutsideTheCodePageBecomeQuestionMarks) {
    EXPECT_EQ(Cp1252::Codificar(u"a\u4E2Db\u0100"), QByteArray("a?b?"));
    // A character outside the BMP is one character, whatever its two UTF-16 halves; a half
    // without its partner is one character too.
    const QString pizza = QString::fromUtf8("\xF0\x9F\x8D\x95");
    EXPECT_EQ(Cp1252::Codificar("a" + pizza + "b" + pizza), QByteArray("a?b?"));
    EXPECT_EQ(Cp1252::Codificar("a" + pizza.left(1) + "b" + pizza.right(1)), QByteArray("a?b?"));
    EXPECT_EQ(Cp1252::Codificar(pizza.right(1) + pizza.left(1)), QByteArray("??")) << "halves in the wrong order";
}
