// The JSON of live readings and alarm events: what `calvora-cli decode` and `monitor` print and what is
// published to a broker.
#pragma once

#include "measure/alarm_actions.h"
#include "protocol/reading_decoder.h"

#include <chrono>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

namespace calvora {

// The shortest text that reads back to the same value of the number's own type, as a JSON number:
// integral values print without a fraction ("4", not "4.0"), a float's 1.2345f as 1.2345.
nlohmann::ordered_json ShortestNumber(float number);
nlohmann::ordered_json ShortestNumber(double number);

// {"kind":"live", ...} with the reading, the nine panel texts and the shown controls.
nlohmann::ordered_json LiveJson(const LiveReading& live);

// 2026-12-09T14:05:20.123Z
std::string UtcTimeText(std::chrono::system_clock::time_point time);

// The live object with "time" and "seq" after it, on one line.
std::string ReadingMessage(const LiveReading& live, std::chrono::system_clock::time_point time, uint64_t seq);

// The alarm line of `calvora-cli monitor` ({"kind":"alarm" or "alarmEnded", "side", "limit", "value",
// "valueText", "unit", "functionName"}) with "time" in UTC; an overload's value is null ("valueText" says
// OL).
std::string AlarmMessage(const AlarmNotice& notice, std::chrono::system_clock::time_point time);

} // namespace calvora
