// The chart view's input: the toolbar's commands, the mouse (rubber-band zoom, the cursor), the wheel and the
// scroll bars. Drawing and printing are in chart_view.cpp.
#include "chart/gui/chart_view.h"

#include "chart/chart_layout.h"
#include "chart/gui/chart_controls.h"
#include "chart/gui/chart_toolbar.h"
#include "chart/gui/cursor_readout.h"
#include "chart/gui/graph_format_dialog.h"
#include "chart/gui/scale_format_dialog.h"
#include "recording/recording_document.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace calvora {

namespace {
// The cursor readout's least size, and its distance from the plot's frame.
constexpr QSize kReadoutSize(180, 120);
constexpr int kReadoutInset = 4;

int ClampInto(int value, int low, int high) {
    return value < low ? low : (value > high ? high : value);
}
} // namespace

// --------------------------------------------------------------------------- toolbar commands

void ChartView::OpenScaleFormat() {
    // Every view of the document draws the new scale.
    ScaleFormatDialog dialog(
        document_, hooks_.prompts, [this] { document_.AnnounceSettingsChanged(); }, this);
    dialog.exec();
}

void ChartView::OpenGraphFormat() {
    GraphFormatHooks hooks;
    hooks.documents = hooks_.documents;
    hooks.save = hooks_.save;
    hooks.redraw = [this] { RedrawChart(); };
    hooks.pickColour = hooks_.pickColour;
    GraphFormatDialog dialog(document_, std::move(hooks), this);
    dialog.exec();
}

void ChartView::UndoZoom() {
    document_.layout.ResetZoom();
    RedrawChart();
}

void ChartView::SetMouseMode(MouseMode mode) {
    document_.layout.mouseMode = mode;
    toolbar_->ShowMode();
}

// --------------------------------------------------------------------------- mouse

void ChartView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !IsPlotValid(plot_) || document_.sampleCount() == 0) {
        QWidget::mousePressEvent(event);
        return;
    }
    const QPoint at = event->position().toPoint();
    const int x = ClampInto(at.x(), plot_.left, plot_.right);
    const int y = ClampInto(at.y(), plot_.top, plot_.bottom);
    if (event->modifiers() & Qt::ShiftModifier) {
        // A range of samples is picked across the plot's whole height, in either mouse mode.
        CloseReadout();
        selecting_ = true;
        dragMoved_ = true; // live samples wait, so the inverted band is never painted over
        bandShown_ = false;
        dragStart_ = dragLast_ = QPoint(x, plot_.top);
        return;
    }
    dragStart_ = dragLast_ = QPoint(x, y);
    dragging_ = true;
    channelPicked_ = false;
    bandShown_ = false;
    const bool cursor = document_.layout.mouseMode == MouseMode::Cursor;
    dragTimer_.start(cursor ? kCursorTimerMs : kZoomTimerMs);
    if (cursor && document_.sampleCount() >= 2)
        CursorStep(x, y);
}

void ChartView::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    const int x = ClampInto(at.x(), plot_.left, plot_.right);
    if (selecting_) {
        const QPoint point(x, plot_.bottom);
        if (point == dragLast_ && bandShown_)
            return;
        if (bandShown_)
            InvertRect(NormalisedDrag(dragStart_.x(), dragStart_.y(), dragLast_.x(), dragLast_.y()));
        InvertRect(NormalisedDrag(dragStart_.x(), dragStart_.y(), point.x(), point.y()));
        bandShown_ = true;
        dragLast_ = point;
        return;
    }
    if (!dragging_) {
        CloseReadout();
        QWidget::mouseMoveEvent(event);
        return;
    }
    if (document_.layout.mouseMode == MouseMode::Cursor) {
        if (document_.sampleCount() >= 2)
            CursorStep(x, at.y());
        return;
    }
    CloseReadout();
    dragMoved_ = true;
    const QPoint point(x, ClampInto(at.y(), plot_.top, plot_.bottom));
    if (point == dragLast_ && bandShown_)
        return;
    if (bandShown_)
        InvertRect(NormalisedDrag(dragStart_.x(), dragStart_.y(), dragLast_.x(), dragLast_.y()));
    InvertRect(NormalisedDrag(dragStart_.x(), dragStart_.y(), point.x(), point.y()));
    bandShown_ = true;
    dragLast_ = point;
}

