// The meter's side of the wire: the bytes a receiver with a meter behind it sends, built from the
// byte layout (live readings, the stored-log burst, the pair acknowledgement), the values that feed
// them, and the faults a radio link adds.
#pragma once

#include "protocol/outcome.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace calvora::sim {

using Bytes = std::vector<uint8_t>;
using Record = std::array<uint8_t, 4>; // magnitude high, magnitude low, range byte, function byte

constexpr size_t kLiveFrameSize = 12;
constexpr size_t kMemoryHeaderSize = 9;
constexpr size_t kMemoryBlockSize = 49;
constexpr size_t kMemoryTailSize = 9;
constexpr size_t kBlockPayload = 40;
constexpr std::array<uint8_t, 6> kPairRequest{0x05, 0x4C, 0x4B, 0x08, 0x00, 0x00};
constexpr std::array<uint8_t, 4> kPairAck{0x05, 0x4F, 0x4B, 0x4C};

struct ReadingSettings {
    uint8_t function = 1; // bits 0-3 of the function byte
    uint8_t submode = 0;  // bits 4-5
    uint8_t range = 1;    // bits 0-2 of the range byte
    bool acPlusDc = false;
    bool hold = false;
    bool peak = false;
    bool manualRange = false;
};

uint8_t RangeByte(const ReadingSettings& settings, bool negative);
uint8_t FunctionByte(const ReadingSettings& settings);
uint8_t StatusByte(const ReadingSettings& settings);

// `count` is the signed reading in counts; its magnitude is clamped to 16 bits.
Bytes BuildLiveFrame(const ReadingSettings& settings, int32_t count);
Record BuildRecord(const ReadingSettings& settings, int32_t count);

// Header, blocks of 40 payload bytes (the last one carrying the remainder, padded to 49 bytes), then
// two tail frames. Each entry is one frame.
std::vector<Bytes> BuildLogBurst(const std::vector<Record>& records);

// True when the hex text of `bytes` holds a frame marker ("00d5f" at any character position) other
// than at the very start: such bytes would be cut as a frame by the receiving side.
bool HasInnerMarker(const Bytes& bytes);

enum class Waveform { Constant, Ramp, Sine, Noise };

struct WaveSettings {
    Waveform shape = Waveform::Constant;
    int32_t amplitude = 1000; // counts
    int32_t offset = 12345;   // counts
    int32_t period = 60;      // samples per cycle of ramp and sine
};

// The signed count of sample `index`; noise draws from `random`.
int32_t WaveValue(const WaveSettings& wave, uint64_t index, std::mt19937_64& random);

// `count` records of the wave. A record that would put a marker into the burst's byte stream is
// nudged by one count, as the readings of a real memory rarely line up that way and the receiving
// side would otherwise cut the burst apart.
std::vector<Record> GenerateRecords(size_t count, const ReadingSettings& settings, const WaveSettings& wave,
                                    std::mt19937_64& random);

// One line of hex bytes: tokens split by blanks or commas, each one byte ("5", "0x05") or a run of
// digit pairs ("00d5f0"); "#" starts a comment.
bool ParseHexLine(std::string_view line, Bytes& out);
// Every non-empty line of the file as one entry. Fails on an unreadable file or a malformed line.
Outcome<std::vector<Bytes>> LoadHexLines(const std::string& path);

// Watches the bytes the host writes for the pair request.
class PairDetector {
public:
    // True when the bytes fed so far complete a pair request.
    bool Feed(const uint8_t* bytes, size_t count);

private:
    size_t matched_ = 0;
};

struct FaultSettings {
    double garbage = 0; // chance per frame of a few junk bytes in front of it
    double split = 0;   // chance per frame of being written in two pieces
    double drop = 0;    // chance per byte of being lost
};

// Turns one frame into the writes the link delivers: usually one, two when it is split.
std::vector<Bytes> ApplyFaults(const Bytes& frame, const FaultSettings& faults, std::mt19937_64& random);

} // namespace calvora::sim
