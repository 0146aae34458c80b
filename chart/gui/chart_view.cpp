#include "chart/gui/chart_view.h"

#include "chart/chart_layout.h"
#include "chart/chart_navigation.h"
#include "chart/gui/chart_controls.h"
#include "chart/gui/chart_toolbar.h"
#include "chart/gui/cursor_readout.h"
#include "chart/gui/scale_format_dialog.h"
#include "chart/model/limits.h"
#include "chart/pixel_raster.h"
#include "recording/recording_document.h"
#include "recording/save.h"

#include <QApplication>
#include <QCursor>
#include <QFontInfo>
#include <QHash>
#include <QMouseEvent>
#include <QPainter>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QScrollBar>
#include <QStaticText>
#include <QStyle>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <vector>

namespace calvora {

namespace {
PixelBuffer BufferOf(QImage& image) {
    return {reinterpret_cast<uint32_t*>(image.bits()), image.bytesPerLine() / 4, image.width(),
            image.height()};
}

PixelClip ClipOf(const QRect& rect) {
    return {rect.left(), rect.top(), rect.right(), rect.bottom()};
}

} // namespace

void PaintTrace(QImage& image, const TracePicture& picture, QRgb colour, const QRect& clip) {
    if (image.format() != QImage::Format_RGB32 && image.format() != QImage::Format_ARGB32 &&
        image.format() != QImage::Format_ARGB32_Premultiplied)
        image = image.convertToFormat(QImage::Format_RGB32);
    RasterTrace(BufferOf(image), picture, colour | 0xFF000000, ClipOf(clip));
}

// The scale labels repeat from paint to paint; their laid-out text is kept so that a paint only draws the
// glyphs. Labels go through the painter like any other text and look the same. Each chart keeps its own,
// so that no laid-out text outlives the application's fonts.
class LabelCache {
public:
    const QStaticText& Get(const QString& text, const QFont& font) {
        if (font != font_) {
            labels_.clear();
            font_ = font;
        }
        auto found = labels_.find(text);
        if (found == labels_.end()) {
            if (labels_.size() >= kMaxLabels) // scrolling brings new sample numbers without end
                labels_.clear();
            QStaticText label(text);
            label.setTextFormat(Qt::PlainText);
            label.setPerformanceHint(QStaticText::AggressiveCaching);
            label.prepare(QTransform(), font);
            found = labels_.insert(text, label);
        }
        return *found;
    }

private:
    static constexpr qsizetype kMaxLabels = 512;
    QFont font_;
    QHash<QString, QStaticText> labels_;
};

namespace {
constexpr int kFarLoop = 4096; // more grid lines or labels than any screen holds

QFont LabelFont() {
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(12);
    font.setWeight(QFont::Medium);
    font.setStyleHint(QFont::SansSerif);
    // The label positions assume Arial's 6-pixel digits; a wider stand-in would run into the tick marks.
    const QString family = QFontInfo(font).family();
    if (family != QStringLiteral("Arial") && family != QStringLiteral("Liberation Sans"))
        font.setStretch(QFont::SemiCondensed);
    return font;
}

// A label with its top-left corner at (x, y), in the painter's font and pen.
void LabelAt(QPainter& painter, LabelCache& labels, int x, int y, const QString& text) {
    painter.drawStaticText(QPoint(x, y), labels.Get(text, painter.font()));
}

// The chart's own face colour around the plot, under its black labels: the style's standard (light) one, so
// that a dark desktop theme leaves the chart readable.
QColor ChartFace() {
    return QApplication::style()->standardPalette().color(QPalette::Button);
}

// Text with its top-left corner at (x, y), in the painter's font and the default black.
void TextAt(QPainter& painter, int x, int y, const QString& text) {
    painter.drawText(QPoint(x, y + painter.fontMetrics().ascent()), text);
}

// First n = first + i*k (i >= 0) whose x is at or right of `limit`.
int64_t FirstAtOrRight(const SampleAxis& axis, int64_t first, int64_t k, double limit) {
    const double x = axis.X(first);
    if (x >= limit || !(axis.dx > 0))
        return first;
    const double steps = std::ceil((limit - x) / (static_cast<double>(k) * axis.dx));
    return first + static_cast<int64_t>(std::min(steps, 1.0e12)) * k;
}
} // namespace

ChartView::ChartView(RecordingDocument& document, ChartHooks hooks, QWidget* parent)
    : QWidget(parent), document_(document), hooks_(std::move(hooks)),
      shared_(hooks_.shared ? hooks_.shared : std::make_shared<SharedChartState>()), toolbar_(nullptr),
      hBar_(new QScrollBar(Qt::Horizontal, this)), vBar_(new QScrollBar(Qt::Vertical, this)),
      labels_(std::make_unique<LabelCache>()), labelFont_(LabelFont()) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    setFocusPolicy(Qt::ClickFocus);
    toolbar_ = new ChartToolbar(*this);
    for (QScrollBar* bar : {hBar_, vBar_}) {
        bar->setEnabled(false);
        bar->setPageStep(1);
        bar->setCursor(Qt::ArrowCursor);
    }
    connect(hBar_, &QScrollBar::actionTriggered, this, &ChartView::OnHorizontalAction);
    connect(vBar_, &QScrollBar::actionTriggered, this, &ChartView::OnVerticalAction);
    connect(&dragTimer_, &QTimer::timeout, this, &ChartView::OnDragTimer);
    PlaceChildren();
    subscription_ = document_.Subscribe(*this);
}

