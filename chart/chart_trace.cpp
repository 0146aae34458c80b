#include "chart/chart_trace.h"

#include "chart/chart_layout.h"
#include "recording/recording_document.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace calvora {

namespace {
// Pixel coordinates beyond this are far outside any plot; segments are cut there before they become ints.
constexpr double kFar = 1 << 20;
} // namespace

PlotRect PlotFromClient(int width, int height) {
    return {kPlotInsetLeft, kPlotInsetTop, width - kPlotInsetRight, height - kPlotInsetBottom};
}

bool IsPlotValid(const PlotRect& plot) {
    return plot.width() > 0 && plot.height() > 0;
}

SampleAxis SampleAxisOf(const RecordingDocument& document) {
    SampleAxis axis;
    axis.shift = document.layout.horizontal.shift;
    if (document.sampleCount() == 0)
        return axis;
    axis.x0 = document.xPos(0, 0);
    if (document.sampleCount() >= 2)
        axis.dx = document.xPos(1, 0) - axis.x0;
    return axis;
}

DrawRange VisibleSamples(const ChartLayout& layout, const SampleAxis& axis, const PlotRect& plot) {
    DrawRange range;
    range.first = layout.horizontal.position();
    const double across = axis.dx > 0 ? std::floor(plot.width() / axis.dx) : 0;
    range.end = range.first + static_cast<int64_t>(std::min(across, 1.0e9)) + 2;
    return range;
}

SampleRange ShownSamples(const RecordingDocument& document) {
    const auto count = static_cast<int32_t>(std::min<uint32_t>(document.sampleCount(), INT32_MAX));
    const SampleAxis axis = SampleAxisOf(document);
    const PlotRect& plot = document.layout.plotRect;
    if (document.layout.fullView || !(axis.dx > 0) || !IsPlotValid(plot))
        return {1, count};
    // x(n) = x0 + (shift + n - 1) * dx, solved for the sides.
    const double first = std::ceil((plot.left - axis.x0) / axis.dx - axis.shift + 1);
    const double last = std::floor((plot.right - axis.x0) / axis.dx - axis.shift + 1);
    return {static_cast<int32_t>(std::clamp(first, 1.0, double(count) + 1)),
            static_cast<int32_t>(std::clamp(last, 0.0, double(count)))};
}

int64_t GridStep(double dx, double width) {
    if (!(dx > 0) || !(width > 0))
        return 1;
    const double target = width / 8;
    int64_t k = static_cast<int64_t>(std::clamp(std::ceil(target / dx), 1.0, 1.0e12));
    // The division may land one off either way; settle on the smallest k that reaches the target.
    while (k > 1 && static_cast<double>(k - 1) * dx >= target)
        --k;
    while (static_cast<double>(k) * dx < target)
        ++k;
    return k;
}

int ValueTickY(const PlotRect& plot, int l) {
    return plot.top + static_cast<int>(static_cast<double>(plot.height()) / 10 * l);
}

std::optional<PixelLine> SegmentPixels(double x0, double y0, double x1, double y1) {
    if (std::isnan(x0) || std::isnan(y0) || std::isnan(x1) || std::isnan(y1))
        return std::nullopt;
    // Casting truncates toward zero.
    auto pixel = [](double v) { return static_cast<int>(std::clamp(v, -kFar, kFar)); };
    if (std::fabs(x0) <= kFar && std::fabs(y0) <= kFar && std::fabs(x1) <= kFar && std::fabs(y1) <= kFar)
        return PixelLine{pixel(x0), pixel(y0), pixel(x1), pixel(y1)};
    // An infinite end keeps its column and lies far beyond the plot in its direction.
    auto tame = [](double& v) {
        if (std::isinf(v))
            v = std::copysign(kFar * 4, v);
    };
    tame(x0);
    tame(y0);
    tame(x1);
    tame(y1);
    // Liang-Barsky against the square of +-kFar, so a cut end stays on the segment's own line.
    double t0 = 0;
    double t1 = 1;
    const double dx = x1 - x0;
    const double dy = y1 - y0;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {x0 + kFar, kFar - x0, y0 + kFar, kFar - y0};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0) {
            if (q[i] < 0)
                return std::nullopt;
            continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0)
            t0 = std::max(t0, t);
        else
            t1 = std::min(t1, t);
    }
    if (t0 > t1)
        return std::nullopt;
    const double ax = t0 > 0 ? x0 + t0 * dx : x0;
    const double ay = t0 > 0 ? y0 + t0 * dy : y0;
    const double bx = t1 < 1 ? x0 + t1 * dx : x1;
    const double by = t1 < 1 ? y0 + t1 * dy : y1;
    return PixelLine{pixel(ax), pixel(ay), pixel(bx), pixel(by)};
}

