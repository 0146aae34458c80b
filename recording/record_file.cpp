#include "recording/record_file.h"

#include "chart/chart_layout.h"
#include "protocol/text.h"
#include "recording/document.h"
#include "recording/recording_state.h"

#include <bit>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace calvora {

namespace {

constexpr size_t kChartTrailerSize = 18;

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

// Reads fields off the file bytes; every read checks what is left, so a short file fails cleanly.
class Cursor {
public:
    explicit Cursor(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    size_t left() const { return bytes_.size() - at_; }

    bool U8(uint8_t& v) {
        if (left() < 1)
            return false;
        v = bytes_[at_++];
        return true;
    }
    bool U16(uint16_t& v) {
        if (left() < 2)
            return false;
        v = static_cast<uint16_t>(bytes_[at_] | bytes_[at_ + 1] << 8);
        at_ += 2;
        return true;
    }
    bool U32(uint32_t& v) {
        if (left() < 4)
            return false;
        v = static_cast<uint32_t>(bytes_[at_]) | static_cast<uint32_t>(bytes_[at_ + 1]) << 8 |
            static_cast<uint32_t>(bytes_[at_ + 2]) << 16 | static_cast<uint32_t>(bytes_[at_ + 3]) << 24;
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
    const uint8_t* Take(size_t size) {
        if (left() < size)
            return nullptr;
        const uint8_t* p = bytes_.data() + at_;
        at_ += size;
        return p;
    }

    // A length after the first byte: 16-bit, then 32-bit, then 64-bit whose high half must be 0.
    bool LongLength(uint64_t& length) {
        uint16_t short_length = 0;
        if (!U16(short_length))
            return false;
        if (short_length != 0xFFFF) {
            length = short_length;
            return true;
        }
        uint32_t long_length = 0;
        if (!U32(long_length))
            return false;
        if (long_length != 0xFFFFFFFF) {
            length = long_length;
            return true;
        }
        uint32_t low = 0;
        uint32_t high = 0;
        if (!U32(low) || !U32(high) || high != 0)
            return false;
        length = low;
        return true;
    }

    // Wide or narrow length-prefixed string into `out`; false when malformed or past the end.
    bool String(std::u16string& out) {
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
                uint8_t wide_first = 0;
                if (!U8(wide_first))
                    return false;
                length = wide_first;
                if (wide_first == 0xFF && !LongLength(length))
                    return false;
            } else if (marker == 0xFFFF) {
                at_ -= 2;
                if (!LongLength(length))
                    return false;
            } else {
                length = marker;
            }
        }
        if (length > left() || (wide && length * 2 > left()))
            return false;
        const uint8_t* p = Take(wide ? length * 2 : length);
        if (wide) {
            out.resize(length);
            for (size_t i = 0; i < length; ++i)
                out[i] = static_cast<char16_t>(p[2 * i] | p[2 * i + 1] << 8);
        } else {
            out = fromWindows1252(std::string_view(reinterpret_cast<const char*>(p), length));
        }
        return true;
    }

private:
    std::span<const uint8_t> bytes_;
    size_t at_ = 0;
};

ReadResult Failure(ReadStatus status, std::u16string_view message) {
    return {status, std::u16string(message)};
}

ReadResult Unexpected(ZUrizivaRor& document) {
    std::u16string title = std::move(document.title);
    document = ZUrizivaRor{};
    document.title = std::move(title);
    return Failure(ReadStatus::UnexpectedFormat, kUnexpectedFileFormat);
}

std::u16string SystemError(int error) {
    return fromUtf8(std::strerror(error));
}

} // namespace

bool WriteRecord(const ZUrizivaRor& document, ByteSink& sink) {
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

ReadResult ReadRecord(std::span<const uint8_t> bytes, ZUrizivaRor& document) {
    Cursor in(bytes);
    std::u16string text;
    if (!in.String(text))
        return Unexpected(document);
    if (text != kModelString)
        return Failure(ReadStatus::InvalidFormat, kInvalidFormat);

    const uint8_t* headerBytes = in.Take(RecordingHeader::kSize);
    if (!headerBytes)
        return Unexpected(document);
    const RecordingHeader header = RecordingHeader::FromBytes(headerBytes);
    const uint64_t channels = header.channelCount;
    const uint64_t samples = header.sampleCount;
    // Each sample block holds at least its values, four one-byte string lengths and lowLimit; a
    // count that cannot fit the bytes left must not reach the allocation.
    if (channels > kMaxChannels || (channels == 0 && samples > 0) || samples * (8 * channels + 8) > in.left())
        return Unexpected(document);

    document.SetReserved(header.reserved);
    document.SetChannelCount(header.channelCount);
    document.FillRows(header.sampleCount);

    std::u16string functionName, mode, unit, timeText;
    for (uint32_t row = 0; row < header.sampleCount; ++row) {
        for (int c = 0; c < static_cast<int>(channels); ++c) {
            float value = 0;
            float fullScale = 0;
            if (!in.F32(value) || !in.F32(fullScale))
                return Unexpected(document);
            document.SetValue(row, c, value, fullScale);
        }
        int32_t lowLimit = 0;
        if (!in.String(functionName) || !in.String(mode) || !in.String(unit) || !in.String(timeText) ||
            !in.I32(lowLimit))
            return Unexpected(document);
        document.SetTexts(row, functionName, mode, unit, timeText);
        document.SetLowLimit(row, lowLimit);
    }

    ChartSettings& settings = document.settings;
    for (int c = 0; c < static_cast<int>(channels); ++c) {
        if (!in.String(document.channelName[c]) || !in.U8(settings.traceVisible[c]) ||
            !in.U8(settings.alarmHigh[c]) || !in.U8(settings.alarmLow[c]) || !in.U8(settings.markPoints[c]) ||
            !in.U32(settings.traceColour[c]) || !in.U8(settings.traceAxis[c]))
            return Unexpected(document);
    }
    if (in.left() < kChartTrailerSize)
        return Unexpected(document);
    in.F32(settings.customMax);
    in.F32(settings.customMin);
    in.U8(settings.gridVisible);
    in.U8(settings.verticalAxisVisible);
    in.U32(settings.backgroundColour);
    in.U32(settings.gridColour);

    SetLimitsFromSamples(document);
    ResetZoom(document.layout);
    document.layout.vRange = 0;
    document.Compact();
    return {};
}

ReadResult ReadRecordFile(const std::filesystem::path& path, ZUrizivaRor& document) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return Failure(ReadStatus::CannotOpen, SystemError(errno));
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const int error = S_ISDIR(info.st_mode) ? EISDIR : errno;
        ::close(fd);
        return Failure(ReadStatus::CannotOpen, SystemError(error));
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(info.st_size));
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            const int error = errno;
            ::close(fd);
            return Failure(ReadStatus::CannotOpen, SystemError(error));
        }
        if (got == 0)
            break; // the file shrank while being read: parse what is there
        done += static_cast<size_t>(got);
    }
    ::close(fd);
    bytes.resize(done);
    return ReadRecord(bytes, document);
}

ReadResult OpenRecordFile(const std::filesystem::path& path, ZUrizivaRor& document, RecordingState& state,
                          UserPrompts& prompts) {
    ReadResult result = ReadRecordFile(path, document);
    if (result.status == ReadStatus::InvalidFormat)
        state.loadRejected = true;
    else if (result.ok())
        state.loadRejected = false;
    if (!result.ok())
        prompts.ShowMessage(result.message, MessageIcon::Exclamation);
    return result;
}

} // namespace calvora
