#include "measure/statistics.h"

#include "protocol/formatters.h"
#include "protocol/text.h"
#include "recording/recording_document.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace calvora {

bool IsOverload(double value, double fullScale, int32_t lowLimit) {
    // The formatter's own rule, so a figure never takes in a reading the list shows as OL.
    return !std::isfinite(value) || !StoredOverloadText(value, fullScale, lowLimit).empty();
}

namespace {

std::u16string GroupKeyText(std::u16string_view functionName, std::u16string_view unit) {
    std::u16string key;
    key.reserve(functionName.size() + unit.size() + 1);
    key.append(functionName);
    key.push_back(u'\0');
    key.append(unit);
    return key;
}

// Neumaier's compensated sum: the rounding error of every addition is kept and added back at the end.
class CompensatedSum {
public:
    void Add(double x) {
        const double t = sum_ + x;
        if (std::fabs(sum_) >= std::fabs(x))
            compensation_ += (sum_ - t) + x;
        else
            compensation_ += (x - t) + sum_;
        sum_ = t;
    }
    double value() const { return sum_ + compensation_; }

private:
    double sum_ = 0;
    double compensation_ = 0;
};

// The groups of a range in order of first appearance; consecutive readings mostly share one, so the last
// is tried before the table.
class GroupOrder {
public:
    size_t IndexOf(std::u16string_view functionName, std::u16string_view unit,
                   std::vector<GroupStatistics>& groups) {
        if (last_ < groups.size() && groups[last_].functionName == functionName && groups[last_].unit == unit)
            return last_;
        const auto [found, added] = index_.try_emplace(GroupKeyText(functionName, unit), groups.size());
        if (added) {
            GroupStatistics group;
            group.functionName = functionName;
            group.unit = unit;
            groups.push_back(std::move(group));
        }
        last_ = found->second;
        return last_;
    }

private:
    std::unordered_map<std::u16string, size_t> index_;
    size_t last_ = SIZE_MAX;
};

double SampleDeviation(double m2, uint64_t count) {
    return count > 1 ? std::sqrt(std::max(0.0, m2) / static_cast<double>(count - 1)) : 0.0;
}

} // namespace

RangeStatistics ComputeStatistics(const SampleSource& source, uint64_t from, uint64_t to) {
    RangeStatistics result;
    result.from = std::max<uint64_t>(from, 1);
    result.to = std::min(to, source.sampleCount());
    if (result.to < result.from)
        return result;

    std::vector<GroupStatistics>& groups = result.groups;
    std::vector<CompensatedSum> sums;
    GroupOrder order;
    for (uint64_t n = result.from; n <= result.to; ++n) {
        const SampleView sample = source.Sample(n - 1);
        const size_t g = order.IndexOf(sample.functionName, sample.unit, groups);
        sums.resize(groups.size());
        GroupStatistics& group = groups[g];
        if (IsOverload(sample.value, sample.fullScale, sample.lowLimit)) {
            ++group.overloads;
            continue;
        }
        if (group.count == 0 || sample.value < group.min) {
            group.min = sample.value;
            group.minAt = n;
        }
        if (group.count == 0 || sample.value > group.max) {
            group.max = sample.value;
            group.maxAt = n;
        }
        ++group.count;
        sums[g].Add(sample.value);
    }
    for (size_t g = 0; g < groups.size(); ++g) {
        if (groups[g].count > 0)
            groups[g].mean = sums[g].value() / static_cast<double>(groups[g].count);
    }

    // The squared deviations from the mean; the sum of the plain deviations corrects the rounding left in
    // the mean (the corrected two-pass rule).
    std::vector<CompensatedSum> squares(groups.size());
    std::vector<CompensatedSum> deviations(groups.size());
    for (uint64_t n = result.from; n <= result.to; ++n) {
        const SampleView sample = source.Sample(n - 1);
        if (IsOverload(sample.value, sample.fullScale, sample.lowLimit))
            continue;
        const size_t g = order.IndexOf(sample.functionName, sample.unit, groups);
        const double d = sample.value - groups[g].mean;
        squares[g].Add(d * d);
        deviations[g].Add(d);
    }
    for (size_t g = 0; g < groups.size(); ++g) {
        GroupStatistics& group = groups[g];
        if (group.count == 0)
            continue;
        const double d = deviations[g].value();
        const double m2 = squares[g].value() - d * d / static_cast<double>(group.count);
        group.stddev = SampleDeviation(m2, group.count);
    }
    return result;
}

