// Pseudo-terminals and chunk collection shared by the link tests.
#pragma once

#include "link/receiver_port.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace calvora::testing {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The meter's end of a pseudo-terminal; the port under test opens `slavePath`.
class PseudoTerminal {
public:
    PseudoTerminal() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        char name[128] = {};
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0 ||
            ptsname_r(master_, name, sizeof name))
            return;
        termios settings{};
        tcgetattr(master_, &settings);
        cfmakeraw(&settings);
        tcsetattr(master_, TCSANOW, &settings);
        fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
        slavePath_ = name;
    }
    ~PseudoTerminal() { Hangup(); }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    const std::string& slavePath() const { return slavePath_; }
    bool Send(const Bytes& bytes) {
        return ::write(master_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }
    // Bytes the port wrote, gathered until `count` arrived or `bound` passed.
    Bytes Receive(size_t count, std::chrono::milliseconds bound) {
        Bytes received;
        const auto deadline = Clock::now() + bound;
        while (received.size() < count && Clock::now() < deadline) {
            pollfd entry{master_, POLLIN, 0};
            poll(&entry, 1, 20);
            uint8_t buffer[256];
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n > 0)
                received.insert(received.end(), buffer, buffer + n);
        }
        return received;
    }
    // Closing the master is what a pulled receiver looks like from the slave side.
    void Hangup() {
        if (master_ >= 0)
            ::close(master_);
        master_ = -1;
    }

private:
    int master_ = -1;
    std::string slavePath_;
};

struct Chunk {
    Bytes bytes;
    Clock::time_point at;
};

// A receive callback target that records every chunk and lets the test wait for them.
class ChunkCollector {
public:
    static void Receive(void* context, const uint8_t* bytes, int32_t count) {
        auto* self = static_cast<ChunkCollector*>(context);
        {
            std::lock_guard lock(self->mutex_);
            self->chunks_.push_back({Bytes(bytes, bytes + count), Clock::now()});
        }
        self->changed_.notify_all();
    }

    bool WaitForChunks(size_t count, std::chrono::milliseconds bound) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, bound, [&] { return chunks_.size() >= count; });
    }
    // Waits until the concatenated bytes hold at least `count` bytes.
    bool WaitForBytes(size_t count, std::chrono::milliseconds bound) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, bound, [&] { return TotalLocked() >= count; });
    }
    std::vector<Chunk> chunks() {
        std::lock_guard lock(mutex_);
        return chunks_;
    }
    Bytes all() {
        std::lock_guard lock(mutex_);
        Bytes joined;
        for (const auto& chunk : chunks_)
            joined.insert(joined.end(), chunk.bytes.begin(), chunk.bytes.end());
        return joined;
    }

private:
    size_t TotalLocked() const {
        size_t total = 0;
        for (const auto& chunk : chunks_)
            total += chunk.bytes.size();
        return total;
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Chunk> chunks_;
};

// For states that offer nothing to wait on (a counter in another thread): checks every 2 ms.
template <typename Predicate> bool WaitUntil(Predicate done, std::chrono::milliseconds bound) {
    const auto deadline = Clock::now() + bound;
    while (!done()) {
        if (Clock::now() >= deadline)
            return false;
        pollfd none{-1, 0, 0};
        poll(&none, 0, 2);
    }
    return true;
}

inline PortOutcome<> OpenMeterLine(ReceiverPort& port, const std::string& path) {
    return port.Open(path, 115200, ParityNone, 8, StopOne, FlowNone);
}

} // namespace calvora::testing
