// OpenSSL 3 keeps single DES only in its low-level (deprecated) interface.
#define OPENSSL_SUPPRESS_DEPRECATED

#include "crypto/clsDES.h"
#include "platform/Cp1252.h"
#include "support/ErrorEjecucion.h"
#include "testsupport/EntornoPrueba.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>
#include <gtest/gtest.h>
#include <openssl/des.h>
#include <vector>

// Runs the private block operation under the key whose Windows-1252 bytes are `clave`.
class clsDESBloques {
public:
    static std::uint64_t Bloque(std::uint64_t clave, std::uint64_t bloque, bool cifrar) {
        clsDES des;
        const std::uint64_t bytes = qToBigEndian(clave);
        des.Key(Cp1252::Decodificar(QByteArray(reinterpret_cast<const char*>(&bytes), 8)));
        return cifrar ? des.EncryptBlock(bloque) : des.DecryptBlock(bloque);
    }
};

// Independent DES-CBC with a zero chaining block.
static QByteArray CbcOpenSSL(QByteArray datos, const char* clave8, int sentido = DES_DECRYPT) {
    DES_cblock clave, iv = {};
    std::memcpy(clave, clave8, 8);
    DES_key_schedule programa;
    DES_set_key_unchecked(&clave, &programa);
    auto* p = reinterpret_cast<unsigned char*>(datos.data());
    DES_ncbc_encrypt(p, p, datos.size(), &programa, &iv, sentido);
    return datos;
}

const QByteArray kDatos = "Mesa 12 \xB7 2 caf\xE9s con leche, 1 tostada con tomate \x80 4,50 \xFF";

TEST(clsDES, BlockOperationGivesThePublishedVectors) {
    // FIPS 81 appendix B table B1 (ECB), then NBS SP 500-20: variable plaintext,
    // variable key, permutation and substitution-table vectors.
    const std::uint64_t vectores[][3] = {
        {0x0123456789ABCDEF, 0x4E6F772069732074, 0x3FA40E8A984D4815},
        {0x0101010101010101, 0x8000000000000000, 0x95F8A5E5DD31D900},
        {0x8001010101010101, 0x0000000000000000, 0x95A8D72813DAA94D},
        {0x1046913489980131, 0x0000000000000000, 0x88D55E54F54C97B4},
        {0x7CA110454A1A6E57, 0x01A1D6D039776742, 0x690F5B0D9A26939B},
    };
    for (const auto& [clave, claro, cifrado] : vectores) {
        EXPECT_EQ(clsDESBloques::Bloque(clave, claro, true), cifrado) << std::hex << clave;
        EXPECT_EQ(clsDESBloques::Bloque(clave, cifrado, false), claro) << std::hex << clave;
    }
    // Rivest, "Testing implementations of DES" (1985): x(i+1) = E(x(i), x(i)) for
    // even i and D(x(i), x(i)) for odd i; the chain reaches every entry of every
    // S-box, in both directions of the key schedule.
    std::uint64_t x = 0x9474B8E8C73BCA7D;
    for (int i = 0; i < 16; ++i) {
        x = clsDESBloques::Bloque(x, x, i % 2 == 0);
    }
    EXPECT_EQ(x, 0x1B1A2DDB4C642438u);
}

