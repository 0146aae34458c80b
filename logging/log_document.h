// A continuous log in memory: every reading's receive time, value and state, the gaps the readings left,
// the log's facts (meta), and the min/max summary the chart draws from. Readings are kept in fixed
// blocks of parallel columns (time 8 bytes, value 4, state 2: 14 bytes a reading), so a day at 50 readings
// a second holds about 60 MB and growing never copies what is already there.
//
// A log opened from a file may first hold only its stored overview (the summary of every 256 readings)
// while its readings load on another thread; the chart draws the overview meanwhile (series()).
#pragma once

#include "chart/time_series.h"

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace calvora {

struct MeterReading;
class LogDocument;

// Flags of a reading's state.
inline constexpr uint32_t kLogHold = 1;
inline constexpr uint32_t kLogPeak = 2;
inline constexpr uint32_t kLogAutoRange = 4;
inline constexpr uint32_t kLogAcPlusDc = 8;
inline constexpr uint32_t kLogOverload = 16;  // above full scale: the meter shows "OL"
inline constexpr uint32_t kLogUnderload = 32; // below the low limit: "-OL"

// Everything a reading carries besides its time and value. Readings share a few dozen of these.
struct LogState {
    std::u16string functionName;
    std::u16string mode;
    std::u16string unit;
    int32_t divisor = 1;
    double fullScale = 0;
    double lowLimit = 0;
    uint32_t flags = 0;

    bool overload() const { return (flags & (kLogOverload | kLogUnderload)) != 0; }
    bool operator==(const LogState&) const = default;
};

// A decoded reading as a log stores it: its state and, unless it is an overload, its signed count.
struct LogEntry {
    LogState state;
    std::optional<int32_t> count;

    float value() const; // count / divisor as the meter's arithmetic has it; NaN for an overload
};
LogEntry LogEntryOf(const MeterReading& reading);

// A span without readings. The reason is what the user reads ("no signal", "receiver unplugged").
struct LogGap {
    int64_t startMs = 0;          // the last reading before it (the log's start when none)
    std::optional<int64_t> endMs; // the first reading after it; none while it lasts
    std::u16string reason;
    uint64_t before = 0; // index of the first reading after it
    bool operator==(const LogGap&) const = default;
};

// The summary of 256 consecutive readings, as a log file keeps it.
struct LogBucket {
    int64_t firstMs = 0;
    int64_t lastMs = 0;
    ValueRange range;
    float first = 0; // NaN for an overload
    float last = 0;
    uint32_t count = 0;
};
inline constexpr uint32_t kLogBucketReadings = 256;

class LogListener {
public:
    // Readings first .. first + count - 1 were stored.
    virtual void OnReadingsAppended(LogDocument& /*log*/, uint64_t /*first*/, uint64_t /*count*/) {}
    // A gap opened, closed or changed its reason; or the log's facts changed (it ended).
    virtual void OnGapsChanged(LogDocument& /*log*/) {}
    // The readings were replaced as a whole (a log's readings finished loading).
    virtual void OnLogReset(LogDocument& /*log*/) {}

protected:
    ~LogListener() = default;
};

// Keeps a listener subscribed until it is destroyed or reset; outliving the document is harmless.
class LogSubscription {
public:
    LogSubscription() = default;
    LogSubscription(LogSubscription&& other) noexcept;
    LogSubscription& operator=(LogSubscription&& other) noexcept;
    LogSubscription(const LogSubscription&) = delete;
    LogSubscription& operator=(const LogSubscription&) = delete;
    ~LogSubscription() { Reset(); }
    void Reset();

private:
    friend class LogDocument;
    struct Registry;
    std::weak_ptr<Registry> registry_;
    uint64_t id_ = 0;
};

class LogDocument final : public SampledTimeSeries {
public:
    static constexpr size_t kBlockReadings = 65536;
    static constexpr size_t kMaxStates = 65535;

    LogDocument();
    ~LogDocument() override;
    LogDocument(const LogDocument&) = delete;
    LogDocument& operator=(const LogDocument&) = delete;

    // --- readings ---
    size_t readingCount() const override { return count_; }
    // Receive time in UTC milliseconds. A clock set back makes later readings share the last time shown,
    // so times never go back in memory (the file keeps what the clock said).
    int64_t timeMs(size_t index) const { return Block(index).times[index % kBlockReadings]; }
    float value(size_t index) const { return Block(index).values[index % kBlockReadings]; }
    uint16_t stateIndex(size_t index) const { return Block(index).states[index % kBlockReadings]; }
    const LogState& state(size_t index) const { return states_[stateIndex(index)]; }
    const std::vector<LogState>& states() const { return states_; }

    // The index of `state`, added on first sight; empty when the log already holds kMaxStates states.
    std::optional<uint16_t> InternState(const LogState& state);
    // Adds states read from a file in their order (ids 0, 1, ...), beyond those already held.
    void SetStates(std::vector<LogState> states);
    // Stores one reading and tells the listeners. False (nothing stored) when memory runs out or the
    // state index is unknown.
    bool Append(int64_t timeMs, float value, uint16_t state);
    // Stores many without telling anyone; whoever fills the log tells (AnnounceAppended / AnnounceReset).
    bool AppendQuietly(int64_t timeMs, float value, uint16_t state);
    void AnnounceAppended(uint64_t first, uint64_t count);
    void AnnounceReset();

    // --- gaps ---
    const std::vector<LogGap>& gaps() const { return gaps_; }
    bool gapOpen() const { return !gaps_.empty() && !gaps_.back().endMs; }
    // Opens a gap before the next reading; false when one is open already.
    bool OpenGap(int64_t startMs, std::u16string reason);
    void CloseGap(int64_t endMs);
    void SetOpenGapReason(std::u16string reason);
    // Replaces every gap (a log read from a file).
    void SetGaps(std::vector<LogGap> gaps);

    // --- facts: model, started_utc, application, receiver, stopped_utc ... ---
    const std::map<std::string, std::string>& meta() const { return meta_; }
    void SetMeta(const std::string& key, const std::string& value);
    void SetMeta(std::map<std::string, std::string> meta);

    // --- loading ---
    // Not yet loaded: only the stored overview is held, for `overviewCount` readings.
    bool loaded() const { return loaded_; }
    void SetOverview(std::vector<LogBucket> buckets, uint64_t readingCount);
    // Moves the readings and states of `loaded` (filled with AppendQuietly) into this log and tells the
    // listeners the log is complete.
    void AdoptReadings(LogDocument&& loaded);
    // What the chart draws: the readings once loaded, the stored overview before.
    const TimeSeries& series() const;
    // Readings the log holds or will hold once loaded.
    uint64_t expectedCount() const { return loaded_ ? count_ : overviewCount_; }

    // --- chart ---
    std::vector<SeriesGap> Gaps() const override;

    [[nodiscard]] LogSubscription Subscribe(LogListener& listener);
    void AnnounceGapsChanged();

    // Heap bytes held for the readings, their summary, states and gaps.
    size_t memoryBytes() const;

    std::u16string title;

protected:
    int64_t TimeAt(size_t index) const override { return timeMs(index); }
    float ValueAt(size_t index) const override { return value(index); }
    const ValueSummary& summary() const override { return summary_; }
    bool BreakBefore(size_t index) const override;

private:
    struct ReadingBlock {
        std::array<int64_t, kBlockReadings> times;
        std::array<float, kBlockReadings> values;
        std::array<uint16_t, kBlockReadings> states;
    };
    const ReadingBlock& Block(size_t index) const { return *blocks_[index / kBlockReadings]; }
    bool GapStartsBetween(int64_t afterMs, int64_t beforeMs) const;
    template <typename Notify> void Tell(Notify&& notify);

    class OverviewSeries;

    size_t count_ = 0;
    std::vector<std::unique_ptr<ReadingBlock>> blocks_;
    ValueSummary summary_;
    std::vector<LogState> states_;
    std::vector<LogGap> gaps_;
    std::vector<uint64_t> breaks_; // gaps' `before`, ascending
    std::map<std::string, std::string> meta_;
    bool loaded_ = true;
    uint64_t overviewCount_ = 0;
    std::unique_ptr<OverviewSeries> overview_;
    std::shared_ptr<LogSubscription::Registry> listeners_;
};

} // namespace calvora
