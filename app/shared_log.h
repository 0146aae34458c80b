// One continuous log over several meter sessions: one file, one writer thread, each session's readings and
// gaps under its own meter. Each session runs its meter's part as its own log (a receiver that goes away
// leaves a gap in its meter only, and comes back by itself); the stop condition ends them all, a number of
// readings counting every meter's together.
#pragma once

#include "app/meter_engine.h"
#include "logging/log_set.h"
#include "protocol/outcome.h"

#include <filesystem>
#include <string>
#include <vector>

namespace calvora {

// Starts one log in `path` (which must not exist) over `sessions`, each connected; `names` (when given, one
// per session) names the meters, else each receiver's own name does. Nothing starts unless every session
// can take its part. Returns the log's meters for a window that shows them all.
Outcome<LogSet> StartSharedLog(const std::vector<MeterEngine*>& sessions,
                               const std::vector<std::string>& names, const std::filesystem::path& path,
                               const LogStopCondition& stop);

} // namespace calvora
