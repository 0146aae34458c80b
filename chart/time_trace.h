// The time chart's arithmetic without a window: the window of time and values it shows (the whole series,
// or what a zoom chose), scrolling and wheel zoom of that window, and the trace lines drawn from a series'
// column envelopes. chart/gui turns the results into pixels.
#pragma once

#include "chart/chart_trace.h"
#include "chart/time_series.h"

#include <cstdint>

namespace calvora {

// Value to pixel row: the plot's bottom line shows `low`, its top line `high`.
struct ValueScale {
    double low = 0;
    double high = 1;

    double Y(const PlotRect& plot, double value) const;
    double ValueAtRow(const PlotRect& plot, double y) const;
};

// What the time chart shows.
struct TimeWindow {
    int64_t startMs = 0;
    int64_t endMs = 1000;
    ValueScale values;
    bool zoomed = false; // false: the whole series, following a live one as it grows

    int64_t spanMs() const { return endMs - startMs; }
    // Milliseconds per pixel column across `plot`.
    double StepMs(const PlotRect& plot) const;
    double X(const PlotRect& plot, double timeMs) const;
    double TimeAtColumn(const PlotRect& plot, double x) const;
};

// The shortest span a zoom may show, so ticks and columns stay meaningful.
inline constexpr int64_t kMinimumWindowMs = 10;

// The whole series: from its first reading to its last (a second around a lone reading), the values
// scaled by the automatic rule over all of them.
TimeWindow WholeSeriesWindow(const TimeSeries& series);

// The window a rubber band from column x0 to x1 and row y0 to y1 selects. Empty when it spans less than
// kMinimumWindowMs or no value step.
std::optional<TimeWindow> ZoomToBand(const TimeWindow& window, const PlotRect& plot, int x0, int y0, int x1,
                                     int y1);

// The window moved by `fraction` of its span (positive: later), kept within the series' first and last
// reading where the span allows.
TimeWindow ScrollWindow(const TimeWindow& window, const TimeSeries& series, double fraction);

// The window narrowed (factor < 1) or widened around the time at column x, no narrower than
// kMinimumWindowMs; widening past the whole series gives the whole series back.
TimeWindow ZoomAround(const TimeWindow& window, const TimeSeries& series, const PlotRect& plot, double x,
                      double factor);

// Position of the window's start in a scroll bar of `steps` steps over the series, and back.
int ScrollPosition(const TimeWindow& window, const TimeSeries& series, int steps);
TimeWindow WindowAtScrollPosition(const TimeWindow& window, const TimeSeries& series, int position,
                                  int steps);

// The trace across `plot`: column k of `trace` at x = plot.left + k, a vertical line over its extremes, and
// a line from each drawn column's last value to the next one's first, unless a gap or an overload lies
// between them. The readings beside the columns carry the trace on to the plot's sides.
void BuildColumnTrace(const ColumnTrace& trace, const TimeWindow& window, const PlotRect& plot,
                      TracePicture& out);

} // namespace calvora
