// JSON forms shared by the subcommands that print readings and numbers.
#pragma once

#include "protocol/reading_decoder.h"
#include "publish/reading_message.h"

#include <nlohmann/json.hpp>

namespace calvora::cli {

using Json = nlohmann::ordered_json;

// ShortestNumber and LiveJson come from publish/, which sends the same objects to a broker.

// One line of what the instrument panel shows, e.g. "DC 1.2345 V AUTO | l l l l | l l".
std::string PanelLine(const LiveReading& live);

} // namespace calvora::cli
