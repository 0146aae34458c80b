#include "logging/log_document.h"

#include "protocol/reading_decoder.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <utility>

namespace calvora {

// ------------------------------------------------------------------------------------------ entries

float LogEntry::value() const {
    if (!count)
        return std::numeric_limits<float>::quiet_NaN();
    return static_cast<float>(*count) / static_cast<float>(state.divisor);
}

LogEntry LogEntryOf(const MeterReading& reading) {
    LogEntry entry;
    LogState& state = entry.state;
    state.functionName = reading.functionName;
    state.mode = reading.mode;
    state.unit = reading.unit;
    state.divisor = reading.divisor;
    state.fullScale = reading.fullScale;
    state.lowLimit = reading.lowLimit;
    state.flags = (reading.hold ? kLogHold : 0) | (reading.peak ? kLogPeak : 0) |
                  (reading.autoRange ? kLogAutoRange : 0) | (reading.acPlusDc ? kLogAcPlusDc : 0);
    // The same comparisons that make the panel show "OL" and "-OL".
    if (reading.value > reading.fullScale)
        state.flags |= kLogOverload;
    else if (reading.value < reading.lowLimit)
        state.flags |= kLogUnderload;
    else
        entry.count = reading.raw;
    return entry;
}

// ------------------------------------------------------------------------------------ subscription

struct LogSubscription::Registry {
    uint64_t nextId = 1;
    std::vector<std::pair<uint64_t, LogListener*>> listeners;
};

LogSubscription::LogSubscription(LogSubscription&& other) noexcept
    : registry_(std::move(other.registry_)), id_(std::exchange(other.id_, 0)) {
}

LogSubscription& LogSubscription::operator=(LogSubscription&& other) noexcept {
    if (this != &other) {
        Reset();
        registry_ = std::move(other.registry_);
        id_ = std::exchange(other.id_, 0);
    }
    return *this;
}

void LogSubscription::Reset() {
    if (const auto registry = registry_.lock()) {
        auto& list = registry->listeners;
        list.erase(std::remove_if(list.begin(), list.end(),
                                  [this](const auto& entry) { return entry.first == id_; }),
                   list.end());
    }
    registry_.reset();
    id_ = 0;
}

// --------------------------------------------------------------------------------------- overview

// The stored summary of every 256 readings standing in for the readings while they load: each bucket
// counts where its readings lie, a bucket wider than a column counts in every column it covers.
class LogDocument::OverviewSeries final : public TimeSeries {
public:
    OverviewSeries(const LogDocument& log, std::vector<LogBucket> buckets, uint64_t count)
        : log_(log), buckets_(std::move(buckets)), count_(count) {}

    size_t readingCount() const override { return buckets_.empty() ? 0 : count_; }
    int64_t firstTime() const override { return buckets_.front().firstMs; }
    int64_t lastTime() const override { return buckets_.back().lastMs; }

    void Envelopes(double startMs, double stepMs, int columns, ColumnTrace& out) const override {
        out.columns.assign(static_cast<size_t>(std::max(columns, 0)), ColumnEnvelope{});
        out.before.reset();
        out.after.reset();
        if (buckets_.empty() || columns <= 0 || !(stepMs > 0))
            return;
        // The first bucket that reaches into the window.
        size_t b =
            static_cast<size_t>(std::partition_point(buckets_.begin(), buckets_.end(),
                                                     [&](const LogBucket& bucket) {
                                                         return static_cast<double>(bucket.lastMs) < startMs;
                                                     }) -
                                buckets_.begin());
        if (b > 0)
            out.before = EdgeReading{buckets_[b - 1].lastMs, buckets_[b - 1].last, false};
        int64_t previousLast = b > 0 ? buckets_[b - 1].lastMs : INT64_MIN;
        for (int k = 0; k < columns && b < buckets_.size(); ++k) {
            const double begin = startMs + k * stepMs;
            const double end = begin + stepMs;
            ColumnEnvelope& column = out.columns[static_cast<size_t>(k)];
            size_t last = b;
            for (size_t i = b; i < buckets_.size() && static_cast<double>(buckets_[i].firstMs) < end; ++i) {
                const LogBucket& bucket = buckets_[i];
                if (column.count == 0) {
                    column.first = bucket.first;
                    column.breakBefore = log_.GapStartsBetween(previousLast, bucket.firstMs);
                }
                column.count += bucket.count;
                column.range.Add(bucket.range);
                column.last = bucket.last;
                last = i;
            }
            if (column.count == 0)
                continue;
            previousLast = buckets_[last].lastMs;
            // A bucket that runs on past this column is counted again in the next.
            b = static_cast<double>(buckets_[last].lastMs) < end ? last + 1 : last;
        }
        if (b < buckets_.size())
            out.after = EdgeReading{buckets_[b].firstMs, buckets_[b].first, false};
    }

    ValueRange RangeBetween(int64_t startMs, int64_t endMs) const override {
        ValueRange range;
        for (const LogBucket& bucket : buckets_) {
            if (bucket.lastMs >= startMs && bucket.firstMs <= endMs)
                range.Add(bucket.range);
        }
        return range;
    }

