// A log, or a span of time of it, as a recording: the same samples a "Real Time Chart Recording" of those
// readings holds, so the record file, the text export and every other export of recordings take logs too.
#pragma once

#include "logging/log_range.h"
#include "protocol/outcome.h"

#include <cstdint>
#include <optional>
#include <string>

namespace calvora {

class LogDocument;
class RecordingDocument;

// The readings received from `fromMs` to `toMs` (both included; either end open when empty).
LogRange RangeOfTimes(const LogDocument& log, std::optional<int64_t> fromMs, std::optional<int64_t> toMs);

// The sample time text of a receive time, in local time: " %m/%d/%y %H:%M:%S".
std::u16string SampleTimeText(int64_t utcMs);

// "The range holds 4,320,000 readings; a recording holds at most 180,000. Choose a shorter range."
std::u16string RangeTooLongMessage(uint64_t readings);

// Fills `recording` (empty) with the readings of `range` as a live recording of them would hold them: value
// and full scale as floats, the low limit cut to a whole number, function, mode, unit and time text, and a
// new chart's settings. An overload's value is infinite (shown as "OL" or "-OL"). Refuses a range of more
// than kMaxExportReadings readings, or none.
Outcome<void> ExportRange(const LogDocument& log, const LogRange& range, RecordingDocument& recording);

} // namespace calvora
