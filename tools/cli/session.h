// What the subcommands that talk to a receiver share: the engine with a headless view, the loop that runs
// its frames and timers, replaying a capture file, and Ctrl+C.
#pragma once

#include "app/meter_engine.h"
#include "app/meter_sessions.h"
#include "protocol/text.h"
#include "recording/recording_document.h"

#include <CLI/CLI.hpp>

#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace calvora::cli {

// Set by Ctrl+C or a termination request while an InterruptGuard lives.
extern std::atomic<bool> interrupted;
void OnInterrupt(int);

using Clock = std::chrono::steady_clock;

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
        lastMessage = text;
    }
    void ShowLiveReading(const LiveReading& reading) override {
        if (onReading)
            onReading(reading);
    }

    void ShowNoSignal() override {
        if (onNoSignal)
            onNoSignal();
    }

    std::function<void(const LiveReading&)> onReading;
    std::function<void()> onNoSignal;
    std::u16string lastMessage;

private:
    std::map<int, Clock::time_point> deadlines_;
    std::vector<std::unique_ptr<RecordingDocument>> documents_;
};

// How replaying a capture file ended.
enum class Feed {
    Refused, // not opened: missing, unreadable, or neither a regular file nor a FIFO (message printed)
    Stopped, // the caller's condition held before the input ended
    Ended,   // every byte was handed on
    Failed,  // reading failed part-way (message printed)
};

// The engine with everything a subcommand needs around it.
struct Session {
    Session() : settings(SettingsFile::DefaultPath()), state(view, inventory, settings) {}

    // `port` is a device path or a COM number (checked by the option's validator). Prints the reason
    // when the port cannot be opened.
    bool Open(const std::string& port) { return OpenPort(state, view, port); }

    static bool OpenPort(MeterEngine& state, HeadlessView& view, const std::string& port) {
        const PortOutcome<> opened = IsComNumber(port)
                                         ? state.OpenDevice(std::string(), std::atoi(port.c_str()))
                                         : state.OpenDevice(port);
        // The engine's warning names the port; the reason (busy, missing, no access) comes from the port.
        if (!opened && view.lastMessage.find(opened.reason()) == std::u16string::npos)
            std::cerr << "calvora-cli: " << toUtf8(opened.reason()) << '\n';
        return static_cast<bool>(opened);
    }

    // One turn of the loop: frames from the reader, due timers, a vanished device.
    void Turn(std::chrono::milliseconds wait = std::chrono::milliseconds(50)) {
        state.handOff().WaitAndRun(wait);
        for (int id : view.DueTimers())
            state.OnTimer(id);
        state.PollReaderEnd();
    }

    // Replays a capture file (or a FIFO a capture is written into) in the receiver's chunks until it
    // ends or `done` says stop. Only a read buffer and one chunk are held, whatever the input's size.
    Feed FeedFile(const std::string& path, const std::function<bool()>& done) {
        const auto refuse = [&](const char* reason) {
            std::cerr << "calvora-cli: cannot read " << path << ": " << reason << '\n';
            return Feed::Refused;
        };
        const auto refusedKind = [](const struct stat& info) -> const char* {
            if (S_ISDIR(info.st_mode))
                return std::strerror(EISDIR);
            if (!S_ISREG(info.st_mode) && !S_ISFIFO(info.st_mode))
                return "not a regular file or a FIFO";
            return nullptr;
        };
        // Checked before opening: opening a device can have effects of its own.
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0)
            return refuse(std::strerror(errno));
        if (const char* reason = refusedKind(info))
            return refuse(reason);
        // A FIFO waits here for its writer; Ctrl+C interrupts the wait.
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return errno == EINTR ? Feed::Stopped : refuse(std::strerror(errno));
        const FileDescriptor closer{fd};
        if (::fstat(fd, &info) != 0)
            return refuse(std::strerror(errno));
        if (const char* reason = refusedKind(info))
            return refuse(reason);