bool SegmentOutsidePlot(const PixelLine& s, const PlotRect& plot) {
    return (s.y0 < plot.top && s.y1 < plot.top) || (s.y0 > plot.bottom && s.y1 > plot.bottom) ||
           (s.x0 <= plot.left && s.x1 <= plot.left) || (s.x0 >= plot.right && s.x1 >= plot.right);
}

bool SegmentCrosses(const PixelLine& s, int lineY) {
    return (s.y0 < lineY && s.y1 > lineY) || (s.y0 > lineY && s.y1 < lineY);
}

bool IsColumnStep(const PixelLine& segment) {
    return std::llabs(static_cast<int64_t>(segment.x1) - segment.x0) == 1;
}

StepRuns SplitStep(const PixelLine& step) {
    const bool forward = step.x1 > step.x0;
    const int leftX = forward ? step.x0 : step.x1;
    const int leftY = forward ? step.y0 : step.y1;
    const int rightY = forward ? step.y1 : step.y0;
    PixelLine left{leftX, leftY, leftX, leftY};
    PixelLine right{leftX + 1, rightY, leftX + 1, rightY};
    if (leftY != rightY) {
        // Rows less than half the height from the left end; the row exactly halfway rounds to the right.
        const int near = static_cast<int>((std::llabs(static_cast<int64_t>(rightY) - leftY) - 1) / 2);
        const int toward = leftY < rightY ? 1 : -1;
        left.y1 = leftY + toward * near;
        right.y0 = left.y1 + toward;
    }
    return forward ? StepRuns{left, right} : StepRuns{right, left};
}

// --------------------------------------------------------------------------- traces

namespace {
using DoublePair = double __attribute__((vector_size(16)));

// Samples first..stop-1 of a one-channel column widen [low, high] when every one of them lies between the
// plot's top and bottom lines; then returns stop. Otherwise returns first and leaves the bounds alone, for
// the caller to go sample by sample. Two values at a time in the compiler's generic vectors. Used only with
// the plot's top at row 0 or lower on the screen: int() of a value inside is then its floor, so the pixel
// rows follow from the smallest and largest value.
int64_t WidenColumnRun(const double* ys, int64_t first, int64_t stop, double top, double below, int& low,
                       int& high) {
    if (first >= stop)
        return first;
    // y * 0 is 0 for every finite value and NaN for NaN and infinities, so the sum says whether all were
    // finite.
    DoublePair smallest = DoublePair{} + ys[first];
    DoublePair largest = smallest;
    DoublePair poison = DoublePair{};
    int64_t m = first;
    for (; m + 2 <= stop; m += 2) {
        DoublePair y;
        std::memcpy(&y, ys + m, sizeof y);
        smallest = y < smallest ? y : smallest;
        largest = y > largest ? y : largest;
        poison += y * 0.0;
    }
    double lowest = std::min(smallest[0], smallest[1]);
    double highest = std::max(largest[0], largest[1]);
    double finite = poison[0] + poison[1];
    for (; m < stop; ++m) {
        lowest = std::min(lowest, ys[m]);
        highest = std::max(highest, ys[m]);
        finite += ys[m] * 0.0;
    }
    if (!(finite == 0 && lowest >= top && highest < below))
        return first;
    low = std::min(low, static_cast<int>(lowest));
    high = std::max(high, static_cast<int>(highest));
    return stop;
}

// A vertical line grown to cover the rows of `by` as well.
void WidenColumn(PixelLine& line, const PixelLine& by) {
    const int low = std::min({line.y0, line.y1, by.y0, by.y1});
    const int high = std::max({line.y0, line.y1, by.y0, by.y1});
    line.y0 = low;
    line.y1 = high;
}
} // namespace

TraceBuilder::TraceBuilder(const RecordingDocument& document, const SampleAxis& axis, const PlotRect& plot,
                           int channel, TraceDrawing drawing, int& rememberedX, TracePicture& out)
    : document_(document), axis_(axis), plot_(plot), channel_(channel),
      merge_(drawing == TraceDrawing::Merged),
      marks_(channel >= 0 && channel < kMaxChannels && document.settings.markPoints[channel] != 0),
      rememberedX_(rememberedX), out_(out) {
}

