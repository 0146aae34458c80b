#include "logging/continuous_log.h"

#include "logging/log_file.h"

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

Outcome<std::unique_ptr<ContinuousLog>> ContinuousLog::Start(const std::filesystem::path& path,
                                                             LogStopCondition stop,
                                                             std::map<std::string, std::string> meta,
                                                             int64_t nowMs) {
    meta["started_utc"] = FormatIsoUtc(nowMs);
    auto writer = LogWriter::Create(path, meta);
    if (!writer)
        return Failure(u"Cannot create the log " + path.filename().u16string() + u": " + writer.reason());
    std::unique_ptr<ContinuousLog> log(new ContinuousLog(std::move(writer).value(), stop, nowMs));
    log->document_->SetMeta(std::move(meta));
    log->document_->title = path.filename().u16string();
    return log;
}

ContinuousLog::ContinuousLog(std::unique_ptr<LogWriter> writer, LogStopCondition stop, int64_t nowMs)
    : writer_(std::move(writer)), document_(std::make_shared<LogDocument>()), stop_(stop), startedMs_(nowMs),
      lastReadingMs_(nowMs) {
}

ContinuousLog::~ContinuousLog() {
    (void)Finish(lastReadingMs_, LogEnd::Stopped);
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
        writer_->PutGap(log.gaps().size() - 1, log.gaps().back());
        log.AnnounceGapsChanged();
    }
    const LogEntry entry = LogEntryOf(reading);
    const size_t statesBefore = log.states().size();
    const std::optional<uint16_t> state = log.InternState(entry.state);
    if (!state) {
        End(LogEnd::WriteFailed, u"The log meets more kinds of reading than it can hold.");
        return;
    }
    if (log.states().size() > statesBefore)
        writer_->AddState(*state, log.states()[*state]);
    const float value = entry.value();
    // In memory first: a reading the file has is always one the document has.
    if (!log.Append(nowMs, value, *state)) {
        End(LogEnd::OutOfMemory);
        return;
    }
    writer_->Append(nowMs, entry.count, *state, value);
    lastReadingMs_ = nowMs;
    if (stop_.kind == LogStopCondition::Kind::Readings && log.readingCount() >= stop_.readings)
        End(LogEnd::ReadingsDone);
}

void ContinuousLog::OnTick(int64_t nowMs) {
    if (ended())
        return;
    if (const Outcome<void> health = writer_->health(); !health) {
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
        writer_->PutGap(log.gaps().size() - 1, log.gaps().back());
        log.AnnounceGapsChanged();
        return;
    }
    OpenGap(lastReadingMs_, kUnpluggedReason);
}

void ContinuousLog::OpenGap(int64_t startMs, std::u16string_view reason) {
    LogDocument& log = *document_;
    if (!log.OpenGap(startMs, std::u16string(reason)))
        return;
    writer_->PutGap(log.gaps().size() - 1, log.gaps().back());
    log.AnnounceGapsChanged();
}

void ContinuousLog::End(LogEnd why, std::u16string detail) {
    if (ended())
        return;
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
        writer_->PutGap(log.gaps().size() - 1, log.gaps().back());
    }
    const std::string stopped = FormatIsoUtc(nowMs);
    log.SetMeta("stopped_utc", stopped);
    writer_->PutMeta("stopped_utc", stopped);
    finishOutcome_ = writer_->Close();
    log.AnnounceGapsChanged();
    return finishOutcome_;
}

} // namespace calvora
