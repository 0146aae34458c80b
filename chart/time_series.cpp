#include "chart/time_series.h"

#include <algorithm>
#include <cmath>

namespace calvora {

size_t SampledTimeSeries::LowerBound(double timeMs, size_t from) const {
    size_t low = from;
    size_t high = readingCount();
    while (low < high) {
        const size_t middle = low + (high - low) / 2;
        if (static_cast<double>(TimeAt(middle)) < timeMs)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

void SampledTimeSeries::Envelopes(double startMs, double stepMs, int columns, ColumnTrace& out) const {
    out.columns.assign(static_cast<size_t>(std::max(columns, 0)), ColumnEnvelope{});
    out.before.reset();
    out.after.reset();
    const size_t count = readingCount();
    if (count == 0 || columns <= 0 || !(stepMs > 0))
        return;
    const ValueSummary& extremes = summary();
    auto valueAt = [this](size_t i) { return ValueAt(i); };
    size_t begin = LowerBound(startMs);
    if (begin > 0)
        out.before = EdgeReading{TimeAt(begin - 1), ValueAt(begin - 1), begin < count && BreakBefore(begin)};
    for (int k = 0; k < columns && begin < count; ++k) {
        const double columnEnd = startMs + (k + 1) * stepMs;
        const size_t end = LowerBound(columnEnd, begin);
        if (end == begin)
            continue;
        ColumnEnvelope& column = out.columns[static_cast<size_t>(k)];
        column.count = static_cast<uint32_t>(std::min<size_t>(end - begin, UINT32_MAX));
        column.range = extremes.Range(begin, end, valueAt);
        column.first = ValueAt(begin);
        column.last = ValueAt(end - 1);
        column.breakBefore = begin > 0 && BreakBefore(begin);
        begin = end;
    }
    if (begin < count)
        out.after = EdgeReading{TimeAt(begin), ValueAt(begin), begin > 0 && BreakBefore(begin)};
}

ValueRange SampledTimeSeries::RangeBetween(int64_t startMs, int64_t endMs) const {
    const size_t begin = LowerBound(static_cast<double>(startMs));
    const size_t end = LowerBound(static_cast<double>(endMs) + 1, begin);
    return summary().Range(begin, end, [this](size_t i) { return ValueAt(i); });
}

std::optional<EdgeReading> SampledTimeSeries::NearestReading(double timeMs) const {
    const size_t count = readingCount();
    if (count == 0)
        return std::nullopt;
    size_t index = LowerBound(timeMs);
    if (index == count || (index > 0 && timeMs - static_cast<double>(TimeAt(index - 1)) <
                                            static_cast<double>(TimeAt(index)) - timeMs))
        --index;
    return EdgeReading{TimeAt(index), ValueAt(index), false};
}

void VectorTimeSeries::Append(int64_t timeMs, float value) {
    // The chart's search needs times that never go back.
    times_.push_back(times_.empty() ? timeMs : std::max(timeMs, times_.back()));
    values_.push_back(value);
    summary_.Append(value);
}

void VectorTimeSeries::AddGap(int64_t startMs) {
    gaps_.push_back({times_.size(), startMs});
}

bool VectorTimeSeries::BreakBefore(size_t index) const {
    return std::any_of(gaps_.begin(), gaps_.end(), [index](const Gap& gap) { return gap.before == index; });
}

std::vector<SeriesGap> VectorTimeSeries::Gaps() const {
    std::vector<SeriesGap> gaps;
    for (const Gap& gap : gaps_) {
        const int64_t end =
            gap.before < times_.size() ? times_[gap.before] : (times_.empty() ? gap.startMs : times_.back());
        gaps.push_back({gap.startMs, std::max(end, gap.startMs)});
    }
    return gaps;
}

} // namespace calvora