// ---------------------------------------------------------------------------------------------- Moments

void Moments::Add(double value, uint64_t number) {
    ++count;
    if (value < min) {
        min = value;
        minAt = number;
    }
    if (value > max) {
        max = value;
        maxAt = number;
    }
    const double delta = value - mean;
    mean += delta / static_cast<double>(count);
    m2 += delta * (value - mean);
}

void Moments::Merge(const Moments& later) {
    overloads += later.overloads;
    if (later.count == 0)
        return;
    if (count == 0) {
        const uint64_t keptOverloads = overloads;
        *this = later;
        overloads = keptOverloads;
        return;
    }
    if (later.min < min) {
        min = later.min;
        minAt = later.minAt;
    }
    if (later.max > max) {
        max = later.max;
        maxAt = later.maxAt;
    }
    const double n = static_cast<double>(count + later.count);
    const double delta = later.mean - mean;
    const double laterShare = static_cast<double>(later.count) / n;
    mean += delta * laterShare;
    m2 += later.m2 + delta * delta * static_cast<double>(count) * laterShare;
    count += later.count;
}

// ----------------------------------------------------------------------------------- StatisticsSummary

// The entries of a range, merged in order; group ids index a table of positions, as ids are few and dense.
class StatisticsSummary::Accumulator {
public:
    explicit Accumulator(size_t groups) : position_(groups, SIZE_MAX) {}

    Moments& Of(uint32_t group) {
        if (group >= position_.size())
            position_.resize(group + 1, SIZE_MAX);
        size_t& at = position_[group];
        if (at == SIZE_MAX) {
            at = entries_.size();
            entries_.push_back({group, {}});
        }
        return entries_[at].moments;
    }
    void Merge(const Entry* first, const Entry* last) {
        for (; first != last; ++first)
            Of(first->group).Merge(first->moments);
    }
    const std::vector<Entry>& entries() const { return entries_; }

private:
    std::vector<size_t> position_;
    std::vector<Entry> entries_;
};

StatisticsSummary::StatisticsSummary() {
    Clear();
}

void StatisticsSummary::Clear() {
    groups_.clear();
    groupIds_.clear();
    lastGroup_ = UINT32_MAX;
    levels_.assign(1, Level{});
    count_ = 0;
}

uint32_t StatisticsSummary::GroupOf(std::u16string_view functionName, std::u16string_view unit) {
    if (lastGroup_ < groups_.size() && groups_[lastGroup_].functionName == functionName &&
        groups_[lastGroup_].unit == unit)
        return lastGroup_;
    const auto [found, added] =
        groupIds_.try_emplace(GroupKeyText(functionName, unit), static_cast<uint32_t>(groups_.size()));
    if (added)
        groups_.push_back({std::u16string(functionName), std::u16string(unit)});
    lastGroup_ = found->second;
    return lastGroup_;
}

void StatisticsSummary::Append(const SampleView& sample) {
    const uint32_t group = GroupOf(sample.functionName, sample.unit);
    Level& leaf = levels_[0];
    // The group of the reading before is the likeliest, and it is the last entry or near it.
    auto entry = std::find_if(leaf.open.rbegin(), leaf.open.rend(),
                              [group](const Entry& candidate) { return candidate.group == group; });
    Moments* moments = nullptr;
    if (entry == leaf.open.rend()) {
        leaf.open.push_back({group, {}});
        moments = &leaf.open.back().moments;
    } else {
        moments = &entry->moments;
    }
    ++count_;
    if (IsOverload(sample.value, sample.fullScale, sample.lowLimit))
        ++moments->overloads;
    else
        moments->Add(sample.value, count_);
    if (++leaf.openParts == kLeafSize)
        CloseBlock(0);
}

