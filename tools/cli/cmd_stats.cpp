// calvora-cli stats: count, extremes, mean and standard deviation of a recording's readings, per function
// and unit, over the whole file or a range of sample numbers.
#include "logging/log_document.h"
#include "logging/log_samples.h"
#include "measure/statistics.h"
#include "protocol/text.h"
#include "recording/recording_document.h"
#include "tools/cli/command_registry.h"
#include "tools/cli/json_output.h"
#include "tools/cli/log_files.h"
#include "tools/cli/output.h"

#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>

namespace calvora::cli {

namespace {

// The readings of FILE, and what holds them while they are read.
struct OpenedSource {
    std::unique_ptr<RecordingDocument> document;
    OpenedLog log;
    std::unique_ptr<SampleSource> samples;
};

// Prints why not and gives the exit code when FILE holds no readings this command can read.
int Open(const std::string& file, const std::string& meter, OpenedSource& opened) {
    if (IsLogFile(file)) {
        // A log is read as it is, however long: the figures need no recording of it.
        if (const int code = OpenLogSpan(file, {{}, {}, meter}, opened.log); code != ExitOk)
            return code;
        opened.samples =
            std::make_unique<LogSamples>(*opened.log.log, opened.log.range, LogSourceName(file, opened.log));
        return ExitOk;
    }
    if (!meter.empty()) {
        std::cerr << "calvora-cli: --meter chooses a meter of a continuous log; " << file
                  << " is a recording\n";
        return ExitUsage;
    }
    opened.document = std::make_unique<RecordingDocument>();
    if (const int code = LoadRecording(file, *opened.document); code != ExitOk)
        return code;
    opened.samples = std::make_unique<DocumentSamples>(*opened.document);
    return ExitOk;
}

Json GroupJson(const GroupStatistics& group) {
    Json json;
    json["functionName"] = toUtf8(group.functionName);
    json["unit"] = toUtf8(group.unit);
    json["count"] = group.count;
    json["overloads"] = group.overloads;
    const bool any = group.count > 0;
    // Extremes are stored values, printed as the float they were stored as; the mean and the deviation
    // are computed in double precision and printed as such.
    json["min"] = any ? ShortestNumber(static_cast<float>(group.min)) : Json(nullptr);
    json["minAt"] = any ? Json(group.minAt) : Json(nullptr);
    json["max"] = any ? ShortestNumber(static_cast<float>(group.max)) : Json(nullptr);
    json["maxAt"] = any ? Json(group.maxAt) : Json(nullptr);
    json["mean"] = any ? ShortestNumber(group.mean) : Json(nullptr);
    json["stddev"] = any ? ShortestNumber(group.stddev) : Json(nullptr);
    return json;
}

int RunStats(const std::string& file, const std::string& meter, std::optional<int64_t> from,
             std::optional<int64_t> to, bool json) {
    OpenedSource opened;
    if (const int code = Open(file, meter, opened); code != ExitOk)
        return code;
    const SampleSource& samples = *opened.samples;
    const auto count = static_cast<int64_t>(samples.sampleCount());
    const int64_t first = from.value_or(1);
    // An empty file has an empty whole; a range asked of it has nothing to lie in.
    const int64_t last = to.value_or(count);
    if (from || to || count > 0) {
        if (first < 1) {
            std::cerr << "calvora-cli: --from must be 1 or more\n";
            return ExitUsage;
        }
        if (last > count) {
            std::cerr << "calvora-cli: --to " << last << " is past the last sample (" << count << ")\n";
            return ExitUsage;
        }
        if (first > last) {
            std::cerr << "calvora-cli: --from " << first << " is after --to " << last << '\n';
            return ExitUsage;
        }
    }
    const RangeStatistics statistics = ComputeStatistics(samples, static_cast<uint64_t>(first),
                                                         static_cast<uint64_t>(std::max<int64_t>(last, 0)));

    if (json) {
        Json out;
        if (opened.log.several)
            out["meter"] = opened.log.meter;
        out["from"] = first;
        out["to"] = last;
        out["groups"] = Json::array();
        for (const GroupStatistics& group : statistics.groups)
            out["groups"].push_back(GroupJson(group));
        std::cout << out.dump(-1, ' ', false, Json::error_handler_t::replace) << '\n';
        return ExitOk;
    }
    std::cout << "File:     " << file << '\n';
    if (opened.log.several)
        std::cout << "Meter:    " << opened.log.meter << '\n';
    std::cout << "Samples:  " << first << " to " << last << " of " << count << '\n';
    if (statistics.groups.empty())
        return ExitOk;
    std::cout << '\n' << toUtf8(Aligned(StatisticsRows(statistics, &samples)));
    return ExitOk;
}

const bool registered = [] {
    registerCommand(
        {"stats", "Show count, extremes, mean and standard deviation of a recording's readings", 33,
         [](CLI::App& sub) {
             struct Options {
                 std::string file;
                 int64_t from = 0;
                 int64_t to = 0;
                 bool json = false;
                 std::string meter;
             };
             auto options = std::make_shared<Options>();
             sub.add_flag("--json", options->json, "Print the figures as one JSON object");
             auto* from =
                 sub.add_option("--from", options->from, "First sample number of the range (default 1)");
             auto* to =
                 sub.add_option("--to", options->to, "Last sample number of the range (default the last)");
             AddMeterOption(sub, options->meter);
             sub.add_option("FILE", options->file, "Recording (.recorder)")->required();
             return CommandRunner([options, from, to] {
                 return RunStats(options->file, options->meter,
                                 from->count() ? std::optional<int64_t>(options->from) : std::nullopt,
                                 to->count() ? std::optional<int64_t>(options->to) : std::nullopt,
                                 options->json);
             });
         }});
    return true;
}();

} // namespace

} // namespace calvora::cli
