#include "chart/gui/chart_toolbar.h"

#include "chart/gui/chart_view.h"
#include "recording/recording_document.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>

namespace calvora {

QImage DrawModeImage(ModeImage which) {
    QImage image(kModeImageWidth, kModeImageHeight, QImage::Format_RGB888);
    const int w = kModeImageWidth;
    const int h = kModeImageHeight;
    image.fill(QColor(212, 208, 200));
    QPainter painter(&image);
    // Raised face: light top and left edges, dark bottom and right edges.
    painter.setPen(Qt::white);
    painter.drawLine(0, 0, w - 2, 0);
    painter.drawLine(0, 0, 0, h - 2);
    painter.setPen(QColor(128, 128, 128));
    painter.drawLine(1, h - 2, w - 2, h - 2);
    painter.drawLine(w - 2, 1, w - 2, h - 2);
    painter.setPen(Qt::black);
    painter.drawLine(0, h - 1, w - 1, h - 1);
    painter.drawLine(w - 1, 0, w - 1, h - 1);
    QPen dotted(Qt::black, 0, Qt::CustomDashLine);
    dotted.setDashPattern({1, 1});
    painter.setPen(dotted);
    painter.drawRect(3, 3, w - 8, h - 8);

    const bool active = which == ModeImage::ZoomActive || which == ModeImage::CursorActive;
    const QColor symbol = active ? QColor(0, 64, 224) : QColor(128, 128, 128);
    painter.setRenderHint(QPainter::Antialiasing);
    if (which == ModeImage::ZoomActive || which == ModeImage::ZoomInactive) {
        painter.setPen(QPen(symbol, 2.5));
        painter.setBrush(active ? QColor(200, 225, 255) : QColor(230, 230, 230));
        painter.drawEllipse(QPointF(26, 13), 7, 7);
        painter.setPen(QPen(symbol, 4, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(31.5, 18.5), QPointF(37, 24));
    } else {
        QPainterPath arrow;
        arrow.moveTo(24, 5);
        arrow.lineTo(24, 22);
        arrow.lineTo(28, 18);
        arrow.lineTo(31, 25);
        arrow.lineTo(34, 24);
        arrow.lineTo(31, 17);
        arrow.lineTo(36, 17);
        arrow.closeSubpath();
        painter.setPen(QPen(Qt::black, 1));
        painter.setBrush(symbol);
        painter.drawPath(arrow);
    }
    return image;
}

namespace {
QPushButton* ImageButton(QWidget* parent) {
    auto* button = new QPushButton(parent);
    button->setFlat(true);
    button->setFixedSize(kModeImageWidth + 2, kModeImageHeight + 2);
    button->setIconSize(QSize(kModeImageWidth, kModeImageHeight));
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}
} // namespace

ChartToolbar::ChartToolbar(ChartView& view)
    : QWidget(&view), view_(view), customScale_(new QPushButton(QStringLiteral("Custom Scale"), this)),
      graphFormat_(new QPushButton(QStringLiteral("Graph Format"), this)),
      undoZoom_(new QPushButton(QStringLiteral("Undo Zoom"), this)), zoomMode_(ImageButton(this)),
      cursorMode_(ImageButton(this)) {
    setAutoFillBackground(true);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(6, 2, 6, 2);
    row->setSpacing(6);
    row->addWidget(customScale_);
    row->addWidget(graphFormat_);
    row->addWidget(undoZoom_);
    row->addSpacing(12);
    row->addWidget(zoomMode_);
    row->addWidget(cursorMode_);
    row->addStretch(1);

    connect(customScale_, &QPushButton::clicked, &view_, &ChartView::OpenScaleFormat);
    connect(graphFormat_, &QPushButton::clicked, &view_, &ChartView::OpenGraphFormat);
    connect(undoZoom_, &QPushButton::clicked, &view_, &ChartView::UndoZoom);
    connect(zoomMode_, &QPushButton::clicked, this, [this] {
        view_.SetMouseMode(MouseMode::Zoom);
        ShowMode();
    });
    connect(cursorMode_, &QPushButton::clicked, this, [this] {
        view_.SetMouseMode(MouseMode::Cursor);
        ShowMode();
    });
    ShowMode();
}

void ChartToolbar::ShowMode() {
    const bool zoom = view_.document().layout.mouseMode == MouseMode::Zoom;
    zoomMode_->setIcon(
        QIcon(QPixmap::fromImage(DrawModeImage(zoom ? ModeImage::ZoomActive : ModeImage::ZoomInactive))));
    cursorMode_->setIcon(
        QIcon(QPixmap::fromImage(DrawModeImage(zoom ? ModeImage::CursorInactive : ModeImage::CursorActive))));
}

} // namespace calvora
