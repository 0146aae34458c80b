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
    : QWidget(&view), m_view(view), m_customScale(new QPushButton(QStringLiteral("Custom Scale"), this)),
      m_graphFormat(new QPushButton(QStringLiteral("Graph Format"), this)),
      m_undoZoom(new QPushButton(QStringLiteral("Undo Zoom"), this)), m_zoomMode(ImageButton(this)),
      m_cursorMode(ImageButton(this)) {
    setAutoFillBackground(true);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(6, 2, 6, 2);
    row->setSpacing(6);
    row->addWidget(m_customScale);
    row->addWidget(m_graphFormat);
    row->addWidget(m_undoZoom);
    row->addSpacing(12);
    row->addWidget(m_zoomMode);
    row->addWidget(m_cursorMode);
    row->addStretch(1);

    connect(m_customScale, &QPushButton::clicked, &m_view, &ChartView::OpenScaleFormat);
    connect(m_graphFormat, &QPushButton::clicked, &m_view, &ChartView::OpenGraphFormat);
    connect(m_undoZoom, &QPushButton::clicked, &m_view, &ChartView::UndoZoom);
    connect(m_zoomMode, &QPushButton::clicked, this, [this] {
        m_view.SetMouseMode(MouseMode::Zoom);
        ShowMode();
    });
    connect(m_cursorMode, &QPushButton::clicked, this, [this] {
        m_view.SetMouseMode(MouseMode::Cursor);
        ShowMode();
    });
    ShowMode();
}

void ChartToolbar::ShowMode() {
    const bool zoom = m_view.Document().layout.mouseMode == MouseMode::Zoom;
    m_zoomMode->setIcon(
        QIcon(QPixmap::fromImage(DrawModeImage(zoom ? ModeImage::ZoomActive : ModeImage::ZoomInactive))));
    m_cursorMode->setIcon(
        QIcon(QPixmap::fromImage(DrawModeImage(zoom ? ModeImage::CursorInactive : ModeImage::CursorActive))));
}

} // namespace calvora
