// calvora-cli log: a continuous log from a receiver or a capture file into FILE.calvlog; and what info,
// export and convert do with logs.
#include "app/shared_log.h"
#include "logging/continuous_log.h"
#include "logging/log_export.h"
#include "logging/log_file.h"
#include "protocol/text.h"
#include "recording/record_file.h"
#include "recording/recording_document.h"
#include "tools/cli/command_registry.h"
#include "tools/cli/json_output.h"
#include "tools/cli/log_files.h"
#include "tools/cli/output.h"
#include "tools/cli/session.h"

#include <cinttypes>
#include <cstdio>
#include <iostream>

namespace calvora::cli {

namespace {

std::string Elapsed(int64_t ms) {
    const int64_t seconds = std::max<int64_t>(ms, 0) / 1000;
    char text[32];
    std::snprintf(text, sizeof text, "%" PRId64 ":%02d:%02d", seconds / 3600,
                  static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
    return text;
}

std::string Size(uintmax_t bytes) {
    char text[32];
    if (bytes >= 10u * 1024 * 1024)
        std::snprintf(text, sizeof text, "%.0f MB", static_cast<double>(bytes) / (1024 * 1024));
    else if (bytes >= 10u * 1024)
        std::snprintf(text, sizeof text, "%.0f kB", static_cast<double>(bytes) / 1024);
    else
        std::snprintf(text, sizeof text, "%ju bytes", bytes);
    return text;
}

std::string WithLogExtension(const std::string& out) {
    const std::filesystem::path path(out);
    return path.extension() == kLogExtension ? out : out + std::string(kLogExtension);
}

struct LogOptions {
    std::vector<std::string> ports;
    std::string input;
    std::string out;
    double duration = 0;
    uint64_t samples = 0;
};

std::string Plural(size_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// Several receivers logged into one file, each reading under its receiver's name, until the stop condition
// holds (a number of readings counts every receiver's together) or Ctrl+C. A receiver that goes away leaves
// a gap in its own meter only.
int RunLogSeveral(const std::vector<std::string>& ports, const std::filesystem::path& path,
                  const LogStopCondition& stop) {
    std::error_code error;
    if (std::filesystem::exists(path, error)) {
        std::cerr << "calvora-cli: " << path.string() << " already exists\n";
        return ExitUsage;
    }
    SessionGroup meters;
    InterruptGuard guard;
    if (!meters.Open(ports)) {
        meters.CloseAll();
        return ExitFailure;
    }
    std::vector<MeterEngine*> sessions;
    std::vector<std::string> names;
    for (size_t k = 0; k < meters.size(); ++k) {
        MeterEngine& state = meters.state(k);
        state.SetApplicationName(std::string("calvora-cli ") + CALVORA_VERSION);
        const std::string name = meters.name(k);
        meters.view(k).onNoSignal = [name] {
            std::cerr << "calvora-cli: " << name
                      << ": no signal; the log goes on and the receiver is reopened when it is back\n";
        };
        sessions.push_back(&state);
        names.push_back(name);
    }
    if (const Outcome<LogSet> started = StartSharedLog(sessions, names, path, stop); !started) {
        std::cerr << "calvora-cli: " << toUtf8(started.reason()) << '\n';
        for (MeterEngine* session : sessions)
            session->StopLogging(LogEnd::Stopped);
        meters.CloseAll();
        return ExitFailure;
    }
    meters.RunWhileAnyIs([](const MeterEngine& meter) { return meter.logging(); });
    int status = ExitOk;
    for (size_t k = 0; k < meters.size(); ++k) {
        MeterEngine& state = meters.state(k);
        state.StopLogging(LogEnd::Stopped);
        state.ClosePort();
    }
    std::cout << path.string() << '\n';
    for (size_t k = 0; k < meters.size(); ++k) {
        MeterEngine& state = meters.state(k);
        const ContinuousLog* log = state.currentLog();
        if (log == nullptr) {
            status = ExitFailure;
            continue;
        }
        std::cerr << "calvora-cli: " << meters.name(k) << ": logged "
                  << Plural(log->readingCount(), "reading", "readings") << " in "
                  << Elapsed(log->elapsedMs(state.NowMs())) << ", "
                  << Plural(log->document().gaps().size(), "gap", "gaps") << '\n';
        if (log->end() == LogEnd::WriteFailed || log->end() == LogEnd::OutOfMemory)
            status = ExitFailure;
    }
    return status;
}

int RunLog(const LogOptions& options) {
    const std::string port = options.ports.empty() ? std::string() : options.ports.front();
    if (!Exclusive(port, options.input))
        return ExitUsage;
    const std::filesystem::path path = WithLogExtension(options.out);
    std::error_code error;
    LogStopCondition stop;
    if (options.duration > 0) {
        stop.kind = LogStopCondition::Kind::Duration;
        stop.durationMs = static_cast<int64_t>(options.duration * 1000);
    } else if (options.samples > 0) {
        stop.kind = LogStopCondition::Kind::Readings;
        stop.readings = options.samples;
    }
    if (options.ports.size() > 1)
        return RunLogSeveral(options.ports, path, stop);
    if (std::filesystem::exists(path, error)) {
        std::cerr << "calvora-cli: " << path.string() << " already exists\n";
        return ExitUsage;
    }

    Session session;
    session.state.SetApplicationName(std::string("calvora-cli ") + CALVORA_VERSION);
    InterruptGuard guard;
    const bool terminal = ::isatty(STDERR_FILENO);
    auto progress = [&](bool last) {
        const ContinuousLog* log = session.state.currentLog();
        if (!terminal || log == nullptr)
            return;
        std::fprintf(stderr, "\rLogged %" PRIu64 " readings, %s, %s   ", log->readingCount(),
                     Elapsed(log->elapsedMs(session.state.NowMs())).c_str(), Size(log->fileBytes()).c_str());
        if (last)
            std::fputc('\n', stderr);
    };
    session.view.onNoSignal = [&] {
        if (terminal)
            std::fputc('\n', stderr);
        std::cerr << "calvora-cli: no signal; the log goes on and the receiver is reopened when it is back\n";
    };

    if (!options.input.empty()) {
        session.state.SelectCaptureSource();
        if (const Outcome<void> started = session.state.StartLogging(path, stop); !started) {
            std::cerr << "calvora-cli: " << toUtf8(started.reason()) << '\n';
            return ExitFailure;
        }
        const Feed fed =
            session.FeedFile(options.input, [&] { return !session.state.logging() || interrupted; });
        session.state.StopLogging(interrupted ? LogEnd::Stopped : LogEnd::EndOfInput);
        if (fed == Feed::Refused) {
            std::filesystem::remove(path, error);
            return ExitUsage;
        }
    } else {
        if (!session.Open(port))
            return ExitFailure;
        if (const Outcome<void> started = session.state.StartLogging(path, stop); !started) {
            std::cerr << "calvora-cli: " << toUtf8(started.reason()) << '\n';
            session.state.ClosePort();
            return ExitFailure;
        }
        auto shown = Clock::now();
        while (session.state.logging() && !interrupted) {
            session.Turn();
            if (Clock::now() - shown >= std::chrono::milliseconds(200)) {
                progress(false);
                shown = Clock::now();
            }
        }
        progress(true);
        session.state.StopLogging(LogEnd::Stopped);
        session.state.ClosePort();
    }

    const ContinuousLog* log = session.state.currentLog();
    if (log == nullptr)
        return ExitFailure;
    std::cout << path.string() << '\n';
    std::cerr << "calvora-cli: logged " << log->readingCount() << " readings in "
              << Elapsed(log->elapsedMs(session.state.NowMs())) << ", " << log->document().gaps().size()
              << (log->document().gaps().size() == 1 ? " gap\n" : " gaps\n");
    const bool failed = log->end() == LogEnd::WriteFailed || log->end() == LogEnd::OutOfMemory;
    return failed ? ExitFailure : ExitOk;
}

// Texts from a file as a terminal may show them: control characters become visible escapes.
std::string Printable(const std::string& text) {
    std::string shown;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", byte);
            shown += escape;
        } else {
            shown += c;
        }
    }
    return shown;
}

std::optional<int64_t> SpanTime(const std::string& text, const char* option) {
    const std::optional<int64_t> time = ParseIsoTime(text);
    if (!time)
        std::cerr << "calvora-cli: " << option
                  << " takes an ISO 8601 time such as 2026-12-09T08:15:02Z, not '" << text << "'\n";
    return time;
}

const bool registered = [] {
    registerCommand(
        {"log", "Log live readings without a limit into FILE.calvlog (an SQLite file)", 25,
         [](CLI::App& sub) {
             auto options = std::make_shared<LogOptions>();
             auto* port = sub.add_option("--port", options->ports,
                                         "Device path or COM number; again for each further receiver, "
                                         "each logged under its name into the one file")
                              ->check(kPortValidator);
             auto* input = sub.add_option("--input", options->input, "Capture file of received bytes");
             port->excludes(input);
             sub.add_option("--out", options->out, "The log file to create (.calvlog is added when missing)")
                 ->required();
             auto* duration = sub.add_option("--duration", options->duration, "Stop after S seconds")
                                  ->check(CLI::Range(0.001, 1e9));
             auto* samples = sub.add_option("--samples", options->samples,
                                            "Stop after N readings (every receiver's together)")
                                 ->check(CLI::Range(uint64_t{1}, uint64_t{1} << 40));
             duration->excludes(samples);
             return CommandRunner([options] { return RunLog(*options); });
         }});
    return true;
}();

} // namespace

bool IsLogFile(const std::string& file) {
    return LooksLikeLogFile(file);
}

void AddMeterOption(CLI::App& sub, std::string& meter) {
    sub.add_option("--meter", meter,
                   "The meter of a continuous log of several meters (calvora-cli info lists them)");
}

std::u16string LogSourceName(const std::string& file, const OpenedLog& opened) {
    std::u16string name = fromUtf8(std::filesystem::path(file).filename().string());
    if (opened.several)
        name += u" - " + fromUtf8(opened.meter);
    return name;
}

int OpenLogSpan(const std::string& file, const TimeSpanOptions& span, OpenedLog& opened) {
    std::optional<int64_t> from;
    std::optional<int64_t> to;
    if (!span.from.empty() && !(from = SpanTime(span.from, "--from")))
        return ExitUsage;
    if (!span.to.empty() && !(to = SpanTime(span.to, "--to")))
        return ExitUsage;
    auto loaded = LoadLogSet(file);
    if (!loaded) {
        std::cerr << "calvora-cli: cannot read " << file << ": " << toUtf8(loaded.reason()) << '\n';
        return ExitUsage;
    }
    const LogSet& set = loaded.value();
    const LogMeter* meter = nullptr;
    if (!span.meter.empty())
        meter = set.Find(span.meter);
    else if (!set.several())
        meter = &set.meters.front();
    if (meter == nullptr) {
        if (span.meter.empty())
            std::cerr << "calvora-cli: " << file << " holds several meters; choose one with --meter NAME: ";
        else
            std::cerr << "calvora-cli: " << file << " holds no meter named '" << Printable(span.meter)
                      << "'; its meters: ";
        std::cerr << Printable(set.NameList()) << '\n';
        return ExitUsage;
    }
    opened.log = meter->log;
    opened.meter = meter->facts.name;
    opened.several = set.several();
    opened.range = RangeOfTimes(*opened.log, from, to);
    return ExitOk;
}

int LoadLogAsRecording(const std::string& file, const TimeSpanOptions& span, RecordingDocument& recording) {
    OpenedLog opened;
    if (const int code = OpenLogSpan(file, span, opened); code != ExitOk)
        return code;
    const LogDocument& log = *opened.log;
    if (opened.range.count() > kMaxExportReadings) {
        std::cerr << "calvora-cli: " << toUtf8(RangeTooLongMessage(opened.range.count())) << "\n"
                  << "calvora-cli: the log runs from " << FormatIsoUtc(log.firstTime()) << " to "
                  << FormatIsoUtc(log.lastTime()) << "; choose a part of it with --from and --to\n";
        return ExitFailure;
    }
    if (const Outcome<void> exported = ExportRange(log, opened.range, recording); !exported) {
        std::cerr << "calvora-cli: " << toUtf8(exported.reason()) << '\n';
        return ExitFailure;
    }
    return ExitOk;
}

int PrintLogInfo(const std::string& file, bool json) {
    auto reader = LogFileReader::Open(file);
    if (!reader) {
        std::cerr << "calvora-cli: cannot read " << file << ": " << toUtf8(reader.reason()) << '\n';
        return ExitUsage;
    }
    const auto overview = reader.value()->ReadOverview();
    if (!overview) {
        std::cerr << "calvora-cli: cannot read " << file << ": " << toUtf8(overview.reason()) << '\n';
        return ExitUsage;
    }
    const LogOverview& log = overview.value();
    const auto meta = [&](const char* key) {
        const auto found = log.meta.find(key);
        return found == log.meta.end() ? std::string() : found->second;
    };
    // The log's first and last readings over every meter.
    std::optional<int64_t> first;
    std::optional<int64_t> last;
    for (const LogMeterOverview& meter : log.meters) {
        if (meter.buckets.empty())
            continue;
        first = std::min(first.value_or(INT64_MAX), meter.buckets.front().firstMs);
        last = std::max(last.value_or(INT64_MIN), meter.buckets.back().lastMs);
    }
    const bool several = log.meters.size() > 1;
    // Every meter's gaps, in time order, each with its meter's name when there are several.
    std::vector<std::pair<const LogGap*, const std::string*>> gaps;
    for (const LogMeterOverview& meter : log.meters) {
        for (const LogGap& gap : meter.gaps)
            gaps.emplace_back(&gap, &meter.facts.name);
    }
    std::stable_sort(gaps.begin(), gaps.end(),
                     [](const auto& a, const auto& b) { return a.first->startMs < b.first->startMs; });
    if (json) {
        Json out;
        out["kind"] = "log";
        out["model"] = meta("model");
        out["readingCount"] = log.readingCount;
        out["first"] = first ? Json(FormatIsoUtc(*first)) : Json(nullptr);
        out["last"] = last ? Json(FormatIsoUtc(*last)) : Json(nullptr);
        Json gapList = Json::array();
        for (const auto& [gap, name] : gaps) {
            Json entry;
            entry["start"] = FormatIsoUtc(gap->startMs);
            entry["end"] = gap->endMs ? Json(FormatIsoUtc(*gap->endMs)) : Json(nullptr);
            entry["reason"] = toUtf8(gap->reason);
            if (several)
                entry["meter"] = *name;
            gapList.push_back(std::move(entry));
        }
        out["gaps"] = std::move(gapList);
        if (several) {
            Json meters = Json::array();
            for (const LogMeterOverview& meter : log.meters) {
                Json entry;
                entry["name"] = meter.facts.name;
                entry["receiver"] = meter.facts.receiver;
                entry["readingCount"] = meter.readingCount;
                entry["gapCount"] = meter.gaps.size();
                meters.push_back(std::move(entry));
            }
            out["meters"] = std::move(meters);
        }
        out["finished"] = log.finished();
        Json facts = Json::object();
        for (const auto& [key, value] : log.meta)
            facts[key] = value;
        out["meta"] = std::move(facts);
        std::cout << out.dump(-1, ' ', false, Json::error_handler_t::replace) << '\n';
        return ExitOk;
    }
    std::printf("File:      %s\n", Printable(file).c_str());
    std::printf("Kind:      continuous log%s\n",
                log.finished() ? "" : " (still being written, or cut short)");
    std::printf("Model:     %s\n", Printable(meta("model")).c_str());
    std::printf("Readings:  %" PRIu64 "\n", log.readingCount);
    if (first) {
        std::printf("First:     %s\n", FormatIsoUtc(*first).c_str());
        std::printf("Last:      %s\n", FormatIsoUtc(*last).c_str());
    }
    if (several) {
        std::printf("Meters:    %zu\n", log.meters.size());
        for (const LogMeterOverview& meter : log.meters)
            std::printf("           %s  %s  %" PRIu64 " readings, %zu %s\n",
                        Printable(meter.facts.name).c_str(), Printable(meter.facts.receiver).c_str(),
                        meter.readingCount, meter.gaps.size(), meter.gaps.size() == 1 ? "gap" : "gaps");
    } else {
        std::printf("Receiver:  %s\n", Printable(meta("receiver")).c_str());
    }
    std::printf("Gaps:      %zu\n", gaps.size());
    for (const auto& [gap, name] : gaps)
        std::printf("           %s .. %s  %s%s%s\n", FormatIsoUtc(gap->startMs).c_str(),
                    gap->endMs ? FormatIsoUtc(*gap->endMs).c_str() : "(open)",
                    Printable(toUtf8(gap->reason)).c_str(), several ? "  " : "",
                    several ? Printable(*name).c_str() : "");
    return ExitOk;
}

} // namespace calvora::cli