ChartView::~ChartView() = default;

// --------------------------------------------------------------------------- painting

void ChartView::OnSamplesAppended(RecordingDocument&, uint32_t, uint32_t) {
    AppendLiveSample();
}

void ChartView::OnDocumentReset(RecordingDocument&) {
    RedrawChart();
}

void ChartView::OnSettingsChanged(RecordingDocument&) {
    RedrawChart();
}

void ChartView::PlaceChildren() {
    const PlotRect plot = PlotFromClient(width(), height());
    toolbar_->setGeometry(0, 0, width(), ChartToolbar::kHeight);
    hBar_->setGeometry(plot.left, plot.bottom + 50, std::max(0, plot.width()), kScrollBarThickness);
    vBar_->setGeometry(10, plot.top, kScrollBarThickness, std::max(0, plot.height()));
}

void ChartView::UpdateScrollBars() {
    const ChartLayout& layout = document_.layout;
    const QSignalBlocker blockH(hBar_);
    const QSignalBlocker blockV(vBar_);
    if (layout.fullView) {
        // Nothing to scroll: no thumb left where the last zoom had it.
        for (QScrollBar* bar : {hBar_, vBar_}) {
            bar->setRange(0, 0);
            bar->setEnabled(false);
        }
        return;
    }
    const int64_t hMax = layout.laidOut.count();
    hBar_->setRange(0, static_cast<int>(std::clamp<int64_t>(hMax, 0, INT32_MAX)));
    hBar_->setValue(
        static_cast<int>(std::clamp<int64_t>(layout.horizontal.position(), INT32_MIN, INT32_MAX)));
    vBar_->setRange(0, std::max(0, layout.vertical.range));
    vBar_->setValue(static_cast<int>(std::clamp<int64_t>(layout.vertical.position(), INT32_MIN, INT32_MAX)));
    hBar_->setEnabled(true);
    vBar_->setEnabled(true);
}

