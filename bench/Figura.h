#pragma once

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

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

// The median of a set of measurements (the mean of the middle two for an even
// count).
inline double Mediana(std::vector<double> valores) {
    std::sort(valores.begin(), valores.end());
    const size_t n = valores.size();
    return n % 2 ? valores[n / 2] : (valores[n / 2 - 1] + valores[n / 2]) / 2;
}

// The p-th fraction (0.99 for p99) of a set of measurements: the value below
// which that share of them lies; 0 for none.
inline double Percentil(std::vector<double> valores, double p) {
    if (valores.empty()) {
        return 0;
    }
    std::sort(valores.begin(), valores.end());
    return valores[std::min<size_t>(valores.size() - 1, static_cast<size_t>(p * valores.size()))];
}
