// Statistics of a recording's readings: count, extremes with their sample numbers, mean and standard
// deviation, one set of figures per (function, unit) pair in the order the pairs first appear. Overload
// readings are counted apart and left out of every other figure.
//
// Two ways to the same figures: ComputeStatistics reads a range twice (a compensated sum for the mean, then
// the squared deviations from it); StatisticsSummary keeps mergeable figures per block of readings as they
// are appended, so the whole recording and any range of it are answered without reading it again.
#pragma once

#include "recording/sample_source.h"

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace calvora {

// True when the stored-value formatter shows the value as "OL" (above fullScale) or "-OL" (below
// lowLimit), or when it is no finite number.
bool IsOverload(double value, double fullScale, int32_t lowLimit);

// Readings come from a SampleSource (a recording document through DocumentSamples; a continuous log the same
// way). The functions below take 1-based sample numbers, as the user reads them.

// The figures of one (function, unit) group over a range. With count 0 (overloads only) the extremes, the
// mean and the deviation mean nothing.
struct GroupStatistics {
    std::u16string functionName;
    std::u16string unit;
    uint64_t count = 0;     // readings that are no overload
    uint64_t overloads = 0; // readings that are
    double min = 0;
    uint64_t minAt = 0; // first sample number holding the minimum
    double max = 0;
    uint64_t maxAt = 0;
    double mean = 0;
    double stddev = 0; // sample standard deviation (divided by count - 1); 0 for a single reading
};

// Sample numbers from..to, inclusive; empty when to < from.
struct RangeStatistics {
    uint64_t from = 1;
    uint64_t to = 0;
    std::vector<GroupStatistics> groups;
};

// Reads samples from..to of `source` (clamped to what it holds) twice.
RangeStatistics ComputeStatistics(const SampleSource& source, uint64_t from, uint64_t to);

// The figures of one group over consecutive readings, which merge with those of the readings after them
// without losing precision (the mean and the sum of squared deviations, merged by their own rule).
struct Moments {
    uint64_t count = 0;
    uint64_t overloads = 0;
    double min = std::numeric_limits<double>::infinity();
    double max = -std::numeric_limits<double>::infinity();
    uint64_t minAt = 0;
    uint64_t maxAt = 0;
    double mean = 0;
    double m2 = 0; // sum of squared deviations from the mean

    void Add(double value, uint64_t number);
    // `later` covers readings after these: on equal extremes the earlier sample number stays.
    void Merge(const Moments& later);
};

class StatisticsSummary {
public:
    StatisticsSummary();

    // The next reading, numbered sampleCount() + 1. Constant time, amortised.
    void Append(const SampleView& sample);
    void Clear();
    uint64_t sampleCount() const { return count_; }

    // Every reading appended so far, from the blocks' figures alone.
    RangeStatistics Whole() const;
    // Sample numbers from..to (clamped to what was appended): whole blocks from their figures, the readings
    // at either end that fill no whole block from `source`, which must hold the appended readings.
    RangeStatistics Range(const SampleSource& source, uint64_t from, uint64_t to) const;

    // Bytes held on the heap.
    size_t memoryBytes() const;

private:
    struct Entry {
        uint32_t group;
        Moments moments;
    };
    // One level of blocks: level 0 blocks hold kLeafSize readings, each level above kFanOut blocks of the
    // one below. Closed blocks keep their entries (one per group present, in order of first appearance)
    // one after the other; `open` gathers the block being filled.
    struct Level {
        std::vector<Entry> entries;
        std::vector<uint32_t> starts{0}; // block b's entries are [starts[b], starts[b + 1])
        std::vector<Entry> open;
        uint64_t openParts = 0; // readings (level 0) or blocks below (above) in `open`

        uint64_t closedBlocks() const { return starts.size() - 1; }
    };
    static constexpr uint64_t kLeafSize = 128;
    static constexpr uint64_t kFanOut = 16;

    class Accumulator;
    uint32_t GroupOf(std::u16string_view functionName, std::u16string_view unit);
    static void MergeInto(std::vector<Entry>& open, const Entry* first, const Entry* last);
    void CloseBlock(size_t level);
    uint64_t BlockSize(size_t level) const;
    RangeStatistics Finish(const Accumulator& accumulator, uint64_t from, uint64_t to) const;

    struct GroupKey {
        std::u16string functionName;
        std::u16string unit;
    };
    std::vector<GroupKey> groups_;
    std::unordered_map<std::u16string, uint32_t> groupIds_; // function + '\0' + unit
    uint32_t lastGroup_ = UINT32_MAX;
    std::vector<Level> levels_;
    uint64_t count_ = 0;
};

// The figures as rows of cells, a header row first: function, unit, count, overloads, minimum with its
// sample number and time, maximum with its, mean, standard deviation. Times come from `times` when given.
std::vector<std::vector<std::u16string>> StatisticsRows(const RangeStatistics& statistics,
                                                        const SampleSource* times);
// Tab-separated, one line per row, for a spreadsheet or a report.
std::u16string TabSeparated(const std::vector<std::vector<std::u16string>>& rows);
// Columns padded with blanks to their widest cell, for a terminal.
std::u16string Aligned(const std::vector<std::vector<std::u16string>>& rows);

// Texts of the figures: a stored value as the data list shows it, a mean or deviation with ten significant
// digits.
std::u16string StoredValueText(double value);
std::u16string FigureText(double value);

} // namespace calvora
