#pragma once

#include <QString>
#include <optional>

// The one rule for a printer's port name, as the shop's database, the
// settings and every program hold it: "COM" or "LPT" and one digit from 1 to
// 9, in any case, with nothing before or after it. Anything else (a path, a
// device name such as "PRN", "COM0", a name with blanks) names no port: the
// printer that carries it cannot be served, and the name is never used as a
// settings section or a file name.
struct NombrePuerto {
    enum class Clase { Serie, Paralelo };

    Clase clase;
    int numero;     // 1 to 9
    QString nombre; // upper case: "COM1", "LPT2"

    // The port that `texto` names, or nothing.
    static std::optional<NombrePuerto> Leer(const QString& texto);
    // Whether `texto` names a port: only such a name is opened or used as a
    // settings section.
    static bool Valido(const QString& texto) { return Leer(texto).has_value(); }
    // `texto` cut to `largo` characters with its control characters shown as
    // "?", for a log line that quotes a name that failed the rule.
    static QString Citar(const QString& texto, int largo = 40);

    // Serial ports have an object each for 1 to 4; 5 to 9 name a port that
    // leads nowhere.
    static constexpr int kUltimoSerie = 4;
    // LPTn is the card's base address plus n - 1 with the "directo" backend:
    // past LPT8 the address leaves the card.
    static constexpr int kUltimoParaleloDirecto = 8;
};
