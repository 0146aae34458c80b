// A bounded queue of messages on disk, kept while the broker cannot be reached. Messages are appended to
// segment files in a folder of their own; when the folder holds more than its bound, the oldest segment is
// dropped and its messages counted. Messages left by an earlier run are sent first. Not thread-safe: the
// publisher guards it.
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

class Spool {
public:
    static constexpr uint64_t kDefaultBytes = 100ull * 1024 * 1024;

    // Makes `folder` when it is missing and takes over the segments an earlier run left there.
    static Outcome<Spool> Open(std::string folder, uint64_t maxBytes = kDefaultBytes);

    Spool(Spool&&) = default;
    Spool& operator=(Spool&&) = default;

    // False (with the reason in lastError()) when the disk refused it; the message is then lost.
    bool Append(const SpooledMessage& message);
    // The oldest message, taken out of the spool; nothing when it is empty.
    std::optional<SpooledMessage> Take();

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
        uint64_t count = 0; // messages not taken yet
    };

    Spool(std::string folder, uint64_t maxBytes);
    std::string PathOf(uint64_t number) const;
    void DropOldest();

    std::string folder_;
    uint64_t maxBytes_ = 0;
    uint64_t segmentBytes_ = 0;
    std::deque<Segment> segments_;
    std::ofstream writer_; // the newest segment
    std::ifstream reader_; // the oldest segment
    uint64_t readerNumber_ = 0;
    bool readerOpen_ = false;
    uint64_t count_ = 0;
    uint64_t bytes_ = 0;
    uint64_t dropped_ = 0;
    std::string lastError_;
};

} // namespace calvora
