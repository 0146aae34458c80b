#include "publish/spool.h"

#include "protocol/text.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

namespace calvora {

namespace fs = std::filesystem;

namespace {

constexpr const char* kSuffix = ".spool";
// The position up to which the broker acknowledged everything: "SEGMENT OFFSET", fixed width so that
// rewriting it in place never leaves a longer old value behind.
constexpr const char* kMarkName = "acknowledged";
constexpr size_t kMarkSize = 42;

// One message a line: QoS digit, tab, topic, tab, payload. Topics hold no tab and JSON no raw line break.
std::string Line(const SpooledMessage& message) {
    return std::to_string(message.qos) + '\t' + message.topic + '\t' + message.payload + '\n';
}

std::optional<SpooledMessage> Parse(const std::string& line) {
    const size_t first = line.find('\t');
    const size_t second = first == std::string::npos ? first : line.find('\t', first + 1);
    if (first != 1 || second == std::string::npos || (line[0] != '0' && line[0] != '1'))
        return std::nullopt;
    return SpooledMessage{line.substr(first + 1, second - first - 1), line.substr(second + 1), line[0] - '0'};
}

} // namespace

std::string Spool::DefaultFolder() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && *state == '/')
        return std::string(state) + "/calvora/spool";
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + "/.local/state/calvora/spool";
}

Spool::Spool(std::string folder, uint64_t maxBytes)
    : folder_(std::move(folder)), maxBytes_(maxBytes),
      segmentBytes_(std::clamp<uint64_t>(maxBytes / 16, 1024, 4 * 1024 * 1024)) {
}

std::string Spool::PathOf(uint64_t number) const {
    char name[32];
    std::snprintf(name, sizeof name, "%012llu", static_cast<unsigned long long>(number));
    return folder_ + '/' + name + kSuffix;
}

std::string Spool::AcknowledgedPath() const {
    return folder_ + '/' + kMarkName;
}

Outcome<Spool> Spool::Open(std::string folder, uint64_t maxBytes) {
    std::error_code error;
    fs::create_directories(folder, error);
    if (error || !fs::is_directory(folder, error))
        return Failure(u"The spool folder " + fromUtf8(folder) + u" cannot be made: " +
                       fromUtf8(error.message()));
    Spool spool(std::move(folder), maxBytes);
    std::vector<uint64_t> numbers;
    for (const fs::directory_entry& entry : fs::directory_iterator(spool.folder_, error)) {
        const std::string name = entry.path().filename().string();
        if (!name.ends_with(kSuffix) || !entry.is_regular_file())
            continue;
        char* end = nullptr;
        const unsigned long long number = std::strtoull(name.c_str(), &end, 10);
        if (end == name.c_str() + name.size() - std::strlen(kSuffix))
            numbers.push_back(number);
    }
    if (error)
        return Failure(u"The spool folder " + fromUtf8(spool.folder_) + u" cannot be read: " +
                       fromUtf8(error.message()));
    std::sort(numbers.begin(), numbers.end());

    {
        std::ifstream mark(spool.AcknowledgedPath(), std::ios::binary);
        unsigned long long segment = 0;
        unsigned long long offset = 0;
        if (mark >> segment >> offset)
            spool.acknowledged_ = {segment, offset};
    }
    spool.lastNumber_ = spool.acknowledged_.segment;
    for (const uint64_t number : numbers) {
        spool.lastNumber_ = std::max(spool.lastNumber_, number);
        // Everything in a segment before the mark's reached the broker in an earlier run.
        if (number < spool.acknowledged_.segment) {
            std::remove(spool.PathOf(number).c_str());
            continue;
        }
        const uint64_t from = number == spool.acknowledged_.segment ? spool.acknowledged_.offset : 0;
        std::ifstream in(spool.PathOf(number), std::ios::binary);
        Segment segment{number, 0, 0, from};
        std::string line;
        while (std::getline(in, line)) {
            segment.bytes += line.size() + 1;
            // A line cut short by a crash (no line break) is not a message.
            if (segment.bytes > from && !in.eof() && Parse(line))
                ++segment.unsent;
        }
        spool.segments_.push_back(segment);
        spool.count_ += segment.unsent;
        spool.bytes_ += segment.bytes;
    }
    spool.mark_.open(spool.AcknowledgedPath(), std::ios::binary | std::ios::in | std::ios::out);
    if (!spool.mark_.is_open())
        spool.mark_.open(spool.AcknowledgedPath(), std::ios::binary | std::ios::out | std::ios::trunc);
    if (!spool.mark_.is_open())
        return Failure(u"The spool folder " + fromUtf8(spool.folder_) + u" cannot be written.");
    while (spool.bytes_ > spool.maxBytes_ && spool.segments_.size() > 1)
        spool.DropOldest();
    return spool;
}

