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
    for (const uint64_t number : numbers) {
        std::ifstream in(spool.PathOf(number), std::ios::binary);
        Segment segment{number, 0, 0};
        std::string line;
        while (std::getline(in, line)) {
            segment.bytes += line.size() + 1;
            if (Parse(line))
                ++segment.count;
        }
        spool.segments_.push_back(segment);
        spool.count_ += segment.count;
        spool.bytes_ += segment.bytes;
    }
    while (spool.bytes_ > spool.maxBytes_ && spool.segments_.size() > 1)
        spool.DropOldest();
    return spool;
}

bool Spool::Append(const SpooledMessage& message) {
    const std::string line = Line(message);
    // A new segment is started past the segment size, and always after a restart (the old ones stay whole).
    if (segments_.empty() || !writer_.is_open() || segments_.back().bytes >= segmentBytes_) {
        const uint64_t number = segments_.empty() ? 1 : segments_.back().number + 1;
        writer_.close();
        writer_.clear();
        writer_.open(PathOf(number), std::ios::binary | std::ios::trunc);
        if (!writer_) {
            lastError_ = "cannot write " + PathOf(number) + ": " + std::strerror(errno);
            return false;
        }
        segments_.push_back({number, 0, 0});
    }
    writer_ << line;
    writer_.flush();
    if (!writer_) {
        lastError_ = "cannot write " + PathOf(segments_.back().number) + ": " + std::strerror(errno);
        writer_.close();
        return false;
    }
    segments_.back().bytes += line.size();
    ++segments_.back().count;
    bytes_ += line.size();
    ++count_;
    while (bytes_ > maxBytes_ && segments_.size() > 1)
        DropOldest();
    return true;
}

void Spool::DropOldest() {
    const Segment oldest = segments_.front();
    segments_.pop_front();
    if (readerOpen_ && readerNumber_ == oldest.number) {
        reader_.close();
        readerOpen_ = false;
    }
    std::remove(PathOf(oldest.number).c_str());
    dropped_ += oldest.count;
    count_ -= oldest.count;
    bytes_ -= oldest.bytes;
}

std::optional<SpooledMessage> Spool::Take() {
    while (!segments_.empty()) {
        Segment& oldest = segments_.front();
        if (!readerOpen_ || readerNumber_ != oldest.number) {
            reader_.close();
            reader_.clear();
            reader_.open(PathOf(oldest.number), std::ios::binary);
            readerOpen_ = true;
            readerNumber_ = oldest.number;
        }
        std::string line;
        reader_.clear(); // a read that met the end before more was appended
        if (oldest.count > 0 && std::getline(reader_, line)) {
            if (std::optional<SpooledMessage> message = Parse(line)) {
                --oldest.count;
                --count_;
                return message;
            }
            continue; // a damaged line (cut by a crash) is skipped
        }
        // The segment is spent (or unreadable: its messages are counted as dropped).
        const bool writing = segments_.size() == 1 && writer_.is_open();
        if (writing)
            writer_.close();
        reader_.close();
        readerOpen_ = false;
        dropped_ += oldest.count;
        count_ -= oldest.count;
        bytes_ -= oldest.bytes;
        std::remove(PathOf(oldest.number).c_str());
        segments_.pop_front();
    }
    return std::nullopt;
}

} // namespace calvora
