// calvora-sim's two ways of running: behind a pseudo-terminal with radio-like timing, or writing the
// byte stream of a fixed number of frames to a file.
#pragma once

#include "tools/sim/meter_frames.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace calvora::sim {

// Silence kept around a write that must arrive in a chunk of its own (pair acknowledgement, second
// tail frame): longer than the host's 100 ms read interval.
constexpr int kQuietGapMs = 150;

struct SimOptions {
    double rate = 3;
    ReadingSettings reading;
    WaveSettings wave;
    std::vector<Bytes> script;   // frames replayed in a loop instead of the wave, when not empty
    std::vector<Record> records; // stored records replayed in a loop instead of the wave, when not empty
    std::optional<size_t> logAtStart;
    size_t logCount = 25; // records of a burst asked for without a count
    int burstGapMs = 120;
    FaultSettings faults;
    uint64_t seed = 1;
    bool ignorePair = false;
    double unplugAfterSeconds = -1;
    // With unplugAfterSeconds: the receiver comes back this long after it was pulled, on a new
    // pseudo-terminal behind the same --link path, and the meter goes on; -1 ends the run at the unplug.
    double replugAfterSeconds = -1;
    // The meter's readings stop for pauseForSeconds from pauseAfterSeconds on (the receiver stays).
    double pauseAfterSeconds = -1;
    double pauseForSeconds = 0;
    int64_t frameCount = -1; // live frames before stopping; -1 for no limit
    std::string capturePath;
    std::string linkPath;
};

// Both return the process exit code (0, or 1 on a runtime failure with a message on stderr).
int RunCapture(const SimOptions& options);
int RunPseudoTerminal(const SimOptions& options);

} // namespace calvora::sim