void StatisticsSummary::MergeInto(std::vector<Entry>& open, const Entry* first, const Entry* last) {
    for (; first != last; ++first) {
        const uint32_t group = first->group;
        auto found = std::find_if(open.begin(), open.end(),
                                  [group](const Entry& candidate) { return candidate.group == group; });
        if (found == open.end())
            open.push_back(*first);
        else
            found->moments.Merge(first->moments);
    }
}

void StatisticsSummary::CloseBlock(size_t level) {
    if (level + 1 == levels_.size())
        levels_.emplace_back();
    Level& closing = levels_[level];
    Level& above = levels_[level + 1];
    const size_t begin = closing.entries.size();
    closing.entries.insert(closing.entries.end(), closing.open.begin(), closing.open.end());
    closing.starts.push_back(static_cast<uint32_t>(closing.entries.size()));
    closing.open.clear();
    closing.openParts = 0;
    MergeInto(above.open, closing.entries.data() + begin, closing.entries.data() + closing.entries.size());
    if (++above.openParts == kFanOut)
        CloseBlock(level + 1);
}

uint64_t StatisticsSummary::BlockSize(size_t level) const {
    uint64_t size = kLeafSize;
    for (size_t l = 0; l < level; ++l)
        size *= kFanOut;
    return size;
}

RangeStatistics StatisticsSummary::Whole() const {
    // The highest level never holds a closed block: its open block, then each open block below it, cover
    // the readings in order.
    Accumulator accumulator(groups_.size());
    for (size_t l = levels_.size(); l-- > 0;) {
        const Level& level = levels_[l];
        accumulator.Merge(level.open.data(), level.open.data() + level.open.size());
    }
    return Finish(accumulator, 1, count_);
}

RangeStatistics StatisticsSummary::Range(const SampleSource& source, uint64_t from, uint64_t to) const {
    from = std::max<uint64_t>(from, 1);
    to = std::min(to, count_);
    Accumulator accumulator(groups_.size());
    // Left to right, each step takes the largest closed block that starts here and ends within the range,
    // or else one reading: at most a leaf's readings and a fan-out of blocks per level at either end.
    uint64_t at = from - 1; // 0-based
    const uint64_t end = to;
    uint32_t lastGroup = UINT32_MAX;
    while (at < end) {
        bool took = false;
        for (size_t l = levels_.size(); l-- > 0;) {
            const uint64_t size = BlockSize(l);
            const Level& level = levels_[l];
            if (at % size != 0 || at + size > end || at / size >= level.closedBlocks())
                continue;
            const uint64_t block = at / size;
            accumulator.Merge(level.entries.data() + level.starts[block],
                              level.entries.data() + level.starts[block + 1]);
            at += size;
            took = true;
            break;
        }
        if (took)
            continue;
        const uint64_t number = at + 1;
        const SampleView sample = source.Sample(number - 1);
        if (lastGroup >= groups_.size() || groups_[lastGroup].functionName != sample.functionName ||
            groups_[lastGroup].unit != sample.unit) {
            const auto found = groupIds_.find(GroupKeyText(sample.functionName, sample.unit));
            // A source that differs from what was appended: the reading has no group to go to.
            lastGroup = found == groupIds_.end() ? UINT32_MAX : found->second;
        }
        if (lastGroup != UINT32_MAX) {
            Moments& moments = accumulator.Of(lastGroup);
            if (IsOverload(sample.value, sample.fullScale, sample.lowLimit))
                ++moments.overloads;
            else
                moments.Add(sample.value, number);
        }
        ++at;
    }
    return Finish(accumulator, from, to);
}

