#include "chart/chart_model.h"

#include "protocol/text.h"

#include <cmath>
#include <cstdio>

namespace calvora {

AutoLimits ComputeAutoLimits(double min, double max) {
    if (min == 0 && max == 0)
        return {0, 1};
    AutoLimits limits;
    if (min != max) {
        const double margin = (max - min) / 5;
        limits = {min - margin, max + margin};
    } else {
        limits = {min - std::fabs(min) / 5, max + std::fabs(max) / 5};
    }
    // Snapping to 0 must not turn the scale upside down (all values just below 0).
    if (min >= -0.000001 && min <= 0.000001 && 0 < limits.high)
        limits.low = 0;
    return limits;
}

namespace {
// Decimals shown on the scale for a magnitude, as a power of ten and as a printf format.
struct ScaleDecimals {
    double factor;
    const char* format;
};

ScaleDecimals DecimalsFor(double x) {
    const double magnitude = std::fabs(x);
    if (magnitude >= 1000)
        return {100, "%.2f"};
    if (magnitude >= 100)
        return {1000, "%.3f"};
    if (magnitude >= 10)
        return {10000, "%.4f"};
    return {100000, "%.5f"};
}
} // namespace

double TruncateForScale(double x) {
    const double factor = DecimalsFor(x).factor;
    return std::trunc(x * factor) / factor;
}

std::u16string FormatScaleValue(double x) {
    char buffer[400]; // "%.2f" of the largest double needs 312 characters
    std::snprintf(buffer, sizeof buffer, DecimalsFor(x).format, x);
    return fromAscii(buffer);
}

void ResetZoom(ChartLayout& layout) {
    layout.fullView = 1;
    layout.hShift = 0;
    layout.hOrigin = 0;
    layout.vShift = 0;
    layout.vMid = 0;
}

void StartLiveWindow(ChartLayout& layout) {
    layout.liveWindowIndex = 0;
    layout.liveWindow[0] = kFirstLiveWindow;
}

bool GrowLiveWindow(ChartLayout& layout, uint32_t sampleCount) {
    const uint32_t index = layout.liveWindowIndex;
    if (index + 1 >= layout.liveWindow.size())
        return false;
    const int64_t shown = static_cast<int64_t>(sampleCount) - layout.firstSample;
    if (shown < static_cast<int64_t>(layout.liveWindow[index]))
        return false;
    layout.liveWindow[index + 1] = (layout.liveWindow[index] - 1) * 12 / 11 + 1;
    layout.liveWindowIndex = index + 1;
    layout.liveWindowGrew = 1;
    return true;
}

void ApplyChannelDefaults(ChartSettings& settings) {
    settings.traceVisible.fill(1);
    settings.alarmHigh.fill(1);
    settings.alarmLow.fill(1);
    settings.markPoints.fill(1);
    settings.traceColour.fill(kRed);
    settings.traceAxis[0] = 0;
    settings.gridVisible = 1;
    settings.verticalAxisVisible = 1;
}

bool ApplyScale(ChartSettings& settings, ChartLayout& layout, ScaleMode mode, float typedMin,
                float typedMax) {
    if (mode == ScaleMode::Custom && !(typedMax > typedMin))
        return false;
    settings.scaleMode = mode;
    settings.customMin = typedMin;
    settings.customMax = typedMax;
    if (mode == ScaleMode::Custom) {
        settings.axisMin = typedMin;
        settings.axisMax = typedMax;
    } else {
        settings.axisMin = settings.autoMin;
        settings.axisMax = settings.autoMax;
    }
    ResetZoom(layout);
    return true;
}

} // namespace calvora
