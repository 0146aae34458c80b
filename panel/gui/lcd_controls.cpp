#include "panel/gui/lcd_controls.h"

#include "panel/gui/meter_symbols.h"
#include "panel/meter_layout.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace calvora {

LcdText::LcdText(int id, Look look, QWidget* parent) : QWidget(parent), id_(id), look_(look) {
    setObjectName(QStringLiteral("control%1").arg(id));
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void LcdText::SetText(const QString& text) {
    if (text != text_) {
        text_ = text;
        update();
    }
}

int LcdText::markLeft() const {
    // Half of the widest scale mark in from each end, so "0" and "40" stay whole under the bar's ends.
    return (fontMetrics().horizontalAdvance(QStringLiteral("40")) + 1) / 2;
}

int LcdText::markRight() const {
    return width() - 1 - markLeft();
}

void LcdText::paintEvent(QPaintEvent*) {
    if (text_.isEmpty()) {
        return;
    }
    QPainter painter(this);
    painter.setFont(font());
    switch (look_) {
    case Look::Plain:
    case Look::Centred: {
        const int alignment = (look_ == Look::Centred ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignTop;
        painter.setPen(Qt::black);
        painter.drawText(rect(), alignment | Qt::TextWordWrap, text_);
        break;
    }
    case Look::Inverse: {
        // Only the text's own cells turn black; the rest of the control keeps the display's colour.
        const QFontMetrics metrics = fontMetrics();
        const QRect cells(0, 0, metrics.horizontalAdvance(text_), metrics.height());
        painter.fillRect(cells, Qt::black);
        painter.setPen(LcdBackground());
        painter.drawText(cells, Qt::AlignLeft | Qt::AlignTop, text_);
        break;
    }
    case Look::BarGraph:
        PaintBar(painter);
        break;
    case Look::BarScale:
        PaintScale(painter);
        break;
    }
}

void LcdText::PaintBar(QPainter& painter) const {
    painter.setPen(Qt::black);
    const QFontMetrics metrics = fontMetrics();
    const int left = markLeft();
    const int span = markRight() - left;
    for (qsizetype i = 0; i < text_.size(); ++i) {
        const QChar glyph = text_.at(i);
        if (glyph.isSpace()) {
            continue;
        }
        const int centre = left + static_cast<int>(std::lround(BarMarkFraction(static_cast<int>(i)) * span));
        const int glyphWidth = metrics.horizontalAdvance(glyph);
        painter.drawText(QRect(centre - glyphWidth / 2, 0, glyphWidth + 1, height()),
                         Qt::AlignLeft | Qt::AlignTop, QString(glyph));
    }
}

void LcdText::PaintScale(QPainter& painter) const {
    painter.setPen(Qt::black);
    const std::u16string text = text_.toStdU16String();
    const std::vector<ScaleMark> marks = ScaleMarks(text);
    if (marks.empty()) {
        painter.drawText(rect(), Qt::AlignLeft | Qt::AlignTop, text_);
        return;
    }
    const QFontMetrics metrics = fontMetrics();
    const int left = markLeft();
    const int span = markRight() - left;
    for (const ScaleMark& mark : marks) {
        const QString label = QString::fromUtf16(mark.text.data(), static_cast<qsizetype>(mark.text.size()));
        const int labelWidth = metrics.horizontalAdvance(label);
        const int centre = left + span * mark.segment / 40;
        const int x = std::clamp(centre - labelWidth / 2, 0, std::max(0, width() - labelWidth));
        painter.drawText(QRect(x, 0, labelWidth + 1, height()), Qt::AlignLeft | Qt::AlignTop, label);
    }
}

LcdSymbol::LcdSymbol(int id, QWidget* parent) : QWidget(parent), id_(id) {
    setObjectName(QStringLiteral("control%1").arg(id));
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void LcdSymbol::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (id_ == kMeterBeepId) {
        DrawBeepSymbol(painter, QPoint(0, 0), Qt::black);
    } else if (id_ == kMeterDiodeId) {
        DrawDiodeSymbol(painter, QPoint(0, 0), Qt::black);
    }
}

LcdFrame::LcdFrame(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("frame"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void LcdFrame::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const int top = fontMetrics().height() / 2;
    const QRect outline(0, top, width() - 2, height() - top - 2);
    // Etched: a grey line with a white one a pixel below and to the right.
    painter.setPen(Qt::white);
    painter.drawRect(outline.translated(1, 1));
    painter.setPen(QColor(128, 128, 128));
    painter.drawRect(outline);
}

} // namespace calvora