void ChartView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    dragMoved_ = false;
    if (selecting_) {
        selecting_ = false;
        if (bandShown_)
            InvertRect(NormalisedDrag(dragStart_.x(), dragStart_.y(), dragLast_.x(), dragLast_.y()));
        bandShown_ = false;
        const int x = ClampInto(event->position().toPoint().x(), plot_.left, plot_.right);
        // A Shift-click without a drag lets the selection go.
        document_.layout.selection =
            std::abs(x - dragStart_.x()) <= 3 ? SampleRange{} : SamplesBetween(document_, dragStart_.x(), x);
        RedrawChart();
        return;
    }
    if (!dragging_)
        return;
    // The timer only watches a drag; a stopped drag needs no watching.
    dragTimer_.stop();
    dragging_ = false;
    if (document_.layout.mouseMode == MouseMode::Cursor) {
        suspendPaint_ = false;
        RedrawChart();
        return;
    }
    if (!IsPlotValid(plot_))
        return;
    if (bandShown_) {
        InvertRect(NormalisedDrag(dragStart_.x(), dragStart_.y(), dragLast_.x(), dragLast_.y()));
        bandShown_ = false;
    }
    const QPoint at = event->position().toPoint();
    const int x = ClampInto(at.x(), plot_.left, plot_.right);
    const int y = ClampInto(at.y(), plot_.top, plot_.bottom);
    const DragRect drag = NormalisedDrag(dragStart_.x(), dragStart_.y(), x, y);
    if (CheckZoom(document_, plot_, drag) == ZoomVerdict::Zoom) {
        ApplyZoom(document_, plot_, drag);
        UpdateScrollBars();
    }
    RedrawChart();
}

void ChartView::OnDragTimer() {
    const QPoint mouse = mapFromGlobal(QCursor::pos());
    if (!dragging_ || !FarOutsidePlot(plot_, mouse.x(), mouse.y()))
        return;
    dragging_ = false;
    dragMoved_ = false;
    bandShown_ = false;
    // The readout stays until the mouse moves, but the chart must be free to repaint.
    suspendPaint_ = false;
    dragTimer_.stop();
    RedrawChart();
}

void ChartView::leaveEvent(QEvent* event) {
    // The readout describes the sample under the pointer; once the pointer has gone it describes nothing.
    if (!dragging_)
        CloseReadout();
    QWidget::leaveEvent(event);
}

void ChartView::wheelEvent(QWheelEvent* event) {
    ChartLayout& layout = document_.layout;
    if (layout.fullView) {
        event->ignore();
        return;
    }
    if (const auto position = WheelScroll(layout, document_.sampleCount(), event->angleDelta().y())) {
        const QSignalBlocker block(hBar_);
        hBar_->setValue(static_cast<int>(std::clamp<int64_t>(*position, INT32_MIN, INT32_MAX)));
    }
    RedrawChart();
    event->accept();
}

void ChartView::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    if (hooks_.openLimits) {
        QAction* limits = menu.addAction(QStringLiteral("&Limits..."));
        connect(limits, &QAction::triggered, this, [this] { hooks_.openLimits(document_); });
    }
    QAction* clear = menu.addAction(QStringLiteral("&Clear Selection"));
    clear->setEnabled(document_.layout.selection.count() > 0);
    connect(clear, &QAction::triggered, this, [this] {
        document_.layout.selection = {};
        RedrawChart();
    });
    menu.exec(event->globalPos());
}

namespace {
std::optional<ScrollRequest> RequestOf(int action) {
    switch (action) {
    case QAbstractSlider::SliderSingleStepSub:
        return ScrollRequest::LineBack;
    case QAbstractSlider::SliderSingleStepAdd:
        return ScrollRequest::LineForward;
    case QAbstractSlider::SliderPageStepSub:
        return ScrollRequest::PageBack;
    case QAbstractSlider::SliderPageStepAdd:
        return ScrollRequest::PageForward;
    case QAbstractSlider::SliderMove:
    case QAbstractSlider::SliderToMinimum:
    case QAbstractSlider::SliderToMaximum:
        return ScrollRequest::Track;
    default:
        return std::nullopt;
    }
}
} // namespace

void ChartView::OnHorizontalAction(int action) {
    const auto request = RequestOf(action);
    ChartLayout& layout = document_.layout;
    if (!request || layout.fullView)
        return;
    const int64_t samples = layout.laidOut.count();
    int64_t thumb = hBar_->sliderPosition();
    // A thumb that cannot resolve every sample: take the mouse along the plot instead.
    if (action == QAbstractSlider::SliderMove && samples > 32767)
        thumb = TrackFromMouse(samples, mapFromGlobal(QCursor::pos()).x(), plot_);
    const int64_t position =
        ScrollHorizontally(*request, layout.horizontal.position(), document_.sampleCount(),
                           HorizontalPageSamples(SampleAxisOf(document_), plot_), thumb);
    layout.horizontal.SetPosition(position);
    hBar_->setSliderPosition(static_cast<int>(std::clamp<int64_t>(position, INT32_MIN, INT32_MAX)));
    RedrawChart();
}

