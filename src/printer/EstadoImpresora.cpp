#include "printer/EstadoImpresora.h"

#include <array>

namespace {

// In the order of the state numbers.
constexpr std::array<char16_t, 5> kLetras = {u'A', u'P', u'F', u'D', u'C'};

} // namespace

int NumeroEstado(EstadoImpresora estado) {
    return static_cast<int>(estado);
}

QString LetraEstado(EstadoImpresora estado) {
    return QString(QChar(kLetras[static_cast<std::size_t>(NumeroEstado(estado))]));
}
