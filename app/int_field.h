// The integer edit fields of the dialogs (sample count, port number): what is accepted on OK and the
// message for what is not.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace calvora {

struct IntFieldResult {
    bool ok = false;
    int32_t value = 0;
    // "Enter an integer." or "Enter an integer between <min> and <max>."; empty when ok.
    std::u16string message;
};

// Blanks around the number are allowed, then an optional sign and decimal digits, nothing else.
IntFieldResult ParseIntField(std::u16string_view text, int32_t minimum, int32_t maximum);

} // namespace calvora
