// calvora-cli record / download / monitor / pair / ports: the meter engine driven from a terminal. The
// same state the desktop program uses runs here with a headless view: messages go to standard error,
// timers are deadlines checked by the loop, documents live in memory until they are saved.
#include "app/meter_engine.h"
#include "app/meter_name.h"
#include "protocol/text.h"
#include "publish/mqtt_publisher.h"
#include "recording/journal.h"
#include "recording/recording_document.h"
#include "tools/cli/command_registry.h"
#include "tools/cli/json_output.h"
#include "tools/cli/measure_options.h"
#include "tools/cli/output.h"
#include "tools/cli/session.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace calvora::cli {

namespace {

// ------------------------------------------------------------------------------------------ record

int RunRecord(const std::string& port, const std::string& input, uint32_t samples, const std::string& base,
              const RecordTrigger& triggerOptions) {
    if (!Exclusive(port, input))
        return ExitUsage;
    if (samples < 1 || samples > kMaxPlannedSamples) {
        std::cerr << "calvora-cli: --samples runs from 1 to " << kMaxPlannedSamples << '\n';
        return ExitUsage;
    }
    const Outcome<TriggerSettings> trigger = MakeTrigger(triggerOptions, samples);
    if (!trigger) {
        std::cerr << "calvora-cli: " << toUtf8(trigger.reason()) << '\n';
        return ExitUsage;
    }
    // The same crash journal as the desktop program: a killed run leaves its samples for recovery.
    Journal journal;
    Session session;
    session.state.SetJournal(&journal);
    session.state.SetNextTrigger(trigger.value());
    InterruptGuard guard;
    const bool terminal = ::isatty(STDERR_FILENO);
    bool journalWarned = false;
    auto warnJournal = [&] {
        if (journalWarned)
            return;
        if (const Outcome<void> kept = journal.kept(); !kept) {
            journalWarned = true;
            std::cerr << "calvora-cli: " << toUtf8(kept.reason()) << " (recording on in memory)\n";
        }
    };
    auto recorded = [&]() -> uint32_t {
        const RecordingDocument* document = session.state.documents().recordingDocument;
        return document ? document->sampleCount() : 0;
    };

    if (!input.empty()) {
        session.state.StartRecordingOf(samples);
        const Feed fed =
            session.FeedFile(input, [&] { return !session.state.documents().recording || interrupted; });
        if (fed == Feed::Refused)
            return ExitUsage;
        session.state.StopRecording(interrupted ? RecordingEnd::Interrupted : RecordingEnd::EndOfInput);
    } else {
        if (!session.Open(port))
            return ExitFailure;
        session.state.StartRecordingOf(samples);
        uint32_t shown = UINT32_MAX;
        while (session.state.documents().recording && !interrupted) {
            session.Turn();
            warnJournal();
            if (terminal && recorded() != shown) {
                shown = recorded();
                std::fprintf(stderr, "\rRecorded %u of %u samples", shown, samples);
            }
            if (terminal && shown == 0 && session.state.triggerArmed())
                std::fprintf(stderr, "\rWaiting for the trigger");
        }
        if (terminal)
            std::fputc('\n', stderr);
        session.state.StopRecording(RecordingEnd::Interrupted);
        session.state.ClosePort();
    }

    // Whatever ended the recording early is said, and the exit status tells a script it is short.
    const std::u16string ending =
        RecordingEndMessage(recorded(), samples, session.state.documents().recordingEnd);
    if (!ending.empty())
        std::cerr << "calvora-cli: " << toUtf8(ending) << '\n';
    const RecordingDocument* document = session.state.documents().recordingDocument;
    if (!document || document->sampleCount() == 0) {
        std::cerr << "calvora-cli: no reading was recorded\n";
        return ExitFailure;
    }
    warnJournal();
    const int saved = SaveAs(*document, base, session.state.documents());
    if (saved == ExitOk)
        session.state.OnDocumentSaved(*document);
    else if (journal.Sync() && !journal.path().empty())
        TellHowToRecover(journal.path());
    if (saved != ExitOk)
        return saved;
    return ending.empty() ? ExitOk : ExitFailure;
}

// ---------------------------------------------------------------------------------------- download

int RunDownload(const std::string& port, const std::string& input, const std::string& base, double timeout) {
    if (!Exclusive(port, input))
        return ExitUsage;
    Session session;
    InterruptGuard guard;
    const RecordingDocument* filled = nullptr;
    session.state.SetDownloadObserver([&](const RecordingDocument& document) { filled = &document; });

    if (!input.empty()) {
        if (session.FeedFile(input, [&] { return filled != nullptr || interrupted; }) == Feed::Refused)
            return ExitUsage;
    } else {
        if (!session.Open(port))
            return ExitFailure;
        std::cerr << "Waiting for the stored log on " << port << " (start the transfer on the meter)"
                  << std::endl;
        const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                 std::chrono::duration<double>(timeout));
        while (!filled && !interrupted && Clock::now() < deadline)
            session.Turn();
        session.state.ClosePort();
    }
    if (!filled) {
        std::cerr << "calvora-cli: no complete stored log arrived\n";
        return ExitFailure;
    }
    const int saved = SaveAs(*filled, base, session.state.documents());
    // A log that stopped arriving is saved as far as it came, and the exit status says it is not whole.
    if (saved == ExitOk && !session.state.lastDownloadComplete())
        return ExitFailure;
    return saved;
}