bool TraceBuilder::Add(int64_t n) {
    if (n <= 0 || n >= static_cast<int64_t>(document_.sampleCount()))
        return false;
    const auto row = static_cast<uint32_t>(n - 1);
    const std::optional<PixelLine> segment = SegmentPixels(axis_.X(n), document_.yPos(row, channel_),
                                                           axis_.X(n + 1), document_.yPos(row + 1, channel_));
    return segment && AddPixels(n, *segment);
}

bool TraceBuilder::AddPixels(int64_t n, const PixelLine& s) {
    if (SegmentOutsidePlot(s, plot_))
        return false;
    // The line of the column this segment starts in, when the previous segment ended there.
    PixelLine* column = merge_ && lastAdded_ == n - 1 && !out_.lines.empty() &&
                                out_.lines.back().x0 == s.x0 && out_.lines.back().x1 == s.x0
                            ? &out_.lines.back()
                            : nullptr;
    if (merge_ && IsColumnStep(s)) {
        // A step to the neighbouring column: its run in this column widens the column's line and its run in
        // the next one starts that column's line, so a dense trace is one vertical line per column.
        const StepRuns runs = SplitStep(s);
        const bool touches = column &&
                             std::max(runs.start.y0, runs.start.y1) >= std::min(column->y0, column->y1) - 1 &&
                             std::min(runs.start.y0, runs.start.y1) <= std::max(column->y0, column->y1) + 1;
        if (touches)
            WidenColumn(*column, runs.start);
        else
            out_.lines.push_back(runs.start);
        out_.lines.push_back(runs.end);
    } else if (column && s.x0 == s.x1) {
        WidenColumn(*column, s);
    } else {
        out_.lines.push_back(s);
    }
    lastAdded_ = n;

    if (marks_ && s.x0 != rememberedX_)
        AddMarks(s);
    return true;
}

void TraceBuilder::AddMarks(const PixelLine& s) {
    out_.markCentres.push_back({s.x0, s.y0});
    out_.markCentres.push_back({s.x1, s.y1});
    rememberedX_ = s.x0;
}

