// OpenSSL 3 keeps single DES only in its low-level (deprecated) interface.
#define OPENSSL_SUPPRESS_DEPRECATED

#include "crypto/clsDES.h"
#include "platform/Cp1252.h"
#include "support/ErrorEjecucion.h"
#include "testsupport/EntornoPrueba.h"

#include <QFile>
#include <QtEndian>
#include <gtest/gtest.h>
#include <openssl/des.h>
#include <vector>

// Reaches the private block operation.
class clsDESBloques {
public:
    static std::uint64_t Cifrar(clsDES& des, std::uint64_t bloque) { return des.EncryptBlock(bloque); }
    static std::uint64_t Descifrar(clsDES& des, std::uint64_t bloque) { return des.DecryptBlock(bloque); }
};

namespace {

QByteArray Bytes(std::uint64_t v) {
    QByteArray b(8, '\0');
    for (int i = 0; i < 8; ++i) {
        b[i] = static_cast<char>(v >> (56 - 8 * i));
    }
    return b;
}

QByteArray Entero32(qint32 v) {
    QByteArray b(4, '\0');
    qToLittleEndian(v, b.data());
    return b;
}

// The key text whose Windows-1252 bytes are the 64-bit key.
QString TextoClave(std::uint64_t clave) {
    return Cp1252::Decodificar(Bytes(clave));
}

// Independent DES-CBC with a zero chaining block.
QByteArray CbcOpenSSL(const QByteArray& entrada, const QByteArray& clave8, int sentido) {
    DES_cblock clave;
    std::memcpy(clave, clave8.constData(), 8);
    DES_key_schedule programa;
    DES_set_key_unchecked(&clave, &programa);
    DES_cblock iv = {};
    QByteArray salida(entrada.size(), '\0');
    DES_ncbc_encrypt(reinterpret_cast<const unsigned char*>(entrada.constData()),
                     reinterpret_cast<unsigned char*>(salida.data()), entrada.size(), &programa, &iv, sentido);
    return salida;
}

QByteArray DescifrarOpenSSL(const QByteArray& cifrado, const QByteArray& clave8) {
    return CbcOpenSSL(cifrado, clave8, DES_DECRYPT);
}

QByteArray Patron(int largo) {
    QByteArray b(largo, '\0');
    for (int i = 0; i < largo; ++i) {
        b[i] = static_cast<char>(i * 37 + 11);
    }
    return b;
}

} // namespace

TEST(clsDES, BlockOperationGivesThePublishedVectors) {
    struct Vector {
        std::uint64_t clave, claro, cifrado;
    };
    const Vector vectores[] = {
        // FIPS 81, appendix B, table B1 (ECB): "Now is the time for all ".
        {0x0123456789ABCDEF, 0x4E6F772069732074, 0x3FA40E8A984D4815},
        {0x0123456789ABCDEF, 0x68652074696D6520, 0x6A271787AB8883F9},
        {0x0123456789ABCDEF, 0x666F7220616C6C20, 0x893D51EC4B563B53},
        // NBS SP 500-20: variable plaintext, variable key, permutation and S-box tests.
        {0x0101010101010101, 0x8000000000000000, 0x95F8A5E5DD31D900},
        {0x0101010101010101, 0x4000000000000000, 0xDD7F121CA5015619},
        {0x8001010101010101, 0x0000000000000000, 0x95A8D72813DAA94D},
        {0x4001010101010101, 0x0000000000000000, 0x0EEC1487DD8C26D5},
        {0x1046913489980131, 0x0000000000000000, 0x88D55E54F54C97B4},
        {0x7CA110454A1A6E57, 0x01A1D6D039776742, 0x690F5B0D9A26939B},
        {0x0131D9619DC1376E, 0x5CD54CA83DEF57DA, 0x7A389D10354BD271},
    };
    for (const Vector& v : vectores) {
        clsDES des;
        des.Key(TextoClave(v.clave));
        EXPECT_EQ(clsDESBloques::Cifrar(des, v.claro), v.cifrado) << std::hex << v.clave;
        EXPECT_EQ(clsDESBloques::Descifrar(des, v.cifrado), v.claro) << std::hex << v.clave;
    }

    // Rivest, "Testing implementations of DES" (1985): x(i+1) = E(x(i), x(i)) for
    // even i and D(x(i), x(i)) for odd i, from x0 = 9474B8E8C73BCA7D to x16.
    std::uint64_t x = 0x9474B8E8C73BCA7D;
    for (int i = 0; i < 16; ++i) {
        clsDES des;
        des.Key(TextoClave(x));
        x = (i % 2 == 0) ? clsDESBloques::Cifrar(des, x) : clsDESBloques::Descifrar(des, x);
    }
    EXPECT_EQ(x, 0x1B1A2DDB4C642438u);
}

