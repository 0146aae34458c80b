// calvora-cli record / download / monitor / pair / ports: the meter engine driven from a terminal. The
// same state the desktop program uses runs here with a headless view: messages go to standard error,
// timers are deadlines checked by the loop, documents live in memory until they are saved.
#include "app/meter_engine.h"
#include "protocol/text.h"
#include "recording/recording_document.h"
#include "recording/journal.h"
#include "recording/save.h"
#include "tools/cli/command_registry.h"
#include "tools/cli/json_output.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <unistd.h>
#include <vector>

namespace calvora::cli {

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<bool> interrupted{false};

void OnInterrupt(int) { interrupted = true; }

// Ctrl+C ends the wait (and a recording still saves what it has).
class InterruptGuard {
public:
    InterruptGuard() {
        interrupted = false;
        struct sigaction action {};
        action.sa_handler = OnInterrupt;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &oldInt_);
        sigaction(SIGTERM, &action, &oldTerm_);
    }
    ~InterruptGuard() {
        sigaction(SIGINT, &oldInt_, nullptr);
        sigaction(SIGTERM, &oldTerm_, nullptr);
    }
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

private:
    struct sigaction oldInt_ {};
    struct sigaction oldTerm_ {};
};

class HeadlessView final : public EngineView {
public:
    void StartTimer(int id, int milliseconds) override {
        deadlines_[id] = Clock::now() + std::chrono::milliseconds(milliseconds);
    }
    void StopTimer(int id) override { deadlines_.erase(id); }
    bool TimerRunning(int id) const { return deadlines_.count(id) != 0; }
    // Ids of timers whose time has come, in id order.
    std::vector<int> DueTimers() const {
        std::vector<int> due;
        const auto now = Clock::now();
        for (const auto& [id, deadline] : deadlines_) {
            if (deadline <= now)
                due.push_back(id);
        }
        return due;
    }

    RecordingDocument* CreateDocumentWindow() override {
        documents_.push_back(std::make_unique<RecordingDocument>());
        return documents_.back().get();
    }
    // Documents are saved by the subcommand itself once the acquisition is over.
    bool SaveDocument(RecordingDocument&) override { return false; }
    bool AskPlannedSamples(uint32_t&) override { return false; }
    bool AskYesNo(const std::u16string&) override { return false; }
    void ShowMessage(const std::u16string& text, MessageIcon) override {
        std::cerr << "calvora-cli: " << toUtf8(text) << '\n';
    }
    void ShowLiveReading(const LiveReading& reading) override {
        if (onReading)
            onReading(reading);
    }

    std::function<void(const LiveReading&)> onReading;

private:
    std::map<int, Clock::time_point> deadlines_;
    std::vector<std::unique_ptr<RecordingDocument>> documents_;
};

// The engine with everything a subcommand needs around it.
struct Session {
    Session() : settings(SettingsFile::DefaultPath()), state(view, inventory, settings) {}

    // `port` is a device path or a COM number.
    bool Open(const std::string& port) {
        if (!port.empty() && port.find_first_not_of("0123456789") == std::string::npos) {
            const int number = std::atoi(port.c_str());
            if (number < 1 || number > 255) {
                std::cerr << "calvora-cli: COM numbers run from 1 to 255\n";
                return false;
            }
            return state.OpenDevice(std::string(), number);
        }
        return state.OpenDevice(port);
    }

    // One turn of the loop: frames from the reader, due timers, a vanished device.
    void Turn(std::chrono::milliseconds wait = std::chrono::milliseconds(50)) {
        state.handOff().WaitAndRun(wait);
        for (int id : view.DueTimers())
            state.OnTimer(id);
        state.PollReaderEnd();
    }

    // Feeds a capture file in the reader's chunks, as the reader would deliver it, until `done` says stop.
    bool FeedFile(const std::string& path, const std::function<bool()>& done) {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            std::cerr << "calvora-cli: cannot open " << path << ": " << std::strerror(errno) << '\n';
            return false;
        }
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        state.SelectCaptureSource();
        constexpr size_t kChunk = kReceiveChunkSize;
        for (size_t offset = 0; offset < bytes.size() && !done(); offset += kChunk)
            state.ReceiveChunk(bytes.data() + offset, static_cast<int>(std::min(kChunk, bytes.size() - offset)));
        return true;
    }

    HeadlessView view;
    UdevInventory inventory;
    SettingsFile settings;
    MeterEngine state;
};

std::filesystem::path BaseOrDefault(const std::string& base) {
    return base.empty() ? std::filesystem::path(toUtf8(DefaultFileNameNow())) : std::filesystem::path(base);
}

// Writes BASE.recorder and BASE.csv as the Save command does.
int SaveAs(const RecordingDocument& document, const std::filesystem::path& base, RecordingState& documents) {
    std::filesystem::path chosen = base;
    chosen += ".recorder";
    const SaveResult result = SaveDocument(document, chosen, documents);
    if (!result.ok) {
        std::cerr << "calvora-cli: " << toUtf8(result.message()) << '\n';
        return ExitFailure;
    }
    const SavePaths paths = DerivePaths(chosen);
    std::cout << paths.record.string() << '\n' << paths.text.string() << '\n';
    return ExitOk;
}

bool Exclusive(const std::string& port, const std::string& input) {
    if (port.empty() == input.empty()) {
        std::cerr << "calvora-cli: give exactly one of --port and --input\n";
        return false;
    }
    return true;
}

// ------------------------------------------------------------------------------------------ record