TEST(clsDES, FrameMatchesAnIndependentCbcForEveryLengthAndKey) {
    const char kClave[] = "clave\xF1xy";
    clsDES des;
    std::vector<qint32> avisos;
    des.Progress = [&](qint32 p) { avisos.push_back(p); };
    for (int largo = 0; largo <= 40; ++largo) {
        QByteArray buffer = kDatos.left(largo);
        avisos.clear();
        des.EncryptByte(buffer, Cp1252::Decodificar(kClave));
        const int total = (largo + 12 + 7) / 8 * 8;
        ASSERT_EQ(buffer.size(), total) << largo;
        EXPECT_TRUE(avisos.front() == 0 && avisos.back() == 100) << largo;
        const QByteArray marco = CbcOpenSSL(buffer, kClave);
        EXPECT_EQ(qFromLittleEndian<qint32>(marco.constData() + 8), largo);
        EXPECT_EQ(marco.mid(12), kDatos.left(largo) + QByteArray(total - 12 - largo, '\0')) << largo;

        // A wrong key gives the whole frame, no error and no final 100.
        QByteArray ajeno = buffer;
        des.DecryptByte(ajeno, QStringLiteral("mala"));
        EXPECT_TRUE(ajeno.size() == total && avisos.back() != 100) << largo;
        des.DecryptByte(buffer, Cp1252::Decodificar(kClave));
        EXPECT_TRUE(buffer == kDatos.left(largo) && avisos.back() == 100) << largo;
    }

    // Only the first eight characters count, zero-filled; no key and an empty
    // key are the all-zero key.
    const auto cifraCon = [](clsDES& cifrador, const QString& clave, const char* bytes) {
        QByteArray buffer = kDatos.left(9);
        cifrador.EncryptByte(buffer, clave);
        return CbcOpenSSL(buffer, bytes).mid(12, 9) == kDatos.left(9);
    };
    clsDES nueva;
    EXPECT_TRUE(cifraCon(nueva, {}, "\0\0\0\0\0\0\0\0"));
    EXPECT_TRUE(cifraCon(des, "ab", "ab\0\0\0\0\0\0"));
    EXPECT_TRUE(cifraCon(des, "secreto-largo", "secreto-"));
    des.Key(QString());
    EXPECT_TRUE(cifraCon(des, {}, "\0\0\0\0\0\0\0\0"));
    EXPECT_NE(des.EncryptString("Cola"), des.EncryptString("Cola")); // a random first block
    // A character outside the BMP is one '?' byte of plaintext.
    EXPECT_EQ(des.DecryptString(des.EncryptString(QString::fromUtf8("a\xF0\x9F\x8D\x95"
                                                                    "b"))),
              QStringLiteral("a?b"));
}

TEST(clsDES, StoredPasswordsAndBadCiphertext) {
    clsDES des;
    // Not a multiple of 8: left as it was. Shorter than a frame: the size kept.
    for (int largo : {0, 1, 7, 8, 9, 15, 17}) {
        QByteArray buffer = kDatos.left(largo);
        des.DecryptByte(buffer);
        EXPECT_TRUE(buffer.size() == largo && (largo % 8 == 0 || buffer == kDatos.left(largo))) << largo;
    }
    // Size fields that do not fit the frame keep the whole decrypted frame.
    for (const auto& [total, largo, valido] :
         {std::tuple{16, -1, false}, {16, 5, false}, {24, 4, false}, {24, 5, true}, {24, 12, true}}) {
        QByteArray marco = kDatos.left(total);
        qToLittleEndian<qint32>(largo, marco.data() + 8);
        QByteArray buffer = CbcOpenSSL(marco, "\0\0\0\0\0\0\0\0", DES_ENCRYPT);
        des.DecryptByte(buffer);
        EXPECT_EQ(buffer, valido ? marco.mid(12, largo) : marco) << total << " " << largo;
    }
    // A truncated stored password decrypts to something, never past its end;
    // nothing left to decode is an error the caller can catch.
    const QString almacenado = des.EncryptString(QStringLiteral("1234"), {}, true);
    for (qsizetype corte = 1; corte <= 20; ++corte) {
        EXPECT_NE(des.DecryptString(almacenado.left(corte), {}, true), QStringLiteral("1234")) << corte;
    }
    EXPECT_THROW(des.DecryptString(QStringLiteral("=="), {}, true), ErrorEjecucion);

    // Spanish text through Base64; the caller's variable gets the ciphertext text.
    const QString contrasena = QStringLiteral("Señor Muñoz €5");
    QString texto = des.EncryptString(contrasena, QStringLiteral("llaveñ"), true);
    EXPECT_EQ(clsDES().DecryptString(texto, QStringLiteral("llaveñ"), true), contrasena);
    EXPECT_EQ(texto.size(), 32);                                            // 14 bytes -> a 32-byte frame
    EXPECT_EQ(des.DecryptString(texto), contrasena);                        // the key stays in force
    EXPECT_EQ(des.DecryptString(texto, QStringLiteral("mala")).size(), 32); // a wrong key: no error
}

