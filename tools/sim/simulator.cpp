#include "tools/sim/simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sys/stat.h>

namespace calvora::sim {
namespace {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::milliseconds;

// The two pieces of a split frame arrive this far apart, so the host reads them as separate chunks.
constexpr Milliseconds kSplitGap{120};
constexpr Milliseconds kQuietGap{kQuietGapMs};
// Bytes of 0xFF standing for a quiet gap in a capture file; they hold no marker and are dropped by
// the receiving side's cutting.
constexpr size_t kCaptureQuietFill = 32;

// The meter behind the receiver: where readings, stored records and link faults come from.
class Meter {
public:
    explicit Meter(const SimOptions& options) : options_(options), random_(options.seed) {}

    Bytes NextLiveFrame() {
        const uint64_t index = liveIndex_++;
        if (!options_.script.empty())
            return options_.script[index % options_.script.size()];
        return BuildLiveFrame(options_.reading, WaveValue(options_.wave, index, random_));
    }

    std::vector<Bytes> Burst(size_t count) {
        if (options_.records.empty())
            return BuildLogBurst(GenerateRecords(count, options_.reading, options_.wave, random_));
        std::vector<Record> records;
        records.reserve(count);
        for (size_t i = 0; i < count; ++i)
            records.push_back(options_.records[i % options_.records.size()]);
        return BuildLogBurst(records);
    }

    std::vector<Bytes> Writes(const Bytes& frame) { return ApplyFaults(frame, options_.faults, random_); }

private:
    const SimOptions& options_;
    std::mt19937_64 random_;
    uint64_t liveIndex_ = 0;
};

bool WriteAll(int fd, const Bytes& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return false;
    }
    return true;
}

void Note(const char* text) {
    std::fprintf(stderr, "calvora-sim: %s\n", text);
}

// Stored records carried by a memory frame: a block's or tail's payload length over four bytes.
size_t RecordsIn(const Bytes& frame) {
    if (frame.size() < 7 || (frame[2] != 0xF2 && frame[2] != 0xF3))
        return 0;
    return static_cast<size_t>(frame[5] << 8 | frame[6]) / 4;
}

// What was written to the device or file so far. Reported on stderr in one stable line, so tests and
// scripts can compare what arrived with what was sent.
struct SentCounts {
    uint64_t liveFrames = 0;
    uint64_t storedRecords = 0;

    void Report() const {
        std::fprintf(stderr, "calvora-sim: sent %llu live frames, %llu stored-log records\n",
                     static_cast<unsigned long long>(liveFrames),
                     static_cast<unsigned long long>(storedRecords));
        std::fflush(stderr);
    }
};

class PseudoTerminalRun {
public:
    explicit PseudoTerminalRun(const SimOptions& options) : options_(options), meter_(options) {}

    ~PseudoTerminalRun() {
        Unplug();
        if (signals_ >= 0)
            ::close(signals_);
        if (!options_.linkPath.empty() && linked_)
            ::unlink(options_.linkPath.c_str());
    }

    int Run() {
        if (!OpenTerminal() || !WatchSignals() || !Link())
            return 1;
        std::printf("%s\n", slavePath_.c_str());
        std::fflush(stdout);
        const int status = Serve();
        sent_.Report();
        return status;
    }

private:
    static Clock::duration Seconds(double seconds) {
        return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    }

    // Sends until the count is reached, the device is unplugged for good or a stop is asked for.
    int Serve() {
        const auto start = Clock::now();
        nextLive_ = start;
        lastScheduled_ = start;
        auto unplugAt = options_.unplugAfterSeconds >= 0 ? start + Seconds(options_.unplugAfterSeconds)
                                                         : Clock::time_point::max();
        const auto pauseAt = options_.pauseAfterSeconds >= 0 ? start + Seconds(options_.pauseAfterSeconds)
                                                             : Clock::time_point::max();
        const auto pauseEnd =
            pauseAt == Clock::time_point::max() ? pauseAt : pauseAt + Seconds(options_.pauseForSeconds);
        const auto period =
            std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / options_.rate));
        if (options_.logAtStart)
            ScheduleBurst(*options_.logAtStart, start);

