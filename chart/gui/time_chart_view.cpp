#include "chart/gui/time_chart_view.h"

#include "chart/gui/chart_controls.h"
#include "chart/model/chart_model.h"
#include "chart/pixel_raster.h"
#include "chart/time_axis.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPrinter>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <vector>

namespace calvora {

namespace {

constexpr uint32_t kBlack = 0xFF000000;
constexpr int kScrollBarThickness = 20;
// Each wheel notch moves a tenth of the span; with Ctrl it zooms by a fifth.
constexpr double kWheelScroll = 0.1;
constexpr double kWheelZoom = 0.8;

QFont LabelFont() {
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(12);
    font.setWeight(QFont::Medium);
    font.setStyleHint(QFont::SansSerif);
    const QString family = QFontInfo(font).family();
    if (family != QStringLiteral("Arial") && family != QStringLiteral("Liberation Sans"))
        font.setStretch(QFont::SemiCondensed);
    return font;
}

PixelBuffer BufferOf(QImage& image) {
    return {reinterpret_cast<uint32_t*>(image.bits()), image.bytesPerLine() / 4, image.width(),
            image.height()};
}

QString FormatValue(double value) {
    if (!std::isfinite(value))
        return QStringLiteral("OL");
    return QString::number(value, 'g', 6);
}

QString TickLabel(const TickTable& values, int l) {
    return QString::fromStdU16String(FormatScaleValue(values.values[kTickCount - 1 - l]));
}

} // namespace

TimeChartView::TimeChartView(QWidget* parent)
    : QWidget(parent), scrollBar_(new QScrollBar(Qt::Horizontal, this)), labelFont_(LabelFont()) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    setFocusPolicy(Qt::ClickFocus);
    setMinimumSize(320, 260);
    refresh_.setSingleShot(true);
    refresh_.setInterval(kRefreshMs);
    connect(&refresh_, &QTimer::timeout, this, &TimeChartView::Redraw);
    scrollBar_->setRange(0, 0);
    scrollBar_->setEnabled(false);
    scrollBar_->setCursor(Qt::ArrowCursor);
    connect(scrollBar_, &QScrollBar::actionTriggered, this, [this](int) {
        if (traces_.empty() || !window_.zoomed)
            return;
        window_ = WindowAtScrollPosition(window_, series_, scrollBar_->sliderPosition(), kScrollSteps);
        Redraw();
        Q_EMIT windowChanged();
    });
}

TimeChartView::~TimeChartView() = default;

void TimeChartView::SetSeries(const TimeSeries* series) {
    std::vector<TimeChartTrace> traces;
    if (series != nullptr)
        traces.push_back({series, QString(), unit_});
    SetTraces(std::move(traces));
}

void TimeChartView::SetTraces(std::vector<TimeChartTrace> traces) {
    traces_ = std::move(traces);
    series_.clear();
    for (const TimeChartTrace& trace : traces_)
        series_.push_back(trace.series);
    window_ = WholeSeriesWindow(series_);
    Redraw();
}

const TimeSeries* TimeChartView::series() const {
    return traces_.empty() ? nullptr : traces_.front().series;
}

void TimeChartView::SetUnit(const QString& unit) {
    unit_ = unit;
    if (!traces_.empty())
        traces_.front().unit = unit;
}

void TimeChartView::SetEmptyText(const QString& text) {
    emptyText_ = text;
    Redraw();
}

void TimeChartView::SeriesChanged() {
    if (!refresh_.isActive())
        refresh_.start();
}

void TimeChartView::Redraw() {
    dirty_ = true;
    update();
}

bool TimeChartView::HasReadings() const {
    return std::any_of(series_.begin(), series_.end(), [](const TimeSeries* series) {
        return series != nullptr && series->readingCount() > 0;
    });
}

TimeWindow TimeChartView::CurrentWindow() const {
    if (traces_.empty())
        return window_;
    if (window_.zoomed)
        return WithScaleForEach(window_, series_);
    return WholeSeriesWindow(series_);
}

void TimeChartView::SetWindow(const TimeWindow& window) {
    window_ = window;
    Redraw();
    Q_EMIT windowChanged();
}

