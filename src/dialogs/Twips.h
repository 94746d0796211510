#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

// The forms are designed in twips (1/1440 inch). Every measure goes through
// these helpers: pixels = twips × logical DPI / 1440 of the primary screen, so
// 15 twips a pixel at 96 DPI. Without a screen (no QGuiApplication) 96 DPI is
// assumed.
namespace Twips {

double PuntosPorPulgada();
int APixeles(double twips);
double DePixeles(int pixeles);
QRect APixeles(const QRect& twips);
QSize APixeles(const QSize& twips);
// The screen's size in twips, as the forms read it.
QSize Pantalla();

} // namespace Twips
