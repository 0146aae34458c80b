#include "logging/log_loader.h"

#include "logging/log_file.h"
#include "protocol/text.h"

namespace calvora {

namespace {
// Readings read between two looks at whether the load was given up.
constexpr uint64_t kSliceReadings = 1 << 20;
} // namespace

Outcome<std::unique_ptr<LogLoader>> LogLoader::Open(const std::filesystem::path& path) {
    auto reader = LogFileReader::Open(path);
    if (!reader)
        return reader.failure();
    auto overview = reader.value()->ReadOverview();
    if (!overview)
        return overview.failure();
    LogSet set;
    set.title = path.filename().u16string();
    set.meta = overview.value().meta;
    for (LogMeterOverview& meter : overview.value().meters) {
        auto log = std::make_shared<LogDocument>();
        log->title =
            overview.value().meters.size() == 1 ? path.filename().u16string() : fromUtf8(meter.facts.name);
        log->SetMeta(overview.value().meta);
        log->SetStates(overview.value().states);
        log->SetGaps(std::move(meter.gaps));
        log->SetOverview(std::move(meter.buckets), meter.readingCount);
        set.meters.push_back({std::move(meter.facts), std::move(log)});
    }
    return std::unique_ptr<LogLoader>(new LogLoader(path, std::move(set)));
}

void LogLoader::Start(std::function<void()> done) {
    if (!thread_.joinable() && !finished_)
        thread_ = std::thread(&LogLoader::Run, this, std::move(done));
}

LogLoader::LogLoader(std::filesystem::path path, LogSet set) : path_(std::move(path)), set_(std::move(set)) {
}

LogLoader::~LogLoader() {
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
}

void LogLoader::Run(std::function<void()> done) {
    std::vector<std::unique_ptr<LogDocument>> loaded;
    std::vector<LogDocument*> logs;
    for (size_t m = 0; m < set_.meters.size(); ++m) {
        loaded.push_back(std::make_unique<LogDocument>());
        logs.push_back(loaded.back().get());
    }
    uint64_t after = 0;
    auto reader = LogFileReader::Open(path_);
    if (!reader) {
        failure_ = reader.reason();
    } else {
        // The states as the file holds them now (readings committed since the overview may use new ones),
        // in the same snapshot as the readings.
        if (auto begun = reader.value()->BeginSnapshot(); !begun)
            failure_ = begun.reason();
        auto states = reader.value()->ReadStates();
        if (!states)
            failure_ = states.reason();
        else
            for (LogDocument* log : logs)
                log->SetStates(states.value());
        while (!failure_ && !stop_) {
            const Outcome<uint64_t> read = reader.value()->ReadReadings(after, kSliceReadings, logs);
            if (!read)
                failure_ = read.reason();
            else if (read.value() < kSliceReadings)
                break;
        }
        reader.value()->EndSnapshot();
    }
    loaded_ = std::move(loaded);
    lastSample_ = after;
    finished_ = true;
    if (done && !stop_)
        done();
}

Outcome<void> LogLoader::Finish() {
    if (thread_.joinable())
        thread_.join();
    if (failure_)
        return Failure(*failure_);
    for (size_t m = 0; m < loaded_.size() && m < set_.meters.size(); ++m)
        set_.meters[m].log->AdoptReadings(std::move(*loaded_[m]));
    loaded_.clear();
    return {};
}

} // namespace calvora