void TimeChartView::ShowWholeSeries() {
    window_ = WholeSeriesWindow(series_);
    Redraw();
    Q_EMIT windowChanged();
}

void TimeChartView::ScrollBy(double fraction) {
    if (!HasReadings())
        return;
    TimeWindow window = CurrentWindow();
    window.zoomed = true;
    SetWindow(ScrollWindow(window, series_, fraction));
}

void TimeChartView::ZoomBy(double factor) {
    if (!HasReadings())
        return;
    const PlotRect shown = plot();
    SetWindow(ZoomAround(CurrentWindow(), series_, shown, shown.left + shown.width() / 2.0, factor));
}

AxesLayout TimeChartView::LayoutFor(int width, int height, const TimeWindow& window) const {
    if (traces_.size() <= 1)
        return {PlotFromClient(width, height), {PlotFromClient(width, height).left}};
    // Each axis needs room for its widest tick label and its unit.
    const QFontMetrics metrics(labelFont_);
    std::vector<int> widths;
    for (size_t i = 0; i < traces_.size(); ++i) {
        TickTable values;
        values.Spread(window.scale(i).low, window.scale(i).high);
        int widest = metrics.horizontalAdvance(traces_[i].unit);
        for (int l = 0; l < kTickCount; ++l)
            widest = std::max(widest, metrics.horizontalAdvance(TickLabel(values, l)));
        widths.push_back(widest);
    }
    return LayOutAxes(width, height, widths);
}

PlotRect TimeChartView::plot() const {
    // One trace needs no labels measured: its plot depends on the size alone.
    if (traces_.size() <= 1)
        return PlotFromClient(width(), height());
    return LayoutFor(width(), height(), CurrentWindow()).plot;
}

void TimeChartView::Render(QImage& image) {
    const TimeWindow window = CurrentWindow();
    PaintInto(image, LayoutFor(image.width(), image.height(), window), window);
}

