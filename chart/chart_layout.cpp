#include "chart/chart_layout.h"

#include "recording/recording_document.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace calvora {

namespace {
// Rows (0-based) that the layout covers: the laid-out samples cut to the samples held.
struct RowRange {
    uint32_t first = 0;
    uint32_t end = 0;
};

RowRange LaidOutRows(const RecordingDocument& document) {
    const SampleRange& laidOut = document.layout.laidOut;
    const int64_t first = std::max<int64_t>(laidOut.first, 1);
    const int64_t last = std::min<int64_t>(laidOut.last, document.sampleCount());
    if (last < first)
        return {};
    return {static_cast<uint32_t>(first - 1), static_cast<uint32_t>(last)};
}

// Value to pixel row for one axis, with the division done once per layout rather than per sample.
struct ValueToY {
    ValueToY(double bottom, double height, double lo, double hi)
        // A zero span only happens before any limits were set; keep the points on the bottom line.
        : bottom(bottom), lo(lo), pixelsPerUnit(hi - lo == 0 ? 0 : height / (hi - lo)) {}
    double operator()(float value) const {
        return bottom - (static_cast<double>(value) - lo) * pixelsPerUnit;
    }

    double bottom;
    double lo;
    double pixelsPerUnit;
};
} // namespace

void LayoutSamples(RecordingDocument& document, const PlotRect& plot) {
    if (document.sampleCount() == 0)
        return;
    ChartLayout& layout = document.layout;
    const ChartSettings& settings = document.settings;
    const double width = plot.width();
    const double height = plot.height();

    if (document.liveActive) {
        const uint32_t window = layout.liveWindow.samples();
        layout.pixelsPerSample = window > 1 ? width / (window - 1) : width;
    } else {
        const int64_t span = layout.laidOut.span();
        layout.pixelsPerSample = span > 0 ? width / static_cast<double>(span) : width;
    }

    if (!layout.fullView)
        return;
    for (TickTable& ticks : layout.ticks)
        ticks.Spread(settings.axisMin, settings.axisMax);
    const ValueToY toY[2] = {{double(plot.bottom), height, layout.ticks[0].bottom(), layout.ticks[0].top()},
                             {double(plot.bottom), height, layout.ticks[1].bottom(), layout.ticks[1].top()}};
    const RowRange rows = LaidOutRows(document);
    // Cells past the allocated rows or channels hold nothing to lay out (SetXPos would ignore them),
    // so the loops below can index the columns directly.
    const uint32_t end = std::min(rows.end, document.rowCapacity());
    const int stride = document.columnStride();
    const int channels = std::min<int>(document.channelCount(), stride);
    if (rows.first >= end || channels <= 0)
        return;
    const float* values = document.valueColumn();
    double* xs = document.xPosColumn();
    double* ys = document.yPosColumn();
    const double left = plot.left;
    const double xStep = layout.pixelsPerSample;
    const uint32_t count = end - rows.first;
    if (stride == 1 && count <= static_cast<uint32_t>(INT32_MAX)) {
        const ValueToY y0 = toY[0];
        const float* v = values + rows.first;
        double* x = xs + rows.first;
        double* y = ys + rows.first;
        // Two rows at a time in the compiler's generic vectors, whatever the optimisation level; the same
        // arithmetic as one row at a time, so the same positions.
        using Pair = double __attribute__((vector_size(16)));
        const Pair lefts = Pair{} + left;
        const Pair steps = Pair{} + xStep;
        const Pair bottoms = Pair{} + y0.bottom;
        const Pair lows = Pair{} + y0.lo;
        const Pair scales = Pair{} + y0.pixelsPerUnit;
        Pair index = {0.0, 1.0};
        uint32_t i = 0;
        for (; i + 2 <= count; i += 2) {
            const Pair xs2 = lefts + index * steps;
            const Pair values2 = {static_cast<double>(v[i]), static_cast<double>(v[i + 1])};
            const Pair ys2 = bottoms - (values2 - lows) * scales;
            std::memcpy(x + i, &xs2, sizeof xs2);
            std::memcpy(y + i, &ys2, sizeof ys2);
            index += 2.0;
        }
        for (; i < count; ++i) {
            x[i] = left + static_cast<double>(i) * xStep;
            y[i] = y0(v[i]);
        }
        return;
    }
    for (uint32_t row = rows.first; row < end; ++row) {
        const double x = left + static_cast<double>(row - rows.first) * xStep;
        const size_t cell = size_t{row} * static_cast<size_t>(stride);
        for (int c = 0; c < channels; ++c) {
            xs[cell + static_cast<size_t>(c)] = x;
            ys[cell + static_cast<size_t>(c)] = toY[c == 0 ? 0 : 1](values[cell + static_cast<size_t>(c)]);
        }
    }
}

void LayoutZoomed(RecordingDocument& document, const PlotRect& plot) {
    ChartLayout& layout = document.layout;
    // Both axes follow the left axis's zoom.
    const ZoomedScale& zoom = layout.zoomScale[0];
    for (TickTable& ticks : layout.ticks)
        ticks.StepFrom(zoom.base, zoom.step(), layout.vertical.shift);
    const double height = plot.height();
    const ValueToY toY[2] = {{double(plot.bottom), height, layout.ticks[0].bottom(), layout.ticks[0].top()},
                             {double(plot.bottom), height, layout.ticks[1].bottom(), layout.ticks[1].top()}};
    const RowRange rows = LaidOutRows(document);
    const int channels = document.channelCount();
    const PlotRect old = layout.plotRect;
    const bool resized = !(old == plot) && old.width() != 0;
    for (uint32_t row = rows.first; row < rows.end; ++row) {
        for (int c = 0; c < channels; ++c) {
            const int axis = document.settings.traceAxis[c] ? 1 : 0;
            document.SetYPos(row, c, toY[axis](document.value(row, c)));
            if (resized) {
                const double x = document.xPos(row, c);
                document.SetXPos(row, c, (x - old.left) / old.width() * plot.width() + plot.left);
            }
        }
    }
    layout.plotRect = plot;
}

void ApplyNewChartDefaults(RecordingDocument& document) {
    document.SetChannelCount(1);
    document.layout.ResetZoom();
    ApplyChannelDefaults(document.settings);
    document.settings.backgroundColour = kDefaultBackground;
    document.settings.gridColour = kDefaultGrid;
}

void PrepareOpenedDocument(RecordingDocument& document) {
    SetLimitsFromSamples(document);
    document.layout.ResetZoom();
    document.layout.vertical.range = 0;
}

void PrepareRecoveredDocument(RecordingDocument& document) {
    ApplyNewChartDefaults(document);
    SetLimitsFromSamples(document);
}

void SetLimitsFromSamples(RecordingDocument& document) {
    double maximum = -4000;
    double minimum = 4000;
    for (uint32_t row = 0; row < document.sampleCount(); ++row) {
        const double v = document.value(row, 0);
        if (!std::isfinite(v))
            continue;
        maximum = std::max(maximum, v);
        minimum = std::min(minimum, v);
    }
    ChartSettings& settings = document.settings;
    const AutoLimits limits = ComputeAutoLimits(minimum, maximum);
    settings.axisMin = limits.low;
    settings.axisMax = limits.high;
    settings.autoMin = static_cast<float>(limits.low);
    settings.autoMax = static_cast<float>(limits.high);
    document.layout.laidOut = {1,
                               static_cast<int32_t>(std::min<uint32_t>(document.sampleCount(), INT32_MAX))};
}

} // namespace calvora