bool ChartView::OnDraw(QImage& image, const std::tm* printTime) {
    const bool printing = printTime != nullptr;
    const QColor buttonFace = ChartFace();
    auto blank = [&] {
        image = QImage(size(), QImage::Format_RGB32);
        image.fill(buttonFace);
    };
    if (document_.activeTab != 0) {
        blank();
        return false;
    }
    if (!printing && suspendPaint_)
        return false;

    const PlotRect plot = PlotFromClient(width(), height());
    plot_ = plot;
    if (!IsPlotValid(plot)) {
        blank();
        return false;
    }
    if (image.size() != size() || image.format() != QImage::Format_RGB32)
        image = QImage(size(), QImage::Format_RGB32);

    const ChartSettings& settings = document_.settings;
    const int w = plot.width();
    image.fill(buttonFace);
    {
        QPainter painter(&image);
        painter.fillRect(QRect(plot.left, plot.top, plot.width(), plot.height()),
                         ColourFromRef(settings.backgroundColour));
    }
    ReleaseWideVectorState();
    // Lines are written straight into the pixels (see chart/pixel_raster.h); only text goes through a
    // painter.
    const PixelBuffer pixels = BufferOf(image);

    if (!printing) {
        PlaceChildren();
        UpdateScrollBars();
    }

    const uint32_t count = document_.sampleCount();
    if (count > 0) {
        LayoutSamples(document_, plot);
        if (document_.layout.fullView)
            document_.layout.plotRect = plot;
        else
            LayoutZoomed(document_, plot);
        // Under the grid and the traces, like the background it tints.
        DrawSelection(image, plot, SampleAxisOf(document_));
    }
    document_.layout.shown = count > 0 ? ShownSamples(document_, plot) : SampleRange{};

    const uint32_t grid = ColourFromRef(settings.gridColour).rgb();
    if (settings.gridVisible) {
        for (int l = 0; l < kTickCount; ++l) {
            const int y = ValueTickY(plot, l);
            RasterRule(pixels, plot.left, y, plot.right, y, grid, RuleStyle::Dotted);
        }
    }

    if (count > 0) {
        const SampleAxis axis = SampleAxisOf(document_);
        const DrawRange range = VisibleSamples(document_.layout, axis, plot);

        if (count > 1 && settings.gridVisible) {
            const int64_t k = GridStep(axis.dx, w);
            int64_t n = FirstAtOrRight(axis, range.first, k, plot.left);
            std::vector<int> columns;
            for (int i = 0; i < kFarLoop; ++i, n += k) {
                const double x = axis.X(n);
                if (x > plot.right)
                    break;
                columns.push_back(static_cast<int>(x));
            }
            RasterColumnRules(pixels, columns.data(), columns.size(), plot.top, plot.bottom, grid,
                              RuleStyle::Dotted);
        }

        // The traces are cut at the plot's sides as they are drawn, so the margins around the plot keep
        // their fill; the grid lines' ends on the plot's right and bottom lines go under the frame.
        DrawTraces(image, plot, axis, range);
        DrawLimits(image, plot, range);

        constexpr uint32_t kBlack = 0xFF000000;
        const auto solid = RuleStyle::Solid;
        RasterRule(pixels, plot.left, plot.top, plot.right, plot.top, kBlack, solid);
        RasterRule(pixels, plot.left, plot.bottom, plot.right, plot.bottom, kBlack, solid);
        const int sides[] = {plot.left - 3, plot.left, plot.right, plot.right + 3};
        RasterColumnRules(pixels, sides, std::size(sides), plot.top, plot.bottom, kBlack, solid);
        RasterRule(pixels, plot.left, plot.bottom + 3, plot.right, plot.bottom + 3, kBlack, solid);

        DrawLabels(image, plot, axis, range);
    }

    if (!printing) {
        if (readout_)
            readout_->update();
        crosshairFresh_ = true;
    } else {
        QPainter painter(&image);
        painter.setFont(labelFont_);
        painter.setPen(Qt::black);
        TextAt(painter, width() - 250, height() - 60, QString::fromStdU16String(DefaultFileName(*printTime)));
    }
    return true;
}

void ChartView::DrawTraces(QImage& image, const PlotRect& plot, const SampleAxis& axis,
                           const DrawRange& range) {
    const ChartSettings& settings = document_.settings;
    const int channels = std::min<int>(document_.channelCount(), kMaxChannels);
    // Kept from paint to paint: a long recording's picture holds thousands of lines and marks.
    TracePicture& picture = trace_;
    for (int c = 0; c < channels; ++c) {
        if (!settings.traceVisible[static_cast<size_t>(c)])
            continue;
        picture.lines.clear();
        picture.markCentres.clear();
        TraceBuilder builder(document_, axis, plot, c, TraceDrawing::Merged,
                             shared_->markedX[static_cast<size_t>(c)], picture);
        builder.AddRange(range);
        PaintTrace(image, picture, ColourFromRef(settings.traceColour[static_cast<size_t>(c)]).rgb(),
                   QRect(plot.left, plot.top, plot.width(), plot.height()));
    }
}

