// Readings over wall-clock time as the time chart sees them: whatever holds them (a continuous log, a
// recording whose samples carry times) answers in pixel columns, each column with the extremes of the
// readings that fall into it, so a paint asks a few questions per column however many readings there are.
#pragma once

#include "chart/value_summary.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

namespace calvora {

// What one pixel column of the chart holds.
struct ColumnEnvelope {
    uint32_t count = 0; // readings whose time falls into the column; none: nothing is drawn there
    ValueRange range;   // their numeric extremes (empty when every one is an overload)
    float first = std::numeric_limits<float>::quiet_NaN(); // the first reading's value; NaN for an overload
    float last = std::numeric_limits<float>::quiet_NaN();
    bool breakBefore = false; // a gap lies between this column's first reading and the reading before it
};

// A reading just outside the columns, so the trace runs on to the plot's sides.
struct EdgeReading {
    int64_t timeMs = 0;
    float value = 0;     // NaN for an overload
    bool broken = false; // a gap lies between it and the readings inside the columns
};

// The columns of one paint and the readings beside them.
struct ColumnTrace {
    std::vector<ColumnEnvelope> columns;
    std::optional<EdgeReading> before; // the last reading before the first column
    std::optional<EdgeReading> after;  // the first reading after the last column
};

// A span of time the readings did not cover, with the reading index it falls before.
struct SeriesGap {
    int64_t startMs = 0;
    int64_t endMs = 0; // the first reading after it; the series' last time while it is still open
};

class TimeSeries {
public:
    virtual ~TimeSeries() = default;

    virtual size_t readingCount() const = 0;
    // Times of the first and last reading; meaningful when there is one.
    virtual int64_t firstTime() const = 0;
    virtual int64_t lastTime() const = 0;
    // `columns` envelopes into `out`: column k covers [startMs + k stepMs, startMs + (k + 1) stepMs).
    virtual void Envelopes(double startMs, double stepMs, int columns, ColumnTrace& out) const = 0;
    // Numeric extremes of the readings in [startMs, endMs].
    virtual ValueRange RangeBetween(int64_t startMs, int64_t endMs) const = 0;
    virtual std::vector<SeriesGap> Gaps() const = 0;
    // The reading nearest to `timeMs`, for a readout; none when there is none or the series cannot tell.
    virtual std::optional<EdgeReading> NearestReading(double timeMs) const {
        (void)timeMs;
        return std::nullopt;
    }
};

// A series held reading by reading: nondecreasing times, values (NaN for an overload) and their summary.
// Subclasses say where the readings are; the column questions are answered here.
class SampledTimeSeries : public TimeSeries {
public:
    int64_t firstTime() const override { return TimeAt(0); }
    int64_t lastTime() const override { return TimeAt(readingCount() - 1); }
    void Envelopes(double startMs, double stepMs, int columns, ColumnTrace& out) const override;
    ValueRange RangeBetween(int64_t startMs, int64_t endMs) const override;
    std::optional<EdgeReading> NearestReading(double timeMs) const override;

    // The first reading at or after `timeMs` (readingCount() when none), searched for in [from, count).
    size_t LowerBound(double timeMs, size_t from = 0) const;

protected:
    virtual int64_t TimeAt(size_t index) const = 0;
    virtual float ValueAt(size_t index) const = 0;
    virtual const ValueSummary& summary() const = 0;
    // True when a gap lies between reading index - 1 and reading index.
    virtual bool BreakBefore(size_t index) const = 0;
};

// A series in plain vectors: tests, and recordings whose samples carry times.
class VectorTimeSeries final : public SampledTimeSeries {
public:
    void Append(int64_t timeMs, float value);
    // The next reading appended follows a gap that began at `startMs`.
    void AddGap(int64_t startMs);

    size_t readingCount() const override { return times_.size(); }
    std::vector<SeriesGap> Gaps() const override;

protected:
    int64_t TimeAt(size_t index) const override { return times_[index]; }
    float ValueAt(size_t index) const override { return values_[index]; }
    const ValueSummary& summary() const override { return summary_; }
    bool BreakBefore(size_t index) const override;

private:
    std::vector<int64_t> times_;
    std::vector<float> values_;
    ValueSummary summary_;
    struct Gap {
        size_t before; // index of the first reading after the gap
        int64_t startMs;
    };
    std::vector<Gap> gaps_;
};

} // namespace calvora