TEST(clsDES, FilesRefuseToOverwriteAndRoundTrip) {
    EntornoPrueba entorno;
    const auto ruta = [&](const char* nombre) { return entorno.Raiz() + "/" + nombre; };
    const QByteArray contenido = "Ticket 42\r\nTotal: 10,50\r\n";
    const QString claro = entorno.Escribir(ruta("claro.txt"), contenido);
    clsDES des;
    EXPECT_FALSE(des.EncryptFile(ruta("no-existe"), ruta("cifrado.bin"), true, "k", false));
    ASSERT_TRUE(des.EncryptFile(claro, ruta("cifrado.bin"), false, "k", false));
    ASSERT_TRUE(des.EncryptFile(claro, ruta("cifrado.b64"), false, "k", true));
    const QByteArray antes = EntornoPrueba::Leer(ruta("cifrado.bin"));
    EXPECT_EQ(antes.size(), 40);
    EXPECT_EQ(EntornoPrueba::Leer(ruta("cifrado.b64")).size(), 56); // 40 bytes, one line, no terminator
    EXPECT_FALSE(des.EncryptFile(claro, ruta("cifrado.bin"), false, "k", false) ||
                 des.DecryptFile(ruta("cifrado.bin"), claro, false, "k", false));
    EXPECT_TRUE(EntornoPrueba::Leer(ruta("cifrado.bin")) == antes && EntornoPrueba::Leer(claro) == contenido);

    ASSERT_TRUE(des.DecryptFile(ruta("cifrado.bin"), ruta("salida.txt"), false, "k", false));
    EXPECT_EQ(EntornoPrueba::Leer(ruta("salida.txt")), contenido);
    ASSERT_TRUE(des.DecryptFile(ruta("cifrado.b64"), ruta("salida.txt"), true, "k", true));
    EXPECT_EQ(EntornoPrueba::Leer(ruta("salida.txt")), contenido);
    // Base64 input with nothing to decode fails; a wrong key still writes the frame.
    EXPECT_FALSE(des.DecryptFile(entorno.Escribir(ruta("vacio.b64"), ""), ruta("salida.txt"), true, "k", true));
    ASSERT_TRUE(des.DecryptFile(ruta("cifrado.bin"), ruta("salida.txt"), true, "otra", false));
    EXPECT_EQ(EntornoPrueba::Leer(ruta("salida.txt")).size(), 40);

    // An output that is a symbolic link: the link is replaced by a new file and
    // what it points to is never written, whether it exists or not. Without
    // Overwrite even a dangling link counts as an existing output.
    const QString objetivo = entorno.Escribir(ruta("objetivo"), "intacto");
    ASSERT_TRUE(QFile::link(objetivo, ruta("enlace")) && QFile::link(ruta("nadie"), ruta("colgante")));
    EXPECT_FALSE(des.EncryptFile(claro, ruta("colgante"), false, "k", false));
    EXPECT_FALSE(QFileInfo::exists(ruta("nadie")));
    ASSERT_TRUE(des.EncryptFile(claro, ruta("enlace"), true, "k", false));
    ASSERT_TRUE(des.DecryptFile(ruta("cifrado.bin"), ruta("colgante"), true, "k", false));
    EXPECT_EQ(EntornoPrueba::Leer(objetivo), "intacto");
    EXPECT_FALSE(QFileInfo::exists(ruta("nadie")));
    EXPECT_FALSE(QFileInfo(ruta("enlace")).isSymLink() || QFileInfo(ruta("colgante")).isSymLink());
    EXPECT_EQ(EntornoPrueba::Leer(ruta("colgante")), contenido);
    ASSERT_TRUE(des.DecryptFile(ruta("enlace"), ruta("salida.txt"), true, "k", false));
    EXPECT_EQ(EntornoPrueba::Leer(ruta("salida.txt")), contenido);
}
