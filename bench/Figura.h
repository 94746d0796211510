#pragma once

#include <cstdio>
#include <string>

// Prints one benchmark figure in the one line format every benchmark uses:
//   <figure>: <value> <unit> | <reference>: <value> <unit> | ratio <value/reference>
// For figures where less is better (a time, a CPU share) pass
// MenosEsMejor::Si and the ratio is reference/value, so that a ratio above 1
// always means "better than the reference".
enum class MenosEsMejor { No, Si };

inline void ImprimirFigura(const std::string& figura, double valor, const std::string& unidad,
                           const std::string& referencia, double valorReferencia, const std::string& unidadReferencia,
                           MenosEsMejor sentido = MenosEsMejor::No) {
    const double ratio = sentido == MenosEsMejor::Si ? valorReferencia / valor : valor / valorReferencia;
    std::printf("%s: %.6g %s | %s: %.6g %s | ratio %.3f\n", figura.c_str(), valor, unidad.c_str(), referencia.c_str(),
                valorReferencia, unidadReferencia.c_str(), ratio);
    std::fflush(stdout);
}
