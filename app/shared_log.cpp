#include "app/shared_log.h"

#include "protocol/text.h"

namespace calvora {

Outcome<LogSet> StartSharedLog(const std::vector<MeterEngine*>& sessions,
                               const std::vector<std::string>& names, const std::filesystem::path& path,
                               const LogStopCondition& stop) {
    if (sessions.empty())
        return Failure(u"No receiver is connected.");
    if (!names.empty() && names.size() != sessions.size())
        return Failure(u"Every receiver of the log needs a name.");
    std::vector<LogMeterFacts> meters;
    for (size_t k = 0; k < sessions.size(); ++k) {
        if (sessions[k]->logging())
            return Failure(u"A continuous log is running already.");
        std::optional<LogMeterFacts> meter = sessions[k]->logMeter();
        if (!meter)
            return Failure(u"No receiver is connected.");
        if (!names.empty())
            meter->name = names[k];
        meters.push_back(std::move(*meter));
    }
    std::map<std::string, std::string> meta = sessions.front()->LogFacts();
    // The receivers are the meters' own facts; the log's fact lists them all.
    meta.erase("receiver");
    auto started =
        ContinuousLog::StartSeveral(path, stop, std::move(meta), meters, sessions.front()->NowMs());
    if (!started)
        return started.failure();
    LogSet set = started.value().front()->set();
    for (size_t k = 0; k < sessions.size(); ++k) {
        // Checked above, so every session takes its part.
        if (const Outcome<void> adopted = sessions[k]->AdoptLog(std::move(started.value()[k]), false);
            !adopted)
            return adopted.failure();
    }
    return set;
}

} // namespace calvora
