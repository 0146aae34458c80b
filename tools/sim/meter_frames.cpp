#include "tools/sim/meter_frames.h"

#include "protocol/hex_text.h"
#include "protocol/text.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <numbers>

namespace calvora::sim {
namespace {

// Bytes 3-4 and the two trailing bytes carry nothing the host reads; values whose low nibble is not
// zero keep a magnitude such as 0D 5F from forming "00d5f" across the byte boundary.
constexpr uint8_t kFiller = 0x11;

void PutBigEndian(Bytes& bytes, size_t at, uint16_t value) {
    bytes[at] = static_cast<uint8_t>(value >> 8);
    bytes[at + 1] = static_cast<uint8_t>(value & 0xFF);
}

uint16_t Magnitude(int32_t count) {
    return static_cast<uint16_t>(std::min<int64_t>(std::llabs(static_cast<int64_t>(count)), 0xFFFF));
}

Bytes MemoryFrame(uint8_t kind, uint16_t number, uint16_t length, size_t size) {
    Bytes frame(size, 0x00);
    frame[0] = 0x00;
    frame[1] = 0xD5;
    frame[2] = kind;
    PutBigEndian(frame, 3, number);
    PutBigEndian(frame, 5, length);
    frame[size - 2] = kFiller;
    frame[size - 1] = kFiller;
    return frame;
}

} // namespace

uint8_t RangeByte(const ReadingSettings& settings, bool negative) {
    return static_cast<uint8_t>((settings.range & 0x07) | (negative ? 0x10 : 0) |
                                (settings.acPlusDc ? 0x80 : 0));
}

uint8_t FunctionByte(const ReadingSettings& settings) {
    return static_cast<uint8_t>((settings.function & 0x0F) | ((settings.submode & 0x03) << 4));
}

uint8_t StatusByte(const ReadingSettings& settings) {
    return static_cast<uint8_t>((settings.peak ? 0x10 : 0) | (settings.manualRange ? 0x20 : 0) |
                                (settings.hold ? 0x80 : 0));
}

Bytes BuildLiveFrame(const ReadingSettings& settings, int32_t count) {
    const uint16_t magnitude = Magnitude(count);
    return Bytes{0x00,
                 0xD5,
                 0xF0,
                 kFiller,
                 kFiller,
                 static_cast<uint8_t>(magnitude >> 8),
                 static_cast<uint8_t>(magnitude & 0xFF),
                 RangeByte(settings, count < 0),
                 FunctionByte(settings),
                 StatusByte(settings),
                 kFiller,
                 kFiller};
}

Record BuildRecord(const ReadingSettings& settings, int32_t count) {
    const uint16_t magnitude = Magnitude(count);
    return Record{static_cast<uint8_t>(magnitude >> 8), static_cast<uint8_t>(magnitude & 0xFF),
                  RangeByte(settings, count < 0), FunctionByte(settings)};
}

std::vector<Bytes> BuildLogBurst(const std::vector<Record>& records) {
    std::vector<Bytes> frames;
    const size_t total = records.size() * 4;
    Bytes header = MemoryFrame(0xF1, 0, 0, kMemoryHeaderSize);
    PutBigEndian(header, 5, static_cast<uint16_t>(std::min<size_t>(records.size(), 0xFFFF)));
    frames.push_back(std::move(header));

    uint16_t block = 0;
    for (size_t start = 0; start < total; start += kBlockPayload) {
        const size_t length = std::min(kBlockPayload, total - start);
        Bytes frame = MemoryFrame(0xF2, ++block, static_cast<uint16_t>(length), kMemoryBlockSize);
        for (size_t k = 0; k < length; ++k)
            frame[7 + k] = records[(start + k) / 4][(start + k) % 4];
        frames.push_back(std::move(frame));
    }
    for (int tail = 0; tail < 2; ++tail)
        frames.push_back(MemoryFrame(0xF3, ++block, 0, kMemoryTailSize));
    return frames;
}

bool HasInnerMarker(const Bytes& bytes) {
    const std::string text = ToHexText(bytes.data(), bytes.size());
    for (size_t at = text.find("00d5f"); at != std::string::npos; at = text.find("00d5f", at + 1)) {
        if (at != 0)
            return true;
    }
    return false;
}

int32_t WaveValue(const WaveSettings& wave, uint64_t index, std::mt19937_64& random) {
    const int32_t period = std::max(wave.period, 1);
    const double phase = static_cast<double>(index % static_cast<uint64_t>(period)) / period;
    switch (wave.shape) {
    case Waveform::Constant:
        return wave.offset;
    case Waveform::Ramp:
        // Rises from offset - amplitude to just below offset + amplitude, then starts again.
        return wave.offset + static_cast<int32_t>(std::lround(wave.amplitude * (2 * phase - 1)));
    case Waveform::Sine:
        return wave.offset +
               static_cast<int32_t>(std::lround(wave.amplitude * std::sin(2 * std::numbers::pi * phase)));
    case Waveform::Noise: {
        const int32_t spread = std::abs(wave.amplitude);
        std::uniform_int_distribution<int32_t> noise(-spread, spread);
        return wave.offset + noise(random);
    }
    }
    return wave.offset;
}

std::vector<Record> GenerateRecords(size_t count, const ReadingSettings& settings, const WaveSettings& wave,
                                    std::mt19937_64& random) {
    std::vector<Record> records;
    records.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        int32_t value = WaveValue(wave, i, random);
        Record record = BuildRecord(settings, value);
        for (int attempt = 0; attempt < 16; ++attempt) {
            // A marker can span this record and its predecessor (the block's length byte for the first
            // one) or run into the zero padding after it.
            Bytes window;
            if (records.empty())
                window = {0x28};
            else
                window.assign(records.back().begin(), records.back().end());
            window.insert(window.end(), record.begin(), record.end());
            window.insert(window.end(), {0x00, 0x00, kFiller});
            if (!HasInnerMarker(window))
                break;
            value += value < 0 ? -1 : 1;
            record = BuildRecord(settings, value);
        }
        records.push_back(record);
    }
    return records;
}