int RunRecord(const std::string& port, const std::string& input, uint32_t samples, const std::string& base) {
    if (!Exclusive(port, input))
        return ExitUsage;
    if (samples < 1 || samples > kMaxPlannedSamples) {
        std::cerr << "calvora-cli: --samples runs from 1 to " << kMaxPlannedSamples << '\n';
        return ExitUsage;
    }
    // The same crash journal as the desktop program: a killed run leaves its samples for recovery.
    Journal journal;
    Session session;
    session.state.SetJournal(&journal);
    InterruptGuard guard;
    const bool terminal = ::isatty(STDERR_FILENO);
    bool journalWarned = false;
    auto warnJournal = [&] {
        if (journal.failed() && !journalWarned) {
            journalWarned = true;
            std::cerr << "calvora-cli: " << toUtf8(journal.errorText()) << " (recording on in memory)\n";
        }
    };
    auto recorded = [&]() -> uint32_t {
        const RecordingDocument* document = session.state.documents().recordingDocument;
        return document ? document->sampleCount() : 0;
    };

    if (!input.empty()) {
        session.state.StartRecordingOf(samples);
        if (!session.FeedFile(input, [&] { return !session.state.documents().recording || interrupted; }))
            return ExitUsage;
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
        }
        if (terminal)
            std::fputc('\n', stderr);
        session.state.StopRecording();
        session.state.ClosePort();
    }
    session.state.StopRecording();

    const RecordingDocument* document = session.state.documents().recordingDocument;
    if (!document || document->sampleCount() == 0) {
        std::cerr << "calvora-cli: no reading was recorded\n";
        return ExitFailure;
    }
    warnJournal();
    const int saved = SaveAs(*document, BaseOrDefault(base), session.state.documents());
    if (saved == ExitOk)
        session.state.OnDocumentSaved(*document);
    else if (journal.Sync() && !journal.path().empty())
        std::cerr << "calvora-cli: the samples are kept in " << journal.path().string() << '\n';
    return saved;
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
        if (!session.FeedFile(input, [&] { return filled != nullptr; }))
            return ExitUsage;
    } else {
        if (!session.Open(port))
            return ExitFailure;
        std::cerr << "Waiting for the stored log on " << port << " (start the transfer on the meter)" << std::endl;
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
    return SaveAs(*filled, BaseOrDefault(base), session.state.documents());
}

// ----------------------------------------------------------------------------------------- monitor

int RunMonitor(const std::string& port, bool text) {
    Session session;
    InterruptGuard guard;
    session.view.onReading = [&](const LiveReading& reading) {
        std::cout << (text ? PanelLine(reading) : LiveJson(reading).dump()) << std::endl;
    };
    if (!session.Open(port))
        return ExitFailure;
    bool removed = false;
    while (!interrupted && !removed) {
        session.state.handOff().WaitAndRun(std::chrono::milliseconds(50));
        removed = session.state.PollReaderEnd();
    }
    session.state.ClosePort();
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
        std::cout << "COM" << int(entry.portNumber) << '\t' << entry.devicePath << '\t' << kReceiverDescription
                  << '\n';
    return ExitOk;
}

struct Options {
    std::string port;
    std::string input;
    std::string out;
    uint32_t samples = 0;
    double timeout = 120;
    bool text = false;
};

const bool registered = [] {
    registerCommand({"record", "Record live readings into BASE.recorder and BASE.csv", 20, [](CLI::App& sub) {
                         auto options = std::make_shared<Options>();
                         auto* port = sub.add_option("--port", options->port, "Device path or COM number");
                         auto* input = sub.add_option("--input", options->input, "Capture file of received bytes");
                         port->excludes(input);
                         sub.add_option("--samples", options->samples, "Readings to record (1-20000)")
                             ->required();
                         sub.add_option("--out", options->out, "Base name of the two files written");
                         return CommandRunner([options] {
                             return RunRecord(options->port, options->input, options->samples, options->out);
                         });
                     }});
    registerCommand(
        {"download", "Wait for the meter's stored log and write it to BASE.recorder and BASE.csv", 21,
         [](CLI::App& sub) {
             auto options = std::make_shared<Options>();
             auto* port = sub.add_option("--port", options->port, "Device path or COM number");
             auto* input = sub.add_option("--input", options->input, "Capture file of received bytes");
             port->excludes(input);
             sub.add_option("--out", options->out, "Base name of the two files written");
             sub.add_option("--timeout", options->timeout, "Seconds to wait for the log (default 120)")
                 ->check(CLI::PositiveNumber);
             return CommandRunner(
                 [options] { return RunDownload(options->port, options->input, options->out, options->timeout); });
         }});
    registerCommand({"monitor", "Print every live reading until interrupted", 22, [](CLI::App& sub) {
                         auto options = std::make_shared<Options>();
                         sub.add_option("--port", options->port, "Device path or COM number")->required();
                         sub.add_flag("--text", options->text, "Print what the panel shows instead of JSON");
                         return CommandRunner([options] { return RunMonitor(options->port, options->text); });
                     }});
    registerCommand({"pair", "Ask the meter to pair with the receiver", 23, [](CLI::App& sub) {
                         auto options = std::make_shared<Options>();
                         sub.add_option("--port", options->port, "Device path or COM number")->required();
                         return CommandRunner([options] { return RunPair(options->port); });
                     }});
    registerCommand({"ports", "List the receivers found on this computer", 24, [](CLI::App&) {
                         return CommandRunner([] { return RunPorts(); });
                     }});
    return true;
}();

} // namespace

} // namespace calvora::cli
