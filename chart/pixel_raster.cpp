#include "chart/pixel_raster.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace calvora {

namespace {
int64_t FloorDiv(int64_t n, int64_t d) { // d > 0
    const int64_t q = n / d;
    return (n % d != 0 && n < 0) ? q - 1 : q;
}

// Walks round(start + (i - i0) * num / den) for i = from..to without a division per step: the value
// starts as floor((2 * (from - i0) * num * sign + |den|) / (2 * |den|)) and the remainder carries the rest.
// |num| <= |den|, so one step moves the value by at most one.
class RoundedStepper {
public:
    RoundedStepper(int64_t start, int64_t i0, int64_t from, int64_t num, int64_t den) {
        if (den < 0) {
            num = -num;
            den = -den;
        }
        twiceDen_ = 2 * den;
        step_ = 2 * num;
        const int64_t t = 2 * (from - i0) * num + den;
        const int64_t q = FloorDiv(t, twiceDen_);
        value_ = start + q;
        rest_ = t - q * twiceDen_;
    }
    int64_t value() const { return value_; }
    void Next() {
        rest_ += step_;
        if (rest_ >= twiceDen_) {
            rest_ -= twiceDen_;
            ++value_;
        } else if (rest_ < 0) {
            rest_ += twiceDen_;
            --value_;
        }
    }

private:
    int64_t twiceDen_ = 1;
    int64_t step_ = 0;
    int64_t value_ = 0;
    int64_t rest_ = 0;
};

// A vertical line already cut to the clip: column x, rows from..to.
struct ColumnSpan {
    int x;
    int from;
    int to;
};

// Vertical lines in a window of neighbouring columns, at most one (possibly widened) line per column. The
// image is stored row by row, so a window that mostly covers its rows is written one row at a time, every
// column of the row decided without a branch: far fewer memory pages in use at once than column by
// column, and no mispredicted jumps on ragged line ends. Columns of the window without a line, and pixels
// of a row outside a line, are written back unchanged.
class ColumnWindow {
public:
    using Lanes = int32_t __attribute__((vector_size(16)));
    static constexpr int kLanes = 4;
    static constexpr int kVectors = 2;
    static constexpr int kWidth = kLanes * kVectors;

    explicit ColumnWindow(const PixelBuffer& buffer, uint32_t colour) : buffer_(buffer), colour_(colour) {
        Clear();
    }

    // False when the span needs a window of its own (outside this one, or a column already holding a
    // line it does not touch).
    bool Add(const ColumnSpan& span) {
        if (used_ == 0) {
            left_ = std::max(0, std::min(span.x, buffer_.width - kWidth));
        } else if (span.x < left_ || span.x >= left_ + kWidth) {
            return false;
        }
        const int i = span.x - left_;
        if (from_[i] <= to_[i]) {
            if (span.from > to_[i] + 1 || span.to < from_[i] - 1)
                return false;
            covered_ -= to_[i] - from_[i] + 1;
            from_[i] = std::min(from_[i], span.from);
            to_[i] = std::max(to_[i], span.to);
        } else {
            from_[i] = span.from;
            to_[i] = span.to;
            ++used_;
        }
        covered_ += to_[i] - from_[i] + 1;
        top_ = std::min(top_, from_[i]);
        bottom_ = std::max(bottom_, to_[i]);
        return true;
    }

