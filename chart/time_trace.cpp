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

TimeWindow WholeSeriesWindow(const TimeSeries& series) {
    TimeWindow window;
    if (series.readingCount() == 0)
        return window;
    window.startMs = series.firstTime();
    window.endMs = series.lastTime();
    if (window.endMs - window.startMs < kMinimumWindowMs) {
        window.startMs -= kLoneReadingSpanMs / 2;
        window.endMs += kLoneReadingSpanMs / 2;
    }
    const ValueRange range = series.RangeBetween(series.firstTime(), series.lastTime());
    const AutoLimits limits = range.empty() ? AutoLimits{} : ComputeAutoLimits(range.min, range.max);
    window.values = {limits.low, limits.high};
    return window;
}

std::optional<TimeWindow> ZoomToBand(const TimeWindow& window, const PlotRect& plot, int x0, int y0, int x1,
                                     int y1) {
    const int left = std::clamp(std::min(x0, x1), plot.left, plot.right);
    const int right = std::clamp(std::max(x0, x1), plot.left, plot.right);
    const int top = std::clamp(std::min(y0, y1), plot.top, plot.bottom);
    const int bottom = std::clamp(std::max(y0, y1), plot.top, plot.bottom);
    TimeWindow zoomed = window;
    zoomed.zoomed = true;
    zoomed.startMs = static_cast<int64_t>(std::floor(window.TimeAtColumn(plot, left)));
    zoomed.endMs = static_cast<int64_t>(std::ceil(window.TimeAtColumn(plot, right)));
    zoomed.values = {window.values.ValueAtRow(plot, bottom), window.values.ValueAtRow(plot, top)};
    if (zoomed.spanMs() < kMinimumWindowMs || !(zoomed.values.high > zoomed.values.low))
        return std::nullopt;
    return zoomed;
}

TimeWindow ScrollWindow(const TimeWindow& window, const TimeSeries& series, double fraction) {
    TimeWindow moved = window;
    const int64_t span = window.spanMs();
    int64_t start = window.startMs + static_cast<int64_t>(std::llround(fraction * static_cast<double>(span)));
    if (series.readingCount() > 0) {
        const int64_t latest = std::max(series.firstTime(), series.lastTime() - span);
        start =
            std::clamp(start, std::min(series.firstTime(), window.startMs), std::max(latest, window.startMs));
    }
    moved.startMs = start;
    moved.endMs = start + span;
    return moved;
}

TimeWindow ZoomAround(const TimeWindow& window, const TimeSeries& series, const PlotRect& plot, double x,
                      double factor) {
    const double pivot = window.TimeAtColumn(plot, x);
    const double share = (pivot - static_cast<double>(window.startMs)) / std::max<double>(window.spanMs(), 1);
    const int64_t span = std::max<int64_t>(kMinimumWindowMs, std::llround(window.spanMs() * factor));
    if (series.readingCount() > 0 && span >= series.lastTime() - series.firstTime()) {
        TimeWindow whole = WholeSeriesWindow(series);
        return whole;
    }
    TimeWindow zoomed = window;
    zoomed.zoomed = true;
    zoomed.startMs = std::llround(pivot - share * static_cast<double>(span));
    zoomed.endMs = zoomed.startMs + span;
    return ScrollWindow(zoomed, series, 0);
}

int ScrollPosition(const TimeWindow& window, const TimeSeries& series, int steps) {
    if (series.readingCount() == 0 || steps <= 0)
        return 0;
    const double room = static_cast<double>(series.lastTime() - series.firstTime() - window.spanMs());
    if (room <= 0)
        return 0;
    const double share = static_cast<double>(window.startMs - series.firstTime()) / room;
    return static_cast<int>(std::lround(std::clamp(share, 0.0, 1.0) * steps));
}

TimeWindow WindowAtScrollPosition(const TimeWindow& window, const TimeSeries& series, int position,
                                  int steps) {
    if (series.readingCount() == 0 || steps <= 0)
        return window;
    const double room = static_cast<double>(series.lastTime() - series.firstTime() - window.spanMs());
    TimeWindow moved = window;
    moved.startMs = series.firstTime() + std::llround(std::max(room, 0.0) * position / steps);
    moved.endMs = moved.startMs + window.spanMs();
    return moved;
}

void BuildColumnTrace(const ColumnTrace& trace, const TimeWindow& window, const PlotRect& plot,
                      TracePicture& out) {
    out.lines.clear();
    out.markCentres.clear();
    auto add = [&](double x0, double y0, double x1, double y1) {
        if (const auto line = SegmentPixels(x0, y0, x1, y1))
            out.lines.push_back(*line);
    };
    const ValueScale& scale = window.values;
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

} // namespace calvora