void TimeChartView::PaintInto(QImage& image, const AxesLayout& layout, const TimeWindow& window) {
    const PlotRect& plot = layout.plot;
    const QColor buttonFace = palette().color(QPalette::Button);
    if (image.format() != QImage::Format_RGB32)
        image = QImage(image.size(), QImage::Format_RGB32);
    image.fill(buttonFace);
    if (!IsPlotValid(plot))
        return;
    const QRect plotArea(plot.left, plot.top, plot.width(), plot.height());
    const bool empty = !HasReadings();
    const bool several = traces_.size() > 1;
    const std::vector<SeriesGap> gaps = CommonGaps(series_);
    {
        QPainter painter(&image);
        painter.fillRect(plotArea, ColourFromRef(kDefaultBackground));
        // Gaps: a lighter band where no reading came.
        const QColor gapColour = ColourFromRef(kDefaultBackground).lighter(112);
        for (const SeriesGap& gap : gaps) {
            const double x0 = std::max<double>(window.X(plot, static_cast<double>(gap.startMs)), plot.left);
            const double x1 = std::min<double>(window.X(plot, static_cast<double>(gap.endMs)), plot.right);
            if (x1 - x0 >= 2)
                painter.fillRect(QRectF(x0 + 1, plot.top, x1 - x0 - 1, plot.height()), gapColour);
        }
    }
    ReleaseWideVectorState();
    const PixelBuffer pixels = BufferOf(image);
    const uint32_t grid = ColourFromRef(kDefaultGrid).rgb();

    // Value grid: eleven lines from each scale's low to its high value.
    std::vector<TickTable> values(traces_.empty() ? 1 : traces_.size());
    for (size_t i = 0; i < values.size(); ++i)
        values[i].Spread(window.scale(i).low, window.scale(i).high);
    for (int l = 0; l < kTickCount; ++l) {
        const int y = ValueTickY(plot, l);
        RasterRule(pixels, plot.left, y, plot.right, y, grid, RuleStyle::Dotted);
    }

    // Time grid.
    const QFontMetrics metrics(labelFont_);
    TimeTicks ticks;
    if (!empty) {
        ticks = ChooseTimeTicks(
            window.startMs, window.endMs, plot.width(),
            [&](std::string_view label) {
                return metrics.horizontalAdvance(
                    QString::fromUtf8(label.data(), static_cast<qsizetype>(label.size())));
            },
            SystemLocalOffset());
    }
    std::vector<int> columns;
    for (const int64_t t : ticks.times)
        columns.push_back(static_cast<int>(std::lround(window.X(plot, static_cast<double>(t)))));
    RasterColumnRules(pixels, columns.data(), columns.size(), plot.top, plot.bottom, grid, RuleStyle::Dotted);

    // The traces, inside the frame; the first last, so it lies on top.
    for (size_t i = traces_.size(); i-- > 0;) {
        const TimeSeries* series = traces_[i].series;
        if (series == nullptr || series->readingCount() == 0)
            continue;
        series->Envelopes(static_cast<double>(window.startMs), window.StepMs(plot), plot.width() + 1, trace_);
        BuildColumnTrace(trace_, window, window.scale(i), plot, picture_);
        RasterTrace(pixels, picture_, ColourFromRef(TraceColour(i)).rgb() | 0xFF000000,
                    {plot.left + 1, plot.top + 1, plot.right - 1, plot.bottom - 1});
    }

    // Frame, the further axes' lines and the tick marks.
    RasterRule(pixels, plot.left, plot.top, plot.right, plot.top, kBlack, RuleStyle::Solid);
    RasterRule(pixels, plot.left, plot.bottom, plot.right, plot.bottom, kBlack, RuleStyle::Solid);
    std::vector<int> sides = {plot.left, plot.right};
    for (size_t i = 2; i < layout.axisX.size(); ++i)
        sides.push_back(layout.axisX[i]);
    RasterColumnRules(pixels, sides.data(), sides.size(), plot.top, plot.bottom, kBlack, RuleStyle::Solid);
    for (const int x : columns)
        RasterRule(pixels, x, plot.bottom, x, plot.bottom + 5, kBlack, RuleStyle::Solid);
    for (size_t i = 0; i < layout.axisX.size(); ++i) {
        const int x = layout.axisX[i];
        for (int l = 0; l < kTickCount; ++l) {
            const int y = ValueTickY(plot, l);
            if (i == 0)
                RasterRule(pixels, x - 5, y, x, y, kBlack, RuleStyle::Solid);
            else
                RasterRule(pixels, x, y, x + 5, y, kBlack, RuleStyle::Solid);
        }
    }

    QPainter painter(&image);
    painter.setFont(labelFont_);
    painter.setPen(Qt::black);
    const int ascent = metrics.ascent();
    for (size_t i = 0; i < values.size(); ++i) {
        // One trace keeps black labels; several are told apart by their colours.
        painter.setPen(several ? ColourFromRef(TraceColour(i)) : QColor(Qt::black));
        const int x = layout.axisX[i];
        const QString unit = i < traces_.size() ? traces_[i].unit : unit_;
        for (int l = 0; l < kTickCount; ++l) {
            const QString text = TickLabel(values[i], l);
            const int y = ValueTickY(plot, l);
            const int left =
                i == 0 ? x - kAxisLabelOffset - metrics.horizontalAdvance(text) : x + kAxisLabelOffset;
            painter.drawText(QPoint(left, y - 7 + ascent), text);
        }
        if (!unit.isEmpty()) {
            const int left =
                i == 0 ? x - kAxisLabelOffset - metrics.horizontalAdvance(unit) : x + kAxisLabelOffset;
            painter.drawText(QPoint(left, plot.top - 22 + ascent), unit);
        }
    }
    painter.setPen(Qt::black);
    for (size_t i = 0; i < ticks.times.size(); ++i) {
        const QString text = QString::fromStdString(ticks.labels[i]);
        painter.drawText(QPoint(columns[i] - metrics.horizontalAdvance(text) / 2, plot.bottom + 8 + ascent),
                         text);
    }
    if (!ticks.context.empty())
        painter.drawText(QPoint(plot.left, plot.bottom + 26 + ascent), QString::fromStdString(ticks.context));
    if (several)
        PaintLegend(painter, plot);
    if (empty && !emptyText_.isEmpty())
        painter.drawText(plotArea, Qt::AlignCenter, emptyText_);
}

