// Little-endian integers as the record file, the crash journal and the byte sinks lay them out. The
// one place that spells out the byte order, so the readers and the writers cannot drift apart.
#pragma once

#include <cstdint>
#include <vector>

namespace calvora {

inline uint16_t LittleEndian16(const uint8_t* bytes) {
    return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

inline uint32_t LittleEndian32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

inline void PutLittleEndian16(uint8_t* bytes, uint16_t value) {
    bytes[0] = static_cast<uint8_t>(value);
    bytes[1] = static_cast<uint8_t>(value >> 8);
}

inline void PutLittleEndian32(uint8_t* bytes, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}

inline void AppendLittleEndian16(std::vector<uint8_t>& out, uint16_t value) {
    uint8_t bytes[2];
    PutLittleEndian16(bytes, value);
    out.insert(out.end(), bytes, bytes + 2);
}

inline void AppendLittleEndian32(std::vector<uint8_t>& out, uint32_t value) {
    uint8_t bytes[4];
    PutLittleEndian32(bytes, value);
    out.insert(out.end(), bytes, bytes + 4);
}

} // namespace calvora
