// calvora-cli record / download / monitor / pair / ports: the meter engine driven from a terminal. The
// same state the desktop program uses runs here with a headless view: messages go to standard error,
// timers are deadlines checked by the loop, documents live in memory until they are saved.
#include "app/meter_engine.h"
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

// A receiver's name as part of a file name: whatever a file name cannot hold becomes "_".
std::string FileSafe(const std::string& name) {
    std::string safe = name;
    for (char& c : safe) {
        if (c == '/' || static_cast<unsigned char>(c) < 0x20)
            c = '_';
    }
    return safe == "." || safe == ".." ? "_" : safe;
}

// Several receivers recorded side by side, each into BASE-<its name>.recorder and .csv, each with a
// crash journal of its own. The recording ends when every receiver has recorded its samples, went away,
// or Ctrl+C came.
int RunRecordSeveral(const std::vector<std::string>& ports, uint32_t samples, const std::string& base,
                     const TriggerSettings& trigger) {
    SessionGroup meters;
    InterruptGuard guard;
    std::vector<std::unique_ptr<Journal>> journals;
    if (!meters.Open(ports)) {
        meters.CloseAll();
        return ExitFailure;
    }
    for (size_t k = 0; k < meters.size(); ++k) {
        journals.push_back(std::make_unique<Journal>());
        meters.state(k).SetJournal(journals.back().get());
        meters.state(k).SetNextTrigger(trigger);
        meters.state(k).StartRecordingOf(samples);
    }
    meters.RunWhileAnyIs([](const MeterEngine& meter) -> bool { return meter.documents().recording; });
    int status = ExitOk;
    for (size_t k = 0; k < meters.size(); ++k) {
        MeterEngine& state = meters.state(k);
        state.StopRecording(RecordingEnd::Interrupted);
        state.ClosePort();
        const RecordingDocument* document = state.documents().recordingDocument;
        const uint32_t recorded = document ? document->sampleCount() : 0;
        const std::u16string ending = RecordingEndMessage(recorded, samples, state.documents().recordingEnd);
        if (!ending.empty()) {
            std::cerr << "calvora-cli: " << meters.name(k) << ": " << toUtf8(ending) << '\n';
            status = ExitFailure;
        }
        if (recorded == 0) {
            std::cerr << "calvora-cli: " << meters.name(k) << ": no reading was recorded\n";
            status = ExitFailure;
            continue;
        }
        const int saved = SaveAs(*document, base + "-" + FileSafe(meters.name(k)), state.documents());
        if (saved == ExitOk) {
            state.OnDocumentSaved(*document);
        } else {
            if (journals[k]->Sync() && !journals[k]->path().empty())
                TellHowToRecover(journals[k]->path());
            status = saved;
        }
    }
    return status;
}

