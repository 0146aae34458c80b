#include "protocol/frame_builder.h"

#include <algorithm>

namespace calvora {

namespace {

constexpr size_t kBlockPayload = 40;

void PutBigEndian(uint8_t* at, uint16_t number) {
    at[0] = static_cast<uint8_t>(number >> 8);
    at[1] = static_cast<uint8_t>(number & 0xFF);
}

std::vector<uint8_t> MemoryFrame(uint8_t kind, uint16_t blockNumber, const std::vector<uint8_t>& payload,
                                 size_t payloadRoom) {
    std::vector<uint8_t> frame(7 + payloadRoom + 2, 0);
    frame[0] = 0x00;
    frame[1] = 0xD5;
    frame[2] = kind;
    PutBigEndian(&frame[3], blockNumber);
    const size_t used = std::min(payload.size(), payloadRoom);
    PutBigEndian(&frame[5], static_cast<uint16_t>(used));
    std::copy_n(payload.begin(), used, frame.begin() + 7);
    return frame;
}

} // namespace

std::array<uint8_t, 12> MakeLiveFrame(uint16_t magnitude, uint8_t rangeByte, uint8_t functionByte,
                                      uint8_t statusByte) {
    std::array<uint8_t, 12> frame{};
    frame[1] = 0xD5;
    frame[2] = 0xF0;
    PutBigEndian(&frame[5], magnitude);
    frame[7] = rangeByte;
    frame[8] = functionByte;
    frame[9] = statusByte;
    return frame;
}

std::vector<uint8_t> MakeMemoryHeader(uint16_t recordCount) {
    std::vector<uint8_t> frame(9, 0);
    frame[1] = 0xD5;
    frame[2] = 0xF1;
    PutBigEndian(&frame[5], recordCount);
    return frame;
}

std::vector<uint8_t> MakeMemoryBlock(uint16_t blockNumber, const std::vector<uint8_t>& payload) {
    return MemoryFrame(0xF2, blockNumber, payload, kBlockPayload);
}

std::vector<uint8_t> MakeMemoryTail(uint16_t blockNumber, const std::vector<uint8_t>& payload) {
    return MemoryFrame(0xF3, blockNumber, payload, std::min<size_t>(payload.size(), 0xFFFF));
}

} // namespace calvora