void ChartView::OnVerticalAction(int action) {
    const auto request = RequestOf(action);
    ChartLayout& layout = document_.layout;
    if (!request || layout.fullView)
        return;
    vScrolled_ = true;
    const int64_t position = ScrollVertically(*request, layout.vertical.position(), layout.vertical.range,
                                              vBar_->sliderPosition());
    layout.vertical.SetPosition(position);
    vBar_->setSliderPosition(static_cast<int>(std::clamp<int64_t>(position, INT32_MIN, INT32_MAX)));
    RedrawChart();
}

// --------------------------------------------------------------------------- cursor

void ChartView::CursorStep(int x, int y) {
    const std::optional<CursorPick> pick = CursorSample(document_, x);
    if (!pick)
        return;
    SharedChartState& program = *shared_;
    if (!channelPicked_) {
        program.pickedChannel = static_cast<uint8_t>(NearestChannel(document_, pick->row, y));
        channelPicked_ = true;
    }
    const int channel = std::min<int>(program.pickedChannel, std::max(0, document_.channelCount() - 1));
    const double sampleY = document_.yPos(pick->row, channel);

    if (!readout_) {
        suspendPaint_ = true;
        readout_ = new CursorReadout(this);
        readout_->resize(kReadoutSize);
        readout_->SetReleaseHandler([this] { EndDragOverReadout(); });
        readout_->show();
        readout_->raise();
    }
    if (sampleY >= plot_.top - 5 && sampleY <= plot_.bottom + 5 && pick->x >= plot_.left - 5 &&
        pick->x <= plot_.right + 5) {
        const int crossY = static_cast<int>(sampleY);
        const int crossX = static_cast<int>(pick->x);
        if (!crosshairFresh_)
            InvertCrosshair(crosshairOldY_, crosshairOldX_);
        crosshairFresh_ = false;
        InvertCrosshair(crossY, crossX);
        crosshairOldY_ = crossY;
        crosshairOldX_ = crossX;
    }
    const auto texts = ReadoutTexts(document_, pick->row, channel);
    std::array<QString, CursorReadout::kTexts> shown;
    for (size_t i = 0; i < shown.size(); ++i)
        shown[i] = QString::fromStdU16String(texts[i]);
    readout_->SetTexts(shown);
    // Wider than 180 pixels only when the system font needs it to show the whole time text.
    readout_->resize(kReadoutSize.expandedTo(readout_->sizeHint()));
    readout_->move(ReadoutPlace(readout_->size(), pick->x));
}

QPoint ChartView::ReadoutPlace(const QSize& size, double cursorX) const {
    // Inside the plot's top corner away from the cursor line: over the axis labels or the scroll bar it
    // would hide what the user reads the sample against.
    const int left = plot_.left + kReadoutInset;
    const int right = plot_.right - kReadoutInset - size.width();
    const bool underCursor =
        cursorX >= left - kReadoutInset && cursorX <= left + size.width() + kReadoutInset;
    return QPoint(underCursor && right > left + size.width() ? right : left, plot_.top + kReadoutInset);
}

void ChartView::CloseReadout() {
    if (!readout_)
        return;
    delete readout_.data();
    suspendPaint_ = false;
}

void ChartView::EndDragOverReadout() {
    suspendPaint_ = false;
    dragging_ = false;
    dragTimer_.stop();
    RedrawChart();
}

void ChartView::InvertRect(const DragRect& r) {
    if (buffer_.isNull())
        return;
    QPainter painter(&buffer_);
    painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    const QColor white(Qt::white);
    // Four edges that share no pixel, so every pixel is inverted exactly once.
    const int w = r.right - r.left + 1;
    QRegion changed;
    auto invert = [&](const QRect& part) {
        if (part.isEmpty())
            return;
        painter.fillRect(part, white);
        changed += part;
    };
    invert(QRect(r.left, r.top, w, 1));
    if (r.bottom > r.top)
        invert(QRect(r.left, r.bottom, w, 1));
    invert(QRect(r.left, r.top + 1, 1, r.bottom - r.top - 1));
    if (r.right > r.left)
        invert(QRect(r.right, r.top + 1, 1, r.bottom - r.top - 1));
    update(changed);
}

void ChartView::InvertCrosshair(int y, int x) {
    if (buffer_.isNull())
        return;
    QPainter painter(&buffer_);
    painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    // XOR with the background colour is the complement pen with NOT XOR: the line shows black on the plot.
    const QColor colour = ColourFromRef(document_.settings.backgroundColour);
    const QRect across(plot_.left, y, plot_.width() + 1, 1);
    const QRect down(x, plot_.top, 1, plot_.height() + 1);
    painter.fillRect(across, colour);
    painter.fillRect(down, colour);
    update(QRegion(across) + QRegion(down));
}

} // namespace calvora
