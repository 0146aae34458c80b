#include "recording/record_file.h"

#include "protocol/text.h"
#include "recording/little_endian.h"
#include "recording/recording_document.h"
#include "recording/recording_state.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace calvora {

namespace {

void WriteString(BufferedWriter& out, std::u16string_view text) {
    out.U8(0xFF);
    out.U16(0xFFFE);
    const size_t length = text.size();
    if (length < 255) {
        out.U8(static_cast<uint8_t>(length));
    } else if (length < 0xFFFE) {
        out.U8(0xFF);
        out.U16(static_cast<uint16_t>(length));
    } else {
        out.U8(0xFF);
        out.U16(0xFFFF);
        out.U32(static_cast<uint32_t>(length));
    }
    out.Utf16(text);
}

// Reads fields off the input; every read first makes sure the bytes are there, so a short file
// fails cleanly. The input is either bytes in memory or a file read through a window that grows
// only for a field larger than it (never beyond what the file holds).
class Cursor {
public:
    explicit Cursor(std::span<const uint8_t> bytes)
        : data_(bytes.data()), end_(bytes.size()), total_(bytes.size()) {}
    Cursor(int fd, uint64_t size) : fd_(fd), total_(size) {
        window_.resize(static_cast<size_t>(std::min<uint64_t>(size, kWindow)));
        data_ = window_.data();
    }

    // Bytes left in the whole input.
    uint64_t left() const { return total_ - consumed_ - at_; }

    // The OS reason when reading the file failed (0 otherwise).
    int error() const { return error_; }

    bool U8(uint8_t& v) {
        if (!Ensure(1))
            return false;
        v = data_[at_++];
        return true;
    }
    bool U16(uint16_t& v) {
        if (!Ensure(2))
            return false;
        v = LittleEndian16(data_ + at_);
        at_ += 2;
        return true;
    }
    bool U32(uint32_t& v) {
        if (!Ensure(4))
            return false;
        v = LittleEndian32(data_ + at_);
        at_ += 4;
        return true;
    }
    bool I32(int32_t& v) {
        uint32_t u = 0;
        if (!U32(u))
            return false;
        v = static_cast<int32_t>(u);
        return true;
    }
    bool F32(float& v) {
        uint32_t u = 0;
        if (!U32(u))
            return false;
        v = std::bit_cast<float>(u);
        return true;
    }
    // The next `size` bytes; valid until the next read.
    const uint8_t* Take(size_t size) {
        if (!Ensure(size))
            return nullptr;
        const uint8_t* p = data_ + at_;
        at_ += size;
        return p;
    }

    // A length-prefixed string field; its bytes stay valid until the next read.
    struct Field {
        std::span<const uint8_t> raw; // prefix and characters, for comparing fields
        const uint8_t* chars = nullptr;
        size_t length = 0; // in characters
        bool wide = false;
    };

    // Wide or narrow string field; false when malformed or running past the end.
    bool StringField(Field& field) {
        // What the writer produces for every text under 255 characters: FF FE FF, one length byte.
        if (end_ - at_ >= 4 && data_[at_] == 0xFF && data_[at_ + 1] == 0xFE && data_[at_ + 2] == 0xFF &&
            data_[at_ + 3] != 0xFF) {
            const size_t size = 4 + size_t{data_[at_ + 3]} * 2;
            if (end_ - at_ >= size) {
                field.raw = {data_ + at_, size};
                field.chars = data_ + at_ + 4;
                field.length = data_[at_ + 3];
                field.wide = true;
                at_ += size;
                return true;
            }
        }
        // The prefix is at most 1 + 2 + 1 + 2 + 4 + 8 bytes: keep it and the characters in one piece.
        if (!Ensure(static_cast<size_t>(std::min<uint64_t>(left(), 18))))
            return false;
        const size_t start = at_;
        uint8_t first = 0;
        if (!U8(first))
            return false;
        uint64_t length = first;
        bool wide = false;
        if (first == 0xFF) {
            uint16_t marker = 0;
            if (!U16(marker))
                return false;
            if (marker == 0xFFFE) {
                wide = true;
                uint8_t wideFirst = 0;
                if (!U8(wideFirst))
                    return false;
                length = wideFirst;
                uint16_t wideLength = 0;
                if (wideFirst == 0xFF && (!U16(wideLength) || !LengthAfter(wideLength, length)))
                    return false;
            } else if (!LengthAfter(marker, length)) {
                return false;
            }
        }
        const uint64_t bytes = wide ? length * 2 : length;
        if (length > left() || bytes > left())
            return false;
        const size_t prefix = at_ - start;
        // Moving the window must keep the prefix in front of the characters.
        at_ = start;
        if (!Ensure(prefix + static_cast<size_t>(bytes)))
            return false;
        field.raw = {data_ + at_, prefix + static_cast<size_t>(bytes)};
        field.chars = data_ + at_ + prefix;
        field.length = static_cast<size_t>(length);
        field.wide = wide;
        at_ += field.raw.size();
        return true;
    }