void TimeChartView::PaintLegend(QPainter& painter, const PlotRect& plot) const {
    const QFontMetrics metrics(labelFont_);
    std::vector<QString> names;
    std::vector<int> widths;
    for (size_t i = 0; i < traces_.size(); ++i) {
        names.push_back(traces_[i].name.isEmpty() ? QStringLiteral("Trace %1").arg(i + 1) : traces_[i].name);
        widths.push_back(metrics.horizontalAdvance(names.back()));
    }
    const int rowHeight = metrics.height() + 4;
    const LegendLayout legend = LayOutLegend(plot, widths, rowHeight);
    const QRect box(legend.box.left, legend.box.top, legend.box.width(), legend.box.height());
    if (box.right() > plot.right || box.bottom() > plot.bottom)
        return; // no room: the axes' colours still tell the traces apart
    painter.fillRect(box, palette().color(QPalette::Base));
    painter.setPen(Qt::black);
    painter.drawRect(box);
    for (size_t i = 0; i < legend.entries.size(); ++i) {
        const PixelPoint at = legend.entries[i];
        const int middle = at.y + rowHeight / 2;
        painter.fillRect(QRect(at.x, middle - 2, kLegendSwatch, 4), ColourFromRef(TraceColour(i)));
        painter.drawText(QPoint(at.x + kLegendSwatch + 4, middle - metrics.height() / 2 + metrics.ascent()),
                         names[i]);
    }
}

void TimeChartView::UpdateScrollBar() {
    const PlotRect shown = plot();
    scrollBar_->setGeometry(shown.left, shown.bottom + 50, std::max(0, shown.width()), kScrollBarThickness);
    const QSignalBlocker block(scrollBar_);
    if (traces_.empty() || !window_.zoomed) {
        scrollBar_->setRange(0, 0);
        scrollBar_->setEnabled(false);
        return;
    }
    const std::optional<TimeExtent> extent = ExtentOf(series_);
    scrollBar_->setEnabled(true);
    scrollBar_->setRange(0, kScrollSteps);
    const double whole = extent ? std::max<double>(1, extent->lastMs - extent->firstMs) : 1.0;
    scrollBar_->setPageStep(
        static_cast<int>(std::clamp(window_.spanMs() / whole * kScrollSteps, 1.0, 1.0 * kScrollSteps)));
    scrollBar_->setSingleStep(std::max(1, scrollBar_->pageStep() / 10));
    scrollBar_->setValue(ScrollPosition(window_, series_, kScrollSteps));
}

QString TimeChartView::Readout(int x) const {
    if (!HasReadings())
        return {};
    const PlotRect shown = plot();
    if (x < shown.left || x > shown.right)
        return {};
    const TimeWindow window = CurrentWindow();
    const double pointer = window.TimeAtColumn(shown, x);
    auto dated = [](int64_t timeMs) {
        const int32_t offset = SystemLocalOffset()(timeMs);
        const CivilDate date = CivilFromDays(FloorDiv(timeMs + int64_t{offset} * 1000, 86'400'000));
        return QStringLiteral("%1-%2-%3 %4")
            .arg(date.year)
            .arg(date.month, 2, 10, QLatin1Char('0'))
            .arg(date.day, 2, 10, QLatin1Char('0'))
            .arg(QString::fromStdString(FormatTimeLabel(timeMs, TimeLabelStyle::Milliseconds, offset)));
    };
    auto value = [](const EdgeReading& reading) {
        return std::isnan(reading.value) ? QStringLiteral("OL") : FormatValue(reading.value);
    };
    if (traces_.size() == 1) {
        const auto reading = traces_.front().series->NearestReading(pointer);
        if (!reading)
            return {};
        return QStringLiteral("%1   %2 %3")
            .arg(dated(reading->timeMs), value(*reading), traces_.front().unit)
            .trimmed();
    }
    // Several: the pointer's time, then each trace's nearest reading.
    QString text = dated(std::llround(pointer));
    for (size_t i = 0; i < traces_.size(); ++i) {
        const TimeSeries* series = traces_[i].series;
        const auto reading = series != nullptr ? series->NearestReading(pointer) : std::nullopt;
        const QString name =
            traces_[i].name.isEmpty() ? QStringLiteral("Trace %1").arg(i + 1) : traces_[i].name;
        text += QStringLiteral("   %1: %2").arg(name, reading ? value(*reading) : QStringLiteral("-"));
        if (reading && !traces_[i].unit.isEmpty())
            text += QLatin1Char(' ') + traces_[i].unit;
    }
    return text;
}

