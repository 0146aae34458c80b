// The chart's per-document model (what the user chose, what the chart computed) and the pure
// numeric rules for its vertical scale. No document or window here: see chart/chart_layout.h.
#pragma once

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

// What the chart computes. The per-sample pixel positions are columns of the document
// (RecordingDocument::xPos / yPos) so they are allocated and released with the samples.
struct ChartLayout {
    int32_t firstSample = 1; // 1-based range laid out
    int32_t lastSample = 0;
    double xStep = 0;
    double tick[2][kTickCount] = {}; // [axis: 0 left, 1 right][0 = bottom ... 10 = top]
    int32_t fullView = 1;
    double zoomBase[2] = {};
    double zoomNext[2] = {};
    int32_t hShift = 0;
    int32_t hOrigin = 0;
    int32_t vShift = 0;
    int32_t vRange = 0;
    int32_t vMid = 0;
    MouseMode mouseMode = MouseMode::Zoom;
    std::array<uint32_t, kLiveWindowSlots> liveWindow{kFirstLiveWindow};
    uint32_t liveWindowIndex = 0;
    int32_t liveWindowGrew = 0;
    PlotRect plotRect;
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

// "Undo Zoom": back to the full view with no scrolling. vRange is kept; the next zoom sets it.
void ResetZoom(ChartLayout& layout);

// Starts the live window of a recording at 100 samples.
void StartLiveWindow(ChartLayout& layout);

// After a live sample: once the trace reaches the right edge the window grows by 12/11
// (100, 109, 118, 128 ...). Returns true when it grew (and sets liveWindowGrew).
bool GrowLiveWindow(ChartLayout& layout, uint32_t sampleCount);

// The per-channel defaults a live recording or a download applies to its chart.
void ApplyChannelDefaults(ChartSettings& settings);

// The Scale Format dialog's OK: Custom takes the typed limits, Auto the last auto limits; the typed
// limits are kept either way and the zoom is reset. Refuses (false, nothing changed) Custom limits
// with maximum <= minimum.
bool ApplyScale(ChartSettings& settings, ChartLayout& layout, ScaleMode mode, float typedMin, float typedMax);

} // namespace calvora