void ChartView::DrawSelection(QImage& image, const PlotRect& plot, const SampleAxis& axis) {
    const SampleRange selection = document_.layout.selection;
    if (selection.count() == 0 || selection.first > static_cast<int64_t>(document_.sampleCount()))
        return;
    const double from = std::max(axis.X(selection.first), static_cast<double>(plot.left + 1));
    const double to = std::min(axis.X(selection.last), static_cast<double>(plot.right - 1));
    if (!(from <= to))
        return;
    const int left = static_cast<int>(std::floor(from));
    const int right = static_cast<int>(std::ceil(to));
    QPainter painter(&image);
    painter.fillRect(QRect(left, plot.top + 1, right - left + 1, plot.height() - 1),
                     QColor(kSelectionColour));
}

namespace {
// The row of `value` on the left axis: where a sample of that value is laid out.
double RowOfValue(const ChartLayout& layout, const PlotRect& plot, double value) {
    const TickTable& ticks = layout.ticks[0];
    return plot.bottom - plot.height() * (value - ticks.bottom()) / (ticks.top() - ticks.bottom());
}
} // namespace

void ChartView::DrawLimits(QImage& image, const PlotRect& plot, const DrawRange& range) {
    const ActiveLimits limits = LimitsInForce(document_.limits, document_.settings);
    if (!limits.any())
        return;
    MarkBeyondLimits(image, plot, range.first - 1, range.end - 1);
    QPainter painter(&image);
    painter.setFont(labelFont_);
    const QColor colour(kLimitColour);
    QPen dashed(colour, 0, Qt::DashLine);
    for (const auto& [limit, name] :
         {std::pair{limits.high, QStringLiteral("High")}, std::pair{limits.low, QStringLiteral("Low")}}) {
        if (!limit)
            continue;
        // Where a reading of the limit's own stored value lies, so the marks and the line agree.
        const double y = RowOfValue(document_.layout, plot, AsStored(*limit));
        if (!(y > plot.top && y < plot.bottom))
            continue;
        const int row = static_cast<int>(y);
        painter.setPen(dashed);
        painter.drawLine(plot.left + 1, row, plot.right - 1, row);
        const QString label = QStringLiteral("%1 %2").arg(name, QString::number(*limit, 'g', 10));
        const int width = painter.fontMetrics().horizontalAdvance(label);
        const int top = row - plot.top > 18 ? row - 16 : row + 3;
        painter.setPen(colour);
        TextAt(painter, plot.right - width - 6, top, label);
    }
}

QRect ChartView::MarkBeyondLimits(QImage& image, const PlotRect& plot, int64_t first, int64_t end) {
    const ActiveLimits limits = LimitsInForce(document_.limits, document_.settings);
    QRect changed;
    if (!limits.any() || image.format() != QImage::Format_RGB32)
        return changed;
    first = std::max<int64_t>(first, 0);
    end = std::min<int64_t>(end, document_.sampleCount());
    const PixelBuffer pixels = BufferOf(image);
    const int left = std::max(plot.left + 1, 0);
    const int right = std::min(plot.right - 1, pixels.width - 1);
    const int top = std::max(plot.top + 1, 0);
    const int bottom = std::min(plot.bottom - 1, pixels.height - 1);
    int lastX = INT32_MIN;
    int lastY = INT32_MIN;
    for (int64_t row = first; row < end; ++row) {
        const auto r = static_cast<uint32_t>(row);
        const double value = document_.value(r, 0);
        if (!((limits.high && AboveLimit(value, *limits.high)) ||
              (limits.low && BelowLimit(value, *limits.low))))
            continue;
        const double xs = document_.xPos(r, 0);
        const double ys = document_.yPos(r, 0);
        if (!(xs >= left - 2 && xs <= right + 2 && ys >= top - 2 && ys <= bottom + 2))
            continue;
        const int x = static_cast<int>(xs);
        const int y = static_cast<int>(ys);
        if (x == lastX && y == lastY)
            continue; // a long run beyond a limit, zoomed out, lands many samples on one pixel
        lastX = x;
        lastY = y;
        // A filled 5-pixel square on the sample's point.
        for (int py = std::max(y - 2, top); py <= std::min(y + 2, bottom); ++py)
            for (int px = std::max(x - 2, left); px <= std::min(x + 2, right); ++px)
                pixels.Row(py)[px] = kLimitColour;
        changed |= QRect(x - 2, y - 2, 5, 5);
    }
    return changed;
}

