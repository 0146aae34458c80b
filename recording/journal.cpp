#include "recording/journal.h"

#include "protocol/text.h"
#include "recording/little_endian.h"
#include "recording/recording_document.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace calvora {

// File layout: the 8-byte magic, then one record per sample:
//   u32 payload length, payload, u32 FNV-1a of the payload
//   payload: u32 row, f32 value, f32 fullScale, i32 lowLimit, then functionName, mode, unit and
//   timeText, each a u16 count of UTF-16LE code units followed by the units.
// All little-endian. The checksum and the row numbers let a reader stop at a torn or stale tail.

namespace {

constexpr std::string_view kMagic = "CVJRNL1\n";
constexpr std::string_view kExtension = ".journal";
constexpr uint32_t kFixedPayload = 16;
constexpr uint32_t kMaxPayload = kFixedPayload + 4 * (2 + 2 * 0xFFFF);
constexpr uint64_t kMaxJournalBytes = 512ull << 20;

uint32_t Fnv1a(const uint8_t* data, size_t size) {
    uint32_t hash = 2166136261u;
    for (size_t i = 0; i < size; ++i) {
        hash ^= data[i];
        hash *= 16777619u;
    }
    return hash;
}

void PutText(std::vector<uint8_t>& out, std::u16string_view text) {
    const size_t length = std::min<size_t>(text.size(), 0xFFFF);
    AppendLittleEndian16(out, static_cast<uint16_t>(length));
    for (size_t i = 0; i < length; ++i)
        AppendLittleEndian16(out, static_cast<uint16_t>(text[i]));
}

// The program's name as journal file names carry it: PROGRAM-PID-N.journal.
std::string ProgramTag() {
    std::string tag;
    for (const char* c = program_invocation_short_name; c && *c; ++c)
        tag += std::isalnum(static_cast<unsigned char>(*c)) || *c == '-' || *c == '_' || *c == '.' ? *c : '_';
    return tag.empty() ? "recording" : tag;
}

// The program a journal's file name names; empty for names of another form and for "recording", which
// older versions of both programs wrote.
std::string ProgramOf(const std::filesystem::path& path) {
    std::string stem = path.stem().string();
    for (int part = 0; part < 2; ++part) {
        const size_t dash = stem.rfind('-');
        if (dash == std::string::npos || dash + 1 == stem.size() ||
            stem.find_first_not_of("0123456789", dash + 1) != std::string::npos)
            return {};
        stem.resize(dash);
    }
    return stem == "recording" ? std::string() : stem;
}

std::u16string ReasonText(const std::filesystem::path& path, std::u16string_view what, int error) {
    return std::u16string(what) + fromUtf8(path.string()) + u": " + fromUtf8(std::strerror(error));
}

struct Entry {
    float value = 0;
    float fullScale = 0;
    int32_t lowLimit = 0;
    std::array<std::u16string, 4> texts;
};

// Every complete record in order; stops at the first torn, corrupt or out-of-sequence one.
// nullopt when the bytes do not start with the magic.
std::optional<std::vector<Entry>> ParseJournal(std::string_view bytes) {
    if (bytes.substr(0, kMagic.size()) != kMagic)
        return std::nullopt;
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    size_t at = kMagic.size();
    std::vector<Entry> entries;
    while (bytes.size() - at >= 8) {
        const uint32_t length = LittleEndian32(data + at);
        if (length < kFixedPayload + 8 || length > kMaxPayload || bytes.size() - at - 8 < length)
            break;
        const uint8_t* payload = data + at + 4;
        if (LittleEndian32(payload + length) != Fnv1a(payload, length))
            break;
        // A record written twice is replayed once; a row out of order ends the trusted part.
        const uint32_t row = LittleEndian32(payload);
        if (!entries.empty() && row == entries.size() - 1) {
            at += 8 + length;
            continue;
        }
        if (row != entries.size())
            break;
        Entry entry;
        entry.value = std::bit_cast<float>(LittleEndian32(payload + 4));
        entry.fullScale = std::bit_cast<float>(LittleEndian32(payload + 8));
        entry.lowLimit = static_cast<int32_t>(LittleEndian32(payload + 12));
        size_t field = kFixedPayload;
        bool whole = true;
        for (std::u16string& text : entry.texts) {
            if (length - field < 2) {
                whole = false;
                break;
            }
            const size_t units = LittleEndian16(payload + field);
            field += 2;
            if ((length - field) / 2 < units) {
                whole = false;
                break;
            }
            text.resize(units);
            for (size_t i = 0; i < units; ++i)
                text[i] = static_cast<char16_t>(LittleEndian16(payload + field + 2 * i));
            field += 2 * units;
        }
        if (!whole || field != length)
            break;
        entries.push_back(std::move(entry));
        at += 8 + length;
    }
    return entries;
}

// The whole file, or nullopt with errno set.
std::optional<std::string> ReadWhole(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat info {};
    int error = 0;
    if (::fstat(fd, &info) != 0)
        error = errno;
    else if (S_ISDIR(info.st_mode))
        error = EISDIR;
    else if (!S_ISREG(info.st_mode))
        error = EINVAL;
    else if (static_cast<uint64_t>(info.st_size) > kMaxJournalBytes)
        error = EFBIG;
    if (error != 0) {
        ::close(fd);
        errno = error;
        return std::nullopt;
    }
    std::string bytes(static_cast<size_t>(info.st_size), '\0');
    size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            errno = error;
            return std::nullopt;
        }
        if (n == 0)
            break;
        got += static_cast<size_t>(n);
    }
    bytes.resize(got);
    ::close(fd);
    return bytes;
}

} // namespace

