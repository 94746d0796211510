#include "crypto/clsDES.h"
#include "support/ErrorEjecucion.h"

#include <gtest/gtest.h>

TEST(Base64, MatchesQtsEncoderInLinesOfSeventySix) {
    clsDES des;
    // Windows-1252 text.
    EXPECT_EQ(des.Encode64(QStringLiteral("ñ€")), QStringLiteral("8YA="));
    EXPECT_EQ(des.Decode64(QStringLiteral("8YA=")), QStringLiteral("ñ€"));
    EXPECT_EQ(des.Encode64({}), QString());
    EXPECT_EQ(des.Encode64(QString::fromUtf8("\xF0\x9F\x8D\x95")), QStringLiteral("Pw==")) << "one '?'";

    // Every length against Qt's own encoder, with CR LF after every 76 characters once the
    // text is longer than one line, and back, with and without the line breaks.
    QByteArray datos;
    for (int largo = 0; largo <= 300; datos += static_cast<char>(largo++ * 101 + 7)) {
        const QString qt = QString::fromLatin1(datos.toBase64());
        QString esperado = qt;
        for (qsizetype i = 76; qt.size() > 76 && i <= esperado.size(); i += 78) {
            esperado.insert(i, QStringLiteral("\r\n"));
        }
        EXPECT_EQ(des.EncodeArray64(datos), esperado) << largo;
        EXPECT_TRUE(largo == 0 || (des.DecodeArray64(esperado) == datos && des.DecodeArray64(qt) == datos)) << largo;
    }
}

TEST(Base64, DecodesLenientlyButNeedsSomethingToDecode) {
    clsDES des;
    const std::pair<QString, QByteArray> casos[] = {
        {"QU=I", "AB"},                    // "=" is dropped wherever it stands,
        {"Q\r\nU=\r\nJD", "ABC"},          // and so is CR LF;
        {"QUJDR", QByteArray("ABC\0", 4)}, // a final lone character adds a zero byte;
        {" UJD", "\x01\x42\x43"},
        {QStringLiteral("ñUJD"), "\x01\x42\x43"}, // any other character counts as "A",
        {"QUJ\nD", QByteArray("AB@\0", 4)},       // a lone LF
        {"QU\rJD", QByteArray("A@\t\0", 4)},      // or CR too,
        {QChar(0x0151) + QString("UJD"), "ABC"},  // looked up by the low eight bits of its code.
    };
    for (const auto& [texto, bytes] : casos) {
        EXPECT_EQ(des.DecodeArray64(texto), bytes) << texto.toStdString();
    }
    EXPECT_EQ(des.Decode64(QString()), QString());
    EXPECT_THROW(des.DecodeArray64(QString()), ErrorEjecucion);
    EXPECT_THROW(des.Decode64(QStringLiteral("==")), ErrorEjecucion);
    EXPECT_THROW(des.Decode64(QStringLiteral("\r\n=\r\n")), ErrorEjecucion);
}
