// The smallest and largest value of every run of a long value column, kept in levels as values are appended,
// so the extremes of any range come from a few dozen entries instead of every value: level 0 holds each run
// of 16 values, level 1 each run of 256, and so on. A chart drawn from it touches a few entries per pixel
// column at any zoom and still shows a spike that a sample-skipping trace would miss.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

namespace calvora {

struct ValueRange {
    float min = std::numeric_limits<float>::infinity();
    float max = -std::numeric_limits<float>::infinity();

    // No value at all (only values that are not numbers, or none).
    bool empty() const { return min > max; }
    void Add(float value) {
        // Values that are not numbers (overloads) are no part of any range.
        if (std::isnan(value))
            return;
        min = value < min ? value : min;
        max = value > max ? value : max;
    }
    void Add(const ValueRange& other) {
        min = other.min < min ? other.min : min;
        max = other.max > max ? other.max : max;
    }
};

class ValueSummary {
public:
    static constexpr int kFanOutShift = 4;
    static constexpr size_t kFanOut = size_t{1} << kFanOutShift; // values per level-0 entry

    size_t size() const { return size_; }
    int levelCount() const { return static_cast<int>(levels_.size()); }
    // Entry i of level l covers values [i << (4 (l + 1)), (i + 1) << (4 (l + 1))).
    const std::vector<ValueRange>& level(int l) const { return levels_[static_cast<size_t>(l)]; }

    void Append(float value);
    void Clear();
    void ShrinkToFit();
    size_t memoryBytes() const;

    // The extremes of values [first, end), end <= size(). `value(i)` gives the value at i; it is asked for at
    // most 30 values per range, those at its ends that no entry covers whole.
    template <typename ValueAt> ValueRange Range(size_t first, size_t end, ValueAt&& value) const {
        ValueRange range;
        size_t i = first;
        while (i < end) {
            // The largest run that starts at i and ends within the range.
            int levelFound = -1;
            for (size_t l = 0; l < levels_.size(); ++l) {
                const int shift = kFanOutShift * static_cast<int>(l + 1);
                const size_t run = size_t{1} << shift;
                if ((i & (run - 1)) != 0 || i + run > end)
                    break;
                levelFound = static_cast<int>(l);
            }
            if (levelFound < 0) {
                range.Add(value(i));
                ++i;
                continue;
            }
            const int shift = kFanOutShift * (levelFound + 1);
            range.Add(levels_[static_cast<size_t>(levelFound)][i >> shift]);
            i += size_t{1} << shift;
        }
        return range;
    }

private:
    size_t size_ = 0;
    std::vector<std::vector<ValueRange>> levels_;
};

} // namespace calvora
