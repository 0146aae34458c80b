// Continuous logs where the file commands meet them: info reads a log's overview, export, convert and stats
// take a log (or a span of time of it) as the recording it makes. A log of several meters is read one meter
// at a time, chosen by --meter NAME.
#pragma once

#include "logging/log_range.h"

#include <CLI/CLI.hpp>

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

// --from and --to: ISO 8601 times, checked when given; --meter: the meter of a log of several.
struct TimeSpanOptions {
    std::string from;
    std::string to;
    std::string meter;
    bool given() const { return !from.empty() || !to.empty(); }
};

// Declares --meter on `sub`, for a command that reads one meter of a log.
void AddMeterOption(CLI::App& sub, std::string& meter);

// The meter a log's readings are read from, as the user reads it in a message.
struct OpenedLog {
    std::shared_ptr<LogDocument> log; // the chosen meter's readings
    LogRange range;
    std::string meter; // its name
    bool several = false;
};

// Reads the log FILE, chooses the meter `span.meter` (which a log of several meters needs) and finds `span`
// in its readings. ExitOk, or the exit code after saying why on standard error (a bad time, an unreadable
// log, a missing or unknown meter with the names the log has).
int OpenLogSpan(const std::string& file, const TimeSpanOptions& span, OpenedLog& opened);

// What exports call the readings of `opened`: the file's name, with the meter's of a log of several.
std::u16string LogSourceName(const std::string& file, const OpenedLog& opened);

// Fills `recording` with the readings of `span` of the log FILE. ExitOk, or the exit code after saying why
// on standard error (a bad time, an unreadable log, a span longer than a recording holds).
int LoadLogAsRecording(const std::string& file, const TimeSpanOptions& span, RecordingDocument& recording);

// calvora-cli info for a log: a summary, or with `json` one object with "kind":"log".
int PrintLogInfo(const std::string& file, bool json);

} // namespace calvora::cli
