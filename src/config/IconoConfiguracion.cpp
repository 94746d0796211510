#include "config/IconoConfiguracion.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

// The printer on a 32 × 32 grid, scaled to `lado` pixels.
QPixmap Dibujar(int lado) {
    QPixmap pixmap(lado, lado);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(lado / 32.0, lado / 32.0);

    // The sheet behind the body, with two printed lines.
    p.setPen(QPen(QColor(90, 90, 90), 1.0));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(8.5, 2.5, 15, 13));
    p.setPen(QPen(QColor(60, 110, 60), 1.5));
    p.drawLine(QPointF(11, 6.5), QPointF(21, 6.5));
    p.drawLine(QPointF(11, 10), QPointF(18, 10));

    // The body, its paper slot and the ready light.
    QPainterPath cuerpo;
    cuerpo.addRoundedRect(QRectF(2.5, 13.5, 27, 12), 2.5, 2.5);
    p.setPen(QPen(QColor(40, 44, 52), 1.0));
    p.setBrush(QColor(84, 94, 106));
    p.drawPath(cuerpo);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(20, 22, 26));
    p.drawRect(QRectF(7, 17, 18, 2));
    p.setBrush(QColor(90, 220, 90));
    p.drawEllipse(QPointF(25, 22), 1.6, 1.6);

    // The tray under the body.
    p.setPen(QPen(QColor(40, 44, 52), 1.0));
    p.setBrush(QColor(150, 160, 170));
    p.drawRect(QRectF(5.5, 25.5, 21, 4));
    return pixmap;
}

} // namespace

QIcon IconoConfiguracion() {
    QIcon icono;
    for (int lado : {16, 22, 24, 32, 48, 64}) {
        icono.addPixmap(Dibujar(lado));
    }
    return icono;
}
