// Lines written straight into a 32-bit pixel buffer: the chart's traces, grid lines, frame and tick
// marks. A painter spends most of a paint on these one-pixel lines; here they cost about one store per
// pixel, and the pixels set are those the chart's painter would set.
#pragma once

#include "chart/chart_trace.h"

#include <cstddef>
#include <cstdint>

namespace calvora {

// Rows of `width` pixels, `stride` pixels apart.
struct PixelBuffer {
    uint32_t* bits = nullptr;
    std::ptrdiff_t stride = 0;
    int width = 0;
    int height = 0;

    uint32_t* Row(int y) const { return bits + static_cast<std::ptrdiff_t>(y) * stride; }
};

// Pixels left..right and top..bottom, both ends included. Nothing outside it is written.
struct PixelClip {
    int left = 0;
    int top = 0;
    int right = -1;
    int bottom = -1;

    bool Contains(int x, int y) const { return x >= left && x <= right && y >= top && y <= bottom; }
};

// The clip cut to the buffer.
PixelClip ClipToBuffer(const PixelBuffer& buffer, const PixelClip& clip);

// Every line of the picture, one pixel per step along its longer axis (the ideal line rounded, halves
// towards the larger coordinate, both ends included, the same whichever end it starts from), then the marks.
// The pixels set do not depend on the order of the lines.
void RasterTrace(const PixelBuffer& buffer, const TracePicture& picture, uint32_t colour,
                 const PixelClip& clip);

// One line of the picture alone; used by RasterTrace.
void RasterLine(const PixelBuffer& buffer, const PixelLine& line, uint32_t colour, const PixelClip& clip);

// Clears the upper halves of the AVX registers when the processor has them. Qt's AVX2 fills return with
// those halves in use, and until they are cleared every SSE instruction after them runs several times
// slower (measured here: a trace took 0.53 ms instead of 0.11 ms). Call it after Qt has drawn into an
// image and before the per-sample work.
void ReleaseWideVectorState();

enum class RuleStyle {
    Solid,
    Dotted, // every other pixel, counting from the start point: a one-pixel dash pattern of 1 on, 1 off
};

// A horizontal or vertical line from (x0, y0) to (x1, y1), both ends included, as a one-pixel cosmetic pen
// draws it. Lines that are neither are left undrawn.
void RasterRule(const PixelBuffer& buffer, int x0, int y0, int x1, int y1, uint32_t colour, RuleStyle style);

// Vertical rules at the columns `xs`, all from row `from` to row `to` (both included, dots counted from
// `from`): the same pixels as one RasterRule each, written a row at a time across all of them, which keeps
// the walk along memory instead of down every column in turn.
void RasterColumnRules(const PixelBuffer& buffer, const int* xs, size_t count, int from, int to,
                       uint32_t colour, RuleStyle style);

} // namespace calvora
