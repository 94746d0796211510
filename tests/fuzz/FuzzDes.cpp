// DES decryption of arbitrary frames: the first byte says how long the key
// text is (0 to 8 bytes follow), the rest is the ciphertext. Decrypting must
// never read or write out of bounds, whatever the size field says; and what
// was encrypted decrypts back under the same key.

#include "EntornoFuzz.h"

#include "crypto/clsDES.h"
#include "support/ErrorEjecucion.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* datos, std::size_t largo) {
    PrepararEntornoFuzz();
    if (largo == 0) {
        return 0;
    }
    const std::size_t largoClave = std::min<std::size_t>(datos[0] % 9, largo - 1);
    const QString clave = QString::fromLatin1(reinterpret_cast<const char*>(datos + 1), qsizetype(largoClave));
    const QByteArray resto(reinterpret_cast<const char*>(datos + 1 + largoClave), qsizetype(largo - 1 - largoClave));

    clsDES des;
    des.Key(clave.isEmpty() ? QStringLiteral("x") : clave);

    QByteArray cifrado = resto;
    des.DecryptByte(cifrado);
    // Arbitrary text through the string interface, Base64 and raw.
    des.DecryptString(QString::fromLatin1(resto));
    try {
        des.DecryptString(QString::fromLatin1(resto), QString(), true);
    } catch (const ErrorEjecucion& e) {
        if (e.Numero() != 9) { // nothing left to decode is Base64's only error
            std::abort();
        }
    }

    QByteArray ida = resto;
    des.EncryptByte(ida);
    if (ida.size() % 8 != 0) {
        std::abort();
    }
    des.DecryptByte(ida);
    if (ida != resto) {
        std::abort();
    }
    return 0;
}
