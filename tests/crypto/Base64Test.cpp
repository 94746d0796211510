#include "crypto/clsDES.h"
#include "support/ErrorEjecucion.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

namespace {

QByteArray Patron(int largo) {
    QByteArray b(largo, '\0');
    for (int i = 0; i < largo; ++i) {
        b[i] = static_cast<char>(i * 101 + 7);
    }
    return b;
}

QString SinSaltos(QString texto) {
    return texto.remove(QStringLiteral("\r\n"));
}

} // namespace

TEST(Base64, EncodesAndDecodesTheStandardVectors) {
    clsDES des;
    // RFC 4648, section 10.
    const std::pair<const char*, const char*> rfc[] = {
        {"f", "Zg=="},          {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"}, {"A", "QQ=="},  {"AB", "QUI="},  {"ABC", "QUJD"}};
    for (const auto& [claro, base64] : rfc) {
        EXPECT_EQ(des.EncodeArray64(QByteArray(claro)), QString::fromLatin1(base64));
        EXPECT_EQ(des.DecodeArray64(QString::fromLatin1(base64)), QByteArray(claro));
    }
    EXPECT_EQ(des.Encode64(QStringLiteral("ñ€")), QStringLiteral("8YA="));
    EXPECT_EQ(des.Decode64(QStringLiteral("8YA=")), QStringLiteral("ñ€"));

    // Every length against OpenSSL's encoder, and back.
    for (int largo = 0; largo <= 300; ++largo) {
        const QByteArray datos = Patron(largo);
        QByteArray esperado(4 * ((largo + 2) / 3) + 1, '\0');
        const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(esperado.data()),
                                      reinterpret_cast<const unsigned char*>(datos.constData()), largo);
        const QString texto = des.EncodeArray64(datos);
        EXPECT_EQ(SinSaltos(texto), QString::fromLatin1(esperado.left(n))) << largo;
        if (largo > 0) {
            EXPECT_EQ(des.DecodeArray64(texto), datos) << largo;
        }
    }
}

TEST(Base64, BreaksLinesAfterEverySeventySixCharacters) {
    clsDES des;
    const auto lineas = [&](int largo) { return des.EncodeArray64(Patron(largo)).split(QStringLiteral("\r\n")); };
    EXPECT_EQ(lineas(57).size(), 1);
    EXPECT_EQ(lineas(57)[0].size(), 76);
    EXPECT_EQ(lineas(58), (QStringList{des.EncodeArray64(Patron(57)), lineas(58)[1]}));
    EXPECT_EQ(lineas(58)[1].size(), 4);
    for (int largo : {113, 114}) { // 152 characters: two lines, each followed by CR LF
        const QString texto = des.EncodeArray64(Patron(largo));
        EXPECT_EQ(texto.size(), 156);
        EXPECT_EQ(texto.mid(76, 2), QStringLiteral("\r\n"));
        EXPECT_TRUE(texto.endsWith(QStringLiteral("\r\n")));
    }
    EXPECT_EQ(des.EncodeArray64(Patron(115)).size(), 156 + 4);
    EXPECT_EQ(des.EncodeArray64({}), QString());
    EXPECT_EQ(des.Encode64({}), QString());
}

TEST(Base64, DecodesLeniently) {
    clsDES des;
    const QString conSaltos = des.EncodeArray64(Patron(200));
    EXPECT_EQ(des.DecodeArray64(SinSaltos(conSaltos)), Patron(200));
    EXPECT_EQ(des.DecodeArray64(QStringLiteral("QU=I")), QByteArray("AB"));
    EXPECT_EQ(des.DecodeArray64(QStringLiteral("QUJDR")), QByteArray("ABC\0", 4));
    EXPECT_EQ(des.DecodeArray64(QStringLiteral("QUJDQUJD")), QByteArray("ABCABC"));
    // A space, a lone LF or any foreign character is an "A" and shifts what follows.
    EXPECT_EQ(des.DecodeArray64(QStringLiteral(" UJDQUJD")), des.DecodeArray64(QStringLiteral("AUJDQUJD")));
    EXPECT_EQ(des.DecodeArray64(QStringLiteral("Q JDQUJD")), QByteArray("@\x02\x43"
                                                                        "ABC",
                                                                        6));
    EXPECT_EQ(des.DecodeArray64(QStringLiteral("QUJ\nD")), des.DecodeArray64(QStringLiteral("QUJAD")));
    EXPECT_EQ(des.DecodeArray64(QStringLiteral("QU\rJD")), des.DecodeArray64(QStringLiteral("QUAJD")));
    EXPECT_EQ(des.DecodeArray64(QStringLiteral("Q\r\nU=\r\nJD")), QByteArray("ABC"));
    // Looked up by the low eight bits of the character code: U+0151 reads as "Q".
    EXPECT_EQ(des.DecodeArray64(QString(QChar(0x0151)) + QStringLiteral("UJD")), QByteArray("ABC"));
    EXPECT_EQ(des.DecodeArray64(QString(QChar(0x013D)) + QStringLiteral("UJD")), des.DecodeArray64("AUJD"));

    // Nothing to decode.
    EXPECT_EQ(des.Decode64(QString()), QString());
    EXPECT_THROW(des.DecodeArray64(QString()), ErrorEjecucion);
    EXPECT_THROW(des.Decode64(QStringLiteral("==")), ErrorEjecucion);
    EXPECT_THROW(des.Decode64(QStringLiteral("\r\n=\r\n")), ErrorEjecucion);
    EXPECT_EQ(des.DecodeArray64(QStringLiteral("\r")), QByteArray(1, '\0'));
}
