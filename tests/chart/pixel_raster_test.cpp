#include "chart/pixel_raster.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

namespace calvora {
namespace {

constexpr uint32_t kPaper = 0xFFFFFFFF;
constexpr uint32_t kInk = 0xFFFF0000;

struct Canvas {
    Canvas(int width, int height) : pixels(static_cast<size_t>(width) * height, kPaper) {
        buffer = {pixels.data(), width, width, height};
    }
    uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * buffer.width + x]; }
    std::vector<uint32_t> pixels;
    PixelBuffer buffer;
};

// The pixels of the ideal line inside the clip, each worked out on its own: along the longer axis every whole
// coordinate from one end to the other, across it start + round(t * delta / length) with halves going to the
// larger coordinate.
std::vector<bool> IdealPixels(const PixelLine& line, const PixelClip& clip, int width, int height) {
    auto roundHalfUp = [](int64_t n, int64_t d) {
        if (d < 0) {
            n = -n;
            d = -d;
        }
        const int64_t t = 2 * n + d;
        const int64_t q = t / (2 * d);
        return (t % (2 * d) != 0 && t < 0) ? q - 1 : q;
    };
    std::vector<bool> set(static_cast<size_t>(width) * height, false);
    auto mark = [&](int64_t x, int64_t y) {
        if (clip.Contains(static_cast<int>(x), static_cast<int>(y)))
            set[static_cast<size_t>(y) * width + static_cast<size_t>(x)] = true;
    };
    const int64_t dx = int64_t{line.x1} - line.x0;
    const int64_t dy = int64_t{line.y1} - line.y0;
    // Only the stretch of the longer axis that the clip spans can give pixels inside it.
    if (dx == 0 && dy == 0) {
        mark(line.x0, line.y0);
    } else if (std::llabs(dy) >= std::llabs(dx)) {
        const int64_t from = std::max<int64_t>(std::min(line.y0, line.y1), clip.top);
        const int64_t to = std::min<int64_t>(std::max(line.y0, line.y1), clip.bottom);
        for (int64_t y = from; y <= to; ++y)
            mark(line.x0 + roundHalfUp((y - line.y0) * dx, dy), y);
    } else {
        const int64_t from = std::max<int64_t>(std::min(line.x0, line.x1), clip.left);
        const int64_t to = std::min<int64_t>(std::max(line.x0, line.x1), clip.right);
        for (int64_t x = from; x <= to; ++x)
            mark(x, line.y0 + roundHalfUp((x - line.x0) * dy, dx));
    }
    return set;
}

// Lines of every slope, short and long, crossing the clip or far outside it (up to the 2^20 the trace
// builder cuts coordinates to): the pixels set are exactly the ideal line's inside the clip, drawn alone or
// as a trace (where steps between neighbouring columns go through the column windows).
TEST(PixelRaster, LinesSetExactlyTheIdealLinesPixelsInsideTheClip) {
    constexpr int kWidth = 120;
    constexpr int kHeight = 100;
    std::mt19937 random(20261208);
    auto coordinate = [&](int spread) {
        return std::uniform_int_distribution<int>(-spread, spread)(random) + 60;
    };
    const PixelClip clips[] = {{7, 5, 110, 90}, {-50, -50, 500, 500}};
    for (int i = 0; i < 4000; ++i) {
        const int spread = i % 3 == 0 ? 1 << 20 : (i % 3 == 1 ? 200 : 40);
        PixelLine line{coordinate(spread), coordinate(spread), coordinate(spread), coordinate(spread)};
        if (i % 7 == 0)
            line.x1 = line.x0 + (i % 2 ? 1 : -1); // the one-column steps of a merged trace
        if (i % 11 == 0)
            line.y1 = line.y0 + (i % 2 ? 1 : -1);
        if (i % 13 == 0)
            line.y1 = line.y0;
        const PixelClip& clip = clips[i % 2];
        Canvas alone(kWidth, kHeight);
        RasterLine(alone.buffer, line, kInk, clip);
        Canvas traced(kWidth, kHeight);
        TracePicture picture;
        picture.lines.push_back(line);
        RasterTrace(traced.buffer, picture, kInk, clip);
        const std::vector<bool> expected =
            IdealPixels(line, ClipToBuffer(alone.buffer, clip), kWidth, kHeight);
        int mismatches = 0;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                const bool ideal = expected[static_cast<size_t>(y) * kWidth + x];
                mismatches += ((alone.At(x, y) == kInk) != ideal) + ((traced.At(x, y) == kInk) != ideal);
            }
        }
        ASSERT_EQ(mismatches, 0) << line.x0 << "," << line.y0 << " " << line.x1 << "," << line.y1;
    }
}

