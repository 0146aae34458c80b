#include "app/gui/toolbar_images.h"

#include <QBitmap>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace calvora {

namespace {

const QColor kMask(255, 0, 255);

// Normal images are a shade quieter than the hot ones.
QColor Tone(const QColor& colour, bool hot) {
    return hot ? colour : colour.darker(118);
}

void DrawSave(QPainter& p, bool hot) {
    p.setPen(QPen(QColor(20, 30, 70), 1));
    p.setBrush(Tone(QColor(40, 80, 190), hot));
    p.drawRect(4, 4, 19, 19);
    p.setBrush(Tone(QColor(235, 235, 235), hot));
    p.drawRect(8, 4, 11, 8);
    p.setBrush(Tone(QColor(60, 60, 60), hot));
    p.drawRect(15, 5, 2, 5);
    p.setBrush(Tone(QColor(200, 200, 210), hot));
    p.drawRect(8, 15, 11, 8);
}

void DrawOpen(QPainter& p, bool hot) {
    p.setPen(QPen(QColor(110, 80, 10), 1));
    p.setBrush(Tone(QColor(230, 190, 80), hot));
    p.drawPolygon(QPolygon(
        {QPoint(3, 8), QPoint(10, 8), QPoint(12, 10), QPoint(21, 10), QPoint(21, 22), QPoint(3, 22)}));
    p.setBrush(Tone(QColor(250, 215, 110), hot));
    p.drawPolygon(QPolygon({QPoint(3, 22), QPoint(7, 13), QPoint(25, 13), QPoint(21, 22)}));
    p.setPen(QPen(Tone(QColor(30, 120, 40), hot), 2));
    p.drawLine(17, 7, 22, 3);
    p.drawLine(22, 3, 22, 7);
    p.drawLine(22, 3, 18, 3);
}

void DrawPrint(QPainter& p, bool hot) {
    p.setPen(QPen(QColor(50, 50, 50), 1));
    p.setBrush(Qt::white);
    p.drawRect(8, 3, 12, 9);
    p.setBrush(Tone(QColor(150, 150, 160), hot));
    p.drawRect(3, 11, 22, 9);
    p.setBrush(Qt::white);
    p.drawRect(7, 17, 14, 8);
    p.setPen(QColor(120, 120, 120));
    p.drawLine(9, 20, 19, 20);
    p.drawLine(9, 22, 17, 22);
    p.setPen(Qt::NoPen);
    p.setBrush(Tone(QColor(40, 200, 60), hot));
    p.drawRect(21, 13, 2, 2);
}

void DrawRecord(QPainter& p, bool hot) {
    p.setPen(QPen(QColor(60, 60, 60), 1));
    p.setBrush(Tone(QColor(250, 250, 240), hot));
    p.drawRect(2, 4, 23, 19);
    p.setPen(QPen(Tone(QColor(30, 90, 200), hot), 2));
    p.drawPolyline(QPolygon({QPoint(4, 18), QPoint(8, 12), QPoint(12, 15), QPoint(16, 8), QPoint(20, 11)}));
    p.setPen(QPen(QColor(120, 0, 0), 1));
    p.setBrush(Tone(QColor(230, 30, 30), hot));
    p.drawEllipse(QPoint(20, 19), 5, 5);
}

void DrawStop(QPainter& p, bool hot) {
    p.setPen(QPen(QColor(60, 60, 60), 1));
    p.setBrush(Tone(QColor(250, 250, 240), hot));
    p.drawRect(2, 4, 23, 19);
    p.setPen(QPen(Tone(QColor(30, 90, 200), hot), 2));
    p.drawPolyline(QPolygon({QPoint(4, 18), QPoint(8, 12), QPoint(12, 15), QPoint(16, 8), QPoint(20, 11)}));
    p.setPen(QPen(QColor(20, 20, 20), 1));
    p.setBrush(Tone(QColor(40, 40, 40), hot));
    p.drawRect(15, 14, 10, 10);
}

void DrawHelp(QPainter& p, bool hot) {
    p.setPen(QPen(QColor(10, 40, 110), 1));
    p.setBrush(Tone(QColor(60, 120, 220), hot));
    p.drawEllipse(QPoint(13, 13), 11, 11);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(17);
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRect(2, 2, 23, 23), Qt::AlignCenter, QStringLiteral("?"));
}