    bool String(std::u16string& out) {
        Field field;
        if (!StringField(field))
            return false;
        Decode(field, out);
        return true;
    }

    static void Decode(const Field& field, std::u16string& out) {
        if (field.wide) {
            out.resize(field.length);
            for (size_t i = 0; i < field.length; ++i)
                out[i] = static_cast<char16_t>(LittleEndian16(field.chars + 2 * i));
        } else {
            out = fromWindows1252(std::string_view(reinterpret_cast<const char*>(field.chars), field.length));
        }
    }

private:
    static constexpr size_t kWindow = 256 * 1024;

    // After a 16-bit length: 0xFFFF announces a 32-bit length, 0xFFFFFFFF a 64-bit one whose high
    // half must be 0 (0xFFFE is the wide marker and handled by the caller).
    bool LengthAfter(uint16_t shortLength, uint64_t& length) {
        if (shortLength != 0xFFFF) {
            length = shortLength;
            return true;
        }
        uint32_t longLength = 0;
        if (!U32(longLength))
            return false;
        if (longLength != 0xFFFFFFFF) {
            length = longLength;
            return true;
        }
        uint32_t low = 0;
        uint32_t high = 0;
        if (!U32(low) || !U32(high) || high != 0)
            return false;
        length = low;
        return true;
    }

    // Makes `size` bytes readable at at_, reading more of the file when needed.
    bool Ensure(size_t size) {
        if (end_ - at_ >= size)
            return true;
        if (fd_ < 0 || size > left())
            return false;
        const size_t kept = end_ - at_;
        std::memmove(window_.data(), window_.data() + at_, kept);
        consumed_ += at_;
        at_ = 0;
        end_ = kept;
        if (size > window_.size())
            window_.resize(size);
        data_ = window_.data();
        const size_t wanted = static_cast<size_t>(std::min<uint64_t>(window_.size(), total_ - consumed_));
        while (end_ < wanted) {
            const ssize_t got = ::read(fd_, window_.data() + end_, wanted - end_);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                // The file shrank or could not be read while being parsed.
                error_ = got < 0 ? errno : 0;
                total_ = consumed_ + end_;
                break;
            }
            end_ += static_cast<size_t>(got);
        }
        return end_ >= size;
    }

    int fd_ = -1;
    std::vector<uint8_t> window_;
    const uint8_t* data_ = nullptr;
    size_t end_ = 0;        // bytes readable at data_
    size_t at_ = 0;         // read position in data_
    uint64_t consumed_ = 0; // input bytes before data_
    uint64_t total_ = 0;    // input size
    int error_ = 0;
};

Failure<ReadFailure> Unexpected(RecordingDocument& document) {
    std::u16string title = std::move(document.title);
    document = RecordingDocument{};
    document.title = std::move(title);
    return Failure(ReadFailure::UnexpectedFormat, std::u16string(kUnexpectedFileFormat));
}

Failure<ReadFailure> CannotOpen(int error) {
    return Failure(ReadFailure::CannotOpen, fromUtf8(std::strerror(error)));
}

} // namespace

bool WriteRecord(const RecordingDocument& document, ByteSink& sink) {
    BufferedWriter out(sink);
    WriteString(out, kModelString);
    const auto header = document.header().ToBytes();
    out.Bytes(header.data(), header.size());

    const int channels = document.channelCount();
    for (uint32_t row = 0; row < document.sampleCount(); ++row) {
        for (int c = 0; c < channels; ++c) {
            out.F32(document.value(row, c));
            out.F32(document.fullScale(row, c));
        }
        WriteString(out, document.functionName(row));
        WriteString(out, document.mode(row));
        WriteString(out, document.unit(row));
        WriteString(out, document.timeText(row));
        out.U32(static_cast<uint32_t>(document.lowLimit(row)));
    }

    const ChartSettings& settings = document.settings;
    for (int c = 0; c < channels; ++c) {
        WriteString(out, document.channelName[c]);
        out.U8(settings.traceVisible[c]);
        out.U8(settings.alarmHigh[c]);
        out.U8(settings.alarmLow[c]);
        out.U8(settings.markPoints[c]);
        out.U32(settings.traceColour[c]);
        out.U8(settings.traceAxis[c]);
    }
    out.F32(settings.customMax);
    out.F32(settings.customMin);
    out.U8(settings.gridVisible);
    out.U8(settings.verticalAxisVisible);
    out.U32(settings.backgroundColour);
    out.U32(settings.gridColour);
    return out.Flush();
}