void ChartView::DrawLabels(QImage& image, const PlotRect& plot, const SampleAxis& axis,
                           const DrawRange& range) {
    // Tick marks first, straight into the pixels; then the texts through a painter.
    const PixelBuffer pixels = BufferOf(image);
    constexpr uint32_t kBlack = 0xFF000000;
    const int tickTop = plot.bottom + 3;
    const int tickBottom = plot.bottom + 8;
    struct Label {
        int x;
        int y;
        QString text;
    };
    std::vector<Label> labels;
    auto sampleLabel = [&](int x, int64_t n) {
        RasterRule(pixels, x, tickTop, x, tickBottom, kBlack, RuleStyle::Solid);
        QString text = QString::number(n);
        const int left = x - static_cast<int>(text.size() / 2) * 6;
        labels.push_back({left, tickBottom, std::move(text)});
    };
    if (document_.sampleCount() == 1) {
        sampleLabel(plot.left, 1);
    } else {
        const int64_t k = GridStep(axis.dx, plot.width());
        int64_t n = FirstAtOrRight(axis, range.first, k, plot.left - 5);
        // A live chart lays out room for samples still to come; numbers past the last sample label nothing.
        const int64_t last = document_.sampleCount();
        for (int i = 0; i < kFarLoop && n <= last; ++i, n += k) {
            const double x = axis.X(n);
            if (x > plot.right + 5)
                break;
            sampleLabel(static_cast<int>(x), n);
        }
    }

    const ChartLayout& layout = document_.layout;
    for (int l = 0; l < kTickCount; ++l) {
        const int y = ValueTickY(plot, l);
        RasterRule(pixels, plot.left - 8, y, plot.left - 3, y, kBlack, RuleStyle::Solid);
        RasterRule(pixels, plot.right + 8, y, plot.right + 3, y, kBlack, RuleStyle::Solid);
        QString left =
            QString::fromStdU16String(FormatScaleValue(layout.ticks[0].values[kTickCount - 1 - l]));
        QString right =
            QString::fromStdU16String(FormatScaleValue(layout.ticks[1].values[kTickCount - 1 - l]));
        const int leftX = plot.left - static_cast<int>(left.size()) * 6 - 15;
        labels.push_back({leftX, y - 7, std::move(left)});
        labels.push_back({plot.right + 12, y - 7, std::move(right)});
    }

    QPainter painter(&image);
    painter.setFont(labelFont_);
    painter.setPen(QPen(Qt::black, 0));
    for (const Label& label : labels)
        LabelAt(painter, *labels_, label.x, label.y, label.text);
}

void ChartView::paintEvent(QPaintEvent* /*event*/) {
    // Every paint to the screen, not only full ones: the print preview may have hidden the frame's bars.
    if (hooks_.showFrameBars)
        hooks_.showFrameBars();
    if (dirty_ || buffer_.size() != size()) {
        const bool suspended = suspendPaint_;
        OnDraw(buffer_);
        if (!suspended)
            dirty_ = false;
    }
    QPainter painter(this);
    if (buffer_.size() == size())
        painter.drawImage(0, 0, buffer_);
    else
        painter.fillRect(rect(), ChartFace());
}

