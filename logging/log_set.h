// A log of one or more meters as it is held in memory: one LogDocument per meter (its own readings, gaps and
// summary), gathered with the log's facts. A log of one receiver has one meter.
#pragma once

#include "logging/log_document.h"

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace calvora {

// A meter as a log names it: the receiver's name (told apart by " 2", " 3" ... when two share one) and
// where it was connected (a device path, "COM3", "capture").
struct LogMeterFacts {
    std::string name;
    std::string receiver;
};

// The default name of a receiver, also the one meter of a log written before logs named their meters.
inline constexpr std::string_view kDefaultMeterName = "Multimeter";

struct LogMeter {
    LogMeterFacts facts;
    std::shared_ptr<LogDocument> log;
};

struct LogSet {
    // What a window calls the log: its file's name.
    std::u16string title;
    std::map<std::string, std::string> meta;
    std::vector<LogMeter> meters;

    bool several() const { return meters.size() > 1; }
    // The meter of that name, or null.
    const LogMeter* Find(std::string_view name) const {
        for (const LogMeter& meter : meters) {
            if (meter.facts.name == name)
                return &meter;
        }
        return nullptr;
    }
    // "Multimeter, Supply voltage": for messages that list the meters.
    std::string NameList() const {
        std::string names;
        for (const LogMeter& meter : meters) {
            if (!names.empty())
                names += ", ";
            names += meter.facts.name;
        }
        return names;
    }
};

} // namespace calvora