    // Writes the window's lines and empties it.
    void Flush() {
        if (used_ == 0)
            return;
        const int64_t rows = static_cast<int64_t>(bottom_) - top_ + 1;
        const int width = std::min(kWidth, buffer_.width - left_);
        if (covered_ < rows * 4 || width < kWidth) {
            // Few pixels per row: one column at a time is cheaper than deciding every pixel of each row.
            for (int i = 0; i < width; ++i) {
                for (int y = from_[i]; y <= to_[i]; ++y)
                    buffer_.Row(y)[left_ + i] = colour_;
            }
        } else {
            // Four pixels at a time in the compiler's generic vectors (SSE2 on x86-64, NEON on ARM), so the
            // choice costs the same at every optimisation level.
            Lanes from[kVectors];
            Lanes to[kVectors];
            std::memcpy(from, from_, sizeof from);
            std::memcpy(to, to_, sizeof to);
            const Lanes paint = Lanes{} + static_cast<int32_t>(colour_);
            // Rows that every column's line crosses need no decision: the whole row of the window is painted.
            int fullFrom = INT_MIN;
            int fullTo = INT_MAX;
            for (int i = 0; i < kWidth; ++i) {
                fullFrom = std::max(fullFrom, from_[i]);
                fullTo = std::min(fullTo, to_[i]);
            }
            // Locals, as the stores through the image could otherwise alias this window's members and
            // force them to be read again for every row.
            uint32_t* const bits = buffer_.bits + left_;
            const std::ptrdiff_t stride = buffer_.stride;
            auto blendRows = [&](int firstRow, int lastRow) {
                uint32_t* row = bits + static_cast<std::ptrdiff_t>(firstRow) * stride;
                for (int y = firstRow; y <= lastRow; ++y, row += stride) {
                    const Lanes at = Lanes{} + y;
                    for (int k = 0; k < kVectors; ++k) {
                        Lanes pixels;
                        std::memcpy(&pixels, row + k * kLanes, sizeof pixels);
                        const Lanes inside = (from[k] <= at) & (at <= to[k]);
                        pixels = (pixels & ~inside) | (paint & inside);
                        std::memcpy(row + k * kLanes, &pixels, sizeof pixels);
                    }
                }
            };
            if (fullFrom > fullTo) {
                blendRows(top_, bottom_);
            } else {
                blendRows(top_, fullFrom - 1);
                uint32_t* row = bits + static_cast<std::ptrdiff_t>(fullFrom) * stride;
                for (int y = fullFrom; y <= fullTo; ++y, row += stride) {
                    for (int k = 0; k < kVectors; ++k)
                        std::memcpy(row + k * kLanes, &paint, sizeof paint);
                }
                blendRows(fullTo + 1, bottom_);
            }
        }
        Clear();
    }

private:
    void Clear() {
        std::fill(std::begin(from_), std::end(from_), INT_MAX);
        std::fill(std::begin(to_), std::end(to_), INT_MIN);
        used_ = 0;
        covered_ = 0;
        top_ = INT_MAX;
        bottom_ = INT_MIN;
    }

    PixelBuffer buffer_;
    uint32_t colour_;
    int left_ = 0;
    int from_[kWidth];
    int to_[kWidth];
    int used_ = 0;
    int64_t covered_ = 0;
    int top_ = INT_MAX;
    int bottom_ = INT_MIN;
};
} // namespace

#if defined(__x86_64__) || defined(__i386__)
namespace {
__attribute__((target("avx"))) void ZeroUpperVectorHalves() {
    _mm256_zeroupper();
}
} // namespace
#endif

void ReleaseWideVectorState() {
#if defined(__x86_64__) || defined(__i386__)
    static const bool hasAvx = __builtin_cpu_supports("avx");
    if (hasAvx)
        ZeroUpperVectorHalves();
#endif
}

PixelClip ClipToBuffer(const PixelBuffer& buffer, const PixelClip& clip) {
    return {std::max(clip.left, 0), std::max(clip.top, 0), std::min(clip.right, buffer.width - 1),
            std::min(clip.bottom, buffer.height - 1)};
}

void RasterLine(const PixelBuffer& buffer, const PixelLine& line, uint32_t colour, const PixelClip& area) {
    const PixelClip clip = ClipToBuffer(buffer, area);
    const int64_t dx = static_cast<int64_t>(line.x1) - line.x0;
    const int64_t dy = static_cast<int64_t>(line.y1) - line.y0;
    if (dx == 0) {
        if (line.x0 < clip.left || line.x0 > clip.right)
            return;
        const int from = std::max(std::min(line.y0, line.y1), clip.top);
        const int to = std::min(std::max(line.y0, line.y1), clip.bottom);
        for (int y = from; y <= to; ++y)
            buffer.Row(y)[line.x0] = colour;
        return;
    }
    if (std::llabs(dy) >= std::llabs(dx)) {
        const int from = std::max(std::min(line.y0, line.y1), clip.top);
        const int to = std::min(std::max(line.y0, line.y1), clip.bottom);
        if (from > to)
            return;
        if (IsColumnStep(line)) {
            const StepRuns runs = SplitStep(line);
            for (const PixelLine& run : {runs.start, runs.end}) {
                if (run.x0 < clip.left || run.x0 > clip.right)
                    continue;
                for (int y = std::max(std::min(run.y0, run.y1), from);
                     y <= std::min(std::max(run.y0, run.y1), to); ++y)
                    buffer.Row(y)[run.x0] = colour;
            }
            return;
        }
        RoundedStepper x(line.x0, line.y0, from, dx, dy);
        for (int y = from; y <= to; ++y, x.Next()) {
            if (x.value() >= clip.left && x.value() <= clip.right)
                buffer.Row(y)[x.value()] = colour;
        }
    } else {
        const int from = std::max(std::min(line.x0, line.x1), clip.left);
        const int to = std::min(std::max(line.x0, line.x1), clip.right);
        if (from > to)
            return;
        RoundedStepper y(line.y0, line.x0, from, dy, dx);
        for (int x = from; x <= to; ++x, y.Next()) {
            if (y.value() >= clip.top && y.value() <= clip.bottom)
                buffer.Row(static_cast<int>(y.value()))[x] = colour;
        }
    }
}

