// JSON forms shared by the subcommands that print readings and numbers.
#pragma once

#include "protocol/reading_decoder.h"

#include <nlohmann/json.hpp>

namespace calvora::cli {

using Json = nlohmann::ordered_json;

// The shortest text that reads back to the same value of the number's own type, as a JSON number:
// integral values print without a fraction ("4", not "4.0"), a float's 1.2345f as 1.2345.
Json ShortestNumber(float number);
Json ShortestNumber(double number);

// {"kind":"live", ...} with the reading, the nine panel texts and the shown controls.
Json LiveJson(const LiveReading& live);

// One line of what the instrument panel shows, e.g. "DC 1.2345 V AUTO | l l l l | l l".
std::string PanelLine(const LiveReading& live);

} // namespace calvora::cli