void ChartView::RedrawChart() {
    dirty_ = true;
    QRegion region(rect());
    for (QWidget* child :
         {static_cast<QWidget*>(toolbar_), static_cast<QWidget*>(hBar_), static_cast<QWidget*>(vBar_)})
        region -= child->geometry();
    update(region);
}

void ChartView::resizeEvent(QResizeEvent* event) {
    PlaceChildren();
    dirty_ = true;
    QWidget::resizeEvent(event);
}

void ChartView::focusInEvent(QFocusEvent* event) {
    dirty_ = true;
    update();
    QWidget::focusInEvent(event);
}

void ChartView::AppendLiveSample() {
    if (!IsPlotValid(plot_)) {
        RedrawChart();
        return;
    }
    ReleaseWideVectorState();
    SharedChartState& program = *shared_;
    const LivePlan plan = PlanLiveUpdate(document_, plot_, dragMoved_, vScrolled_, program.lastFunction);
    if (plan.horizontalPosition) {
        const QSignalBlocker block(hBar_);
        hBar_->setValue(
            static_cast<int>(std::clamp<int64_t>(*plan.horizontalPosition, INT32_MIN, INT32_MAX)));
    }
    switch (plan.action) {
    case LiveAction::Nothing:
        return;
    case LiveAction::Redraw:
        RedrawChart();
        return;
    case LiveAction::DrawNewestSegment:
        break;
    }
    // The sample labels stop at the last sample: the sample that reaches the next label's place repaints the
    // axis.
    if (document_.layout.fullView) {
        const int64_t k = GridStep(SampleAxisOf(document_).dx, plot_.width());
        if (k > 0 && (static_cast<int64_t>(document_.sampleCount()) - 1) % k == 0) {
            RedrawChart();
            return;
        }
    }
    // A full paint already pending draws the segment itself.
    if (dirty_ || buffer_.size() != size())
        return;
    const ChartSettings& settings = document_.settings;
    if (settings.traceVisible[0]) {
        TracePicture picture;
        TraceBuilder builder(document_, SampleAxisOf(document_), plot_, 0, TraceDrawing::PerSegment,
                             program.markedX[0], picture);
        if (builder.Add(static_cast<int64_t>(document_.sampleCount()) - 1)) {
            // Inside the frame only, as the margin fill and the frame leave a full paint.
            const QRect inside(plot_.left + 1, plot_.top + 1, plot_.width() - 1, plot_.height() - 1);
            PaintTrace(buffer_, picture, ColourFromRef(settings.traceColour[0]).rgb(), inside);
            QRect changed;
            for (const PixelLine& line : picture.lines)
                changed |= QRect(QPoint(line.x0, line.y0), QPoint(line.x1, line.y1)).normalized();
            update(changed.adjusted(-2, -2, 2, 2) & inside);
        }
    }
    const int64_t newest = static_cast<int64_t>(document_.sampleCount()) - 1;
    if (const QRect marked = MarkBeyondLimits(buffer_, plot_, newest, newest + 1); !marked.isEmpty())
        update(marked);
    if (readout_)
        readout_->update();
}

// --------------------------------------------------------------------------- printing

QImage ChartView::PrintImage(const std::tm& localTime) {
    QImage image;
    OnDraw(image, &localTime);
    return image;
}

void ChartView::Print(QPrinter& printer) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    const QImage image = PrintImage(local);
    QPainter painter(&printer);
    if (!painter.isActive())
        return;
    painter.drawImage(QRect(QPoint(0, 0), painter.viewport().size()), image);
}

void ChartView::PrintPreview(QPrinter& printer) {
    QPrintPreviewDialog preview(&printer, this);
    connect(&preview, &QPrintPreviewDialog::paintRequested, this,
            [this](QPrinter* target) { Print(*target); });
    preview.exec();
    if (hooks_.previewEnded)
        hooks_.previewEnded();
    RedrawChart();
}

} // namespace calvora