void TraceBuilder::AddRange(const DrawRange& range) {
    const int64_t first = std::max<int64_t>(range.first, 1);
    const int64_t end = std::min<int64_t>(range.end, document_.sampleCount());
    if (first >= end)
        return;
    // Rows 0..end-1 are read. When they are all allocated the column is read directly instead of
    // through the range-checked accessor.
    const double* column = document_.yPosColumn();
    const bool direct = column != nullptr && channel_ >= 0 && channel_ < document_.columnStride() &&
                        end <= static_cast<int64_t>(document_.rowCapacity());
    const auto stride = static_cast<size_t>(direct ? document_.columnStride() : 0);
    const double* ys = direct ? column + channel_ : nullptr;
    auto yAt = [&](int64_t row) {
        return direct ? ys[static_cast<size_t>(row) * stride]
                      : document_.yPos(static_cast<uint32_t>(row), channel_);
    };
    // Each sample's pixel is worked out once and serves as the end of one segment and the start of the next.
    auto near = [](double x, double y) { return std::fabs(x) <= kFar && std::fabs(y) <= kFar; };
    const double samplesPerPixel = 1 / axis_.dx;
    double x0 = axis_.X(first);
    double y0 = yAt(first - 1);
    for (int64_t n = first; n < end; ++n) {
        const double x1 = axis_.X(n + 1);
        const double y1 = yAt(n);
        if (near(x0, y0) && near(x1, y1)) {
            const PixelLine s{static_cast<int>(x0), static_cast<int>(y0), static_cast<int>(x1),
                              static_cast<int>(y1)};
            // The common case of many samples per column: a vertical segment continuing the column's line
            // only widens it, and adds no marks once that column is the remembered one.
            PixelLine* line =
                merge_ && s.x0 == s.x1 && lastAdded_ == n - 1 && (!marks_ || s.x0 == rememberedX_)
                    ? &out_.lines.back()
                    : nullptr;
            if (line && line->x0 == s.x0 && line->x1 == s.x0 && !SegmentOutsidePlot(s, plot_)) {
                WidenColumn(*line, s);
                lastAdded_ = n;
            } else {
                AddPixels(n, s);
            }
        } else if (const std::optional<PixelLine> segment = SegmentPixels(x0, y0, x1, y1)) {
            AddPixels(n, *segment);
        }
        x0 = x1;
        y0 = y1;

        // The rest of this column's run, while every sample stays between the plot's top and bottom
        // lines: each segment then lies inside the plot and only widens the column's line, so the
        // line's ends are kept in locals and written once when the run ends.
        if (!direct || !merge_ || lastAdded_ != n || out_.lines.empty())
            continue;
        const PixelLine& last = out_.lines.back();
        const int cx = last.x0;
        // The run's first segment starts at sample n + 1, which must be the unclipped end of segment n.
        if (last.x1 != cx || cx <= plot_.left || cx >= plot_.right || !near(x0, y0) ||
            static_cast<int>(x0) != cx)
            continue;
        // X never decreases along the samples when dx > 0, so the run's last segment in this column is
        // found from an estimate checked against X itself, leaving only the values to read per sample.
        if (!(axis_.dx > 0) || !std::isfinite(axis_.dx))
            continue;
        auto inColumn = [&](int64_t m) {
            const double x = axis_.X(m + 1);
            return std::fabs(x) <= kFar && static_cast<int>(x) == cx;
        };
        // A rough guess is enough (the loops below settle it), so a multiplication stands in for the
        // division and the whole part plus one for the ceiling (which has no single instruction on plain
        // x86-64 and sat on the way of every column).
        const double guess = (cx + 1 - axis_.x0) * samplesPerPixel - axis_.shift;
        int64_t stop = guess > static_cast<double>(n + 1) && guess < static_cast<double>(end)
                           ? static_cast<int64_t>(guess) + 1
                           : (guess >= static_cast<double>(end) ? end : n + 1);
        while (stop > n + 1 && !inColumn(stop - 1))
            --stop;
        while (stop < end && inColumn(stop))
            ++stop;
        int low = std::min(last.y0, last.y1);
        int high = std::max(last.y0, last.y1);
        int64_t m = n + 1;
        if (stride == 1 && plot_.top >= 0)
            m = WidenColumnRun(ys, m, stop, plot_.top, plot_.bottom + 1.0, low, high);
        for (; m < stop; ++m) {
            const double y = ys[static_cast<size_t>(m) * stride];
            if (!(std::fabs(y) <= kFar))
                break;
            const int py = static_cast<int>(y);
            if (py < plot_.top || py > plot_.bottom)
                break;
            low = std::min(low, py);
            high = std::max(high, py);
        }
        if (m > n + 1) {
            // The run's first segment is the first in this column when the column is not yet the
            // remembered one (it was entered by a step): it marks both its ends, as AddPixels would.
            if (marks_ && cx != rememberedX_)
                AddMarks({cx, static_cast<int>(y0), cx,
                          static_cast<int>(ys[static_cast<size_t>(n + 1) * stride])});
            PixelLine& line = out_.lines.back();
            line.y0 = low;
            line.y1 = high;
            lastAdded_ = m - 1;
            n = m - 1;
            x0 = axis_.X(m);
            y0 = ys[static_cast<size_t>(m - 1) * stride];
        }
    }
}

// --------------------------------------------------------------------------- live update

LivePlan PlanLiveUpdate(RecordingDocument& document, const PlotRect& plot, bool dragMoved, bool& vScrolled,
                        std::u16string& lastFunction) {
    LivePlan plan;
    const uint32_t count = document.sampleCount();
    if (count == 0)
        return plan;
    LayoutSamples(document, plot);
    ChartLayout& layout = document.layout;
    const SampleAxis axis = SampleAxisOf(document);
    const double previousX = axis.X(count - 1);

    if (dragMoved)
        return plan;
    if (!layout.fullView) {
        if (document.liveActive && previousX >= plot.right) {
            if (vScrolled)
                vScrolled = false;
            else
                layout.horizontal.MoveTrace(-1);
        }
        plan.horizontalPosition = layout.horizontal.position();
        plan.action = LiveAction::Redraw;
        return plan;
    }
    if (layout.liveWindow.grew) {
        layout.liveWindow.grew = false;
        plan.action = LiveAction::Redraw;
        return plan;
    }
    if (count < 3) {
        plan.action = LiveAction::Redraw;
        return plan;
    }
    const std::u16string_view function = document.functionName(count - 1);
    if (function != lastFunction) {
        lastFunction = std::u16string(function);
        plan.action = LiveAction::Redraw;
        return plan;
    }
    const std::optional<PixelLine> newest = SegmentPixels(axis.X(count - 1), document.yPos(count - 2, 0),
                                                          axis.X(count), document.yPos(count - 1, 0));
    if (!newest || SegmentCrosses(*newest, plot.top) || SegmentCrosses(*newest, plot.bottom)) {
        plan.action = LiveAction::Redraw;
        return plan;
    }
    plan.action = LiveAction::DrawNewestSegment;
    return plan;
}

} // namespace calvora