// ----------------------------------------------------------------------------------------- monitor

struct MonitorPublish {
    std::string url;
    int qos = 1;
    std::string spool;
    std::string caFile;
};

// The broker's settings from --mqtt and its companions, or why they cannot be used (bad usage). The
// password may come from CALVORA_MQTT_PASSWORD instead of the URL, where it would be seen in process lists.
Outcome<PublishSettings> MakePublishSettings(const MonitorPublish& options) {
    Outcome<MqttTarget> target = ParseMqttUrl(options.url);
    if (!target)
        return target.failure();
    PublishSettings settings;
    settings.target = target.value();
    if (!settings.target.user.empty() && settings.target.password.empty())
        if (const char* password = std::getenv("CALVORA_MQTT_PASSWORD"))
            settings.target.password = password;
    if (!options.caFile.empty() && !settings.target.tls)
        return Failure(u"--ca-file needs an mqtts:// address");
    settings.target.caFile = options.caFile;
    settings.qos = options.qos;
    settings.spoolFolder = options.spool;
    return settings;
}

// Says each change of the broker's state on standard error, once.
std::function<void(const PublisherStatus&)> StatusPrinter(std::string meter, MqttTarget target) {
    auto last = std::make_shared<std::pair<std::mutex, std::string>>();
    return [last, meter = std::move(meter), target = std::move(target)](const PublisherStatus& status) {
        PublisherStatus shown = status;
        shown.spooled = 0; // the count changes with every reading; the state is what is worth a line
        const std::string line = StatusText(shown, meter, target);
        std::lock_guard lock(last->first);
        if (line != last->second) {
            last->second = line;
            std::cerr << "calvora-cli: " << line << std::endl;
        }
    };
}

int RunMonitor(const std::string& port, bool text, const MonitorLimits& limits,
               const MonitorPublish& publish) {
    if (const std::string bad = MonitorAlarms::Check(limits); !bad.empty()) {
        std::cerr << "calvora-cli: " << bad << '\n';
        return ExitUsage;
    }
    std::unique_ptr<MqttPublisher> publisher;
    if (!publish.url.empty()) {
        const Outcome<PublishSettings> settings = MakePublishSettings(publish);
        if (!settings) {
            std::cerr << "calvora-cli: " << toUtf8(settings.reason()) << '\n';
            return ExitUsage;
        }
        const std::string meter = toUtf8(MeterName(port));
        Outcome<std::unique_ptr<MqttPublisher>> started =
            MqttPublisher::Start(settings.value(), meter, StatusPrinter(meter, settings.value().target));
        if (!started) {
            std::cerr << "calvora-cli: " << toUtf8(started.reason()) << '\n';
            return ExitFailure;
        }
        publisher = std::move(started.value());
    }
    Session session;
    InterruptGuard guard;
    MonitorAlarms alarms(limits, text, port);
    if (publisher)
        alarms.onEvent = [&](const AlarmNotice& notice) { publisher->PublishAlarm(notice); };
    session.view.onReading = [&](const LiveReading& reading) {
        if (publisher)
            publisher->PublishReading(reading);
        std::cout << (text ? PanelLine(reading) : LiveJson(reading).dump()) << std::endl;
        alarms.OnReading(reading);
    };
    auto finishPublishing = [&] {
        if (!publisher)
            return;
        const std::string meter = publisher->meter();
        publisher.reset(); // sends what it can for a moment, then says "offline"
        Outcome<Spool> left = Spool::Open((publish.spool.empty() ? Spool::DefaultFolder() : publish.spool) +
                                          '/' + TopicSafe(meter));
        if (left && !left.value().empty())
            std::cerr << "calvora-cli: " << left.value().count() << " messages wait in "
                      << left.value().folder() << " for the next run\n";
    };
    if (!session.Open(port)) {
        finishPublishing();
        return ExitFailure;
    }
    bool removed = false;
    // Readings nobody can see are not worth waiting for: a failed standard output ends the watch.
    while (!interrupted && !removed && std::cout.good()) {
        session.state.handOff().WaitAndRun(std::chrono::milliseconds(50));
        removed = session.state.PollReaderEnd();
    }
    session.state.ClosePort();
    alarms.Finish();
    finishPublishing();
    if (removed) {
        std::cerr << "calvora-cli: the receiver went away\n";
        return ExitFailure;
    }
    return ExitOk;
}

// -------------------------------------------------------------------------------------------- pair