namespace {
Outcome<void, ReadFailure> Parse(Cursor& in, RecordingDocument& document) {
    std::u16string model;
    if (!in.String(model))
        return Unexpected(document);
    if (model != kModelString)
        return Failure(ReadFailure::InvalidFormat, std::u16string(kInvalidFormat));

    const uint8_t* headerBytes = in.Take(RecordingHeader::kSize);
    if (!headerBytes)
        return Unexpected(document);
    const RecordingHeader header = RecordingHeader::FromBytes(headerBytes);
    const uint64_t channels = header.channelCount;
    const uint64_t samples = header.sampleCount;
    // Each sample block holds at least its values, four one-byte string lengths and lowLimit; a
    // count that cannot fit the bytes left must not reach the allocation.
    if (channels > kMaxChannels || (channels == 0 && samples > 0) || samples > kMaxFileSamples ||
        samples * (8 * channels + 8) > in.left())
        return Unexpected(document);

    document.SetReserved(header.reserved);
    document.SetChannelCount(header.channelCount);
    if (!document.FillRows(header.sampleCount)) {
        Unexpected(document);
        return CannotOpen(ENOMEM);
    }

    // Consecutive samples mostly repeat their texts byte for byte (same function, same second), so
    // each column remembers its last field and interns only what changed.
    struct LastText {
        std::vector<uint8_t> raw;
        TextPool::Id id = TextPool::kEmpty;
    };
    constexpr size_t kTimeColumn = 3;
    std::array<LastText, 4> last{};
    std::array<TextPool::Id, 4> ids{};
    std::u16string text;
    for (uint32_t row = 0; row < header.sampleCount; ++row) {
        for (int c = 0; c < static_cast<int>(channels); ++c) {
            float value = 0;
            float fullScale = 0;
            if (!in.F32(value) || !in.F32(fullScale))
                return Unexpected(document);
            document.SetValue(row, c, value, fullScale);
        }
        for (size_t column = 0; column < ids.size(); ++column) {
            Cursor::Field field;
            if (!in.StringField(field))
                return Unexpected(document);
            LastText& previous = last[column];
            if (!std::equal(field.raw.begin(), field.raw.end(), previous.raw.begin(), previous.raw.end())) {
                Cursor::Decode(field, text);
                previous.raw.assign(field.raw.begin(), field.raw.end());
                previous.id = column == kTimeColumn ? document.AppendText(text) : document.Intern(text);
            }
            ids[column] = previous.id;
        }
        int32_t lowLimit = 0;
        if (!in.I32(lowLimit))
            return Unexpected(document);
        document.SetTextIds(row, ids[0], ids[1], ids[2], ids[3]);
        document.SetLowLimit(row, lowLimit);
    }

    ChartSettings& settings = document.settings;
    for (int c = 0; c < static_cast<int>(channels); ++c) {
        if (!in.String(document.channelName[c]) || !in.U8(settings.traceVisible[c]) ||
            !in.U8(settings.alarmHigh[c]) || !in.U8(settings.alarmLow[c]) || !in.U8(settings.markPoints[c]) ||
            !in.U32(settings.traceColour[c]) || !in.U8(settings.traceAxis[c]))
            return Unexpected(document);
    }
    if (!in.F32(settings.customMax) || !in.F32(settings.customMin) || !in.U8(settings.gridVisible) ||
        !in.U8(settings.verticalAxisVisible) || !in.U32(settings.backgroundColour) ||
        !in.U32(settings.gridColour))
        return Unexpected(document);

    document.Compact();
    return {};
}
} // namespace

Outcome<void, ReadFailure> ReadRecord(std::span<const uint8_t> bytes, RecordingDocument& document) {
    Cursor in(bytes);
    return Parse(in, document);
}

Outcome<void, ReadFailure> ReadRecordFile(const std::filesystem::path& path, RecordingDocument& document) {
    // Non-blocking so that a FIFO named by mistake is refused instead of waiting for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return CannotOpen(errno);
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        return CannotOpen(error);
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        if (S_ISDIR(info.st_mode))
            return CannotOpen(EISDIR);
        return Failure(ReadFailure::CannotOpen, u"Not a regular file");
    }
    Cursor in(fd, static_cast<uint64_t>(info.st_size));
    Outcome<void, ReadFailure> read = Parse(in, document);
    ::close(fd);
    if (!read && in.error() != 0)
        return CannotOpen(in.error());
    return read;
}

Outcome<void, ReadFailure> OpenRecordFile(const std::filesystem::path& path, RecordingDocument& document,
                                          RecordingState& state, UserPrompts& prompts) {
    Outcome<void, ReadFailure> read = ReadRecordFile(path, document);
    if (read) {
        state.loadRejected = false;
        return read;
    }
    if (read.kind() == ReadFailure::InvalidFormat)
        state.loadRejected = true;
    prompts.ShowMessage(read.reason(), MessageIcon::Exclamation);
    return read;
}

} // namespace calvora
