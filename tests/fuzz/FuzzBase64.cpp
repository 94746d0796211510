// The Base64 decoder of clsDES on arbitrary text, and the encoder's output
// decoding back to the same bytes.

#include "EntornoFuzz.h"

#include "crypto/clsDES.h"
#include "support/ErrorEjecucion.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* datos, std::size_t largo) {
    PrepararEntornoFuzz();
    static clsDES des;
    const QByteArray bytes(reinterpret_cast<const char*>(datos), qsizetype(largo));

    // Arbitrary text: every byte as one character, and as UTF-8 (characters
    // beyond the low eight bits too).
    for (const QString& texto : {QString::fromLatin1(bytes), QString::fromUtf8(bytes)}) {
        try {
            des.DecodeArray64(texto);
        } catch (const ErrorEjecucion& e) {
            if (e.Numero() != 9) {
                std::abort();
            }
        }
        try {
            des.Decode64(texto);
        } catch (const ErrorEjecucion& e) {
            if (e.Numero() != 9) {
                std::abort();
            }
        }
    }

    if (!bytes.isEmpty()) {
        const QString codificado = des.EncodeArray64(bytes);
        if (des.DecodeArray64(codificado) != bytes) {
            std::abort();
        }
    }
    return 0;
}
