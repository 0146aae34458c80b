// Finding one's way in a chart, worked out without a window: the rubber-band zoom, the scroll bars and the
// wheel of a zoomed chart, and the cursor that snaps to a sample and tells its data. chart/gui turns the
// results into widget state.
#pragma once

#include "chart/chart_trace.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace calvora {

class RecordingDocument;

// Zoom

struct DragRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};
// The corners ordered so that left <= right and top <= bottom.
DragRect NormalisedDrag(int x0, int y0, int x1, int y1);

enum class ZoomVerdict { Zoom, TooSmall, StepTooFine, UnderOneSample, TooFewSamples };

// The rubber band's tests: more than 3 pixels both ways, a value step of at least 0.00001 over a tenth
// of its height, and more than one sample step across the plot afterwards. Needs two samples.
ZoomVerdict CheckZoom(const RecordingDocument& document, const PlotRect& plot, const DragRect& drag);

struct ScrollInfo {
    int64_t maximum = 0;
    int64_t position = 0;
};
struct ZoomScroll {
    ScrollInfo horizontal;
    ScrollInfo vertical;
};

// Zooms into `drag` (normalised): the zoomed scale from the current ticks, every xPos stretched, the
// horizontal origin and the vertical range and middle. The vertical shift starts again at 0: the zoomed
// scale's base already includes the old one.
ZoomScroll ApplyZoom(RecordingDocument& document, const PlotRect& plot, const DragRect& drag);

// Scrolling

enum class ScrollRequest { LineBack, LineForward, PageBack, PageForward, Track };

// The horizontal bar's table: the new position from the old one. `pageSamples` = W / dx + 1.
int64_t ScrollHorizontally(ScrollRequest request, int64_t position, int64_t sampleCount, int64_t pageSamples,
                           int64_t thumb);
int64_t HorizontalPageSamples(const SampleAxis& axis, const PlotRect& plot);
// Thumb position of a bar whose range the thumb cannot resolve: taken from the mouse along the plot.
int64_t TrackFromMouse(int64_t count, int mouseX, const PlotRect& plot);

// The vertical bar's table: the new position from the old one.
int64_t ScrollVertically(ScrollRequest request, int64_t position, int64_t range, int64_t thumb);

// The wheel while zoomed: one sample per message, forward shows earlier samples. Returns the new
// horizontal position when it moved.
std::optional<int64_t> WheelScroll(ChartLayout& layout, int64_t sampleCount, int delta);

// The drag is cancelled once the mouse is 50 pixels or more outside the plot.
bool FarOutsidePlot(const PlotRect& plot, int x, int y);

// Ranges of samples

// The samples drawn between columns x0 and x1 (either order) of the plot; empty when none lies there.
SampleRange SamplesBetween(const RecordingDocument& document, double x0, double x1);
// The samples the plot shows, from its left side to its right.
SampleRange ShownSamples(const RecordingDocument& document, const PlotRect& plot);

// Cursor

struct CursorPick {
    uint32_t row = 0; // 0-based
    double x = 0;     // where the sample is drawn
};
// The sample at or nearest right of the mouse's column, never before the first or past the last sample.
// Empty with fewer than two samples.
std::optional<CursorPick> CursorSample(const RecordingDocument& document, int mouseX);
// The channel whose point at `row` is nearest to y; the first wins a tie.
int NearestChannel(const RecordingDocument& document, uint32_t row, double y);

enum ReadoutText {
    kReadoutNumber,
    kReadoutChannel,
    kReadoutFunction,
    kReadoutValue,
    kReadoutTime,
    kReadoutTexts
};
// "No.:", "Channel:", "Function:", "Data Value:", "Time:" of one sample.
std::array<std::u16string, kReadoutTexts> ReadoutTexts(const RecordingDocument& document, uint32_t row,
                                                       int channel);

} // namespace calvora
