#include "chart/gui/chart_controls.h"

#include <QPainter>
#include <QRegularExpression>
#include <QRegularExpressionValidator>

namespace calvora {

QColor ColourFromRef(uint32_t colour) {
    return QColor(static_cast<int>(colour & 0xFF), static_cast<int>((colour >> 8) & 0xFF),
                  static_cast<int>((colour >> 16) & 0xFF));
}

uint32_t RefFromColour(const QColor& colour) {
    return static_cast<uint32_t>(colour.red()) | (static_cast<uint32_t>(colour.green()) << 8) |
           (static_cast<uint32_t>(colour.blue()) << 16);
}

ColourSwatch::ColourSwatch(QWidget* parent) : QWidget(parent) {
}

void ColourSwatch::SetColour(uint32_t colour) {
    colour_ = colour;
    update();
}

void ColourSwatch::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.setPen(QPen(Qt::black, 0));
    painter.setBrush(ColourFromRef(colour_));
    // The outline covers the columns 1 .. width - 2 and the rows 1 .. height - 2.
    painter.drawRect(QRect(1, 1, width() - 3, height() - 3));
}

NumberEdit::NumberEdit(QWidget* parent) : QLineEdit(parent) {
    // A validator rather than a key filter, so pasted text obeys the same rule as typed text.
    setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9.\\-]*")), this));
}

} // namespace calvora
