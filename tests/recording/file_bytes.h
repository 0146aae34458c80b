// Builds record-file bytes field by field from the byte layout, so the tests state the expected
// files independently of the writer.
#pragma once

#include <bit>
#include <cstdint>
#include <string>
#include <vector>

namespace calvora::test {

class FileBytes {
public:
    FileBytes& U8(uint8_t v) {
        bytes.push_back(v);
        return *this;
    }
    FileBytes& U16(uint16_t v) { return U8(v & 0xFF).U8(v >> 8); }
    FileBytes& U32(uint32_t v) { return U16(v & 0xFFFF).U16(v >> 16); }
    FileBytes& U64(uint64_t v) { return U32(static_cast<uint32_t>(v)).U32(static_cast<uint32_t>(v >> 32)); }
    FileBytes& F32(float v) { return U32(std::bit_cast<uint32_t>(v)); }
    FileBytes& Raw(const std::string& narrow) {
        bytes.insert(bytes.end(), narrow.begin(), narrow.end());
        return *this;
    }
    FileBytes& Units(std::u16string_view text) {
        for (char16_t c : text)
            U16(c);
        return *this;
    }
    // The wide form the writer uses: FF FE FF, then the length, then UTF-16LE.
    FileBytes& Wide(std::u16string_view text) {
        U8(0xFF).U16(0xFFFE);
        if (text.size() < 255)
            U8(static_cast<uint8_t>(text.size()));
        else if (text.size() < 0xFFFE)
            U8(0xFF).U16(static_cast<uint16_t>(text.size()));
        else
            U8(0xFF).U16(0xFFFF).U32(static_cast<uint32_t>(text.size()));
        return Units(text);
    }
    // Narrow form with a one-byte length.
    FileBytes& Narrow(const std::string& text) { return U8(static_cast<uint8_t>(text.size())).Raw(text); }
    FileBytes& model() { return Wide(u"QM310/QM312"); }
    FileBytes& Header(uint32_t samples, uint8_t channels, uint8_t reservedFill = 0) {
        U32(samples).U8(channels);
        for (int i = 0; i < 37; ++i)
            U8(reservedFill ? static_cast<uint8_t>(reservedFill + i) : 0);
        return *this;
    }
    // A channel block with the defaults of a new chart and an empty name.
    FileBytes& DefaultChannel() { return Wide(u"").U8(1).U8(1).U8(1).U8(1).U32(0x000000FF).U8(0); }
    // customMax, customMin, gridVisible, verticalAxisVisible, backgroundColour, gridColour.
    FileBytes& DefaultChartTrailer() { return F32(0).F32(0).U8(1).U8(1).U32(0x00C8C8C8).U32(0x00FFFFFF); }

    std::vector<uint8_t> bytes;
};

} // namespace calvora::test
