// The time chart's arithmetic without a window: the window of time and values it shows (the whole series,
// or what a zoom chose), scrolling and wheel zoom of that window, and the trace lines drawn from a series'
// column envelopes. Several series share the time axis, each on a value scale of its own: the window then
// covers all of them, and the plot leaves room for one value axis per series. chart/gui turns the results
// into pixels.
#pragma once

#include "chart/chart_trace.h"
#include "chart/time_series.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

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
    ValueScale values;               // the first series' scale
    std::vector<ValueScale> further; // the second and further series' scales, in their order
    bool zoomed = false;             // false: the whole series, following a live one as it grows

    int64_t spanMs() const { return endMs - startMs; }
    size_t scaleCount() const { return 1 + further.size(); }
    // Series i's scale (i < scaleCount()).
    const ValueScale& scale(size_t i) const { return i == 0 ? values : further[i - 1]; }
    ValueScale& scale(size_t i) { return i == 0 ? values : further[i - 1]; }
    // Milliseconds per pixel column across `plot`.
    double StepMs(const PlotRect& plot) const;
    double X(const PlotRect& plot, double timeMs) const;
    double TimeAtColumn(const PlotRect& plot, double x) const;
};

// The shortest span a zoom may show, so ticks and columns stay meaningful.
inline constexpr int64_t kMinimumWindowMs = 10;

// The series the chart draws, in order; an entry may be null (drawn as a series without readings).
using SeriesSet = std::span<const TimeSeries* const>;

// From the first reading of any series to the last reading of any; empty when none has a reading.
struct TimeExtent {
    int64_t firstMs = 0;
    int64_t lastMs = 0;
};
std::optional<TimeExtent> ExtentOf(SeriesSet series);

// The automatic rule over the series' readings in [startMs, endMs]; 0..1 when there are none.
ValueScale AutomaticScale(const TimeSeries* series, int64_t startMs, int64_t endMs);

// The whole series: from its first reading to its last (a second around a lone reading), the values
// scaled by the automatic rule over all of them.
TimeWindow WholeSeriesWindow(const TimeSeries& series);
// The same over several: the time from the first reading of any to the last of any, each series' values
// scaled by the automatic rule over its own readings.
TimeWindow WholeSeriesWindow(SeriesSet series);

// `window` with one scale per series: those it holds are kept, a series beyond them gets the automatic
// rule over its readings in the window's time.
TimeWindow WithScaleForEach(TimeWindow window, SeriesSet series);

// The window a rubber band from column x0 to x1 and row y0 to y1 selects: its times, and on every scale
// the values its rows show there. Empty when it spans less than kMinimumWindowMs or no value step, or the
// plot has no room.
std::optional<TimeWindow> ZoomToBand(const TimeWindow& window, const PlotRect& plot, int x0, int y0, int x1,
                                     int y1);

// The window moved by `fraction` of its span (positive: later), kept within the series' first and last
// reading where the span allows.
TimeWindow ScrollWindow(const TimeWindow& window, const TimeSeries& series, double fraction);
TimeWindow ScrollWindow(const TimeWindow& window, SeriesSet series, double fraction);

// The window narrowed (factor < 1) or widened around the time at column x, no narrower than
// kMinimumWindowMs; widening past the whole series gives the whole series back.
TimeWindow ZoomAround(const TimeWindow& window, const TimeSeries& series, const PlotRect& plot, double x,
                      double factor);
TimeWindow ZoomAround(const TimeWindow& window, SeriesSet series, const PlotRect& plot, double x,
                      double factor);

// Position of the window's start in a scroll bar of `steps` steps over the series, and back.
int ScrollPosition(const TimeWindow& window, const TimeSeries& series, int steps);
int ScrollPosition(const TimeWindow& window, SeriesSet series, int steps);
TimeWindow WindowAtScrollPosition(const TimeWindow& window, const TimeSeries& series, int position,
                                  int steps);
TimeWindow WindowAtScrollPosition(const TimeWindow& window, SeriesSet series, int position, int steps);

// The trace across `plot`: column k of `trace` at x = plot.left + k, a vertical line over its extremes, and
// a line from each drawn column's last value to the next one's first, unless a gap or an overload lies
// between them. The readings beside the columns carry the trace on to the plot's sides.
void BuildColumnTrace(const ColumnTrace& trace, const TimeWindow& window, const PlotRect& plot,
                      TracePicture& out);
// The same on `scale` instead of the window's first.
void BuildColumnTrace(const ColumnTrace& trace, const TimeWindow& window, const ValueScale& scale,
                      const PlotRect& plot, TracePicture& out);

// The spans shaded as gaps: with one series its gaps; with several, the spans between the first reading of
// any and the last of any where none has readings (each one's gaps and the time before its first reading
// and after its last).
std::vector<SeriesGap> CommonGaps(SeriesSet series);

// Series i's colour (0x00BBGGRR): the first is the chart's red, the others contrast with it and with the
// plot's grey.
uint32_t TraceColour(size_t i);

// Between a value axis and its labels.
inline constexpr int kAxisLabelOffset = 10;
// Between the widest label of one axis right of the plot and the next axis.
inline constexpr int kAxisSpacing = 16;
// Left free beyond the outermost labels.
inline constexpr int kAxisMargin = 6;

// Where the plot and the value axes lie in a client area of width x height when axis i's labels (its
// tick values and its unit) are at most labelWidths[i] wide. One axis: the plot of PlotFromClient with
// the axis on its left side. Several: the first on the left, the second on the right side, each further
// one right of the one before with room for that one's labels; the plot narrows (or widens its left inset)
// until every axis with its labels fits.
struct AxesLayout {
    PlotRect plot;
    std::vector<int> axisX; // the column of each axis's line; labels lie left of the first, right of others
};
AxesLayout LayOutAxes(int width, int height, std::span<const int> labelWidths);

// The legend inside the top of the plot: a swatch and a name per series, left to right, on as many rows
// as the plot's width needs.
inline constexpr int kLegendSwatch = 16;
struct LegendLayout {
    std::vector<PixelPoint> entries; // the top-left corner of each entry's swatch
    PlotRect box;                    // around all of them
};
LegendLayout LayOutLegend(const PlotRect& plot, std::span<const int> nameWidths, int rowHeight);

} // namespace calvora