        while (!stop_) {
            auto now = Clock::now();
            if (now >= unplugAt) {
                Unplug();
                Note("unplugged");
                if (options_.replugAfterSeconds < 0)
                    return 0;
                // Nothing is sent while the receiver is out; what was on its way is lost with it.
                pending_.clear();
                const auto back = now + Seconds(options_.replugAfterSeconds);
                while (!stop_ && Clock::now() < back)
                    Wait(back);
                if (stop_)
                    return 0;
                if (!OpenTerminal() || !Link())
                    return 1;
                std::fprintf(stderr, "calvora-sim: plugged in again at %s\n", slavePath_.c_str());
                std::fflush(stderr);
                unplugAt = Clock::time_point::max();
                now = Clock::now();
                nextLive_ = now;
                lastScheduled_ = now;
            }
            const bool paused = now >= pauseAt && now < pauseEnd;
            if (paused && nextLive_ < pauseEnd)
                nextLive_ = pauseEnd;
            const bool wantLive = options_.frameCount < 0 || liveWritten_ < options_.frameCount;
            // A live frame waits while anything else is on its way, so frames never interleave.
            if (wantLive && now >= nextLive_ && pending_.empty() && now >= busyUntil_) {
                ScheduleFrame(meter_.NextLiveFrame(), now, false, true);
                ++liveWritten_;
                nextLive_ += period;
                if (nextLive_ <= now)
                    nextLive_ = now + period;
            }
            while (!pending_.empty() && pending_.begin()->first <= now) {
                // Signals first: a report asked for before this write must not count it, and nothing
                // is written after a stop was asked for, wherever the loop was when the signal came.
                HandleSignals();
                if (stop_)
                    break;
                const Write& next = pending_.begin()->second;
                // Quiet is measured from the last real write, so a late write before it cannot shorten it.
                if (next.alone && now < lastWrite_ + kQuietGap)
                    break;
                // Nobody reading fills the terminal's buffer: the rest of that write is lost, as on air.
                WriteAll(master_, next.bytes);
                sent_.liveFrames += next.liveFrames;
                sent_.storedRecords += next.records;
                lastWrite_ = Clock::now();
                if (next.alone)
                    busyUntil_ = std::max(busyUntil_, lastWrite_ + kQuietGap);
                pending_.erase(pending_.begin());
            }
            if (!wantLive && pending_.empty())
                return 0;

            auto wake = unplugAt;
            if (!pending_.empty()) {
                const auto& [due, next] = *pending_.begin();
                wake = std::min(wake, next.alone ? std::max(due, lastWrite_ + kQuietGap) : due);
            } else if (wantLive) {
                wake = std::min(wake, std::max(nextLive_, busyUntil_));
            }
            Wait(wake);
        }
        return 0;
    }

    // Points the --link path at the current pseudo-terminal.
    bool Link() {
        if (options_.linkPath.empty())
            return true;
        struct stat existing {};
        if (lstat(options_.linkPath.c_str(), &existing) == 0 && S_ISLNK(existing.st_mode))
            ::unlink(options_.linkPath.c_str());
        if (symlink(slavePath_.c_str(), options_.linkPath.c_str()) != 0) {
            std::fprintf(stderr, "calvora-sim: can't link %s: %s\n", options_.linkPath.c_str(),
                         std::strerror(errno));
            return false;
        }
        linked_ = true;
        return true;
    }

    bool OpenTerminal() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        char name[128] = {};
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0 ||
            ptsname_r(master_, name, sizeof name) != 0) {
            std::fprintf(stderr, "calvora-sim: can't open a pseudo-terminal: %s\n", std::strerror(errno));
            return false;
        }
        slavePath_ = name;
        // Holding the slave open keeps the master from hanging up between the host's opens.
        slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios settings{};
        if (slave_ < 0 || tcgetattr(master_, &settings) != 0) {
            std::fprintf(stderr, "calvora-sim: can't set up %s: %s\n", name, std::strerror(errno));
            return false;
        }
        // Raw both ways, so nothing echoes the host's writes back or rewrites bytes.
        cfmakeraw(&settings);
        cfsetispeed(&settings, B115200);
        cfsetospeed(&settings, B115200);
        tcsetattr(master_, TCSANOW, &settings);
        // A full buffer (nobody reading) must never stall the simulator.
        fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
        return true;
    }

    bool WatchSignals() {
        sigset_t set;
        sigemptyset(&set);
        for (const int signal : {SIGUSR1, SIGUSR2, SIGINT, SIGTERM, SIGHUP})
            sigaddset(&set, signal);
        sigprocmask(SIG_BLOCK, &set, nullptr);
        // Started in the background of a shell, reading the terminal must not stop us: the read fails
        // instead and stdin is no longer watched (SIGUSR1 still asks for a burst).
        signal(SIGTTIN, SIG_IGN);
        signal(SIGTTOU, SIG_IGN);
        signal(SIGPIPE, SIG_IGN);
        signals_ = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
        if (signals_ < 0) {
            std::fprintf(stderr, "calvora-sim: can't watch signals: %s\n", std::strerror(errno));
            return false;
        }
        return true;
    }

    void Unplug() {
        if (master_ >= 0)
            ::close(master_);
        if (slave_ >= 0)
            ::close(slave_);
        master_ = slave_ = -1;
        // A pulled receiver's device node goes away with it.
        if (linked_) {
            ::unlink(options_.linkPath.c_str());
            linked_ = false;
        }
    }

    // Schedules the writes of one frame at `at` or later, after everything already scheduled. A frame
    // written `alone` gets kQuietGap of silence before and after it. The frame counts as sent with its
    // last piece.
    Clock::time_point ScheduleFrame(const Bytes& frame, Clock::time_point at, bool alone = false,
                                    bool live = false) {
        at = std::max(at, lastScheduled_);
        const auto pieces = meter_.Writes(frame);
        for (size_t i = 0; i < pieces.size(); ++i) {
            if (i > 0)
                at += kSplitGap;
            const bool last = i + 1 == pieces.size();
            pending_.emplace(
                at, Write{pieces[i], alone && i == 0, last && live ? 1u : 0u, last ? RecordsIn(frame) : 0});
        }
        lastScheduled_ = at;
        return at;
    }

    void ScheduleBurst(size_t count, Clock::time_point now) {
        const auto frames = meter_.Burst(count);
        const Milliseconds gap(options_.burstGapMs);
        auto at = std::max(now, lastScheduled_ + gap);
        for (size_t i = 0; i < frames.size(); ++i) {
            if (i > 0)
                at += gap;
            // A live frame's marker in the same chunk as the last tail would cut the tail away.
            at = ScheduleFrame(frames[i], at, i + 1 == frames.size());
        }
        std::fprintf(stderr, "calvora-sim: stored-log burst of %zu records\n", count);
    }

    void AnswerPair(Clock::time_point now) {
        if (options_.ignorePair) {
            Note("pair request ignored");
            return;
        }
        // Silence on both sides, so the host sees the acknowledgement at the start of its own chunk.
        lastScheduled_ = std::max(now, lastScheduled_);
        pending_.emplace(lastScheduled_, Write{Bytes(kPairAck.begin(), kPairAck.end()), true, 0, 0});
        Note("pair request answered");
    }

    void HandleCommand(const std::string& line) {
        char word[16] = {};
        unsigned long count = 0;
        const int fields = std::sscanf(line.c_str(), "%15s %lu", word, &count);
        if (fields >= 1 && std::strcmp(word, "log") == 0) {
            ScheduleBurst(fields == 2 ? count : options_.logCount, Clock::now());
        } else if (fields >= 1 && std::strcmp(word, "quit") == 0) {
            stop_ = true;
        } else if (fields >= 1) {
            std::fprintf(stderr, "calvora-sim: unknown command '%s' (log [N], quit)\n", line.c_str());
        }
    }

    // Takes every signal waiting on the signal descriptor (it does not block).
    void HandleSignals() {
        signalfd_siginfo info{};
        while (::read(signals_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
            if (info.ssi_signo == SIGUSR1)
                ScheduleBurst(options_.logCount, Clock::now());
            else if (info.ssi_signo == SIGUSR2)
                sent_.Report();
            else
                stop_ = true;
        }
    }

    void Wait(Clock::time_point wake) {
        // Nanosecond time-outs: millisecond ones would cap the rate near 1000 frames per second.
        timespec timeout{60, 0};
        if (wake != Clock::time_point::max()) {
            const auto left =
                std::chrono::duration_cast<std::chrono::nanoseconds>(wake - Clock::now()).count();
            const int64_t bounded = std::clamp<int64_t>(left, 0, int64_t{60} * 1000000000);
            timeout = {static_cast<time_t>(bounded / 1000000000), static_cast<long>(bounded % 1000000000)};
        }
        pollfd watched[3] = {{hostWatched_ ? master_ : -1, POLLIN, 0},
                             {signals_, POLLIN, 0},
                             {stdinOpen_ ? 0 : -1, POLLIN, 0}};
        if (ppoll(watched, 3, &timeout, nullptr) <= 0)
            return;
        if (watched[0].revents & POLLIN) {
            uint8_t buffer[256];
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n > 0 && pairDetector_.Feed(buffer, static_cast<size_t>(n)))
                AnswerPair(Clock::now());
        } else if (watched[0].revents & (POLLHUP | POLLERR)) {
            // Not expected while we hold the slave; stop listening rather than spin.
            hostWatched_ = false;
        }
        if (watched[1].revents & POLLIN)
            HandleSignals();
        if (watched[2].revents & (POLLIN | POLLHUP | POLLERR)) {
            char buffer[256];
            const ssize_t n = ::read(0, buffer, sizeof buffer);
            if (n <= 0) {
                stdinOpen_ = false;
                return;
            }
            commandLine_.append(buffer, static_cast<size_t>(n));
            for (size_t end = commandLine_.find('\n'); end != std::string::npos;
                 end = commandLine_.find('\n')) {
                HandleCommand(commandLine_.substr(0, end));
                commandLine_.erase(0, end + 1);
            }
        }
    }

    const SimOptions& options_;
    Meter meter_;
    PairDetector pairDetector_;
    int master_ = -1;
    int slave_ = -1;
    int signals_ = -1;
    bool stdinOpen_ = true;
    bool hostWatched_ = true;
    bool linked_ = false;
    bool stop_ = false;
    std::string slavePath_;
    std::string commandLine_;
    struct Write {
        Bytes bytes;
        bool alone;          // needs kQuietGap of silence on both sides
        unsigned liveFrames; // 1 on the last piece of a live frame
        size_t records;      // stored records, on the last piece of a memory frame
    };
    std::multimap<Clock::time_point, Write> pending_;
    Clock::time_point nextLive_{};
    Clock::time_point lastScheduled_{};
    Clock::time_point busyUntil_{};
    Clock::time_point lastWrite_{};
    int64_t liveWritten_ = 0; // scheduled, for --count
    SentCounts sent_;
};

