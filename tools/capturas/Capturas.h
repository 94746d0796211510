#pragma once

#include <QSize>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>

// A drawing of one window: a function that builds the widget ready to be seen
// (fields filled, laid out as on activation) and returns it; orlan-capturas
// shows it, lets it paint and saves it as `archivo` (a PNG name). It is drawn
// by the run whose screen has the size `pantalla`, in pixels.
struct Captura {
    QString archivo;
    std::function<std::unique_ptr<QWidget>()> crear;
    QSize pantalla{800, 600};
};

// Registers a drawing at static initialisation:
//   static const bool registrada = RegistrarCaptura({"mensaje.png", [] { ... }});
bool RegistrarCaptura(Captura captura);
