#pragma once

#include <QApplication>
#include <QCloseEvent>
#include <QTimer>
#include <QWidget>
#include <QtTest/qtestspontaneevent.h>
#include <functional>

// Answers a modal window from inside its showing: once a visible top-level
// window of type T appears, `accion` runs on it (and may click its buttons
// or close it). Call it before the call that shows the window.
template <typename T> void AlAparecer(std::function<void(T&)> accion) {
    auto* espera = new QTimer;
    QObject::connect(espera, &QTimer::timeout, [espera, accion] {
        for (QWidget* ventana : QApplication::topLevelWidgets()) {
            if (auto* forma = qobject_cast<T*>(ventana); forma && forma->isVisible()) {
                espera->stop();
                espera->deleteLater();
                accion(*forma);
                return;
            }
        }
    });
    espera->start(5);
}

// Lets pending events (activation, focus, layout) run a few rounds.
inline void ProcesarEventos() {
    for (int i = 0; i < 5; ++i) {
        QApplication::processEvents();
    }
}

// Closes a window as its close box does: a close request from the window
// system (sendEvent would clear the spontaneous flag).
inline void CerrarConCasilla(QWidget& ventana) {
    QCloseEvent casilla;
    QSpontaneKeyEvent::setSpontaneous(&casilla);
    QApplication::instance()->notify(&ventana, &casilla);
}
