#include "panel/gui/meter_symbols.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygon>

namespace calvora {

void DrawBeepSymbol(QPainter& painter, const QPoint& origin, const QColor& ink) {
    painter.save();
    painter.translate(origin);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(Qt::NoPen);
    painter.setBrush(ink);
    // Speaker: a box and its cone.
    painter.drawRect(1, 5, 3, 4);
    painter.drawPolygon(QPolygon({QPoint(4, 5), QPoint(7, 2), QPoint(7, 12), QPoint(4, 9)}));
    // Two waves.
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(ink, 1));
    painter.drawArc(QRect(6, 4, 4, 6), -60 * 16, 120 * 16);
    painter.drawArc(QRect(6, 1, 7, 12), -60 * 16, 120 * 16);
    painter.restore();
}

void DrawDiodeSymbol(QPainter& painter, const QPoint& origin, const QColor& ink) {
    painter.save();
    painter.translate(origin);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(ink, 1));
    painter.setBrush(ink);
    const int middle = kDiodeSymbolSize.height() / 2;
    painter.drawLine(0, middle, 6, middle);
    painter.drawPolygon(
        QPolygon({QPoint(6, 1), QPoint(12, middle), QPoint(6, kDiodeSymbolSize.height() - 2)}));
    painter.drawLine(13, 1, 13, kDiodeSymbolSize.height() - 2);
    painter.drawLine(13, middle, kDiodeSymbolSize.width() - 1, middle);
    painter.restore();
}

QPixmap ReceiverImage(bool connected) {
    QPixmap pixmap(kReceiverImageSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing, true);
    // The meter's case.
    const QColor body = connected ? QColor(230, 140, 20) : QColor(150, 150, 150);
    painter.setPen(QPen(QColor(50, 50, 50), 1));
    painter.setBrush(body);
    painter.drawRoundedRect(QRectF(1.5, 1.5, 19, 47), 3, 3);
    // Its screen: the panel's colour while connected.
    painter.setBrush(connected ? QColor(125, 206, 205) : QColor(90, 100, 100));
    painter.drawRect(QRectF(4.5, 5.5, 13, 11));
    if (connected) {
        painter.setPen(QPen(Qt::black, 1));
        painter.drawLine(QPointF(7, 11), QPointF(15, 11));
        painter.drawLine(QPointF(7, 13.5), QPointF(12, 13.5));
    }
    // The selector dial and the probe sockets.
    painter.setPen(QPen(QColor(40, 40, 40), 1));
    painter.setBrush(QColor(60, 60, 60));
    painter.drawEllipse(QPointF(11, 27), 5, 5);
    painter.setPen(QPen(QColor(230, 230, 230), 1.5));
    painter.drawLine(QPointF(11, 27), QPointF(11, 23));
    painter.setPen(Qt::NoPen);
    painter.setBrush(connected ? QColor(200, 30, 30) : QColor(70, 70, 70));
    painter.drawEllipse(QPointF(7, 41), 2, 2);
    painter.setBrush(QColor(20, 20, 20));
    painter.drawEllipse(QPointF(15, 41), 2, 2);
    return pixmap;
}

} // namespace calvora