// A point mark is the three pixels above its centre and the three below, cut at the clip like a line.
TEST(PixelRaster, MarksAreThePixelsAboveAndBelowTheirCentre) {
    constexpr int kWidth = 40;
    constexpr int kHeight = 30;
    const PixelClip clip{5, 5, 30, 20};
    TracePicture picture;
    picture.markCentres = {{10, 10}, {5, 5}, {25, 21}, {32, 12}, {20, 4}};
    Canvas canvas(kWidth, kHeight);
    RasterTrace(canvas.buffer, picture, kInk, clip);
    std::vector<bool> expected(static_cast<size_t>(kWidth) * kHeight, false);
    for (const PixelPoint& centre : picture.markCentres) {
        for (int dx = -1; dx <= 1; ++dx) {
            for (const int dy : {-1, 1}) {
                if (clip.Contains(centre.x + dx, centre.y + dy))
                    expected[static_cast<size_t>(centre.y + dy) * kWidth +
                             static_cast<size_t>(centre.x + dx)] = true;
            }
        }
    }
    int painted = 0;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const bool ink = canvas.At(x, y) == kInk;
            painted += ink;
            EXPECT_EQ(ink, expected[static_cast<size_t>(y) * kWidth + x]) << x << "," << y;
        }
    }
    // Whole; cut at the clip's corner; only the row above; outside; only the row below.
    EXPECT_EQ(painted, 6 + 2 + 3 + 0 + 3);
}

// Rules reaching past the buffer keep their dots where a rule inside would have them, and write nothing
// outside the buffer's rows.
TEST(PixelRaster, RulesAreCutAtTheBufferKeepingTheirDots) {
    Canvas canvas(40, 30);
    RasterRule(canvas.buffer, -7, 4, 100, 4, kInk, RuleStyle::Dotted);
    RasterRule(canvas.buffer, 10, 500, 10, -9, kInk, RuleStyle::Dotted);
    RasterRule(canvas.buffer, 20, -3, 20, -40, kInk, RuleStyle::Solid); // above the buffer
    RasterRule(canvas.buffer, 50, 2, 60, 2, kInk, RuleStyle::Solid);    // right of it
    RasterRule(canvas.buffer, 3, 3, 9, 12, kInk, RuleStyle::Solid);     // slanted: not a rule
    int inked = 0;
    for (int y = 0; y < 30; ++y) {
        for (int x = 0; x < 40; ++x) {
            const bool set = canvas.At(x, y) == kInk;
            inked += set;
            if (y == 4 && x != 10)
                EXPECT_EQ(set, (x + 7) % 2 == 0) << x; // counted from x = -7
            else if (x == 10)
                EXPECT_EQ(set, (500 - y) % 2 == 0) << y; // counted from y = 500
            else
                EXPECT_FALSE(set) << x << "," << y;
        }
    }
    EXPECT_EQ(inked, 20 + 15);
}

// Rules written a row at a time across several columns set the pixels one rule at a time would.
TEST(PixelRaster, ColumnRulesAreTheRulesOneByOne) {
    const int columns[] = {-2, 0, 5, 6, 17, 39, 40, 75};
    const int ends[][2] = {{3, 25},  {25, 3}, {24, 3},  {-7, 12}, {12, -8},
                           {12, -7}, {0, 29}, {20, 90}, {9, 9},   {31, 40}};
    for (const RuleStyle style : {RuleStyle::Solid, RuleStyle::Dotted}) {
        for (const auto& end : ends) {
            Canvas together(40, 30);
            Canvas alone(40, 30);
            RasterColumnRules(together.buffer, columns, std::size(columns), end[0], end[1], kInk, style);
            for (const int x : columns)
                RasterRule(alone.buffer, x, end[0], x, end[1], kInk, style);
            EXPECT_TRUE(together.pixels == alone.pixels)
                << (style == RuleStyle::Solid ? "solid " : "dotted ") << end[0] << ".." << end[1];
        }
    }
}

} // namespace
} // namespace calvora
