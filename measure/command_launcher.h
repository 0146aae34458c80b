// Runs a user's command for an alarm without waiting for it: /bin/sh -c COMMAND, with the reading in
// variables added to the program's environment, its input from /dev/null and its output on the program's
// standard error (so a terminal program's own output stays what it says it is).
#pragma once

#include "protocol/outcome.h"

#include <chrono>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace calvora {

using CommandEnvironment = std::vector<std::pair<std::string, std::string>>;

class CommandLauncher {
public:
    CommandLauncher() = default;
    CommandLauncher(const CommandLauncher&) = delete;
    CommandLauncher& operator=(const CommandLauncher&) = delete;
    // Commands still running go on; they are no longer waited for.
    ~CommandLauncher() = default;

    // The command's process id, or why it could not be started.
    Outcome<pid_t> Start(const std::string& command, const CommandEnvironment& environment);
    // Collects the commands that have ended; returns how many still run.
    size_t Reap();
    // Waits for every command to end, at most `bound`; true when none is left.
    bool WaitAll(std::chrono::milliseconds bound);
    size_t running() const { return running_.size(); }

private:
    std::vector<pid_t> running_;
};

} // namespace calvora
