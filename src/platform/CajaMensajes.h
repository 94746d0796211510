#pragma once

#include <QString>
#include <functional>

// The platform's standard message box. The GUI installs a presenter that shows
// a real dialog; until then (and always in service mode, where nobody could
// answer a dialog) the text and title go to standard error and the call
// returns at once, so a service never blocks. Tests install a presenter that
// records the call and gives a chosen answer.
namespace CajaMensajes {

enum class Icono { Ninguno, Error, Advertencia, Informacion, Pregunta };

struct Mensaje {
    QString texto;
    QString titulo; // empty: the application's name
    Icono icono = Icono::Ninguno;
    int botones = 0; // the buttons: 0 "Aceptar", 4 "Si"/"No"
};

// Returns the number of the button that closed the box (1 "Aceptar", 6 "Si",
// 7 "No"). Without a window the answer is 1.
int Mostrar(const Mensaje& mensaje);

using Presentador = std::function<int(const Mensaje&)>;

// Installs the presenter and returns the previous one (empty: standard error).
Presentador EstablecerPresentador(Presentador presentador);

} // namespace CajaMensajes
