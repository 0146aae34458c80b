#include "chart/time_trace.h"

#include "chart/model/chart_model.h"

#include <algorithm>
#include <cmath>

namespace calvora {

namespace {

constexpr int64_t kLoneReadingSpanMs = 1000;

double Span(const PlotRect& plot) {
    return std::max(plot.width(), 1);
}

} // namespace

double ValueScale::Y(const PlotRect& plot, double value) const {
    const double span = high - low;
    if (span == 0)
        return plot.bottom;
    return plot.bottom - (value - low) * plot.height() / span;
}

double ValueScale::ValueAtRow(const PlotRect& plot, double y) const {
    if (plot.height() == 0)
        return low;
    return low + (plot.bottom - y) * (high - low) / plot.height();
}

double TimeWindow::StepMs(const PlotRect& plot) const {
    return static_cast<double>(spanMs()) / Span(plot);
}

double TimeWindow::X(const PlotRect& plot, double timeMs) const {
    return plot.left + (timeMs - static_cast<double>(startMs)) / StepMs(plot);
}

double TimeWindow::TimeAtColumn(const PlotRect& plot, double x) const {
    return static_cast<double>(startMs) + (x - plot.left) * StepMs(plot);
}

std::optional<TimeExtent> ExtentOf(SeriesSet series) {
    std::optional<TimeExtent> extent;
    for (const TimeSeries* one : series) {
        if (one == nullptr || one->readingCount() == 0)
            continue;
        if (!extent) {
            extent = TimeExtent{one->firstTime(), one->lastTime()};
            continue;
        }
        extent->firstMs = std::min(extent->firstMs, one->firstTime());
        extent->lastMs = std::max(extent->lastMs, one->lastTime());
    }
    return extent;
}

ValueScale AutomaticScale(const TimeSeries* series, int64_t startMs, int64_t endMs) {
    const ValueRange range =
        series != nullptr && series->readingCount() > 0 ? series->RangeBetween(startMs, endMs) : ValueRange{};
    const AutoLimits limits = range.empty() ? AutoLimits{} : ComputeAutoLimits(range.min, range.max);
    return {limits.low, limits.high};
}

TimeWindow WholeSeriesWindow(const TimeSeries& series) {
    const TimeSeries* const one[] = {&series};
    return WholeSeriesWindow(SeriesSet(one));
}

TimeWindow WholeSeriesWindow(SeriesSet series) {
    TimeWindow window;
    const std::optional<TimeExtent> extent = ExtentOf(series);
    if (!extent)
        return WithScaleForEach(window, series);
    window.startMs = extent->firstMs;
    window.endMs = extent->lastMs;
    if (window.endMs - window.startMs < kMinimumWindowMs) {
        window.startMs -= kLoneReadingSpanMs / 2;
        window.endMs += kLoneReadingSpanMs / 2;
    }
    for (size_t i = 0; i < series.size(); ++i) {
        const ValueScale scale = AutomaticScale(series[i], extent->firstMs, extent->lastMs);
        if (i == 0)
            window.values = scale;
        else
            window.further.push_back(scale);
    }
    return window;
}

TimeWindow WithScaleForEach(TimeWindow window, SeriesSet series) {
    const size_t wanted = std::max<size_t>(series.size(), 1);
    if (window.scaleCount() > wanted)
        window.further.resize(wanted - 1);
    for (size_t i = window.scaleCount(); i < wanted; ++i)
        window.further.push_back(AutomaticScale(series[i], window.startMs, window.endMs));
    return window;
}

std::optional<TimeWindow> ZoomToBand(const TimeWindow& window, const PlotRect& plot, int x0, int y0, int x1,
                                     int y1) {
    // Axes enough to leave no plot leave nothing to select either.
    if (!IsPlotValid(plot))
        return std::nullopt;
    const int left = std::clamp(std::min(x0, x1), plot.left, plot.right);
    const int right = std::clamp(std::max(x0, x1), plot.left, plot.right);
    const int top = std::clamp(std::min(y0, y1), plot.top, plot.bottom);
    const int bottom = std::clamp(std::max(y0, y1), plot.top, plot.bottom);
    TimeWindow zoomed = window;
    zoomed.zoomed = true;
    zoomed.startMs = static_cast<int64_t>(std::floor(window.TimeAtColumn(plot, left)));
    zoomed.endMs = static_cast<int64_t>(std::ceil(window.TimeAtColumn(plot, right)));
    if (zoomed.spanMs() < kMinimumWindowMs)
        return std::nullopt;
    for (size_t i = 0; i < zoomed.scaleCount(); ++i) {
        const ValueScale& before = window.scale(i);
        ValueScale& after = zoomed.scale(i);
        after = {before.ValueAtRow(plot, bottom), before.ValueAtRow(plot, top)};
        if (!(after.high > after.low))
            return std::nullopt;
    }
    return zoomed;
}

TimeWindow ScrollWindow(const TimeWindow& window, const TimeSeries& series, double fraction) {
    const TimeSeries* const one[] = {&series};
    return ScrollWindow(window, SeriesSet(one), fraction);
}

TimeWindow ScrollWindow(const TimeWindow& window, SeriesSet series, double fraction) {
    TimeWindow moved = window;
    const int64_t span = window.spanMs();
    int64_t start = window.startMs + static_cast<int64_t>(std::llround(fraction * static_cast<double>(span)));
    if (const std::optional<TimeExtent> extent = ExtentOf(series)) {
        const int64_t latest = std::max(extent->firstMs, extent->lastMs - span);
        start =
            std::clamp(start, std::min(extent->firstMs, window.startMs), std::max(latest, window.startMs));
    }
    moved.startMs = start;
    moved.endMs = start + span;
    return moved;
}

TimeWindow ZoomAround(const TimeWindow& window, const TimeSeries& series, const PlotRect& plot, double x,
                      double factor) {
    const TimeSeries* const one[] = {&series};
    return ZoomAround(window, SeriesSet(one), plot, x, factor);
}

TimeWindow ZoomAround(const TimeWindow& window, SeriesSet series, const PlotRect& plot, double x,
                      double factor) {
    const double pivot = window.TimeAtColumn(plot, x);
    const double share = (pivot - static_cast<double>(window.startMs)) / std::max<double>(window.spanMs(), 1);
    const int64_t span = std::max<int64_t>(kMinimumWindowMs, std::llround(window.spanMs() * factor));
    const std::optional<TimeExtent> extent = ExtentOf(series);
    if (extent && span >= extent->lastMs - extent->firstMs)
        return WholeSeriesWindow(series);
    TimeWindow zoomed = window;
    zoomed.zoomed = true;
    zoomed.startMs = std::llround(pivot - share * static_cast<double>(span));
    zoomed.endMs = zoomed.startMs + span;
    return ScrollWindow(zoomed, series, 0);
}

int ScrollPosition(const TimeWindow& window, const TimeSeries& series, int steps) {
    const TimeSeries* const one[] = {&series};
    return ScrollPosition(window, SeriesSet(one), steps);
}

int ScrollPosition(const TimeWindow& window, SeriesSet series, int steps) {
    const std::optional<TimeExtent> extent = ExtentOf(series);
    if (!extent || steps <= 0)
        return 0;
    const double room = static_cast<double>(extent->lastMs - extent->firstMs - window.spanMs());
    if (room <= 0)
        return 0;
    const double share = static_cast<double>(window.startMs - extent->firstMs) / room;
    return static_cast<int>(std::lround(std::clamp(share, 0.0, 1.0) * steps));
}

TimeWindow WindowAtScrollPosition(const TimeWindow& window, const TimeSeries& series, int position,
                                  int steps) {
    const TimeSeries* const one[] = {&series};
    return WindowAtScrollPosition(window, SeriesSet(one), position, steps);
}

TimeWindow WindowAtScrollPosition(const TimeWindow& window, SeriesSet series, int position, int steps) {
    const std::optional<TimeExtent> extent = ExtentOf(series);
    if (!extent || steps <= 0)
        return window;
    const double room = static_cast<double>(extent->lastMs - extent->firstMs - window.spanMs());
    TimeWindow moved = window;
    moved.startMs = extent->firstMs + std::llround(std::max(room, 0.0) * position / steps);
    moved.endMs = moved.startMs + window.spanMs();
    return moved;
}

void BuildColumnTrace(const ColumnTrace& trace, const TimeWindow& window, const PlotRect& plot,
                      TracePicture& out) {
    BuildColumnTrace(trace, window, window.values, plot, out);
}

void BuildColumnTrace(const ColumnTrace& trace, const TimeWindow& window, const ValueScale& scale,
                      const PlotRect& plot, TracePicture& out) {
    out.lines.clear();
    out.markCentres.clear();
    auto add = [&](double x0, double y0, double x1, double y1) {
        if (const auto line = SegmentPixels(x0, y0, x1, y1))
            out.lines.push_back(*line);
    };
    // The last drawn value and where it was, for the line on to the next one.
    bool joined = false;
    double lastX = 0;
    double lastY = 0;
    if (trace.before && !std::isnan(trace.before->value)) {
        joined = true;
        lastX = window.X(plot, static_cast<double>(trace.before->timeMs));
        lastY = scale.Y(plot, trace.before->value);
    }
    bool brokenBefore = trace.before && trace.before->broken;
    for (size_t k = 0; k < trace.columns.size(); ++k) {
        const ColumnEnvelope& column = trace.columns[k];
        if (column.count == 0)
            continue;
        const double x = plot.left + static_cast<double>(k);
        const bool broken = column.breakBefore || brokenBefore;
        brokenBefore = false;
        if (joined && !broken && !std::isnan(column.first))
            add(lastX, lastY, x, scale.Y(plot, column.first));
        if (!column.range.empty())
            add(x, scale.Y(plot, column.range.min), x, scale.Y(plot, column.range.max));
        joined = !std::isnan(column.last);
        lastX = x;
        lastY = joined ? scale.Y(plot, column.last) : 0;
    }
    if (trace.after && joined && !trace.after->broken && !std::isnan(trace.after->value))
        add(lastX, lastY, window.X(plot, static_cast<double>(trace.after->timeMs)),
            scale.Y(plot, trace.after->value));
}

std::vector<SeriesGap> CommonGaps(SeriesSet series) {
    if (series.size() == 1)
        return series[0] != nullptr && series[0]->readingCount() > 0 ? series[0]->Gaps()
                                                                     : std::vector<SeriesGap>{};
    const std::optional<TimeExtent> extent = ExtentOf(series);
    if (!extent)
        return {};
    // The spans each series has readings in: its first to its last reading, less its gaps.
    std::vector<SeriesGap> covered;
    for (const TimeSeries* one : series) {
        if (one == nullptr || one->readingCount() == 0)
            continue;
        std::vector<SeriesGap> gaps = one->Gaps();
        std::sort(gaps.begin(), gaps.end(),
                  [](const SeriesGap& a, const SeriesGap& b) { return a.startMs < b.startMs; });
        int64_t from = one->firstTime();
        for (const SeriesGap& gap : gaps) {
            if (gap.startMs > from)
                covered.push_back({from, std::min(gap.startMs, one->lastTime())});
            from = std::max(from, gap.endMs);
        }
        if (from <= one->lastTime())
            covered.push_back({from, one->lastTime()});
    }
    std::sort(covered.begin(), covered.end(),
              [](const SeriesGap& a, const SeriesGap& b) { return a.startMs < b.startMs; });
    // What none covers, between the first reading of any and the last.
    std::vector<SeriesGap> common;
    int64_t reached = extent->firstMs;
    for (const SeriesGap& span : covered) {
        if (span.startMs > reached)
            common.push_back({reached, span.startMs});
        reached = std::max(reached, span.endMs);
    }
    return common;
}

uint32_t TraceColour(size_t i) {
    // Red, blue, dark green, purple, orange, teal.
    static constexpr uint32_t kColours[] = {kRed, 0x00D04010, 0x00008000, 0x00A02090, 0x000070E0, 0x00808000};
    return kColours[i % std::size(kColours)];
}

AxesLayout LayOutAxes(int width, int height, std::span<const int> labelWidths) {
    AxesLayout layout;
    layout.plot = PlotFromClient(width, height);
    if (labelWidths.size() <= 1) {
        layout.axisX.assign(labelWidths.size(), layout.plot.left);
        return layout;
    }
    auto room = [](int labels) { return kAxisLabelOffset + std::max(labels, 0); };
    layout.plot.left = std::max(kPlotInsetLeft, room(labelWidths[0]) + kAxisMargin);
    // From the right side of the plot: each axis on the right with its labels and the spacing before the
    // next.
    int right = kAxisMargin;
    for (size_t i = 1; i < labelWidths.size(); ++i)
        right += room(labelWidths[i]) + (i + 1 < labelWidths.size() ? kAxisSpacing : 0);
    layout.plot.right = width - std::max(kPlotInsetRight, right);
    int x = layout.plot.right;
    layout.axisX.push_back(layout.plot.left);
    for (size_t i = 1; i < labelWidths.size(); ++i) {
        layout.axisX.push_back(x);
        x += room(labelWidths[i]) + kAxisSpacing;
    }
    return layout;
}

LegendLayout LayOutLegend(const PlotRect& plot, std::span<const int> nameWidths, int rowHeight) {
    constexpr int kInset = 8;     // from the plot's sides to the legend's box
    constexpr int kPadding = 4;   // inside the box
    constexpr int kNameGap = 4;   // between a swatch and its name
    constexpr int kEntryGap = 14; // between one entry's name and the next swatch
    LegendLayout legend;
    if (nameWidths.empty())
        return legend;
    const int left = plot.left + kInset + kPadding;
    const int limit = plot.right - kInset - kPadding;
    int x = left;
    int y = plot.top + kInset + kPadding;
    int widest = left;
    for (const int name : nameWidths) {
        const int width = kLegendSwatch + kNameGap + std::max(name, 0);
        if (x > left && x + width > limit) {
            x = left;
            y += rowHeight;
        }
        legend.entries.push_back({x, y});
        widest = std::max(widest, x + width);
        x += width + kEntryGap;
    }
    legend.box = {plot.left + kInset, plot.top + kInset, widest + kPadding, y + rowHeight + kPadding};
    return legend;
}

} // namespace calvora
