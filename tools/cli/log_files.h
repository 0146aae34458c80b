// Continuous logs where the file commands meet them: info reads a log's overview, export and convert take a
// log (or a span of time of it) as the recording it makes.
#pragma once

#include "logging/log_range.h"

#include <memory>
#include <optional>
#include <string>

namespace calvora {
class LogDocument;
class RecordingDocument;
} // namespace calvora

namespace calvora::cli {

// By its header, whatever its name.
bool IsLogFile(const std::string& file);

// --from and --to: ISO 8601 times, checked when given.
struct TimeSpanOptions {
    std::string from;
    std::string to;
    bool given() const { return !from.empty() || !to.empty(); }
};

// A log read whole, and the readings of it a span of time chooses.
struct OpenedLog {
    std::unique_ptr<LogDocument> log;
    LogRange range;
};

// Reads the log FILE and finds `span` in it. ExitOk, or the exit code after saying why on standard error (a
// bad time, an unreadable log).
int OpenLogSpan(const std::string& file, const TimeSpanOptions& span, OpenedLog& opened);

// Fills `recording` with the readings of `span` of the log FILE. ExitOk, or the exit code after saying why
// on standard error (a bad time, an unreadable log, a span longer than a recording holds).
int LoadLogAsRecording(const std::string& file, const TimeSpanOptions& span, RecordingDocument& recording);

// calvora-cli info for a log: a summary, or with `json` one object with "kind":"log".
int PrintLogInfo(const std::string& file, bool json);

} // namespace calvora::cli
