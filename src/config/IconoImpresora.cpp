#include "config/IconoImpresora.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

// Drawn on a 64-unit grid and scaled to the pixmap's size.
QPixmap Dibujar(int lado) {
    QPixmap pixmap(lado, lado);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(lado / 64.0, lado / 64.0);
    const qreal trazo = lado < 32 ? 3.0 : 2.0;

    // The ticket going into the printer at the back.
    p.setPen(QPen(QColor(60, 60, 60), trazo));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(16, 4, 32, 22));

    // The printer's body.
    QPainterPath cuerpo;
    cuerpo.addRoundedRect(QRectF(4, 20, 56, 26), 6, 6);
    p.setBrush(QColor(70, 90, 120));
    p.setPen(QPen(QColor(30, 40, 60), trazo));
    p.drawPath(cuerpo);
    // The slot and the ready light.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(20, 25, 35));
    p.drawRect(QRectF(14, 38, 36, 4));
    p.setBrush(QColor(80, 220, 90));
    p.drawEllipse(QRectF(49, 25, 6, 6));

    // The printed ticket with its lines.
    p.setPen(QPen(QColor(60, 60, 60), trazo));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(18, 40, 28, 22));
    p.setPen(QPen(QColor(40, 40, 40), trazo));
    for (qreal y = 47; y < 60; y += 5) {
        p.drawLine(QPointF(23, y), QPointF(y < 55 ? 41 : 33, y));
    }
    return pixmap;
}

} // namespace

QIcon IconoImpresora() {
    QIcon icono;
    for (int lado : {16, 22, 24, 32, 48, 64}) {
        icono.addPixmap(Dibujar(lado));
    }
    return icono;
}