std::filesystem::path JournalFolder() {
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state == '/')
        return std::filesystem::path(state) / "calvora";
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::filesystem::path(home) / ".local" / "state" / "calvora";
    return std::filesystem::temp_directory_path() / "calvora";
}

// ------------------------------------------------------------------------------------------ writer

Journal::Journal(std::filesystem::path folder) : folder_(std::move(folder)) {
}

Journal::~Journal() {
    Close();
}

void Journal::Record(const RecordingDocument& document, uint32_t row) {
    Record(row, JournalSample{document.value(row, 0), document.fullScale(row, 0), document.lowLimit(row),
                              document.functionName(row), document.mode(row), document.unit(row),
                              document.timeText(row)});
}

void Journal::Record(uint32_t row, const JournalSample& sample) {
    if (row == 0) {
        if (!Begin())
            return;
    } else if (!flusher_.joinable() || failed()) {
        return;
    }
    std::vector<uint8_t> record;
    record.reserve(64 + 2 * (sample.functionName.size() + sample.mode.size() + sample.unit.size() +
                             sample.timeText.size()));
    AppendLittleEndian32(record, 0); // length, filled in below
    AppendLittleEndian32(record, row);
    AppendLittleEndian32(record, std::bit_cast<uint32_t>(sample.value));
    AppendLittleEndian32(record, std::bit_cast<uint32_t>(sample.fullScale));
    AppendLittleEndian32(record, static_cast<uint32_t>(sample.lowLimit));
    PutText(record, sample.functionName);
    PutText(record, sample.mode);
    PutText(record, sample.unit);
    PutText(record, sample.timeText);
    const auto length = static_cast<uint32_t>(record.size() - 4);
    PutLittleEndian32(record.data(), length);
    AppendLittleEndian32(record, Fnv1a(record.data() + 4, length));
    {
        std::lock_guard lock(pendingMutex_);
        pending_.insert(pending_.end(), record.begin(), record.end());
    }
    ++samples_;
}

bool Journal::Begin() {
    Close();
    {
        std::lock_guard lock(fileMutex_);
        if (!path_.empty())
            ::unlink(path_.c_str()); // the previous recording's samples were replaced
        path_.clear();
        error_.clear();
        written_ = 0;
    }
    failed_ = false;
    samples_ = 0;

    std::error_code folderError;
    std::filesystem::create_directories(folder_, folderError);
    static std::atomic<unsigned> counter{0};
    int fd = -1;
    std::filesystem::path path;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        path = folder_ / (ProgramTag() + "-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) +
                          std::string(kExtension));
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    const int openError = folderError ? folderError.value() : errno;
    std::lock_guard lock(fileMutex_);
    if (fd < 0) {
        path_ = folder_;
        Fail(openError);
        path_.clear();
        return false;
    }
    // Held for the life of the file: FindLeftJournal passes over journals of running sessions.
    ::flock(fd, LOCK_EX | LOCK_NB);
    fd_ = fd;
    path_ = path;
    if (!WriteOut(std::vector<uint8_t>(kMagic.begin(), kMagic.end())))
        return false;
    {
        std::lock_guard pendingLock(pendingMutex_);
        stop_ = false;
        pending_.clear();
    }
    flusher_ = std::thread(&Journal::FlushLoop, this);
    return true;
}

