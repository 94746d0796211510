// The database layer's conversion of fetched fields: a field's text becomes
// the value a Recordset holds, and AEntero16/AEntero32 turn any value into
// an integer in range or raise the runtime's error (type mismatch, overflow,
// invalid use of Null). A number reads the same from a numeric column as
// from a text one. Input: a class byte ('e', 'r', anything else: text), then
// the field's text.

#include "database/BaseDatos.h"
#include "support/ErrorEjecucion.h"

#include <cstdint>
#include <cstdlib>

namespace {

// The value, or the number of the error raised.
struct Conversion {
    bool error = false;
    qint64 numero = 0;
    bool operator==(const Conversion&) const = default;
};

template <typename F> Conversion Convertir(F conversion, const QVariant& v) {
    try {
        return {false, conversion(v)};
    } catch (const ErrorEjecucion& e) {
        if (e.Numero() != ErrorEjecucion::kTiposNoCoinciden && e.Numero() != 6 && e.Numero() != 94) {
            std::abort();
        }
        return {true, e.Numero()};
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* datos, std::size_t largo) {
    if (largo == 0) {
        return 0;
    }
    const char clase = static_cast<char>(datos[0]);
    const QByteArray texto(reinterpret_cast<const char*>(datos + 1), qsizetype(largo - 1));
    const QVariant valor = ValorCampo(texto, clase);
    const QVariant comoTexto = ValorCampo(texto, 't');
    if (valor.isNull() || comoTexto.toString() != QString::fromUtf8(texto)) {
        std::abort();
    }
    const Conversion a16 = Convertir(AEntero16, valor);
    const Conversion a32 = Convertir(AEntero32, valor);
    if (!a16.error && (a16.numero < -32768 || a16.numero > 32767)) {
        std::abort();
    }
    // A 16-bit value is a 32-bit one too; what fails in 32 bits fails in 16.
    if ((!a16.error && a32 != a16) || (a32.error && a16 != a32)) {
        std::abort();
    }
    // A number reads the same from a numeric column as from a text one (a
    // driver gives a number's text without NUL bytes, and never blank).
    if (!texto.contains('\0') && !texto.trimmed().isEmpty() && Convertir(AEntero32, comoTexto) != a32) {
        std::abort();
    }
    return 0;
}