TEST(clsDES, FrameMatchesAnIndependentCbcAndDecryptsForEveryLength) {
    const QByteArray clave = "clave\xF1"
                             "78";
    clsDES des;
    des.Key(Cp1252::Decodificar(clave));
    for (int largo = 0; largo <= 40; ++largo) {
        const QByteArray claro = Patron(largo);
        QByteArray buffer = claro;
        std::vector<qint32> avisos;
        des.Progress = [&](qint32 p) { avisos.push_back(p); };
        des.EncryptByte(buffer);

        const int total = (largo + 12 + 7) / 8 * 8;
        ASSERT_EQ(buffer.size(), total) << largo;
        ASSERT_TRUE(avisos.size() >= 2 && avisos.front() == 0 && avisos.back() == 100) << largo;
        EXPECT_TRUE(std::is_sorted(avisos.begin(), avisos.end()));

        const QByteArray marco = DescifrarOpenSSL(buffer, clave);
        EXPECT_EQ(marco.mid(8, 4), Entero32(largo)) << largo;
        EXPECT_EQ(marco.mid(12, largo), claro) << largo;
        EXPECT_EQ(marco.mid(12 + largo), QByteArray(total - 12 - largo, '\0')) << largo;
        for (int i = 0; i < 8; i += 4) { // the random integers are never negative
            EXPECT_EQ(static_cast<unsigned char>(marco[i + 3]) & 0x80, 0) << largo;
        }

        avisos.clear();
        des.DecryptByte(buffer);
        EXPECT_EQ(buffer, claro) << largo;
        EXPECT_EQ(avisos.back(), 100);
    }

    // Each percentage at most once. On 8016 bytes every one; on 800 bytes the
    // next threshold lies one byte past the next block, so every other one,
    // until block 464 gives 57.99999... in double precision, i.e. 57.
    std::vector<qint32> todos, alternos;
    for (int p = 0; p <= 100; ++p) {
        todos.push_back(p);
        if (p == 100 || (p <= 56 && p % 2 == 0) || (p >= 57 && p % 2 == 1)) {
            alternos.push_back(p);
        }
    }
    for (const auto& [largo, esperados] : {std::pair{8000, todos}, std::pair{788, alternos}}) {
        std::vector<qint32> avisos;
        des.Progress = [&](qint32 p) { avisos.push_back(p); };
        QByteArray grande = Patron(largo);
        des.EncryptByte(grande);
        EXPECT_EQ(avisos, esperados) << largo;
    }
}

TEST(clsDES, RandomFirstBlockAndKeyRules) {
    clsDES des;
    const QString texto = QStringLiteral("Cola de impresion");
    const QString a = des.EncryptString(texto, QStringLiteral("secreto-largo"));
    const QString b = des.EncryptString(texto);
    EXPECT_NE(a, b);
    EXPECT_EQ(des.DecryptString(a), texto);
    // Only the first eight characters count; the key stays in force.
    EXPECT_EQ(des.DecryptString(b, QStringLiteral("secreto-otro")), texto);
    EXPECT_EQ(clsDES().DecryptString(a, QStringLiteral("secreto-")), texto);

    // No key, and an explicitly empty key, are the all-zero DES key.
    QByteArray sinClave = Patron(9);
    clsDES nueva;
    nueva.EncryptByte(sinClave);
    EXPECT_EQ(DescifrarOpenSSL(sinClave, QByteArray(8, '\0')).mid(12, 9), Patron(9));
    QByteArray vacia = Patron(9);
    des.Key(QString());
    des.EncryptByte(vacia);
    EXPECT_EQ(DescifrarOpenSSL(vacia, QByteArray(8, '\0')).mid(12, 9), Patron(9));

    // A short key is zero-filled.
    QByteArray corta = Patron(3);
    des.EncryptByte(corta, QStringLiteral("ab"));
    EXPECT_EQ(DescifrarOpenSSL(corta, QByteArray("ab\0\0\0\0\0\0", 8)).mid(12, 3), Patron(3));
}