void Journal::FlushLoop() {
    std::vector<uint8_t> batch;
    for (;;) {
        bool stopping = false;
        {
            std::unique_lock lock(pendingMutex_);
            wake_.wait_for(lock, kJournalSyncPeriod, [&] { return stop_; });
            stopping = stop_;
        }
        // The file lock is taken before the batch, so Sync and this loop write batches in order.
        std::lock_guard fileLock(fileMutex_);
        {
            std::lock_guard lock(pendingMutex_);
            batch.swap(pending_);
        }
        if (!batch.empty())
            WriteOut(batch);
        batch.clear();
        if (stopping)
            return;
    }
}

Outcome<void> Journal::Sync() {
    {
        std::lock_guard fileLock(fileMutex_);
        std::vector<uint8_t> batch;
        {
            std::lock_guard lock(pendingMutex_);
            batch.swap(pending_);
        }
        if (!batch.empty())
            WriteOut(batch);
    }
    return kept();
}

bool Journal::WriteOut(const std::vector<uint8_t>& bytes) {
    if (fd_ < 0 || failed())
        return false;
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : EIO;
            // A partial record would hide every later one from recovery: cut it off.
            if (::ftruncate(fd_, static_cast<off_t>(written_)) == 0)
                ::lseek(fd_, static_cast<off_t>(written_), SEEK_SET);
            Fail(error);
            return false;
        }
        done += static_cast<size_t>(n);
    }
    if (::fdatasync(fd_) != 0) {
        Fail(errno);
        return false;
    }
    written_ += bytes.size();
    return true;
}

void Journal::Fail(int error) {
    error_ = ReasonText(path_, u"Cannot keep the journal ", error);
    failed_.store(true, std::memory_order_release);
}

void Journal::Close() {
    if (flusher_.joinable()) {
        {
            std::lock_guard lock(pendingMutex_);
            stop_ = true;
        }
        wake_.notify_all();
        flusher_.join(); // its last turn writes what is pending
    }
    std::lock_guard lock(fileMutex_);
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    std::lock_guard pendingLock(pendingMutex_);
    pending_.clear();
    stop_ = false;
}

bool Journal::Adopt(const std::filesystem::path& path) {
    if (!this->path().empty())
        return false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd); // another session has it
        return false;
    }
    std::lock_guard lock(fileMutex_);
    fd_ = fd;
    path_ = path;
    written_ = 0;
    error_.clear();
    failed_ = false;
    samples_ = 0;
    return true;
}

void Journal::Remove() {
    Close();
    std::lock_guard lock(fileMutex_);
    if (!path_.empty())
        ::unlink(path_.c_str());
    path_.clear();
    error_.clear();
    written_ = 0;
    failed_ = false;
    samples_ = 0;
}

std::filesystem::path Journal::path() const {
    std::lock_guard lock(fileMutex_);
    return path_;
}

Outcome<void> Journal::kept() const {
    if (!failed())
        return {};
    std::lock_guard lock(fileMutex_);
    return Failure(error_);
}

// ---------------------------------------------------------------------------------------- recovery

