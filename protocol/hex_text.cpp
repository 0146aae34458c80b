#include "protocol/hex_text.h"

namespace calvora {

void AppendHexText(std::string& text, const uint8_t* bytes, size_t count) {
    static constexpr char kDigits[] = "0123456789abcdef";
    const size_t start = text.size();
    text.resize(start + 2 * count);
    char* out = text.data() + start;
    for (size_t i = 0; i < count; ++i) {
        out[2 * i] = kDigits[bytes[i] >> 4];
        out[2 * i + 1] = kDigits[bytes[i] & 0x0F];
    }
}

std::string ToHexText(const uint8_t* bytes, size_t count) {
    std::string text;
    AppendHexText(text, bytes, count);
    return text;
}

std::optional<std::vector<uint8_t>> HexTextToBytes(std::string_view text) {
    std::vector<uint8_t> bytes(text.size() / 2);
    for (size_t i = 0; i < bytes.size(); ++i) {
        const int high = HexDigitValue(text[2 * i]);
        const int low = HexDigitValue(text[2 * i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        bytes[i] = static_cast<uint8_t>(high * 16 + low);
    }
    return bytes;
}

} // namespace calvora
