// Builds frames byte for byte as the meter sends them: for the meter simulator, tests and benchmarks.
// Bytes the receiving side never reads are zero.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace calvora {

// 00 D5 F0, two unread bytes, magnitude (big-endian), range byte, function byte, status byte, two unread
// bytes.
std::array<uint8_t, 12> MakeLiveFrame(uint16_t magnitude, uint8_t rangeByte, uint8_t functionByte,
                                      uint8_t statusByte);

// 00 D5 F1, two unread bytes, the record count (big-endian), two unread bytes: 9 bytes.
std::vector<uint8_t> MakeMemoryHeader(uint16_t recordCount);

// 00 D5 F2, block number, payload length, 40 payload bytes (the first `payload.size()` of them given,
// at most 40), two trailing bytes: always 49 bytes.
std::vector<uint8_t> MakeMemoryBlock(uint16_t blockNumber, const std::vector<uint8_t>& payload);

// 00 D5 F3, block number, L = payload size, the payload, two trailing bytes: L + 9 bytes.
std::vector<uint8_t> MakeMemoryTail(uint16_t blockNumber, const std::vector<uint8_t>& payload);

} // namespace calvora
