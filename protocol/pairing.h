// The pairing exchange with the meter: the request the Pair command writes and the test that
// recognises the meter's acknowledgement in a received chunk.
#pragma once

#include <array>
#include <cstdint>

namespace calvora {

// Written to the port in one write call: lead byte 05, "LK", then 08 00 00.
inline constexpr std::array<uint8_t, 6> kPairRequest = {0x05, 0x4C, 0x4B, 0x08, 0x00, 0x00};

// A chunk of at least 4 bytes whose byte 0 is 05 and byte 3 is 4C ("L"); nothing else is examined.
// Only the chunk as delivered counts, so an acknowledgement split across two chunks is missed.
inline bool IsPairAcknowledgement(const uint8_t* chunk, int count) {
    return chunk != nullptr && count >= 4 && chunk[0] == 0x05 && chunk[3] == 0x4C;
}

} // namespace calvora
