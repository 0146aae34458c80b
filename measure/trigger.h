// The start of a triggered recording: at once, when the reading crosses a level (rising, falling or
// either way), or at a time of day. Until then the readings are only kept, up to a number of them, to
// open the recording with what came before the trigger.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace calvora {

enum class TriggerKind { Immediate, Level, TimeOfDay };
enum class TriggerEdge { Rising, Falling, Either };

struct TriggerSettings {
    TriggerKind kind = TriggerKind::Immediate;
    double level = 0;
    TriggerEdge edge = TriggerEdge::Rising;
    int secondOfDay = 0;     // local time, 0 .. 86399
    uint32_t preTrigger = 0; // readings from before the trigger that open the recording

    bool operator==(const TriggerSettings&) const = default;
};

inline constexpr uint32_t kMaxPreTrigger = 19999; // one short of the largest recording

// "rising", "falling", "either", and back.
const char* EdgeName(TriggerEdge edge);
std::optional<TriggerEdge> EdgeNamed(const std::string& name);
// "14:30" or "14:30:15" as seconds of the day; empty for anything else.
std::optional<int> ParseTimeOfDay(const std::string& text);
// "14:30:15".
std::string TimeOfDayText(int secondOfDay);
// The first moment at or after `from` whose local time of day is `secondOfDay`.
std::time_t NextTimeOfDay(std::time_t from, int secondOfDay);

class TriggerArm {
public:
    // Armed at `armedAt` (local clock): a time-of-day trigger fires at the next such time from then.
    TriggerArm(const TriggerSettings& settings, std::time_t armedAt);

    // One reading taken at `now`: true when it is the trigger, the first reading of the recording. A level is
    // crossed between two readings that are no overload: the one before strictly on one side, this one on
    // the level or past it.
    bool Feed(double value, double fullScale, int32_t lowLimit, std::time_t now);

    const TriggerSettings& settings() const { return settings_; }
    std::time_t target() const { return target_; }

private:
    TriggerSettings settings_;
    std::time_t target_ = 0;
    std::optional<double> previous_;
};

} // namespace calvora
