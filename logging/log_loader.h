// Opening a log for viewing: its overview at once (facts, meters, states, gaps, the stored summary the first
// chart is drawn from), its readings on a thread of its own, handed over when complete. Every meter of the
// log has a document of its own.
#pragma once

#include "logging/log_document.h"
#include "logging/log_set.h"
#include "protocol/outcome.h"

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace calvora {

class LogLoader {
public:
    // Reads the overview of `path` into a new log per meter (title, facts, states, gaps and, when it holds
    // readings, the summary). The one meter of a log of one receiver is titled with the file name, each of
    // several with its meter's name.
    static Outcome<std::unique_ptr<LogLoader>> Open(const std::filesystem::path& path);
    // Starts reading the readings. `done` runs on the loading thread once they are read (or failed): the
    // owner then calls Finish on its own thread.
    void Start(std::function<void()> done);
    // Stops a load still running and waits for its thread.
    ~LogLoader();
    LogLoader(const LogLoader&) = delete;
    LogLoader& operator=(const LogLoader&) = delete;

    // The first meter's log (the only one of a log of one receiver), and every meter's.
    const std::shared_ptr<LogDocument>& log() const { return set_.meters.front().log; }
    const LogSet& set() const { return set_; }
    bool finished() const { return finished_.load(); }
    // Moves the readings into each meter's log (which tells its listeners), or gives the failure that
    // stopped the load. Call once `done` has run.
    Outcome<void> Finish();
    // The number of the last reading loaded: a follower of the file goes on after it.
    uint64_t lastSample() const { return lastSample_; }

private:
    LogLoader(std::filesystem::path path, LogSet set);
    void Run(std::function<void()> done);

    std::filesystem::path path_;
    LogSet set_;
    std::vector<std::unique_ptr<LogDocument>> loaded_;
    uint64_t lastSample_ = 0;
    std::optional<std::u16string> failure_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> finished_{false};
    std::thread thread_;
};

} // namespace calvora