namespace {
constexpr std::string_view kRecoveredSuffix = ".recovered";
constexpr std::string_view kDiscardedSuffix = ".discarded";

bool EndsWith(const std::string& text, std::string_view end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool IsEndedJournal(const std::string& name) {
    return EndsWith(name, std::string(kExtension) + std::string(kRecoveredSuffix)) ||
           EndsWith(name, std::string(kExtension) + std::string(kDiscardedSuffix));
}
} // namespace

std::vector<LeftJournal> ListLeftJournals(const std::filesystem::path& folder) {
    std::error_code error;
    const auto now = std::filesystem::file_time_type::clock::now();
    std::vector<LeftJournal> left;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        std::error_code entryError;
        if (!it->is_regular_file(entryError))
            continue;
        const std::filesystem::path& path = it->path();
        const auto written = it->last_write_time(entryError);
        if (entryError)
            continue;
        if (IsEndedJournal(path.filename().string())) {
            if (now - written > kEndedJournalKept)
                ::unlink(path.c_str());
            continue;
        }
        if (path.extension() != kExtension)
            continue;
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
        std::optional<std::vector<Entry>> entries;
        if (!held) {
            if (const auto bytes = ReadWhole(path))
                entries = ParseJournal(*bytes);
        }
        if (!held && entries && entries->empty())
            ::unlink(path.c_str()); // a crash before the first sample reached the disk
        ::close(fd);
        if (entries && !entries->empty())
            left.push_back({path, written, static_cast<uint32_t>(entries->size()), ProgramOf(path)});
    }
    std::sort(left.begin(), left.end(), [](const LeftJournal& a, const LeftJournal& b) {
        return a.written != b.written ? a.written > b.written : a.path > b.path;
    });
    return left;
}

std::optional<std::filesystem::path> FindLeftJournal(const std::filesystem::path& folder) {
    const std::vector<LeftJournal> left = ListLeftJournals(folder);
    if (left.empty())
        return std::nullopt;
    return left.back().path;
}

Outcome<void> EndJournal(const std::filesystem::path& path, JournalEnd end) {
    if (path.extension() != kExtension)
        return {};
    std::filesystem::path ended = path;
    ended += end == JournalEnd::Recovered ? kRecoveredSuffix : kDiscardedSuffix;
    if (::rename(path.c_str(), ended.c_str()) != 0)
        return Failure(ReasonText(path, u"Cannot put aside ", errno));
    // The days it is kept count from now.
    ::utimensat(AT_FDCWD, ended.c_str(), nullptr, 0);
    return {};
}

void DiscardJournal(const std::filesystem::path& path) {
    EndJournal(path, JournalEnd::Discarded);
}

Outcome<JournalHold> JournalHold::Take(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return Failure(fromUtf8(std::strerror(errno)));
    JournalHold hold(fd);
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        return Failure(fromUtf8(std::strerror(S_ISDIR(info.st_mode) ? EISDIR : EINVAL)));
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        return Failure(u"in use by a running recording");
    return hold;
}

JournalHold::~JournalHold() {
    if (fd_ >= 0)
        ::close(fd_);
}

JournalHold::JournalHold(JournalHold&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {
}

JournalHold& JournalHold::operator=(JournalHold&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

namespace {
Outcome<RecordingDocument> RecoverFrom(std::string_view bytes, const std::filesystem::path& path) {
    auto fail = [&](std::u16string_view what) {
        return Failure(fromUtf8(path.string()) + std::u16string(what));
    };
    const auto entries = ParseJournal(bytes);
    if (!entries)
        return fail(u" is not a recording journal");
    if (entries->empty())
        return fail(u" holds no complete sample");

    RecordingDocument recovered;
    recovered.SetChannelCount(1);
    recovered.FillRows(static_cast<uint32_t>(entries->size()));
    for (uint32_t row = 0; row < entries->size(); ++row) {
        const Entry& entry = (*entries)[row];
        recovered.SetValue(row, 0, entry.value, entry.fullScale);
        recovered.SetLowLimit(row, entry.lowLimit);
        recovered.SetTexts(row, entry.texts[0], entry.texts[1], entry.texts[2], entry.texts[3]);
    }
    recovered.Compact();
    recovered.title = u"RealTime Panel";
    return recovered;
}
} // namespace

Outcome<RecordingDocument> RecoverJournalBytes(std::string_view bytes) {
    return RecoverFrom(bytes, "journal");
}

Outcome<RecordingDocument> RecoverJournal(const std::filesystem::path& path) {
    const auto bytes = ReadWhole(path);
    if (!bytes)
        return Failure(ReasonText(path, u"Cannot read ", errno));
    return RecoverFrom(*bytes, path);
}

} // namespace calvora
