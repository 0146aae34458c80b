// What the chart draws, worked out without a window: where the plot lies in the view, where samples land on
// the sample axis, the grid step, which segments of a trace are drawn and how (TraceBuilder), and what a
// live sample asks of the chart. chart/gui turns the results into pixels.
#pragma once

#include "chart/model/chart_model.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace calvora {

class RecordingDocument;

// Inset of the plot inside the view's client area.
inline constexpr int kPlotInsetLeft = 110;
inline constexpr int kPlotInsetTop = 70;
inline constexpr int kPlotInsetRight = 110;
inline constexpr int kPlotInsetBottom = 130;

PlotRect PlotFromClient(int width, int height);
bool IsPlotValid(const PlotRect& plot);

// Sample numbers are 1-based; x(n) = x0 + (shift + n - 1) * dx with x0 and dx taken from the laid-out
// positions of samples 1 and 2 (channel 0) and shift the samples a zoomed trace has been scrolled right. dx
// is 0 for a document with fewer than two samples.
struct SampleAxis {
    double x0 = 0;
    double dx = 0;
    int32_t shift = 0;

    double X(int64_t n) const { return x0 + (static_cast<double>(shift) + static_cast<double>(n) - 1) * dx; }
};
SampleAxis SampleAxisOf(const RecordingDocument& document);

// First sample drawn (the horizontal scroll position P) and one past the last candidate (E = P + W/dx + 2).
struct DrawRange {
    int64_t first = 1;
    int64_t end = 1;
};
DrawRange VisibleSamples(const ChartLayout& layout, const SampleAxis& axis, const PlotRect& plot);

// The samples the chart shows: every one in the full view; when zoomed, those that lie between the plot's
// sides (of the plot laid out last, layout.plotRect). Empty (last < first) when none does.
SampleRange ShownSamples(const RecordingDocument& document);

// Smallest whole k with k * dx >= width / 8: the sample distance between vertical grid lines and labels.
int64_t GridStep(double dx, double width);

// y of value tick line l (0 = top line ... 10 = bottom line).
int ValueTickY(const PlotRect& plot, int l);

struct PixelLine {
    int x0 = 0;
    int y0 = 0;
    int x1 = 0;
    int y1 = 0;
    bool operator==(const PixelLine&) const = default;
};
struct PixelPoint {
    int x = 0;
    int y = 0;
    bool operator==(const PixelPoint&) const = default;
};

// Ends of a segment in whole pixels. Coordinates far outside any plot are cut along the segment's own
// line first, so huge or infinite values keep their direction without overflowing an int. Empty when
// a coordinate is not a number.
std::optional<PixelLine> SegmentPixels(double x0, double y0, double x1, double y1);

// Both ends above the top or both below the bottom (the lines themselves count as inside), or both at
// or left of the left side, or both at or right of the right side.
bool SegmentOutsidePlot(const PixelLine& segment, const PlotRect& plot);

// One end strictly above `lineY` and the other strictly below it.
bool SegmentCrosses(const PixelLine& segment, int lineY);

// A segment between neighbouring pixel columns sets the pixels of one vertical run in each column (on the
// ideal line a row belongs to the left column while it lies less than half the height from the left end).
// `start` is the run in the column of (x0, y0), `end` the one in the column of (x1, y1); both are vertical
// lines and neither is empty.
struct StepRuns {
    PixelLine start;
    PixelLine end;
};
bool IsColumnStep(const PixelLine& segment);
StepRuns SplitStep(const PixelLine& step);

// What a trace leaves on the image: lines and the 6-pixel point marks, each given by its centre: the marks
// are the three pixels above and the three below it (the centre's row itself is left to the line).
struct TracePicture {
    std::vector<PixelLine> lines;
    std::vector<PixelPoint> markCentres;
};

enum class TraceDrawing {
    PerSegment, // one line per segment, as drawn one at a time
    Merged, // segments that stay in one pixel column joined into one line, steps to the neighbouring column
            // split into their two columns' lines: the same pixels, about one line per column
};

// The segments n -> n + 1 of one channel. Point marks follow the one remembered x per channel: a segment
// whose start column differs from it marks both ends and becomes the remembered column.
class TraceBuilder {
public:
    TraceBuilder(const RecordingDocument& document, const SampleAxis& axis, const PlotRect& plot, int channel,
                 TraceDrawing drawing, int& rememberedX, TracePicture& out);
    // Adds segment n (1-based, 0 < n < sampleCount). False when it is skipped.
    bool Add(int64_t n);
    // Every drawn segment of the range: n from range.first to range.end - 1 with 0 < n < sampleCount.
    void AddRange(const DrawRange& range);

private:
    bool AddPixels(int64_t n, const PixelLine& segment);
    // Marks both ends of the segment, whose start column becomes the remembered one.
    void AddMarks(const PixelLine& segment);

    const RecordingDocument& document_;
    SampleAxis axis_;
    PlotRect plot_;
    int channel_;
    bool merge_;
    bool marks_;
    int& rememberedX_;
    TracePicture& out_;
    int64_t lastAdded_ = -1;
};

// A live sample

enum class LiveAction { Nothing, Redraw, DrawNewestSegment };

struct LivePlan {
    LiveAction action = LiveAction::Nothing;
    std::optional<int64_t> horizontalPosition; // new scroll position when zoomed
};

// After a live sample: lays the samples out and decides between nothing (a rubber band is being dragged),
// a full redraw, and drawing only the newest segment. A zoomed live trace at the right edge moves one
// sample left unless `vScrolled` (which this clears). `lastFunction` is the function name the chart
// remembers; a change repaints the whole chart.
LivePlan PlanLiveUpdate(RecordingDocument& document, const PlotRect& plot, bool dragMoved, bool& vScrolled,
                        std::u16string& lastFunction);

} // namespace calvora
