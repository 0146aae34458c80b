// Conversions between the core's UTF-16 texts and the byte encodings met at its edges:
// UTF-8 (terminal, JSON, file names) and Windows-1252 (narrow strings in record files).
#pragma once

#include <string>
#include <string_view>

namespace calvora {

std::string toUtf8(std::u16string_view text);
std::u16string fromUtf8(std::string_view text);
// Well-formed UTF-8: no overlong forms, surrogates or code points past U+10FFFF.
bool isUtf8(std::string_view text);
std::u16string fromWindows1252(std::string_view text);
// For literals and printf output, which are plain ASCII.
std::u16string fromAscii(std::string_view text);

} // namespace calvora
