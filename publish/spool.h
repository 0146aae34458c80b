// The on-disk journal of messages on their way to the broker. Every message is appended to a segment file
// before it is sent and stays there until the broker has acknowledged it, so neither a lost connection nor a
// killed program loses one; after a crash only the messages sent but not yet acknowledged are sent twice.
// When the folder holds more than its bound, the oldest segment is dropped and its unsent messages counted.
// Not thread-safe: the publisher guards it.
#pragma once

#include "protocol/outcome.h"

#include <cstdint>
#include <deque>
#include <fstream>
#include <optional>
#include <string>

namespace calvora {

struct SpooledMessage {
    std::string topic;
    std::string payload;
    int qos = 1;
};

// Just past one message's line: its segment and the byte offset there.
struct SpoolPosition {
    uint64_t segment = 0;
    uint64_t offset = 0;
    auto operator<=>(const SpoolPosition&) const = default;
};

struct SpoolEntry {
    SpooledMessage message;
    SpoolPosition end;
};

class Spool {
public:
    static constexpr uint64_t kDefaultBytes = 100ull * 1024 * 1024;

    // Makes `folder` when it is missing and takes over what an earlier run left unacknowledged there.
    static Outcome<Spool> Open(std::string folder, uint64_t maxBytes = kDefaultBytes);

    Spool(Spool&&) = default;
    Spool& operator=(Spool&&) = default;

    // False (with the reason in lastError()) when the disk refused it; the message is then lost.
    bool Append(const SpooledMessage& message);
    // The oldest message not handed out yet; it stays on disk until it is acknowledged.
    std::optional<SpoolEntry> Next();
    // Every message up to `upTo` reached the broker: noted on disk, spent segments removed.
    void Acknowledge(SpoolPosition upTo);
    // Removes every file when nothing unacknowledged is left (a clean stop leaves an empty folder).
    void Tidy();

    // Messages not handed out yet.
    bool empty() const { return count_ == 0; }
    uint64_t count() const { return count_; }
    uint64_t bytes() const { return bytes_; }
    uint64_t dropped() const { return dropped_; }
    const std::string& folder() const { return folder_; }
    const std::string& lastError() const { return lastError_; }

    // $XDG_STATE_HOME/calvora/spool (~/.local/state/calvora/spool).
    static std::string DefaultFolder();

private:
    struct Segment {
        uint64_t number = 0;
        uint64_t bytes = 0;
        uint64_t unsent = 0;   // messages not handed out yet
        uint64_t readFrom = 0; // the offset of the first of them
    };

    Spool(std::string folder, uint64_t maxBytes);
    std::string PathOf(uint64_t number) const;
    std::string AcknowledgedPath() const;
    void DropOldest();
    void RemoveFront();

    std::string folder_;
    uint64_t maxBytes_ = 0;
    uint64_t segmentBytes_ = 0;
    std::deque<Segment> segments_;
    uint64_t lastNumber_ = 0; // the highest segment number used, so a new one never falls behind the mark
    std::ofstream writer_;    // the newest segment
    std::ifstream reader_;    // the segment being handed out
    uint64_t readerNumber_ = 0;
    uint64_t readerOffset_ = 0;
    bool readerOpen_ = false;
    SpoolPosition acknowledged_;
    std::fstream mark_; // holds acknowledged_
    uint64_t count_ = 0;
    uint64_t bytes_ = 0;
    uint64_t dropped_ = 0;
    std::string lastError_;
};

} // namespace calvora
