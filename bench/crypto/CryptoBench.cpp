// OpenSSL 3 keeps single DES only in its low-level (deprecated) interface.
#define OPENSSL_SUPPRESS_DEPRECATED

#include "Figura.h"
#include "crypto/clsDES.h"

#include <QByteArray>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstring>
#include <functional>
#include <openssl/des.h>
#include <openssl/evp.h>

// Ours and OpenSSL's side by side on the same 1 MiB, alternating runs; each
// figure is the best of the runs, in MiB/s of input.
namespace {

constexpr int kTamano = 1 << 20;
constexpr int kRondas = 15;

double Segundos(const std::function<void()>& trabajo) {
    const auto inicio = std::chrono::steady_clock::now();
    trabajo();
    benchmark::ClobberMemory();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - inicio).count();
}

void Comparar(const std::string& figura, const std::function<void()>& nuestro, const std::string& referencia,
              const std::function<void()>& suyo) {
    nuestro();
    suyo();
    double mejorNuestro = 1e100, mejorSuyo = 1e100;
    for (int i = 0; i < kRondas; ++i) {
        mejorNuestro = std::min(mejorNuestro, Segundos(nuestro));
        mejorSuyo = std::min(mejorSuyo, Segundos(suyo));
    }
    ImprimirFigura(figura, 1.0 / mejorNuestro, "MiB/s", referencia, 1.0 / mejorSuyo, "MiB/s");
}

} // namespace

int main() {
    QByteArray datos(kTamano, Qt::Uninitialized);
    for (int i = 0; i < kTamano; ++i) {
        datos[i] = static_cast<char>((i * 2654435761u) >> 13);
    }
    const QString clave = QStringLiteral("Orlan123");

    clsDES des;
    des.Key(clave);
    DES_cblock bloqueClave;
    std::memcpy(bloqueClave, clave.toLatin1().constData(), 8);
    DES_key_schedule programa;
    DES_set_key_unchecked(&bloqueClave, &programa);

    QByteArray cifrado = datos;
    des.EncryptByte(cifrado);
    QByteArray trabajo;
    std::vector<unsigned char> salidaSsl(cifrado.size());
    const auto cbcSsl = [&](const QByteArray& entrada, int sentido) {
        DES_cblock iv = {};
        DES_ncbc_encrypt(reinterpret_cast<const unsigned char*>(entrada.constData()), salidaSsl.data(), entrada.size(),
                         &programa, &iv, sentido);
        benchmark::DoNotOptimize(salidaSsl.data());
    };

    Comparar(
        "EncryptByte 1 MiB",
        [&] {
            trabajo = datos;
            des.EncryptByte(trabajo);
            benchmark::DoNotOptimize(trabajo.data());
        },
        "OpenSSL DES_ncbc_encrypt", [&] { cbcSsl(datos, DES_ENCRYPT); });
    Comparar(
        "DecryptByte 1 MiB",
        [&] {
            trabajo = cifrado;
            des.DecryptByte(trabajo);
            benchmark::DoNotOptimize(trabajo.data());
        },
        "OpenSSL DES_ncbc_encrypt", [&] { cbcSsl(cifrado, DES_DECRYPT); });

    QString texto;
    std::vector<unsigned char> base64(kTamano / 3 * 4 + 8);
    Comparar(
        "EncodeArray64 1 MiB",
        [&] {
            texto = des.EncodeArray64(datos);
            benchmark::DoNotOptimize(texto.data());
        },
        "OpenSSL EVP_EncodeBlock",
        [&] {
            EVP_EncodeBlock(base64.data(), reinterpret_cast<const unsigned char*>(datos.constData()), kTamano);
            benchmark::DoNotOptimize(base64.data());
        });

    // Both decoders take the same Base64 text of 1 MiB (without line breaks for
    // OpenSSL, which refuses them); throughput counts decoded bytes.
    const QString entrada64 = des.EncodeArray64(datos);
    const int largo64 =
        EVP_EncodeBlock(base64.data(), reinterpret_cast<const unsigned char*>(datos.constData()), kTamano);
    std::vector<unsigned char> decodificado(kTamano + 8);
    QByteArray resultado;
    Comparar(
        "DecodeArray64 1 MiB",
        [&] {
            resultado = des.DecodeArray64(entrada64);
            benchmark::DoNotOptimize(resultado.data());
        },
        "OpenSSL EVP_DecodeBlock",
        [&] {
            EVP_DecodeBlock(decodificado.data(), base64.data(), largo64);
            benchmark::DoNotOptimize(decodificado.data());
        });
    return 0;
}