bool Spool::Append(const SpooledMessage& message) {
    const std::string line = Line(message);
    // A new segment is started past the segment size, and always after a restart (the old ones stay whole).
    if (segments_.empty() || !writer_.is_open() || segments_.back().bytes >= segmentBytes_) {
        const uint64_t number = lastNumber_ + 1;
        writer_.close();
        writer_.clear();
        writer_.open(PathOf(number), std::ios::binary | std::ios::trunc);
        if (!writer_) {
            lastError_ = "cannot write " + PathOf(number) + ": " + std::strerror(errno);
            return false;
        }
        lastNumber_ = number;
        segments_.push_back({number, 0, 0, 0});
    }
    // One write for the whole line: a killed program leaves whole lines behind.
    writer_ << line;
    writer_.flush();
    if (!writer_) {
        lastError_ = "cannot write " + PathOf(segments_.back().number) + ": " + std::strerror(errno);
        writer_.close();
        return false;
    }
    segments_.back().bytes += line.size();
    ++segments_.back().unsent;
    bytes_ += line.size();
    ++count_;
    while (bytes_ > maxBytes_ && segments_.size() > 1)
        DropOldest();
    return true;
}

void Spool::RemoveFront() {
    const Segment oldest = segments_.front();
    segments_.pop_front();
    if (readerOpen_ && readerNumber_ == oldest.number) {
        reader_.close();
        readerOpen_ = false;
    }
    std::remove(PathOf(oldest.number).c_str());
    bytes_ -= oldest.bytes;
}

void Spool::DropOldest() {
    dropped_ += segments_.front().unsent;
    count_ -= segments_.front().unsent;
    RemoveFront();
}

std::optional<SpoolEntry> Spool::Next() {
    for (Segment& segment : segments_) {
        if (segment.unsent == 0)
            continue;
        if (!readerOpen_ || readerNumber_ != segment.number) {
            reader_.close();
            reader_.clear();
            reader_.open(PathOf(segment.number), std::ios::binary);
            reader_.seekg(static_cast<std::streamoff>(segment.readFrom));
            readerOpen_ = true;
            readerNumber_ = segment.number;
            readerOffset_ = segment.readFrom;
        }
        std::string line;
        reader_.clear(); // a read that met the end before more was appended
        while (std::getline(reader_, line)) {
            readerOffset_ += line.size() + 1;
            if (std::optional<SpooledMessage> message = Parse(line)) {
                --segment.unsent;
                --count_;
                segment.readFrom = readerOffset_;
                return SpoolEntry{std::move(*message), {segment.number, readerOffset_}};
            }
            // A damaged line is skipped.
        }
        // The rest of the segment cannot be read: what it still held is counted as dropped.
        dropped_ += segment.unsent;
        count_ -= segment.unsent;
        segment.unsent = 0;
    }
    return std::nullopt;
}

void Spool::Acknowledge(SpoolPosition upTo) {
    if (upTo <= acknowledged_)
        return;
    acknowledged_ = upTo;
    // Spent segments go; the one being written stays until it is full.
    while (segments_.size() > 1 && segments_.front().unsent == 0 &&
           (segments_.front().number < upTo.segment ||
            (segments_.front().number == upTo.segment && upTo.offset >= segments_.front().bytes)))
        RemoveFront();
    char text[kMarkSize + 1];
    std::snprintf(text, sizeof text, "%020llu %020llu\n", static_cast<unsigned long long>(upTo.segment),
                  static_cast<unsigned long long>(upTo.offset));
    mark_.seekp(0);
    mark_.write(text, static_cast<std::streamsize>(kMarkSize));
    mark_.flush();
    if (!mark_) {
        lastError_ = "cannot write " + AcknowledgedPath() + ": " + std::strerror(errno);
        mark_.clear();
    }
}

void Spool::Tidy() {
    if (count_ != 0 || (!segments_.empty() &&
                        acknowledged_ < SpoolPosition{segments_.back().number, segments_.back().bytes}))
        return;
    writer_.close();
    reader_.close();
    readerOpen_ = false;
    mark_.close();
    for (const Segment& segment : segments_)
        std::remove(PathOf(segment.number).c_str());
    segments_.clear();
    bytes_ = 0;
    std::remove(AcknowledgedPath().c_str());
}

} // namespace calvora