void RasterTrace(const PixelBuffer& buffer, const TracePicture& picture, uint32_t colour,
                 const PixelClip& area) {
    const PixelClip clip = ClipToBuffer(buffer, area);
    if (clip.left > clip.right || clip.top > clip.bottom)
        return;
    ColumnWindow window(buffer, colour);
    auto addColumn = [&](const PixelLine& line) {
        if (line.x0 < clip.left || line.x0 > clip.right)
            return;
        const ColumnSpan span{line.x0, std::max(std::min(line.y0, line.y1), clip.top),
                              std::min(std::max(line.y0, line.y1), clip.bottom)};
        if (span.from > span.to)
            return;
        if (!window.Add(span)) {
            window.Flush();
            window.Add(span);
        }
    };
    for (const PixelLine& line : picture.lines) {
        if (line.x0 == line.x1) {
            addColumn(line);
        } else if (IsColumnStep(line)) {
            // Its runs join the columns' lines, so their pixels are written with the window's rows.
            const StepRuns runs = SplitStep(line);
            addColumn(runs.start);
            addColumn(runs.end);
        } else {
            RasterLine(buffer, line, colour, clip);
        }
    }
    window.Flush();
    for (const PixelPoint& centre : picture.markCentres) {
        const int64_t left = std::max<int64_t>(int64_t{centre.x} - 1, clip.left);
        const int64_t right = std::min<int64_t>(int64_t{centre.x} + 1, clip.right);
        for (const int64_t y : {int64_t{centre.y} - 1, int64_t{centre.y} + 1}) {
            if (y < clip.top || y > clip.bottom)
                continue;
            uint32_t* row = buffer.Row(static_cast<int>(y));
            for (int64_t x = left; x <= right; ++x)
                row[x] = colour;
        }
    }
}

void RasterRule(const PixelBuffer& buffer, int x0, int y0, int x1, int y1, uint32_t colour, RuleStyle style) {
    const bool horizontal = y0 == y1;
    if (!horizontal && x0 != x1)
        return;
    // Along the line the coordinate is start + direction * i for i = 0..steps; across it, fixed.
    const int64_t start = horizontal ? x0 : y0;
    const int64_t end = horizontal ? x1 : y1;
    const int across = horizontal ? y0 : x0;
    const int64_t length = horizontal ? buffer.width : buffer.height;
    if (across < 0 || across >= (horizontal ? buffer.height : buffer.width))
        return;
    const int64_t direction = end >= start ? 1 : -1;
    const int64_t steps = std::llabs(end - start);
    // The steps that land inside the buffer.
    int64_t first = direction > 0 ? -start : start - (length - 1);
    int64_t last = direction > 0 ? length - 1 - start : start;
    first = std::max<int64_t>(first, 0);
    last = std::min(last, steps);
    const int64_t gap = style == RuleStyle::Dotted ? 2 : 1;
    first += (gap - first % gap) % gap;
    if (horizontal) {
        uint32_t* row = buffer.Row(across);
        for (int64_t i = first; i <= last; i += gap)
            row[start + direction * i] = colour;
    } else {
        for (int64_t i = first; i <= last; i += gap)
            buffer.Row(static_cast<int>(start + direction * i))[across] = colour;
    }
}

void RasterColumnRules(const PixelBuffer& buffer, const int* xs, size_t count, int from, int to,
                       uint32_t colour, RuleStyle style) {
    if (from > to) {
        // A rule drawn upwards: the same rows, dots counted from the other end.
        std::swap(from, to);
        if (style == RuleStyle::Dotted && (to - from) % 2 != 0)
            ++from;
    }
    const int gap = style == RuleStyle::Dotted ? 2 : 1;
    int first = from;
    if (first < 0)
        first += ((-first + gap - 1) / gap) * gap;
    const int last = std::min(to, buffer.height - 1);
    for (int y = first; y <= last; y += gap) {
        uint32_t* row = buffer.Row(y);
        for (size_t i = 0; i < count; ++i) {
            if (xs[i] >= 0 && xs[i] < buffer.width)
                row[xs[i]] = colour;
        }
    }
}

} // namespace calvora