bool ParseHexLine(std::string_view line, Bytes& out) {
    out.clear();
    if (const size_t hash = line.find('#'); hash != std::string_view::npos)
        line = line.substr(0, hash);
    auto separator = [](char c) { return c == ' ' || c == '\t' || c == ',' || c == '\r'; };
    size_t i = 0;
    while (i < line.size()) {
        if (separator(line[i])) {
            ++i;
            continue;
        }
        size_t end = i;
        while (end < line.size() && !separator(line[end]))
            ++end;
        std::string_view token = line.substr(i, end - i);
        i = end;
        if (token.size() > 2 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X'))
            token.remove_prefix(2);
        // "5" and "0x5" are one byte; longer tokens are runs of digit pairs ("00d5f0").
        if (token.size() == 1) {
            const int digit = HexDigitValue(token[0]);
            if (digit < 0)
                return false;
            out.push_back(static_cast<uint8_t>(digit));
            continue;
        }
        if (token.size() % 2 != 0)
            return false;
        for (size_t k = 0; k < token.size(); k += 2) {
            const int high = HexDigitValue(token[k]);
            const int low = HexDigitValue(token[k + 1]);
            if (high < 0 || low < 0)
                return false;
            out.push_back(static_cast<uint8_t>(high * 16 + low));
        }
    }
    return true;
}

Outcome<std::vector<Bytes>> LoadHexLines(const std::string& path) {
    std::ifstream file(path);
    if (!file)
        return Failure(u"can't read " + fromUtf8(path));
    std::vector<Bytes> lines;
    std::string line;
    int number = 0;
    while (std::getline(file, line)) {
        ++number;
        Bytes bytes;
        if (!ParseHexLine(line, bytes))
            return Failure(fromUtf8(path) + u":" + fromAscii(std::to_string(number)) +
                           u": not a line of hex bytes");
        if (!bytes.empty())
            lines.push_back(std::move(bytes));
    }
    return lines;
}

bool PairDetector::Feed(const uint8_t* bytes, size_t count) {
    bool seen = false;
    for (size_t i = 0; i < count; ++i) {
        if (bytes[i] == kPairRequest[matched_]) {
            ++matched_;
        } else {
            // The request's only repeated byte is 0x00 at its end, so a mismatch restarts at its lead byte.
            matched_ = bytes[i] == kPairRequest[0] ? 1 : 0;
        }
        if (matched_ == kPairRequest.size()) {
            seen = true;
            matched_ = 0;
        }
    }
    return seen;
}

std::vector<Bytes> ApplyFaults(const Bytes& frame, const FaultSettings& faults, std::mt19937_64& random) {
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    Bytes stream;
    if (faults.garbage > 0 && chance(random) < faults.garbage) {
        // Junk without 0x00, so it never starts a marker of its own at a byte boundary.
        std::uniform_int_distribution<int> length(1, 8);
        std::uniform_int_distribution<int> junk(1, 255);
        for (int n = length(random); n > 0; --n)
            stream.push_back(static_cast<uint8_t>(junk(random)));
    }
    for (const uint8_t b : frame) {
        if (faults.drop > 0 && chance(random) < faults.drop)
            continue;
        stream.push_back(b);
    }
    if (stream.size() >= 2 && faults.split > 0 && chance(random) < faults.split) {
        std::uniform_int_distribution<size_t> cut(1, stream.size() - 1);
        const size_t at = cut(random);
        return {Bytes(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(at)),
                Bytes(stream.begin() + static_cast<std::ptrdiff_t>(at), stream.end())};
    }
    if (stream.empty())
        return {};
    return {stream};
}

} // namespace calvora::sim