volatile std::sig_atomic_t reportAsked = 0;

void AskForReport(int) {
    reportAsked = 1;
}

} // namespace

int RunCapture(const SimOptions& options) {
    // Only a flag is set in the handler; the report is written from the loop below.
    struct sigaction action {};
    action.sa_handler = AskForReport;
    sigemptyset(&action.sa_mask);
    sigaction(SIGUSR2, &action, nullptr);
    std::FILE* file = std::fopen(options.capturePath.c_str(), "wb");
    if (!file) {
        std::fprintf(stderr, "calvora-sim: can't write %s: %s\n", options.capturePath.c_str(),
                     std::strerror(errno));
        return 1;
    }
    Meter meter(options);
    SentCounts sent;
    bool ok = true;
    auto write = [&](const Bytes& bytes) {
        ok = ok && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    };
    auto put = [&](const Bytes& frame, bool live) {
        for (const Bytes& piece : meter.Writes(frame))
            write(piece);
        sent.liveFrames += live ? 1 : 0;
        sent.storedRecords += RecordsIn(frame);
        if (reportAsked) {
            reportAsked = 0;
            sent.Report();
        }
    };
    if (options.logAtStart) {
        const auto frames = meter.Burst(*options.logAtStart);
        for (size_t i = 0; i < frames.size(); ++i) {
            // A file has no silence: the quiet around the second tail frame becomes filler, so a reader
            // cutting the file into chunks of up to 32 bytes never sees that tail share a chunk with
            // the next live frame, whose marker would cut it away.
            const bool secondTail = i + 1 == frames.size();
            if (secondTail)
                write(Bytes(kCaptureQuietFill, 0xFF));
            put(frames[i], false);
            if (secondTail)
                write(Bytes(kCaptureQuietFill, 0xFF));
        }
    }
    for (int64_t k = 0; k < options.frameCount; ++k)
        put(meter.NextLiveFrame(), true);
    ok = std::fclose(file) == 0 && ok;
    sent.Report();
    if (!ok) {
        std::fprintf(stderr, "calvora-sim: writing %s failed\n", options.capturePath.c_str());
        return 1;
    }
    return 0;
}

int RunPseudoTerminal(const SimOptions& options) {
    PseudoTerminalRun run(options);
    return run.Run();
}

} // namespace calvora::sim
