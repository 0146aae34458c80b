// A continuous log while it runs: every live reading goes into the log document and its file, a receiver
// that goes away or readings that stop for five seconds open a gap (the log goes on when readings return),
// and the stop condition (a duration, a number of readings, or none) ends it. Whoever owns it feeds it the
// readings and the clock; it never reads a clock itself.
//
// One file can take several meters: each meter has a ContinuousLog of its own (its document, its gaps),
// and they share the file, its writer thread, the facts and the stop condition. A number of readings then
// counts every meter's readings together, and a stop condition that holds ends them all. The ContinuousLogs
// of one file are fed on one thread.
#pragma once

#include "logging/log_document.h"
#include "logging/log_set.h"
#include "logging/log_writer.h"
#include "protocol/outcome.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace calvora {

struct MeterReading;

// Readings that stop for this long open a gap.
inline constexpr int64_t kNoSignalMs = 5000;
inline constexpr std::u16string_view kNoSignalReason = u"no signal";
inline constexpr std::u16string_view kUnpluggedReason = u"receiver unplugged";

struct LogStopCondition {
    enum class Kind { None, Duration, Readings };
    Kind kind = Kind::None;
    int64_t durationMs = 0;
    uint64_t readings = 0;
};

// Why a log ended.
enum class LogEnd {
    None,         // still running
    Stopped,      // "Stop Recording" or the command line's Ctrl+C
    DurationDone, // its stop condition's duration passed
    ReadingsDone, // it took its stop condition's readings
    WriteFailed,  // its file could not be written any more
    OutOfMemory,  // no room for another reading
    EndOfInput,   // the capture file being replayed ended
};

// The reason as the user reads it; empty for None, Stopped and the stop conditions.
std::u16string LogEndMessage(LogEnd end, const std::u16string& detail);

class ContinuousLog {
public:
    // Creates the file (which must not exist) and starts the log of one meter at `nowMs`. `meta` holds what
    // the log says of itself (model, application, receiver); started_utc is added. Without a name the meter
    // is "Multimeter"; without a receiver, the facts' "receiver". The document is titled with the file name.
    static Outcome<std::unique_ptr<ContinuousLog>> Start(const std::filesystem::path& path,
                                                         LogStopCondition stop,
                                                         std::map<std::string, std::string> meta,
                                                         int64_t nowMs, LogMeterFacts meter = {});
    // Creates the file and starts one log over `meters` (at least one): the ContinuousLogs in their order,
    // sharing the file. Each document is titled with its meter's name (with the file name when there is one
    // meter). The facts' "receiver" lists the meters' receivers when it is not given.
    static Outcome<std::vector<std::unique_ptr<ContinuousLog>>>
    StartSeveral(const std::filesystem::path& path, LogStopCondition stop,
                 std::map<std::string, std::string> meta, const std::vector<LogMeterFacts>& meters,
                 int64_t nowMs);
    ~ContinuousLog();

    LogDocument& document() { return *document_; }
    const LogDocument& document() const { return *document_; }
    const std::shared_ptr<LogDocument>& documentPtr() const { return document_; }
    const std::filesystem::path& path() const;
    // This log's meter, and its place among the file's meters.
    const LogMeterFacts& meter() const;
    size_t meterIndex() const { return meter_; }
    // Every meter of the file (this one among them) with the log's facts, for a window showing them all.
    LogSet set() const;
    const LogStopCondition& stopCondition() const { return stop_; }

    // A live reading received at `nowMs`: stored, closing an open gap. Nothing once the log has ended.
    void OnReading(const MeterReading& reading, int64_t nowMs);
    // The clock at `nowMs`, at least four times a second: a silence of five seconds opens a gap, the stop
    // condition's duration ends the log, a failed write ends it.
    void OnTick(int64_t nowMs);
    // The receiver went away: a gap opens at once (or the open one is put down to the receiver).
    void OnReceiverLost(int64_t nowMs);

    bool ended() const { return end() != LogEnd::None; }
    LogEnd end() const;
    // The failure behind WriteFailed or OutOfMemory.
    const std::u16string& endDetail() const;
    // Ends the log if it still runs: closes an open gap at `nowMs` and notes the stop time; the file closes
    // once every meter's log sharing it has finished. The first failure the file met, if any; the readings
    // stay in the document either way.
    Outcome<void> Finish(int64_t nowMs, LogEnd why);

    // This meter's readings; every meter's together.
    uint64_t readingCount() const { return document_->readingCount(); }
    uint64_t totalReadings() const;
    int64_t startedMs() const { return startedMs_; }
    int64_t elapsedMs(int64_t nowMs) const { return nowMs - startedMs_; }
    uintmax_t fileBytes() const;
    // This meter's readings in the file.
    uint64_t committedReadings() const;

private:
    struct Shared;
    ContinuousLog(std::shared_ptr<Shared> shared, size_t meter, int64_t nowMs);
    void OpenGap(int64_t startMs, std::u16string_view reason);
    void PutGap(size_t index);
    void End(LogEnd why, std::u16string detail = {});

    std::shared_ptr<Shared> shared_;
    size_t meter_;
    std::shared_ptr<LogDocument> document_;
    LogStopCondition stop_;
    int64_t startedMs_;
    int64_t lastReadingMs_;
    // The file's number of each of the document's states and gaps.
    std::vector<uint16_t> fileStates_;
    std::vector<size_t> fileGaps_;
    LogEnd end_ = LogEnd::None;
    std::u16string endDetail_;
    bool finished_ = false;
    Outcome<void> finishOutcome_;
};

} // namespace calvora
