// The chart's per-document model (what the user chose, what the chart computed) and the pure
// numeric rules for its vertical scale. No document or window here: see chart/chart_layout.h.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

namespace calvora {

// Channels a chart can describe; the per-channel settings have this many slots.
inline constexpr int kMaxChannels = 5;

enum class ScaleMode : int32_t { Unset = -1, Auto = 0, Custom = 1 };
enum class MouseMode : int32_t { Zoom = 0, Cursor = 1 };

inline constexpr uint32_t kRed = 0x000000FF;
inline constexpr uint32_t kDefaultBackground = 0x00C8C8C8;
inline constexpr uint32_t kDefaultGrid = 0x00FFFFFF;

// What the user chooses. Colours are 0x00BBGGRR.
struct ChartSettings {
    std::array<uint8_t, kMaxChannels> traceVisible{1, 1, 1, 1, 1};
    std::array<uint8_t, kMaxChannels> alarmHigh{1, 1, 1, 1, 1};
    std::array<uint8_t, kMaxChannels> alarmLow{1, 1, 1, 1, 1};
    std::array<uint8_t, kMaxChannels> markPoints{1, 1, 1, 1, 1};
    std::array<uint32_t, kMaxChannels> traceColour{kRed, kRed, kRed, kRed, kRed};
    std::array<uint8_t, kMaxChannels> traceAxis{}; // 0 = left, 1 = right
    uint32_t backgroundColour = kDefaultBackground;
    uint32_t gridColour = kDefaultGrid;
    uint8_t gridVisible = 1;
    uint8_t verticalAxisVisible = 1;
    ScaleMode scaleMode = ScaleMode::Unset;
    float customMin = 0;
    float customMax = 0;
    float autoMin = 0;
    float autoMax = 0;
    double axisMin = 0; // bottom of the full (unzoomed) view
    double axisMax = 0; // top of the full view
};

struct PlotRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;

    int32_t width() const { return right - left; }
    int32_t height() const { return bottom - top; }
    bool operator==(const PlotRect&) const = default;
};

inline constexpr int kTickCount = 11;
inline constexpr int kLiveWindowSlots = 100;
inline constexpr uint32_t kFirstLiveWindow = 100;

// Sample numbers first..last (1-based); empty when last < first.
struct SampleRange {
    int32_t first = 1;
    int32_t last = 0;

    // From the first to the last sample, in sample steps (-1 when empty).
    int64_t span() const { return int64_t{last} - first; }
    int64_t count() const { return std::max<int64_t>(span() + 1, 0); }
    bool operator==(const SampleRange&) const = default;
};

// The values of one vertical axis's 11 tick lines, from the bottom line (0) to the top (10).
struct TickTable {
    std::array<double, kTickCount> values{};

    double bottom() const { return values.front(); }
    double top() const { return values.back(); }
    double step() const { return values[1] - values[0]; }
    // Evenly from `low` at the bottom line to `high` at the top (the full view).
    void Spread(double low, double high);
    // Zoomed: line l shows base + (l + shift) * step.
    void StepFrom(double base, double step, int32_t shift);
    // The value at pixel row `y` of `plot`, whose bottom line shows bottom() and top line top().
    double ValueAtRow(const PlotRect& plot, double y) const;
};

// What a zoom keeps per axis: the value at the zoom rectangle's bottom edge and the value a tenth of its
// height above it, both cut to the scale's decimals. Their difference is one tick step of the zoomed scale.
struct ZoomedScale {
    double base = 0;
    double next = 0;

    double step() const { return next - base; }
};

// Horizontal scrolling of a zoomed trace. The scroll bar's position is the number of the first sample drawn.
struct HorizontalScroll {
    int32_t origin = 0; // samples left of the plot's left side right after the zoom
    int32_t shift = 0;  // samples the trace has been moved right by scrolling since

    int64_t position() const { return int64_t{origin} - shift + 1; }
    void SetPosition(int64_t firstSampleDrawn);
    // Moves the trace `samples` to the right (negative: to the left).
    void MoveTrace(int64_t samples);
};

// Vertical scrolling of a zoomed value scale, in tick steps. range and middle count the tick steps of the
// layout before the zoom; shift counts those of the zoomed scale (the two units differ).
struct VerticalScroll {
    int32_t range = 0;
    int32_t middle = 0;
    int32_t shift = 0; // zoomed tick steps the scale has been scrolled by

    int64_t position() const { return int64_t{range} - middle - shift; }
    void SetPosition(int64_t position);
};

// How many samples a live chart spans: 100 when a recording begins, then 12/11 of the last size (rounded
// down) whenever the newest sample reaches the right side: 100, 109, 118, 128 ... A recording of at most
// 20000 samples uses 63 of the slots.
struct LiveWindow {
    std::array<uint32_t, kLiveWindowSlots> sizes{kFirstLiveWindow};
    uint32_t index = 0;
    bool grew = false; // set by a growth, cleared by the chart's next live update

    uint32_t samples() const { return sizes[std::min<uint32_t>(index, kLiveWindowSlots - 1)]; }
    void Start();
    // After a live sample that lies `shown` samples past the first one laid out. True when it grew.
    bool Grow(int64_t shown);
};

// What the chart computes. The per-sample pixel positions are columns of the document
// (RecordingDocument::xPos / yPos) so they are allocated and released with the samples.
struct ChartLayout {
    SampleRange laidOut;            // always 1 .. the sample count
    double pixelsPerSample = 0;     // in the full view
    std::array<TickTable, 2> ticks; // left (0) and right (1) axis; the right repeats the left
    bool fullView = true;
    std::array<ZoomedScale, 2> zoomScale;
    HorizontalScroll horizontal;
    VerticalScroll vertical;
    MouseMode mouseMode = MouseMode::Zoom;
    LiveWindow liveWindow;
    PlotRect plotRect;     // the plot the pixel positions were computed for
    SampleRange selection; // picked by a drag with Shift held; empty when none
    SampleRange shown;     // the samples the last paint showed inside the plot

    // "Undo Zoom": back to the full view with no scrolling. The vertical range is kept; the next zoom sets
    // it.
    void ResetZoom();
    // After the live sample numbered `sampleCount`: the live window grows once the samples fill it.
    bool GrowLiveWindow(uint32_t sampleCount) {
        return liveWindow.Grow(int64_t{sampleCount} - laidOut.first);
    }
};

struct AutoLimits {
    double low = 0;
    double high = 1;
};

// The auto-scale rule over channel 0's smallest and largest value: a fifth of the span as margin,
// a fifth of the magnitude for constant data, 0..1 for all zeros, and low snapped to 0 when min is
// within a millionth of 0 -- unless that snap would put low at or above high.
AutoLimits ComputeAutoLimits(double min, double max);

// Cuts x to the decimals its magnitude shows on the scale (2 from 1000 up ... 5 below 10), toward zero.
double TruncateForScale(double x);

// Tick label: "%.2f" from 1000 up, "%.3f" from 100, "%.4f" from 10, "%.5f" below.
std::u16string FormatScaleValue(double x);

// The per-channel defaults a live recording or a download applies to its chart.
void ApplyChannelDefaults(ChartSettings& settings);

// The Scale Format dialog's OK: Custom takes the typed limits, Auto the last auto limits; the typed
// limits are kept either way and the zoom is reset. Refuses (false, nothing changed) Custom limits
// with maximum <= minimum.
bool ApplyScale(ChartSettings& settings, ChartLayout& layout, ScaleMode mode, float typedMin, float typedMax);

} // namespace calvora
