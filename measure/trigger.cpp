#include "measure/trigger.h"

#include "chart/model/limits.h"
#include "measure/statistics.h"

#include <cstdio>

namespace calvora {

const char* EdgeName(TriggerEdge edge) {
    switch (edge) {
    case TriggerEdge::Rising:
        return "rising";
    case TriggerEdge::Falling:
        return "falling";
    case TriggerEdge::Either:
        return "either";
    }
    return "rising";
}

std::optional<TriggerEdge> EdgeNamed(const std::string& name) {
    for (const TriggerEdge edge : {TriggerEdge::Rising, TriggerEdge::Falling, TriggerEdge::Either}) {
        if (name == EdgeName(edge))
            return edge;
    }
    return std::nullopt;
}

std::optional<int> ParseTimeOfDay(const std::string& text) {
    unsigned hours = 0;
    unsigned minutes = 0;
    unsigned seconds = 0;
    int used = 0;
    const bool withSeconds =
        std::sscanf(text.c_str(), "%2u:%2u:%2u%n", &hours, &minutes, &seconds, &used) == 3 &&
        static_cast<size_t>(used) == text.size();
    if (!withSeconds) {
        seconds = 0;
        used = 0;
        if (std::sscanf(text.c_str(), "%2u:%2u%n", &hours, &minutes, &used) != 2 ||
            static_cast<size_t>(used) != text.size())
            return std::nullopt;
    }
    // sscanf takes a sign or blanks before a number; a time of day has digits only.
    for (const char c : text) {
        if (c != ':' && (c < '0' || c > '9'))
            return std::nullopt;
    }
    if (hours > 23 || minutes > 59 || seconds > 59)
        return std::nullopt;
    return static_cast<int>(hours * 3600 + minutes * 60 + seconds);
}

std::string TimeOfDayText(int secondOfDay) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", secondOfDay / 3600 % 24, secondOfDay / 60 % 60,
                  secondOfDay % 60);
    return text;
}

std::time_t NextTimeOfDay(std::time_t from, int secondOfDay) {
    std::tm local{};
    localtime_r(&from, &local);
    for (int day = 0; day < 3; ++day) {
        std::tm candidate = local;
        candidate.tm_mday += day;
        candidate.tm_hour = secondOfDay / 3600;
        candidate.tm_min = secondOfDay / 60 % 60;
        candidate.tm_sec = secondOfDay % 60;
        candidate.tm_isdst = -1; // the offset of that day, across a change of summer time
        const std::time_t at = std::mktime(&candidate);
        if (at >= from)
            return at;
    }
    return from;
}

TriggerArm::TriggerArm(const TriggerSettings& settings, std::time_t armedAt) : settings_(settings) {
    if (settings_.kind == TriggerKind::TimeOfDay)
        target_ = NextTimeOfDay(armedAt, settings_.secondOfDay);
}

bool TriggerArm::Feed(double value, double fullScale, int32_t lowLimit, std::time_t now) {
    switch (settings_.kind) {
    case TriggerKind::Immediate:
        return true;
    case TriggerKind::TimeOfDay:
        return now >= target_;
    case TriggerKind::Level:
        break;
    }
    if (IsOverload(value, fullScale, lowLimit))
        return false;
    // At the readings' own precision, as limits are: a reading shown as the level is on it.
    const double level = AsStored(settings_.level);
    const std::optional<double> before = previous_;
    previous_ = value;
    if (!before)
        return false;
    const bool rising = *before < level && value >= level;
    const bool falling = *before > level && value <= level;
    switch (settings_.edge) {
    case TriggerEdge::Rising:
        return rising;
    case TriggerEdge::Falling:
        return falling;
    case TriggerEdge::Either:
        return rising || falling;
    }
    return false;
}

} // namespace calvora