void TimeChartView::paintEvent(QPaintEvent*) {
    if (dirty_ || buffer_.size() != size()) {
        buffer_ = QImage(size(), QImage::Format_RGB32);
        const TimeWindow window = CurrentWindow();
        PaintInto(buffer_, LayoutFor(width(), height(), window), window);
        UpdateScrollBar();
        dirty_ = false;
    }
    QPainter painter(this);
    painter.drawImage(0, 0, buffer_);
    if (dragging_) {
        painter.setPen(QPen(Qt::black, 0, Qt::DashLine));
        painter.drawRect(QRect(dragStart_, dragNow_).normalized());
    }
    const QString readout = hoverX_ >= 0 ? Readout(hoverX_) : QString();
    if (!readout.isEmpty()) {
        const PlotRect shown = plot();
        painter.setFont(labelFont_);
        painter.setPen(Qt::black);
        painter.drawText(QRect(shown.left, shown.top - 24, shown.width(), 20),
                         Qt::AlignRight | Qt::AlignVCenter, readout);
        painter.setPen(QPen(QColor(0, 0, 0, 90), 0));
        painter.drawLine(hoverX_, shown.top, hoverX_, shown.bottom);
    }
}

void TimeChartView::resizeEvent(QResizeEvent* event) {
    dirty_ = true;
    UpdateScrollBar();
    QWidget::resizeEvent(event);
}

void TimeChartView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && HasReadings()) {
        dragging_ = true;
        dragStart_ = dragNow_ = event->position().toPoint();
    }
}

void TimeChartView::mouseMoveEvent(QMouseEvent* event) {
    hoverX_ = event->position().toPoint().x();
    if (dragging_)
        dragNow_ = event->position().toPoint();
    update();
}

void TimeChartView::mouseReleaseEvent(QMouseEvent* event) {
    if (!dragging_ || event->button() != Qt::LeftButton)
        return;
    dragging_ = false;
    const QPoint end = event->position().toPoint();
    if (const auto zoomed =
            ZoomToBand(CurrentWindow(), plot(), dragStart_.x(), dragStart_.y(), end.x(), end.y()))
        SetWindow(*zoomed);
    else
        update();
}

void TimeChartView::mouseDoubleClickEvent(QMouseEvent*) {
    dragging_ = false;
    ShowWholeSeries();
}

void TimeChartView::wheelEvent(QWheelEvent* event) {
    if (!HasReadings())
        return;
    const double notches = event->angleDelta().y() / 120.0;
    if (notches == 0)
        return;
    if (event->modifiers() & Qt::ControlModifier)
        SetWindow(ZoomAround(CurrentWindow(), series_, plot(), event->position().x(),
                             std::pow(kWheelZoom, notches)));
    else
        ScrollBy(-notches * kWheelScroll);
    event->accept();
}

void TimeChartView::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Left:
        ScrollBy(-kWheelScroll);
        return;
    case Qt::Key_Right:
        ScrollBy(kWheelScroll);
        return;
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        ZoomBy(kWheelZoom);
        return;
    case Qt::Key_Minus:
        ZoomBy(1 / kWheelZoom);
        return;
    case Qt::Key_Home:
    case Qt::Key_Escape:
        ShowWholeSeries();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

void TimeChartView::leaveEvent(QEvent* event) {
    hoverX_ = -1;
    update();
    QWidget::leaveEvent(event);
}

void TimeChartView::Print(QPrinter& printer) {
    QImage image(size(), QImage::Format_RGB32);
    Render(image);
    QPainter painter(&printer);
    if (!painter.isActive())
        return;
    painter.drawImage(QRect(QPoint(0, 0), painter.viewport().size()), image);
}

} // namespace calvora