int RunPair(const std::string& port) {
    Session session;
    InterruptGuard guard;
    if (!session.Open(port))
        return ExitFailure;
    session.state.Pair();
    // The pairing timer runs until the acknowledgement stops it or it fires with the failure message.
    while (!interrupted && !session.state.paired() && session.view.TimerRunning(kPairTimer))
        session.Turn();
    session.state.ClosePort();
    if (session.state.paired()) {
        std::cout << "Paired\n";
        return ExitOk;
    }
    return ExitFailure;
}

// ------------------------------------------------------------------------------------------- ports

int RunPorts() {
    Session session;
    session.state.ScanReceivers();
    if (!session.state.scanSucceeded()) {
        std::cerr << "calvora-cli: the device inventory (udev) cannot be read\n";
        return ExitFailure;
    }
    for (const PortEntry& entry : session.state.portList())
        std::cout << "COM" << int(entry.portNumber) << '\t' << entry.devicePath << '\t'
                  << kReceiverDescription << '\n';
    return ExitOk;
}

// The longest --timeout: a day. Longer waits overflowed the deadline into the past.
constexpr double kMaxTimeoutSeconds = 86400;

// NaN fails both comparisons, so it is refused with the rest.
const CLI::Validator kTimeoutValidator(
    [](std::string& text) -> std::string {
        double seconds = 0;
        if (!CLI::detail::lexical_cast(text, seconds) || !(seconds > 0 && seconds <= kMaxTimeoutSeconds))
            return "SECONDS must be more than 0 and at most 86400";
        return {};
    },
    "(0-86400]");

struct Options {
    std::string port;
    std::string input;
    std::string out;
    uint32_t samples = 0;
    double timeout = 120;
    bool text = false;
    MonitorLimits limits;
    MonitorPublish publish;
    RecordTrigger trigger;
};

const bool registered = [] {
    registerCommand(
        {"record", "Record live readings into BASE.recorder and BASE.csv", 20, [](CLI::App& sub) {
             auto options = std::make_shared<Options>();
             auto* port =
                 sub.add_option("--port", options->port, "Device path or COM number")->check(kPortValidator);
             auto* input = sub.add_option("--input", options->input, "Capture file of received bytes");
             port->excludes(input);
             sub.add_option("--samples", options->samples, "Readings to record (1-20000)")->required();
             sub.add_option("--out", options->out, "Base name of the two files written")->check(PairBase());
             AddTriggerOptions(sub, options->trigger);
             return CommandRunner([options] {
                 return RunRecord(options->port, options->input, options->samples, options->out,
                                  options->trigger);
             });
         }});
    registerCommand(
        {"download", "Wait for the meter's stored log and write it to BASE.recorder and BASE.csv", 21,
         [](CLI::App& sub) {
             auto options = std::make_shared<Options>();
             auto* port =
                 sub.add_option("--port", options->port, "Device path or COM number")->check(kPortValidator);
             auto* input = sub.add_option("--input", options->input, "Capture file of received bytes");
             port->excludes(input);
             sub.add_option("--out", options->out, "Base name of the two files written")->check(PairBase());
             sub.add_option("--timeout", options->timeout, "Seconds to wait for the log (default 120)")
                 ->check(kTimeoutValidator);
             return CommandRunner([options] {
                 return RunDownload(options->port, options->input, options->out, options->timeout);
             });
         }});
    registerCommand({"monitor", "Print every live reading until interrupted", 22, [](CLI::App& sub) {
                         auto options = std::make_shared<Options>();
                         sub.add_option("--port", options->port, "Device path or COM number")
                             ->check(kPortValidator)
                             ->required();
                         sub.add_flag("--text", options->text, "Print what the panel shows instead of JSON");
                         AddLimitOptions(sub, options->limits);
                         auto* mqtt = sub.add_option("--mqtt", options->publish.url,
                                                     "Publish to mqtt[s]://[USER[:PASS]@]HOST[:PORT]/PREFIX");
                         sub.add_option("--qos", options->publish.qos, "MQTT quality of service (default 1)")
                             ->check(CLI::IsMember({0, 1}))
                             ->needs(mqtt);
                         sub.add_option("--spool", options->publish.spool,
                                        "Folder of readings kept while the broker is away")
                             ->needs(mqtt);
                         sub.add_option("--ca-file", options->publish.caFile,
                                        "Certificate authority of an mqtts:// broker")
                             ->check(CLI::ExistingFile)
                             ->needs(mqtt);
                         return CommandRunner([options] {
                             return RunMonitor(options->port, options->text, options->limits,
                                               options->publish);
                         });
                     }});
    registerCommand({"pair", "Ask the meter to pair with the receiver", 23, [](CLI::App& sub) {
                         auto options = std::make_shared<Options>();
                         sub.add_option("--port", options->port, "Device path or COM number")
                             ->check(kPortValidator)
                             ->required();
                         return CommandRunner([options] { return RunPair(options->port); });
                     }});
    registerCommand({"ports", "List the receivers found on this computer", 24,
                     [](CLI::App&) { return CommandRunner([] { return RunPorts(); }); }});
    return true;
}();

} // namespace

} // namespace calvora::cli
