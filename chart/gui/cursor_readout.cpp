#include "chart/gui/cursor_readout.h"

#include <QGridLayout>
#include <QLabel>
#include <QMouseEvent>

namespace calvora {

CursorReadout::CursorReadout(QWidget* parent) : QFrame(parent) {
    setFrameShape(QFrame::Box);
    setLineWidth(1);
    setAutoFillBackground(true);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, colours.color(QPalette::Button));
    setPalette(colours);

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(6, 4, 6, 4);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(2);
    const QString labels[kTexts] = {QStringLiteral("No.:"), QStringLiteral("Channel:"),
                                    QStringLiteral("Function:"), QStringLiteral("Data Value:"),
                                    QStringLiteral("Time:")};
    for (int i = 0; i < kTexts; ++i) {
        grid->addWidget(new QLabel(labels[i], this), i, 0);
        values_[static_cast<size_t>(i)] = new QLabel(this);
        grid->addWidget(values_[static_cast<size_t>(i)], i, 1);
    }
    grid->setColumnStretch(1, 1);
}

void CursorReadout::SetTexts(const std::array<QString, kTexts>& texts) {
    for (size_t i = 0; i < values_.size(); ++i)
        values_[i]->setText(texts[i]);
    update();
}

QString CursorReadout::Text(int index) const {
    if (index < 0 || index >= kTexts)
        return {};
    return values_[static_cast<size_t>(index)]->text();
}

void CursorReadout::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && onRelease_)
        onRelease_();
    QFrame::mouseReleaseEvent(event);
}

} // namespace calvora
