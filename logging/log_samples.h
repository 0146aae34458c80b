// A log's readings as the exports and the statistics read samples, without copying them into a recording
// first, so a whole day's log is exported or summed as it is. Row 0 is the range's first reading.
#pragma once

#include "logging/log_range.h"
#include "recording/sample_source.h"

#include <string>

namespace calvora {

class LogDocument;
struct LogState;

// A log's value as a recording of the reading holds it: an overload, which the log keeps as no number, is an
// infinite value that reads "OL" or "-OL".
float RecordedValue(float logValue, const LogState& state);

class LogSamples final : public SampleSource {
public:
    LogSamples(const LogDocument& log, LogRange range, std::u16string name);

    uint64_t sampleCount() const override { return range_.count(); }
    // The value as a recording holds it (RecordedValue); the time text is the local receive time to the
    // millisecond, "2026-12-09T08:15:02.125", and stays valid until the next call.
    SampleView Sample(uint64_t row) const override;
    std::u16string name() const override { return name_; }

private:
    const LogDocument& log_;
    LogRange range_;
    std::u16string name_;
    mutable std::u16string time_;
};

// "2026-12-09T08:15:02.125" in local time.
std::u16string LocalIsoTimeText(int64_t utcMs);

} // namespace calvora
