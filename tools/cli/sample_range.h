// --from I --to J: the samples a command works on, 1-based and inclusive, by default every sample of the
// file. One set of checks for every command that takes them: I < 1, J past the last sample or I > J is bad
// usage. For a continuous log the same options are ISO 8601 times (timeSpan()).
#pragma once

#include "protocol/outcome.h"
#include "recording/sample_source.h"
#include "tools/cli/log_files.h"

#include <CLI/CLI.hpp>

#include <cstdint>
#include <optional>
#include <string>

namespace calvora::cli {

class SampleRangeOptions {
public:
    // Declares --from, --to and --meter on `sub`.
    void AddTo(CLI::App& sub);
    bool given() const;
    // The samples within a file of `sampleCount` samples (all of them when neither option was given), or why
    // the options do not fit it (for standard error, then exit 2).
    Outcome<SampleNumbers> Resolve(uint64_t sampleCount) const;
    // The options as the times of a span of a continuous log.
    TimeSpanOptions timeSpan() const { return {from_, to_, meter_}; }

private:
    std::string from_;
    std::string to_;
    std::string meter_;
    CLI::Option* fromOption_ = nullptr;
    CLI::Option* toOption_ = nullptr;
};

} // namespace calvora::cli
