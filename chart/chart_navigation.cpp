#include "chart/chart_navigation.h"

#include "protocol/formatters.h"
#include "protocol/text.h"
#include "recording/recording_document.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

namespace calvora {

namespace {
// Integer part of a double, kept inside the 32-bit range; 0 for a value that is not a number.
int64_t IntegerPart(double value) {
    if (std::isnan(value))
        return 0;
    constexpr double kLimit = 2.0e9;
    return static_cast<int64_t>(std::trunc(std::clamp(value, -kLimit, kLimit)));
}

int32_t ClampToInt32(int64_t value) {
    return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}
} // namespace

// --------------------------------------------------------------------------- zoom

DragRect NormalisedDrag(int x0, int y0, int x1, int y1) {
    return {std::min(x0, x1), std::min(y0, y1), std::max(x0, x1), std::max(y0, y1)};
}

namespace {
int StepRows(const DragRect& drag) {
    return (drag.bottom - drag.top) / 10;
}
} // namespace

ZoomVerdict CheckZoom(const RecordingDocument& document, const PlotRect& plot, const DragRect& drag) {
    const SampleAxis axis = SampleAxisOf(document);
    if (document.sampleCount() < 2 || !(axis.dx > 0))
        return ZoomVerdict::TooFewSamples;
    if (drag.right - drag.left <= 3 || drag.bottom - drag.top <= 3)
        return ZoomVerdict::TooSmall;
    const TickTable& ticks = document.layout.ticks[0];
    const double low = ticks.ValueAtRow(plot, drag.bottom);
    const double step = ticks.ValueAtRow(plot, drag.bottom - StepRows(drag));
    if (!(step - low >= 0.00001))
        return ZoomVerdict::StepTooFine;
    const double newDx = plot.width() * axis.dx / (drag.right - drag.left);
    if (!(plot.width() > newDx))
        return ZoomVerdict::UnderOneSample;
    return ZoomVerdict::Zoom;
}

ZoomScroll ApplyZoom(RecordingDocument& document, const PlotRect& plot, const DragRect& drag) {
    ChartLayout& layout = document.layout;
    const ChartSettings& settings = document.settings;

    // The vertical range and middle count tick steps of the layout before this zoom.
    const TickTable& before = layout.ticks[0];
    const double tickStep = before.step();
    if (tickStep != 0) {
        layout.vertical.middle = ClampToInt32(IntegerPart((before.values[5] - settings.axisMin) / tickStep));
        layout.vertical.range = ClampToInt32(IntegerPart((settings.axisMax - settings.axisMin) / tickStep));
    } else {
        layout.vertical.middle = 0;
        layout.vertical.range = 0;
    }
    for (size_t a = 0; a < layout.zoomScale.size(); ++a) {
        const TickTable& ticks = layout.ticks[a];
        layout.zoomScale[a] = {TruncateForScale(ticks.ValueAtRow(plot, drag.bottom)),
                               TruncateForScale(ticks.ValueAtRow(plot, drag.bottom - StepRows(drag)))};
    }
    const double scale = static_cast<double>(plot.width()) / (drag.right - drag.left);
    const int channels = document.channelCount();
    for (uint32_t row = 0; row < document.sampleCount(); ++row) {
        for (int c = 0; c < channels; ++c)
            document.SetXPos(row, c, plot.left + scale * (document.xPos(row, c) - drag.left));
    }
    layout.fullView = false;
    layout.vertical.shift = 0;

    const SampleAxis axis = SampleAxisOf(document);
    HorizontalScroll& horizontal = layout.horizontal;
    if (axis.dx > 0) {
        const double origin = (plot.left - (axis.x0 + horizontal.shift * axis.dx)) / axis.dx;
        horizontal.origin = ClampToInt32(IntegerPart(origin) + horizontal.shift);
    }

    ZoomScroll scroll;
    scroll.horizontal.maximum = layout.laidOut.count();
    scroll.horizontal.position = horizontal.position();
    scroll.vertical.maximum = layout.vertical.range;
    scroll.vertical.position = layout.vertical.position();
    return scroll;
}

// --------------------------------------------------------------------------- scrolling

int64_t ScrollHorizontally(ScrollRequest request, int64_t p, int64_t sampleCount, int64_t page,
                           int64_t thumb) {
    switch (request) {
    case ScrollRequest::LineBack:
        return p > 0 ? p - 1 : p;
    case ScrollRequest::LineForward:
        return p < sampleCount ? p + 1 : p;
    case ScrollRequest::PageBack:
        return p > page ? p - page : 0;
    case ScrollRequest::PageForward:
        return p < sampleCount - page ? p + page : sampleCount;
    case ScrollRequest::Track:
        return thumb;
    }
    return p;
}

int64_t HorizontalPageSamples(const SampleAxis& axis, const PlotRect& plot) {
    if (!(axis.dx > 0))
        return 1;
    return IntegerPart(plot.width() / axis.dx) + 1;
}

int64_t TrackFromMouse(int64_t count, int mouseX, const PlotRect& plot) {
    if (mouseX < plot.left + 30)
        return 0;
    if (mouseX > plot.right - 30)
        return count;
    const int usable = plot.width() - 60;
    if (usable <= 0)
        return 0;
    return static_cast<int64_t>(static_cast<double>(mouseX - plot.left - 30) / usable *
                                static_cast<double>(count));
}

int64_t ScrollVertically(ScrollRequest request, int64_t q, int64_t range, int64_t thumb) {
    switch (request) {
    case ScrollRequest::LineBack:
        return q > 0 ? q - 1 : q;
    case ScrollRequest::LineForward:
        return q < range ? q + 1 : q;
    case ScrollRequest::PageBack:
        return q > 10 ? q - 10 : 0;
    case ScrollRequest::PageForward:
        return q < range - 10 ? q + 10 : range;
    case ScrollRequest::Track:
        return thumb;
    }
    return q;
}

std::optional<int64_t> WheelScroll(ChartLayout& layout, int64_t sampleCount, int delta) {
    if (layout.fullView || delta == 0)
        return std::nullopt;
    const int64_t p = layout.horizontal.position();
    if (!(p > 0 && p < sampleCount))
        return std::nullopt;
    layout.horizontal.MoveTrace(delta > 0 ? 1 : -1);
    return layout.horizontal.position();
}

bool FarOutsidePlot(const PlotRect& plot, int x, int y) {
    return y >= plot.bottom + 50 || y <= plot.top - 50 || x >= plot.right + 50 || x <= plot.left - 50;
}

// --------------------------------------------------------------------------- cursor

SampleRange SamplesBetween(const RecordingDocument& document, double x0, double x1) {
    const int64_t count = document.sampleCount();
    if (count == 0)
        return {};
    const double left = std::min(x0, x1);
    const double right = std::max(x0, x1);
    const SampleAxis axis = SampleAxisOf(document);
    if (!(axis.dx > 0)) {
        const double x = axis.X(1);
        return x >= left && x <= right ? SampleRange{1, 1} : SampleRange{};
    }
    // x(n) = x0 + (shift + n - 1) dx, solved for the first n at or right of `left` and the last at or left of
    // `right`; a hair of slack keeps a sample that lies on a side.
    constexpr double kSlack = 1e-9;
    const double base = 1.0 - axis.shift;
    const double first = std::ceil((left - axis.x0) / axis.dx + base - kSlack);
    const double last = std::floor((right - axis.x0) / axis.dx + base + kSlack);
    const double lo = std::max(first, 1.0);
    const double hi = std::min(last, static_cast<double>(count));
    if (!(lo <= hi))
        return {};
    return {static_cast<int32_t>(lo), static_cast<int32_t>(hi)};
}

SampleRange ShownSamples(const RecordingDocument& document, const PlotRect& plot) {
    return SamplesBetween(document, plot.left, plot.right);
}

std::optional<CursorPick> CursorSample(const RecordingDocument& document, int mouseX) {
    const int64_t count = document.sampleCount();
    const SampleAxis axis = SampleAxisOf(document);
    if (count < 2 || !(axis.dx > 0))
        return std::nullopt;
    int64_t u = IntegerPart((mouseX - axis.x0) / axis.dx) - axis.shift;
    double xs = axis.X(u + 1);
    if (mouseX - xs > axis.dx / 2 && u < static_cast<int64_t>(document.layout.laidOut.last) - 1) {
        xs += axis.dx;
        ++u;
    }
    if (u >= count - 1) {
        u = count - 1;
        xs = axis.X(u + 1);
    }
    // Left of the first sample (a zoomed trace scrolled right): the first sample, as the last one is
    // taken right of the trace.
    if (u < 0) {
        u = 0;
        xs = axis.X(1);
    }
    return CursorPick{static_cast<uint32_t>(u), xs};
}

int NearestChannel(const RecordingDocument& document, uint32_t row, double y) {
    int best = 0;
    double bestDistance = std::numeric_limits<double>::infinity();
    for (int c = 0; c < document.channelCount(); ++c) {
        const double distance = std::fabs(document.yPos(row, c) - y);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = c;
        }
    }
    return best;
}

std::array<std::u16string, kReadoutTexts> ReadoutTexts(const RecordingDocument& document, uint32_t row,
                                                       int channel) {
    std::array<std::u16string, kReadoutTexts> texts;
    texts[kReadoutNumber] = fromAscii(std::to_string(static_cast<uint64_t>(row) + 1));
    texts[kReadoutChannel] = std::u16string(document.functionName(row));
    texts[kReadoutFunction] = std::u16string(document.mode(row));
    texts[kReadoutValue] = FormatStoredValue(document.value(row, channel), document.fullScale(row, channel),
                                             document.lowLimit(row)) +
                           std::u16string(document.unit(row));
    texts[kReadoutTime] = std::u16string(document.timeText(row));
    return texts;
}

} // namespace calvora