int RunRecord(const std::vector<std::string>& ports, const std::string& input, uint32_t samples,
              const std::string& base, const RecordTrigger& triggerOptions) {
    const std::string port = ports.empty() ? std::string() : ports.front();
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
    if (ports.size() > 1)
        return RunRecordSeveral(ports, samples, base, trigger.value());
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

int RunMonitor(const std::vector<std::string>& ports, bool text, const MonitorLimits& limits,
               const MonitorPublish& publish) {
    if (const std::string bad = MonitorAlarms::Check(limits); !bad.empty()) {
        std::cerr << "calvora-cli: " << bad << '\n';
        return ExitUsage;
    }
    std::optional<PublishSettings> publishing;
    if (!publish.url.empty()) {
        const Outcome<PublishSettings> settings = MakePublishSettings(publish);
        if (!settings) {
            std::cerr << "calvora-cli: " << toUtf8(settings.reason()) << '\n';
            return ExitUsage;
        }
        publishing = settings.value();
    }
    SessionGroup meters;
    InterruptGuard guard;
    // With several receivers every line says whose reading it is.
    const bool named = ports.size() > 1;
    std::vector<std::unique_ptr<MonitorAlarms>> alarms;
    for (size_t k = 0; k < ports.size(); ++k)
        alarms.push_back(std::make_unique<MonitorAlarms>(limits, text, ports[k]));
    if (!meters.Open(ports)) {
        meters.CloseAll();
        return ExitFailure;
    }
    // One broker connection per receiver, under the receiver's own name.
    std::vector<std::unique_ptr<MqttPublisher>> publishers(meters.size());
    auto finishPublishing = [&] {
        for (auto& publisher : publishers) {
            if (!publisher)
                continue;
            const std::string meter = publisher->meter();
            publisher.reset(); // sends what it can for a moment, then says "offline"
            Outcome<Spool> left = Spool::Open(
                (publish.spool.empty() ? Spool::DefaultFolder() : publish.spool) + '/' + TopicSafe(meter));
            if (left && !left.value().empty())
                std::cerr << "calvora-cli: " << left.value().count() << " messages of " << meter
                          << " wait in " << left.value().folder() << " for the next run\n";
        }
    };
    if (publishing) {
        for (size_t k = 0; k < meters.size(); ++k) {
            const std::string& meter = meters.name(k);
            Outcome<std::unique_ptr<MqttPublisher>> started =
                MqttPublisher::Start(*publishing, meter, StatusPrinter(meter, publishing->target));
            if (!started) {
                std::cerr << "calvora-cli: " << toUtf8(started.reason()) << '\n';
                finishPublishing();
                meters.CloseAll();
                return ExitFailure;
            }
            publishers[k] = std::move(started.value());
            alarms[k]->onEvent = [&publisher = publishers[k]](const AlarmNotice& notice) {
                publisher->PublishAlarm(notice);
            };
        }
    }
    for (size_t k = 0; k < meters.size(); ++k) {
        meters.view(k).onReading = [&, k](const LiveReading& reading) {
            if (publishers[k])
                publishers[k]->PublishReading(reading);
            if (text) {
                std::cout << (named ? meters.name(k) + ": " : std::string()) << PanelLine(reading)
                          << std::endl;
            } else {
                Json line = LiveJson(reading);
                if (named)
                    line["meter"] = meters.name(k);
                std::cout << line.dump() << std::endl;
            }
            alarms[k]->OnReading(reading);
        };
    }
    // A receiver that goes away is said and closed; the others go on until none is left.
    std::vector<bool> removed(meters.size(), false);
    size_t left = meters.size();
    // Readings nobody can see are not worth waiting for: a failed standard output ends the watch.
    while (!interrupted && left > 0 && std::cout.good()) {
        meters.Turn();
        for (size_t k = 0; k < meters.size(); ++k) {
            if (removed[k] || !meters.state(k).PollReaderEnd())
                continue;
            removed[k] = true;
            --left;
            meters.state(k).ClosePort();
            if (named)
                std::cerr << "calvora-cli: the receiver " << meters.name(k) << " (" << ports[k]
                          << ") went away\n";
        }
    }
    meters.CloseAll();
    for (auto& alarm : alarms)
        alarm->Finish();
    finishPublishing();
    if (left < meters.size()) {
        if (!named)
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

// -------------------------------------------------------------------------------------------- name

// Prints the receiver's name, or gives it one (kept in the settings file); an empty name brings back the
// default.
int RunName(const std::string& port, const std::optional<std::string>& name) {
    // The receiver need not be free: it may be naming one a monitor is reading.
    const SettingsFile settings(SettingsFile::DefaultPath());
    const std::string key =
        Session::IsComNumber(port) ? ReceiverNameKey({}, std::atoi(port.c_str())) : ReceiverNameKey(port, 0);
    if (name) {
        const std::string value = *name == toUtf8(kMultimeterLabel) ? std::string() : *name;
        if (const Outcome<void> written = settings.WriteReceiverName(key, value); !written) {
            std::cerr << "calvora-cli: " << toUtf8(written.reason()) << '\n';
            return ExitFailure;
        }
    }
    const Outcome<std::string> current = settings.ReadReceiverName(key);
    if (!current) {
        std::cerr << "calvora-cli: " << toUtf8(current.reason()) << '\n';
        return ExitFailure;
    }
    std::cout << (current.value().empty() ? toUtf8(kMultimeterLabel) : current.value()) << '\n';
    return ExitOk;
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
    std::vector<std::string> ports;
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
             auto* port = sub.add_option("--port", options->ports,
                                         "Device path or COM number; again for each further receiver, "
                                         "recorded into BASE-NAME")
                              ->check(kPortValidator);
             auto* input = sub.add_option("--input", options->input, "Capture file of received bytes");
             port->excludes(input);
             sub.add_option("--samples", options->samples, "Readings to record (1-20000)")->required();
             sub.add_option("--out", options->out, "Base name of the two files written")->check(PairBase());
             AddTriggerOptions(sub, options->trigger);
             return CommandRunner([options] {
                 return RunRecord(options->ports, options->input, options->samples, options->out,
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
                         sub.add_option("--port", options->ports,
                                        "Device path or COM number; again for each further receiver")
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
                             return RunMonitor(options->ports, options->text, options->limits,
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
    registerCommand({"name", "Print or set the name of a receiver", 25, [](CLI::App& sub) {
                         auto options = std::make_shared<Options>();
                         auto name = std::make_shared<std::optional<std::string>>();
                         sub.add_option("--port", options->port, "Device path or COM number")
                             ->check(kPortValidator)
                             ->required();
                         sub.add_option("NAME", *name, "The new name (\"\" for the default, Multimeter)");
                         return CommandRunner([options, name] { return RunName(options->port, *name); });
                     }});
    registerCommand({"ports", "List the receivers found on this computer", 24,
                     [](CLI::App&) { return CommandRunner([] { return RunPorts(); }); }});
    return true;
}();

} // namespace

} // namespace calvora::cli
