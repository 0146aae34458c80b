// Opening a log for viewing: its overview at once (facts, states, gaps, the stored summary the first chart
// is drawn from), its readings on a thread of its own, handed over when complete.
#pragma once

#include "logging/log_document.h"
#include "protocol/outcome.h"

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace calvora {

class LogLoader {
public:
    // Reads the overview of `path` into a new log (title, facts, states, gaps and, when it holds readings,
    // the summary).
    static Outcome<std::unique_ptr<LogLoader>> Open(const std::filesystem::path& path);
    // Starts reading the readings. `done` runs on the loading thread once they are read (or failed): the
    // owner then calls Finish on its own thread.
    void Start(std::function<void()> done);
    // Stops a load still running and waits for its thread.
    ~LogLoader();
    LogLoader(const LogLoader&) = delete;
    LogLoader& operator=(const LogLoader&) = delete;

    const std::shared_ptr<LogDocument>& log() const { return log_; }
    bool finished() const { return finished_.load(); }
    // Moves the readings into the log (which tells its listeners), or gives the failure that stopped the
    // load. Call once `done` has run.
    Outcome<void> Finish();

private:
    LogLoader(std::filesystem::path path, std::shared_ptr<LogDocument> log);
    void Run(std::function<void()> done);

    std::filesystem::path path_;
    std::shared_ptr<LogDocument> log_;
    std::unique_ptr<LogDocument> loaded_;
    std::optional<std::u16string> failure_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> finished_{false};
    std::thread thread_;
};

} // namespace calvora