    std::vector<SeriesGap> Gaps() const override { return log_.Gaps(); }

private:
    const LogDocument& log_;
    std::vector<LogBucket> buckets_;
    uint64_t count_;
};

// ---------------------------------------------------------------------------------------- document

LogDocument::LogDocument() : listeners_(std::make_shared<LogSubscription::Registry>()) {
}

LogDocument::~LogDocument() = default;

std::optional<uint16_t> LogDocument::InternState(const LogState& state) {
    // A log meets a few dozen states: a look from the newest back finds the current one at once.
    for (size_t i = states_.size(); i-- > 0;) {
        if (states_[i] == state)
            return static_cast<uint16_t>(i);
    }
    if (states_.size() >= kMaxStates)
        return std::nullopt;
    states_.push_back(state);
    return static_cast<uint16_t>(states_.size() - 1);
}

void LogDocument::SetStates(std::vector<LogState> states) {
    for (size_t i = states_.size(); i < states.size() && i < kMaxStates; ++i)
        states_.push_back(std::move(states[i]));
}

bool LogDocument::AppendQuietly(int64_t timeMs, float value, uint16_t state) {
    if (state >= states_.size())
        return false;
    const size_t slot = count_ % kBlockReadings;
    if (slot == 0 && count_ / kBlockReadings == blocks_.size()) {
        // Allocated untouched, so a block costs memory only as readings fill it.
        auto* block = new (std::nothrow) ReadingBlock;
        if (block == nullptr)
            return false;
        blocks_.emplace_back(block);
    }
    ReadingBlock& block = *blocks_[count_ / kBlockReadings];
    block.times[slot] = count_ > 0 ? std::max(timeMs, this->timeMs(count_ - 1)) : timeMs;
    block.values[slot] = value;
    block.states[slot] = state;
    ++count_;
    summary_.Append(value);
    return true;
}

bool LogDocument::Append(int64_t timeMs, float value, uint16_t state) {
    if (!AppendQuietly(timeMs, value, state))
        return false;
    AnnounceAppended(count_ - 1, 1);
    return true;
}

template <typename Notify> void LogDocument::Tell(Notify&& notify) {
    // A copy: a listener may unsubscribe while it is told.
    const auto listeners = listeners_->listeners;
    for (const auto& [id, listener] : listeners) {
        const auto& current = listeners_->listeners;
        if (std::any_of(current.begin(), current.end(),
                        [id = id](const auto& entry) { return entry.first == id; }))
            notify(*listener);
    }
}

void LogDocument::AnnounceAppended(uint64_t first, uint64_t count) {
    Tell([&](LogListener& listener) { listener.OnReadingsAppended(*this, first, count); });
}

void LogDocument::AnnounceReset() {
    Tell([&](LogListener& listener) { listener.OnLogReset(*this); });
}

void LogDocument::AnnounceGapsChanged() {
    Tell([&](LogListener& listener) { listener.OnGapsChanged(*this); });
}

LogSubscription LogDocument::Subscribe(LogListener& listener) {
    LogSubscription subscription;
    subscription.registry_ = listeners_;
    subscription.id_ = listeners_->nextId++;
    listeners_->listeners.emplace_back(subscription.id_, &listener);
    return subscription;
}

bool LogDocument::OpenGap(int64_t startMs, std::u16string reason) {
    if (gapOpen())
        return false;
    gaps_.push_back({startMs, std::nullopt, std::move(reason), count_});
    breaks_.push_back(count_);
    return true;
}

void LogDocument::CloseGap(int64_t endMs) {
    if (gapOpen())
        gaps_.back().endMs = std::max(endMs, gaps_.back().startMs);
}

void LogDocument::SetOpenGapReason(std::u16string reason) {
    if (gapOpen())
        gaps_.back().reason = std::move(reason);
}

void LogDocument::SetGaps(std::vector<LogGap> gaps) {
    gaps_ = std::move(gaps);
    breaks_.clear();
    for (const LogGap& gap : gaps_)
        breaks_.push_back(gap.before);
    std::sort(breaks_.begin(), breaks_.end());
}

bool LogDocument::BreakBefore(size_t index) const {
    return std::binary_search(breaks_.begin(), breaks_.end(), uint64_t{index});
}

bool LogDocument::GapStartsBetween(int64_t afterMs, int64_t beforeMs) const {
    return std::any_of(gaps_.begin(), gaps_.end(),
                       [&](const LogGap& gap) { return gap.startMs >= afterMs && gap.startMs < beforeMs; });
}

std::vector<SeriesGap> LogDocument::Gaps() const {
    std::vector<SeriesGap> gaps;
    const int64_t last = count_ > 0 ? timeMs(count_ - 1) : 0;
    for (const LogGap& gap : gaps_)
        gaps.push_back({gap.startMs, std::max(gap.startMs, gap.endMs.value_or(std::max(last, gap.startMs)))});
    return gaps;
}

void LogDocument::SetMeta(const std::string& key, const std::string& value) {
    meta_[key] = value;
}

void LogDocument::SetMeta(std::map<std::string, std::string> meta) {
    meta_ = std::move(meta);
}

void LogDocument::SetOverview(std::vector<LogBucket> buckets, uint64_t readingCount) {
    loaded_ = false;
    overviewCount_ = readingCount;
    overview_ = std::make_unique<OverviewSeries>(*this, std::move(buckets), readingCount);
}

void LogDocument::AdoptReadings(LogDocument&& loaded) {
    count_ = std::exchange(loaded.count_, 0);
    blocks_ = std::move(loaded.blocks_);
    summary_ = std::move(loaded.summary_);
    summary_.ShrinkToFit();
    if (loaded.states_.size() > states_.size())
        states_ = std::move(loaded.states_);
    loaded_ = true;
    overview_.reset();
    overviewCount_ = 0;
    AnnounceReset();
}

const TimeSeries& LogDocument::series() const {
    if (!loaded_ && overview_)
        return *overview_;
    return *this;
}

size_t LogDocument::memoryBytes() const {
    size_t bytes = blocks_.capacity() * sizeof(void*) + blocks_.size() * sizeof(ReadingBlock);
    bytes += summary_.memoryBytes();
    bytes += states_.capacity() * sizeof(LogState) + gaps_.capacity() * sizeof(LogGap);
    return bytes;
}

} // namespace calvora
