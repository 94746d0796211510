#include "dialogs/Twips.h"

#include <QGuiApplication>
#include <QScreen>
#include <cmath>

namespace Twips {

double PuntosPorPulgada() {
    const QScreen* pantalla =
        qobject_cast<QGuiApplication*>(QCoreApplication::instance()) ? QGuiApplication::primaryScreen() : nullptr;
    return pantalla ? pantalla->logicalDotsPerInch() : 96.0;
}

int APixeles(double twips) {
    return static_cast<int>(std::lround(twips * PuntosPorPulgada() / 1440.0));
}

double DePixeles(int pixeles) {
    return pixeles * 1440.0 / PuntosPorPulgada();
}

QRect APixeles(const QRect& twips) {
    return {APixeles(twips.x()), APixeles(twips.y()), APixeles(twips.width()), APixeles(twips.height())};
}

QSize APixeles(const QSize& twips) {
    return {APixeles(twips.width()), APixeles(twips.height())};
}

QSize Pantalla() {
    const QScreen* pantalla =
        qobject_cast<QGuiApplication*>(QCoreApplication::instance()) ? QGuiApplication::primaryScreen() : nullptr;
    const QSize pixeles = pantalla ? pantalla->size() : QSize(800, 600);
    return {static_cast<int>(std::lround(DePixeles(pixeles.width()))),
            static_cast<int>(std::lround(DePixeles(pixeles.height())))};
}

} // namespace Twips