TEST(clsDES, BadCiphertextNeverFailsLoudly) {
    clsDES des;
    const QString cifrado = des.EncryptString(QStringLiteral("1234"), QStringLiteral("buena"));
    ASSERT_EQ(cifrado.size(), 16);

    // A wrong key: the whole decrypted frame comes back, no error, no final 100.
    std::vector<qint32> avisos;
    des.Progress = [&](qint32 p) { avisos.push_back(p); };
    const QString malo = des.DecryptString(cifrado, QStringLiteral("mala"));
    EXPECT_EQ(malo.size(), 16);
    EXPECT_NE(malo.mid(12, 4), QStringLiteral("1234"));
    EXPECT_EQ(avisos, (std::vector<qint32>{0, 50}));

    // A length that is not a multiple of 8 is left exactly as it was.
    for (int largo : {1, 7, 9, 15, 17}) {
        QByteArray buffer = Patron(largo);
        avisos.clear();
        des.DecryptByte(buffer, QStringLiteral("buena"));
        EXPECT_EQ(buffer, Patron(largo));
        EXPECT_TRUE(avisos.empty());
    }
    // Size fields that do not fit the frame keep the whole decrypted frame.
    const QByteArray clave("buena\0\0\0", 8);
    for (const auto& [total, largo, valido] :
         {std::tuple{16, -1, false}, {16, 5, false}, {24, 4, false}, {24, 5, true}, {24, 12, true}}) {
        QByteArray marco = Patron(total);
        marco.replace(8, 4, Entero32(largo));
        QByteArray buffer = CbcOpenSSL(marco, clave, DES_ENCRYPT);
        des.DecryptByte(buffer);
        EXPECT_EQ(buffer, valido ? marco.mid(12, largo) : marco) << total << " " << largo;
    }
    // Short frames keep the decrypted bytes.
    QByteArray bloque = Patron(8);
    des.DecryptByte(bloque);
    EXPECT_EQ(bloque.size(), 8);
    QByteArray vacio;
    des.DecryptByte(vacio);
    EXPECT_TRUE(vacio.isEmpty());

    // A truncated stored password decrypts to something, never past its end.
    QString almacenado = des.EncryptString(QStringLiteral("1234"), {}, true);
    ASSERT_EQ(almacenado.size(), 24);
    for (qsizetype corte = 1; corte <= 20; ++corte) {
        QString truncado = almacenado.left(corte);
        EXPECT_NE(des.DecryptString(truncado, {}, true), QStringLiteral("1234")) << corte;
    }
    // Nothing left to decode is an error the caller can catch.
    QString soloRelleno = QStringLiteral("==");
    EXPECT_THROW(des.DecryptString(soloRelleno, {}, true), ErrorEjecucion);
}

TEST(clsDES, SpanishTextThroughBase64AndTheCallersVariable) {
    clsDES cifrador;
    const QString contrasena = QStringLiteral("Señor Muñoz €5");
    const QString almacenado = cifrador.EncryptString(contrasena, QStringLiteral("llaveñ"), true);
    EXPECT_EQ(almacenado.size(), 44); // 14 bytes -> 32-byte frame -> 44 Base64 characters

    clsDES lector;
    lector.Key(QStringLiteral("llaveñ"));
    QString texto = almacenado;
    EXPECT_EQ(lector.DecryptString(texto, {}, true), contrasena);
    EXPECT_EQ(texto.size(), 32); // replaced by the decoded ciphertext text
    EXPECT_EQ(Cp1252::Codificar(texto), lector.DecodeArray64(almacenado));
    EXPECT_EQ(lector.DecryptString(texto), contrasena);

    // An empty password comes back empty.
    EXPECT_EQ(lector.DecryptString(lector.EncryptString(QString(), {}, true), {}, true), QString());
}

TEST(clsDES, FilesRefuseToOverwriteAndRoundTrip) {
    EntornoPrueba entorno;
    const QString claro = entorno.Escribir(entorno.Raiz() + "/claro.txt", "Ticket 42\r\nTotal: 10,50\r\n");
    const QString cifrado = entorno.Raiz() + "/cifrado.bin";
    const QString base64 = entorno.Raiz() + "/cifrado.b64";
    const QString salida = entorno.Raiz() + "/salida.txt";
    clsDES des;

    EXPECT_FALSE(des.EncryptFile(entorno.Raiz() + "/no-existe", cifrado, true, "k", false));
    EXPECT_FALSE(QFile::exists(cifrado));
    ASSERT_TRUE(des.EncryptFile(claro, cifrado, false, "k", false));
    EXPECT_EQ(EntornoPrueba::Leer(cifrado).size(), 40);
    ASSERT_TRUE(des.EncryptFile(claro, base64, false, "k", true));
    EXPECT_EQ(EntornoPrueba::Leer(base64).size(), 56); // 40 bytes, one line, no terminator
    EXPECT_EQ(des.DecodeArray64(QString::fromLatin1(EntornoPrueba::Leer(base64))).size(), 40);

    const QByteArray antes = EntornoPrueba::Leer(cifrado);
    EXPECT_FALSE(des.EncryptFile(claro, cifrado, false, "k", false));
    EXPECT_FALSE(des.DecryptFile(cifrado, claro, false, "k", false));
    EXPECT_EQ(EntornoPrueba::Leer(cifrado), antes);
    EXPECT_EQ(EntornoPrueba::Leer(claro), "Ticket 42\r\nTotal: 10,50\r\n");

    ASSERT_TRUE(des.DecryptFile(cifrado, salida, false, "k", false));
    EXPECT_EQ(EntornoPrueba::Leer(salida), EntornoPrueba::Leer(claro));
    entorno.Escribir(salida, "otra cosa");
    ASSERT_TRUE(des.DecryptFile(base64, salida, true, "k", true));
    EXPECT_EQ(EntornoPrueba::Leer(salida), EntornoPrueba::Leer(claro));

    // Base64 input with nothing to decode fails; a wrong key still writes the frame.
    entorno.Escribir(entorno.Raiz() + "/vacio.b64", "");
    EXPECT_FALSE(des.DecryptFile(entorno.Raiz() + "/vacio.b64", salida, true, "k", true));
    ASSERT_TRUE(des.DecryptFile(cifrado, salida, true, "otra", false));
    EXPECT_EQ(EntornoPrueba::Leer(salida).size(), 40);
}
