// Hexadecimal text, the form in which received bytes wait for frame assembly: two lowercase digits
// per byte ("%.2x").
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace calvora {

// Appends two lowercase hex digits per byte.
void AppendHexText(std::string& text, const uint8_t* bytes, size_t count);
std::string ToHexText(const uint8_t* bytes, size_t count);

// Value of one hex digit (either case), or -1.
inline int HexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Digit pairs to bytes (length / 2 of them; an odd last digit is ignored). Nothing when a character
// that is not a hex digit would be read.
std::optional<std::vector<uint8_t>> HexTextToBytes(std::string_view text);

} // namespace calvora
