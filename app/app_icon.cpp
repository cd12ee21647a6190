#include "app/app_icon.h"

#include <QBuffer>
#include <QPainter>
#include <QPainterPath>

namespace kelo::app {

QPixmap AppIconPixmap(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    // Drawn on a 64-unit grid and scaled to the size asked for.
    painter.scale(size / 64.0, size / 64.0);

    const QColor outline(40, 52, 68);
    painter.setPen(QPen(outline, 2.5));

    // The sheet going in at the back.
    painter.setBrush(QColor(250, 250, 250));
    painter.drawRect(QRectF(18, 4, 28, 22));

    // The printer body.
    painter.setBrush(QColor(84, 118, 160));
    painter.drawRoundedRect(QRectF(6, 22, 52, 26), 5, 5);

    // The status light.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(96, 200, 110));
    painter.drawEllipse(QPointF(49, 30), 3, 3);

    // The printed sheet coming out at the front, with lines of text.
    painter.setPen(QPen(outline, 2.5));
    painter.setBrush(QColor(250, 250, 250));
    painter.drawRect(QRectF(16, 38, 32, 22));
    painter.setPen(QPen(QColor(120, 130, 145), 2));
    for (int y = 45; y <= 55; y += 5)
        painter.drawLine(QLineF(21, y, y == 55 ? 35 : 43, y));
    return pixmap;
}

QIcon AppIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64})
        icon.addPixmap(AppIconPixmap(size));
    return icon;
}

QByteArray AppIconPng(int size) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    AppIconPixmap(size).save(&buffer, "PNG");
    return bytes;
}

}  // namespace kelo::app
