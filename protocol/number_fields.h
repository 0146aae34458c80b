// The number edit fields of the dialogs: for the integer fields (sample count, port number) what is
// accepted on OK and the message for what is not; for the scale limits the number a text starts with.
#pragma once

#include "protocol/outcome.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace calvora {

// Blanks around the number are allowed, then an optional sign and decimal digits, nothing else. Fails
// with "Enter an integer." or "Enter an integer between <min> and <max>.".
Outcome<int32_t> ParseIntField(std::u16string_view text, int32_t minimum, int32_t maximum);

// The number fields that take any text (the scale limits) keep its leading number: "12.5x" gives 12.5,
// "1-.2" gives 1; 0 when there is none.
double LeadingNumber(std::u16string_view text);

} // namespace calvora
