#include "printer/EstadoImpresora.h"

#include <array>

namespace {

// In the order of the state numbers.
constexpr std::array<char16_t, 5> kLetras = {u'A', u'P', u'F', u'D', u'C'};

} // namespace

int NumeroEstado(EstadoImpresora estado) {
    return static_cast<int>(estado);
}

std::optional<EstadoImpresora> EstadoDeNumero(int numero) {
    if (numero < 0 || numero >= static_cast<int>(kLetras.size())) {
        return std::nullopt;
    }
    return static_cast<EstadoImpresora>(numero);
}

QString LetraEstado(EstadoImpresora estado) {
    return QString(QChar(kLetras[static_cast<std::size_t>(NumeroEstado(estado))]));
}

std::optional<EstadoImpresora> EstadoDeLetra(QStringView letra) {
    for (std::size_t i = 0; i < kLetras.size(); ++i) {
        if (letra.size() == 1 && letra.front() == QChar(kLetras[i])) {
            return static_cast<EstadoImpresora>(i);
        }
    }
    return std::nullopt;
}