        state.SelectCaptureSource();
        std::array<uint8_t, 64 * 1024> buffer;
        size_t at = 0;
        size_t held = 0;
        std::array<uint8_t, kReceiveChunkSize> chunk;
        size_t filled = 0;
        bool ended = false;
        while (!done()) {
            // A chunk is whole unless the input ends, as the decode command cuts it.
            while (filled < chunk.size() && !ended) {
                if (at == held) {
                    const ssize_t got = ::read(fd, buffer.data(), buffer.size());
                    if (got < 0 && errno == EINTR) {
                        if (done())
                            return Feed::Stopped;
                        continue;
                    }
                    if (got < 0) {
                        std::cerr << "calvora-cli: cannot read " << path << ": " << std::strerror(errno)
                                  << '\n';
                        return Feed::Failed;
                    }
                    at = 0;
                    held = static_cast<size_t>(got);
                    ended = got == 0;
                    continue;
                }
                const size_t step = std::min(chunk.size() - filled, held - at);
                std::memcpy(chunk.data() + filled, buffer.data() + at, step);
                filled += step;
                at += step;
            }
            if (filled == 0)
                return Feed::Ended;
            state.ReceiveChunk(chunk.data(), static_cast<int>(filled));
            filled = 0;
        }
        return Feed::Stopped;
    }

    static bool IsComNumber(const std::string& port) {
        return !port.empty() && port.find_first_not_of("0123456789") == std::string::npos;
    }

    HeadlessView view;
    UdevInventory inventory;
    SettingsFile settings;
    MeterEngine state;

private:
    struct FileDescriptor {
        int fd;
        ~FileDescriptor() { ::close(fd); }
    };
};

// Several receivers side by side: one engine session each, run by one loop. Each session is named from the
// settings file ("Multimeter" by default, numbered when the name is taken).
class SessionGroup {
public:
    SessionGroup() : settings_(SettingsFile::DefaultPath()), sessions_(inventory_, settings_) {}
    SessionGroup(const SessionGroup&) = delete;
    SessionGroup& operator=(const SessionGroup&) = delete;

    // Opens every port (printing why one cannot be opened); false when any failed.
    bool Open(const std::vector<std::string>& ports) {
        for (const std::string& port : ports) {
            views_.push_back(std::make_unique<HeadlessView>());
            if (!Session::OpenPort(sessions_.Add(*views_.back()), *views_.back(), port))
                return false;
        }
        for (size_t k = 0; k < sessions_.size(); ++k)
            names_.push_back(sessions_.name(k));
        return true;
    }

    size_t size() const { return sessions_.size(); }
    MeterEngine& state(size_t index) { return sessions_[index]; }
    HeadlessView& view(size_t index) { return *views_[index]; }
    const std::string& name(size_t index) const { return names_[index]; }

    // One turn of the loop for every session: frames from the readers, due timers.
    void Turn(std::chrono::milliseconds wait = std::chrono::milliseconds(50)) {
        sessions_.WaitAndRun(wait);
        for (size_t k = 0; k < sessions_.size(); ++k) {
            for (int id : views_[k]->DueTimers())
                sessions_[k].OnTimer(id);
        }
    }
    // Turns the loop while any session is still busy (recording, logging ...) and no interrupt came; a reader
    // that ended is noted each turn, so a pulled receiver ends its own session only.
    template <typename Busy> void RunWhileAnyIs(Busy busy) {
        const auto anyBusy = [&] {
            for (size_t k = 0; k < sessions_.size(); ++k) {
                if (busy(sessions_[k]))
                    return true;
            }
            return false;
        };
        while (anyBusy() && !interrupted) {
            Turn();
            for (size_t k = 0; k < sessions_.size(); ++k)
                sessions_[k].PollReaderEnd();
        }
    }
    void CloseAll() { sessions_.CloseAll(); }

private:
    UdevInventory inventory_;
    SettingsFile settings_;
    // The views outlive the sessions that show themselves through them.
    std::vector<std::unique_ptr<HeadlessView>> views_;
    MeterSessions sessions_;
    std::vector<std::string> names_;
};

inline bool Exclusive(const std::string& port, const std::string& input) {
    if (port.empty() == input.empty()) {
        std::cerr << "calvora-cli: give exactly one of --port and --input\n";
        return false;
    }
    return true;
}

// --port takes a device path or a COM number; a number outside 1-255 is bad usage like any bad option.
inline const CLI::Validator kPortValidator(
    [](std::string& port) -> std::string {
        if (!Session::IsComNumber(port))
            return {};
        unsigned number = 0;
        const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), number);
        if (error != std::errc() || number < 1 || number > 255)
            return "COM numbers run from 1 to 255";
        return {};
    },
    "");

} // namespace calvora::cli
