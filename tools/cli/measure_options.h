// The measurement aids of calvora-cli: the limits of monitor, with the alarm lines and commands of the
// readings that cross them, and the trigger of record.
#pragma once

#include "measure/alarm_actions.h"
#include "measure/trigger.h"
#include "protocol/reading_decoder.h"

#include <CLI/CLI.hpp>

#include <functional>
#include <optional>
#include <string>

namespace calvora::cli {

struct MonitorLimits {
    std::optional<double> high;
    std::optional<double> low;
    std::optional<double> hysteresis;
    double holdSeconds = 0;
    std::string onAlarm;
};

// --high, --low, --hysteresis, --hold and --on-alarm on `sub`, filling `limits`.
void AddLimitOptions(CLI::App& sub, MonitorLimits& limits);

// Holds the live readings to the limits: prints a line for every alarm raised or ended and runs the
// command for each one raised.
class MonitorAlarms {
public:
    // `source` names the receiver in the command's environment.
    MonitorAlarms(const MonitorLimits& limits, bool text, std::string source);
    MonitorAlarms(const MonitorAlarms&) = delete;
    MonitorAlarms& operator=(const MonitorAlarms&) = delete;

    // Why the options cannot be limits (printed by the caller as bad usage); empty when they can.
    static std::string Check(const MonitorLimits& limits);

    bool active() const { return monitor_.limits().any(); }
    void OnReading(const LiveReading& reading);
    // Told of every alarm raised or ended (the broker gets them).
    std::function<void(const AlarmNotice&)> onEvent;
    // Waits a little for commands still running, so a short command has done its work when the tool ends.
    void Finish();

private:
    AlarmMonitor monitor_;
    bool text_;
    std::string source_;
    std::string command_;
    CommandLauncher launcher_;
};

struct RecordTrigger {
    std::optional<double> level;
    std::string edge = "rising";
    std::string at;
    uint32_t preTrigger = 0;
};

// --trigger-level, --trigger-edge, --trigger-at and --pre-trigger on `sub`, filling `trigger`.
void AddTriggerOptions(CLI::App& sub, RecordTrigger& trigger);
// The trigger of a recording of `samples`, or why the options cannot make one (bad usage).
Outcome<TriggerSettings> MakeTrigger(const RecordTrigger& options, uint32_t samples);

// The local time as ISO 8601 with milliseconds and the offset from UTC: 2026-12-07T22:05:20.123+01:00.
std::string LocalTimeNow();

} // namespace calvora::cli
