#include "chart/model/chart_model.h"

#include "protocol/text.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
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

namespace {
int32_t ClampToInt32(int64_t value) {
    return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}
} // namespace

void TickTable::Spread(double low, double high) {
    for (int l = 0; l < kTickCount; ++l)
        values[static_cast<size_t>(l)] = low + (high - low) / 10 * l;
}

void TickTable::StepFrom(double base, double step, int32_t shift) {
    for (int l = 0; l < kTickCount; ++l)
        values[static_cast<size_t>(l)] = base + (l + shift) * step;
}

double TickTable::ValueAtRow(const PlotRect& plot, double y) const {
    const double height = plot.height();
    if (height <= 0)
        return bottom();
    return bottom() + (plot.bottom - y) * (top() - bottom()) / height;
}

void HorizontalScroll::SetPosition(int64_t firstSampleDrawn) {
    shift = ClampToInt32(int64_t{origin} + 1 - firstSampleDrawn);
}

void HorizontalScroll::MoveTrace(int64_t samples) {
    shift = ClampToInt32(int64_t{shift} + samples);
}

void VerticalScroll::SetPosition(int64_t position) {
    shift = ClampToInt32(int64_t{range} - middle - position);
}

void LiveWindow::Start() {
    index = 0;
    sizes[0] = kFirstLiveWindow;
}

bool LiveWindow::Grow(int64_t shown) {
    if (index + 1 >= sizes.size() || shown < static_cast<int64_t>(sizes[index]))
        return false;
    sizes[index + 1] = (sizes[index] - 1) * 12 / 11 + 1;
    ++index;
    grew = true;
    return true;
}

void ChartLayout::ResetZoom() {
    fullView = true;
    horizontal = {};
    vertical.middle = 0;
    vertical.shift = 0;
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
    layout.ResetZoom();
    return true;
}

} // namespace calvora
