#include "logging/continuous_log.h"

#include "logging/log_file.h"
#include "protocol/text.h"

#include <algorithm>

namespace calvora {

std::u16string LogEndMessage(LogEnd end, const std::u16string& detail) {
    switch (end) {
    case LogEnd::WriteFailed:
        return detail.empty() ? u"The log file could not be written." : detail;
    case LogEnd::OutOfMemory:
        return u"The log ran out of memory.";
    case LogEnd::EndOfInput:
        return u"The input ended.";
    default:
        return {};
    }
}

// What the logs of one file's meters share. They are fed on one thread, so it needs no lock.
struct ContinuousLog::Shared {
    std::unique_ptr<LogWriter> writer;
    LogStopCondition stop;
    std::map<std::string, std::string> meta;
    std::vector<LogMeter> meters;
    // The file's states, which every meter's readings draw on.
    std::vector<LogState> states;
    size_t gapsOpened = 0;
    uint64_t readings = 0;
    // An end that holds for every meter: a stop condition, a failed write, no memory.
    LogEnd end = LogEnd::None;
    std::u16string endDetail;
    size_t running = 0;
    Outcome<void> closed;

    std::optional<uint16_t> FileState(const LogState& state) {
        const auto found = std::find(states.begin(), states.end(), state);
        if (found != states.end())
            return static_cast<uint16_t>(found - states.begin());
        if (states.size() >= LogDocument::kMaxStates)
            return std::nullopt;
        states.push_back(state);
        const auto id = static_cast<uint16_t>(states.size() - 1);
        writer->AddState(id, state);
        return id;
    }
};

Outcome<std::unique_ptr<ContinuousLog>> ContinuousLog::Start(const std::filesystem::path& path,
                                                             LogStopCondition stop,
                                                             std::map<std::string, std::string> meta,
                                                             int64_t nowMs, LogMeterFacts meter) {
    auto started = StartSeveral(path, stop, std::move(meta), {std::move(meter)}, nowMs);
    if (!started)
        return started.failure();
    return std::move(started.value().front());
}

Outcome<std::vector<std::unique_ptr<ContinuousLog>>>
ContinuousLog::StartSeveral(const std::filesystem::path& path, LogStopCondition stop,
                            std::map<std::string, std::string> meta, const std::vector<LogMeterFacts>& meters,
                            int64_t nowMs) {
    if (meters.empty())
        return Failure(u"Cannot create the log " + path.filename().u16string() + u": it has no meter.");
    std::vector<LogMeterFacts> facts = meters;
    std::string receivers;
    for (LogMeterFacts& meter : facts) {
        if (meter.name.empty())
            meter.name = kDefaultMeterName;
        if (meter.receiver.empty() && meta.count("receiver") != 0)
            meter.receiver = meta["receiver"];
        receivers += (receivers.empty() ? "" : ", ") + meter.receiver;
    }
    if (meta.count("receiver") == 0 && !receivers.empty())
        meta["receiver"] = receivers;
    meta["started_utc"] = FormatIsoUtc(nowMs);
    auto writer = LogWriter::Create(path, meta, facts);
    if (!writer)
        return Failure(u"Cannot create the log " + path.filename().u16string() + u": " + writer.reason());
    auto shared = std::make_shared<Shared>();
    shared->writer = std::move(writer).value();
    shared->stop = stop;
    shared->meta = meta;
    shared->running = facts.size();
    std::vector<std::unique_ptr<ContinuousLog>> logs;
    for (size_t k = 0; k < facts.size(); ++k) {
        auto document = std::make_shared<LogDocument>();
        document->SetMeta(meta);
        document->title = facts.size() == 1 ? path.filename().u16string() : fromUtf8(facts[k].name);
        shared->meters.push_back({facts[k], std::move(document)});
    }
    for (size_t k = 0; k < facts.size(); ++k)
        logs.push_back(std::unique_ptr<ContinuousLog>(new ContinuousLog(shared, k, nowMs)));
    return logs;
}

ContinuousLog::ContinuousLog(std::shared_ptr<Shared> shared, size_t meter, int64_t nowMs)
    : shared_(std::move(shared)), meter_(meter), document_(shared_->meters[meter].log), stop_(shared_->stop),
      startedMs_(nowMs), lastReadingMs_(nowMs) {
}

ContinuousLog::~ContinuousLog() {
    (void)Finish(lastReadingMs_, LogEnd::Stopped);
}

const std::filesystem::path& ContinuousLog::path() const {
    return shared_->writer->path();
}

const LogMeterFacts& ContinuousLog::meter() const {
    return shared_->meters[meter_].facts;
}

LogSet ContinuousLog::set() const {
    return {shared_->writer->path().filename().u16string(), shared_->meta, shared_->meters};
}

uint64_t ContinuousLog::totalReadings() const {
    return shared_->readings;
}

uintmax_t ContinuousLog::fileBytes() const {
    return shared_->writer->fileBytes();
}

uint64_t ContinuousLog::committedReadings() const {
    return shared_->writer->committedReadings(meter_);
}

LogEnd ContinuousLog::end() const {
    return end_ != LogEnd::None ? end_ : shared_->end;
}

const std::u16string& ContinuousLog::endDetail() const {
    return end_ != LogEnd::None ? endDetail_ : shared_->endDetail;
}

void ContinuousLog::OnReading(const MeterReading& reading, int64_t nowMs) {
    if (ended())
        return;
    if (stop_.kind == LogStopCondition::Kind::Duration && elapsedMs(nowMs) >= stop_.durationMs) {
        End(LogEnd::DurationDone);
        return;
    }
    LogDocument& log = *document_;
    if (log.gapOpen()) {
        log.CloseGap(nowMs);
        PutGap(log.gaps().size() - 1);
        log.AnnounceGapsChanged();
    }
    const LogEntry entry = LogEntryOf(reading);
    const size_t statesBefore = log.states().size();
    const std::optional<uint16_t> state = log.InternState(entry.state);
    if (state && log.states().size() > statesBefore) {
        const std::optional<uint16_t> fileState = shared_->FileState(log.states()[*state]);
        if (fileState)
            fileStates_.push_back(*fileState);
    }
    if (!state || *state >= fileStates_.size()) {
        End(LogEnd::WriteFailed, u"The log meets more kinds of reading than it can hold.");
        return;
    }
    const float value = entry.value();
    // In memory first: a reading the file has is always one the document has.
    if (!log.Append(nowMs, value, *state)) {
        End(LogEnd::OutOfMemory);
        return;
    }
    shared_->writer->Append(meter_, nowMs, entry.count, fileStates_[*state], value);
    ++shared_->readings;
    lastReadingMs_ = nowMs;
    if (stop_.kind == LogStopCondition::Kind::Readings && shared_->readings >= stop_.readings)
        End(LogEnd::ReadingsDone);
}

void ContinuousLog::OnTick(int64_t nowMs) {
    if (ended())
        return;
    if (const Outcome<void> health = shared_->writer->health(); !health) {
        End(LogEnd::WriteFailed, health.reason());
        return;
    }
    if (stop_.kind == LogStopCondition::Kind::Duration && elapsedMs(nowMs) >= stop_.durationMs) {
        End(LogEnd::DurationDone);
        return;
    }
    if (!document_->gapOpen() && nowMs - lastReadingMs_ >= kNoSignalMs)
        OpenGap(lastReadingMs_, kNoSignalReason);
}

void ContinuousLog::OnReceiverLost(int64_t /*nowMs*/) {
    if (ended())
        return;
    LogDocument& log = *document_;
    if (log.gapOpen()) {
        log.SetOpenGapReason(std::u16string(kUnpluggedReason));
        PutGap(log.gaps().size() - 1);
        log.AnnounceGapsChanged();
        return;
    }
    OpenGap(lastReadingMs_, kUnpluggedReason);
}

void ContinuousLog::OpenGap(int64_t startMs, std::u16string_view reason) {
    LogDocument& log = *document_;
    if (!log.OpenGap(startMs, std::u16string(reason)))
        return;
    fileGaps_.push_back(shared_->gapsOpened++);
    PutGap(log.gaps().size() - 1);
    log.AnnounceGapsChanged();
}

void ContinuousLog::PutGap(size_t index) {
    if (index < fileGaps_.size())
        shared_->writer->PutGap(fileGaps_[index], meter_, document_->gaps()[index]);
}

void ContinuousLog::End(LogEnd why, std::u16string detail) {
    if (ended())
        return;
    // A stop condition, a failed write and a lack of memory end every meter's log; a stop ends this one.
    if (why == LogEnd::DurationDone || why == LogEnd::ReadingsDone || why == LogEnd::WriteFailed ||
        why == LogEnd::OutOfMemory) {
        shared_->end = why;
        shared_->endDetail = std::move(detail);
        return;
    }
    end_ = why;
    endDetail_ = std::move(detail);
}

Outcome<void> ContinuousLog::Finish(int64_t nowMs, LogEnd why) {
    if (finished_)
        return finishOutcome_;
    End(why);
    finished_ = true;
    LogDocument& log = *document_;
    if (log.gapOpen()) {
        log.CloseGap(nowMs);
        PutGap(log.gaps().size() - 1);
    }
    const std::string stopped = FormatIsoUtc(nowMs);
    log.SetMeta("stopped_utc", stopped);
    if (--shared_->running == 0) {
        // The last meter's log to finish closes the file.
        shared_->meta["stopped_utc"] = stopped;
        shared_->writer->PutMeta("stopped_utc", stopped);
        shared_->closed = shared_->writer->Close();
        finishOutcome_ = shared_->closed;
    } else {
        finishOutcome_ = shared_->writer->health();
    }
    log.AnnounceGapsChanged();
    return finishOutcome_;
}

} // namespace calvora
