#include "logging/log_loader.h"

#include "logging/log_file.h"

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
    auto log = std::make_shared<LogDocument>();
    log->title = path.filename().u16string();
    log->SetMeta(overview.value().meta);
    log->SetStates(overview.value().states);
    log->SetGaps(overview.value().gaps);
    log->SetOverview(std::move(overview.value().buckets), overview.value().readingCount);
    return std::unique_ptr<LogLoader>(new LogLoader(path, std::move(log)));
}

void LogLoader::Start(std::function<void()> done) {
    if (!thread_.joinable() && !finished_)
        thread_ = std::thread(&LogLoader::Run, this, std::move(done));
}

LogLoader::LogLoader(std::filesystem::path path, std::shared_ptr<LogDocument> log)
    : path_(std::move(path)), log_(std::move(log)) {
}

LogLoader::~LogLoader() {
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
}

void LogLoader::Run(std::function<void()> done) {
    auto loaded = std::make_unique<LogDocument>();
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
            loaded->SetStates(std::move(states).value());
        while (!failure_ && !stop_) {
            const Outcome<uint64_t> read =
                reader.value()->ReadReadings(loaded->readingCount(), kSliceReadings, *loaded);
            if (!read)
                failure_ = read.reason();
            else if (read.value() < kSliceReadings)
                break;
        }
        reader.value()->EndSnapshot();
    }
    loaded_ = std::move(loaded);
    finished_ = true;
    if (done && !stop_)
        done();
}

Outcome<void> LogLoader::Finish() {
    if (thread_.joinable())
        thread_.join();
    if (failure_)
        return Failure(*failure_);
    if (loaded_) {
        log_->AdoptReadings(std::move(*loaded_));
        loaded_.reset();
    }
    return {};
}

} // namespace calvora