RangeStatistics StatisticsSummary::Finish(const Accumulator& accumulator, uint64_t from, uint64_t to) const {
    RangeStatistics result;
    result.from = from;
    result.to = to;
    for (const Entry& entry : accumulator.entries()) {
        const Moments& m = entry.moments;
        GroupStatistics group;
        group.functionName = groups_[entry.group].functionName;
        group.unit = groups_[entry.group].unit;
        group.count = m.count;
        group.overloads = m.overloads;
        if (m.count > 0) {
            group.min = m.min;
            group.minAt = m.minAt;
            group.max = m.max;
            group.maxAt = m.maxAt;
            group.mean = m.mean;
            group.stddev = SampleDeviation(m.m2, m.count);
        }
        result.groups.push_back(std::move(group));
    }
    return result;
}

size_t StatisticsSummary::memoryBytes() const {
    size_t bytes = groups_.capacity() * sizeof(GroupKey) + levels_.capacity() * sizeof(Level);
    for (const Level& level : levels_)
        bytes += (level.entries.capacity() + level.open.capacity()) * sizeof(Entry) +
                 level.starts.capacity() * sizeof(uint32_t);
    return bytes;
}

// ---------------------------------------------------------------------------------------------- texts

std::u16string StoredValueText(double value) {
    // The data list's decimals; no reading in a figure is an overload.
    return FormatStoredValue(value, std::numeric_limits<double>::infinity(), INT32_MIN);
}

std::u16string FigureText(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.10g", value);
    return fromAscii(text);
}

std::vector<std::vector<std::u16string>> StatisticsRows(const RangeStatistics& statistics,
                                                        const SampleSource* times) {
    std::vector<std::vector<std::u16string>> rows;
    rows.push_back({u"Function", u"Unit", u"Count", u"Overloads", u"Minimum", u"No.", u"Time", u"Maximum",
                    u"No.", u"Time", u"Mean", u"Std. dev."});
    const auto number = [](uint64_t n) { return fromAscii(std::to_string(n)); };
    const auto time = [times](uint64_t n) {
        // A time text starts with a blank: the cell need not.
        std::u16string text = times ? std::u16string(times->Sample(n - 1).timeText) : std::u16string();
        const size_t first = text.find_first_not_of(u' ');
        return first == std::u16string::npos ? std::u16string() : text.substr(first);
    };
    for (const GroupStatistics& group : statistics.groups) {
        std::vector<std::u16string> row{group.functionName, group.unit, number(group.count),
                                        number(group.overloads)};
        if (group.count == 0) {
            row.insert(row.end(), 8, std::u16string(u"-"));
        } else {
            row.insert(row.end(), {StoredValueText(group.min), number(group.minAt), time(group.minAt),
                                   StoredValueText(group.max), number(group.maxAt), time(group.maxAt),
                                   FigureText(group.mean), FigureText(group.stddev)});
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

std::u16string TabSeparated(const std::vector<std::vector<std::u16string>>& rows) {
    std::u16string text;
    for (const auto& row : rows) {
        for (size_t c = 0; c < row.size(); ++c) {
            if (c > 0)
                text += u'\t';
            text += row[c];
        }
        text += u'\n';
    }
    return text;
}

std::u16string Aligned(const std::vector<std::vector<std::u16string>>& rows) {
    std::vector<size_t> widths;
    for (const auto& row : rows) {
        widths.resize(std::max(widths.size(), row.size()));
        for (size_t c = 0; c < row.size(); ++c)
            widths[c] = std::max(widths[c], row[c].size());
    }
    std::u16string text;
    for (const auto& row : rows) {
        std::u16string line;
        for (size_t c = 0; c < row.size(); ++c) {
            if (c > 0)
                line += u"  ";
            line += row[c];
            if (c + 1 < row.size())
                line.append(widths[c] - row[c].size(), u' ');
        }
        line.erase(line.find_last_not_of(u' ') + 1);
        text += line;
        text += u'\n';
    }
    return text;
}

} // namespace calvora
