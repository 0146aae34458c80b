#include "recording/byte_sink.h"

#include <bit>
#include <cstring>

namespace calvora {

void BufferedWriter::F32(float v) {
    U32(std::bit_cast<uint32_t>(v));
}

void BufferedWriter::Utf16(std::u16string_view text) {
    constexpr size_t kPiece = 4096;
    while (!text.empty()) {
        const std::u16string_view piece = text.substr(0, kPiece);
        uint8_t bytes[kPiece * 2];
        uint8_t* out = bytes;
        for (char16_t c : piece) {
            PutLittleEndian16(out, c);
            out += 2;
        }
        Bytes(bytes, piece.size() * 2);
        text.remove_prefix(piece.size());
    }
}

} // namespace calvora