void DrawMeter(QPainter& p, bool hot) {
    p.setPen(QPen(QColor(30, 30, 30), 1));
    p.setBrush(Tone(QColor(240, 170, 30), hot));
    p.drawRoundedRect(QRect(5, 1, 17, 25), 3, 3);
    p.setBrush(Tone(QColor(190, 215, 190), hot));
    p.drawRect(8, 4, 11, 7);
    p.setPen(QColor(20, 60, 20));
    p.drawLine(10, 7, 17, 7);
    p.setPen(QPen(QColor(30, 30, 30), 1));
    p.setBrush(Tone(QColor(70, 70, 70), hot));
    p.drawEllipse(QPoint(13, 17), 4, 4);
    p.setPen(QPen(Qt::white, 1));
    p.drawLine(13, 17, 15, 14);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::red);
    p.drawRect(8, 23, 3, 2);
    p.setBrush(Qt::black);
    p.drawRect(16, 23, 3, 2);
}

} // namespace

QImage DrawToolbarStrip(bool hot) {
    QImage strip(kToolbarImageSize * kToolbarImageCount, kToolbarImageSize, QImage::Format_RGB888);
    strip.fill(kMask);
    QPainter painter(&strip);
    using Drawer = void (*)(QPainter&, bool);
    const Drawer drawers[kToolbarImageCount] = {DrawSave, DrawOpen, DrawPrint, DrawRecord,
                                                DrawStop, DrawHelp, DrawMeter};
    for (int i = 0; i < kToolbarImageCount; ++i) {
        painter.save();
        painter.translate(i * kToolbarImageSize, 0);
        painter.setClipRect(0, 0, kToolbarImageSize, kToolbarImageSize);
        // Hard edges keep the mask colour out of the outlines.
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setRenderHint(QPainter::TextAntialiasing, false);
        drawers[i](painter, hot);
        painter.restore();
    }
    painter.end();
    // The first pixel must stay the mask colour whatever the drawings did.
    strip.setPixelColor(0, 0, kMask);
    return strip;
}

QPixmap CutMaskedImage(const QImage& strip, int index) {
    const QImage image = strip.copy(index * kToolbarImageSize, 0, kToolbarImageSize, kToolbarImageSize);
    QPixmap pixmap = QPixmap::fromImage(image);
    pixmap.setMask(QBitmap::fromImage(image.createMaskFromColor(strip.pixel(0, 0), Qt::MaskInColor)));
    return pixmap;
}

QIcon ToolbarIcon(int index) {
    static const QImage normal = DrawToolbarStrip(false);
    static const QImage hot = DrawToolbarStrip(true);
    QIcon icon;
    const QPixmap normalImage = CutMaskedImage(normal, index);
    icon.addPixmap(normalImage, QIcon::Normal);
    // No disabled image of its own: Qt greys the normal one, so a button that cannot act looks it.
    icon.addPixmap(CutMaskedImage(hot, index), QIcon::Active);
    return icon;
}

QIcon ApplicationIcon() {
    // The installed icon theme carries the program's own icon; the drawn one serves an uninstalled build.
    const QIcon themed = QIcon::fromTheme(QStringLiteral("io.github.calvora.Calvora"));
    if (!themed.isNull())
        return themed;
    QIcon icon;
    for (int size : {16, 32, 48}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawPixmap(pixmap.rect(), CutMaskedImage(DrawToolbarStrip(true), kImageMeter));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QIcon InstrumentPageIcon() {
    return ToolbarIcon(kImageMeter);
}

QIcon ReceiverIcon(bool connected) {
    QPixmap pixmap(22, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    // A USB stick: plug at the left, body with its light.
    p.setPen(QColor(60, 60, 60));
    p.setBrush(QColor(200, 200, 200));
    p.drawRect(1, 5, 5, 6);
    p.setBrush(connected ? QColor(40, 150, 60) : QColor(120, 120, 120));
    p.drawRoundedRect(QRect(6, 3, 14, 10), 2, 2);
    p.setPen(Qt::NoPen);
    p.setBrush(connected ? QColor(140, 255, 140) : QColor(70, 70, 70));
    p.drawEllipse(QPoint(16, 8), 2, 2);
    p.end();
    return QIcon(pixmap);
}

} // namespace calvora
