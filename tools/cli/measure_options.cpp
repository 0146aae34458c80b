#include "tools/cli/measure_options.h"

#include "protocol/formatters.h"
#include "protocol/text.h"
#include "tools/cli/json_output.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <iostream>

namespace calvora::cli {

namespace {

double MonotonicSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// CLI11 fills a plain number; the optional is set only when the option was given.
void AddOptional(CLI::App& sub, const std::string& name, std::optional<double>& target,
                 const std::string& description) {
    sub.add_option_function<double>(
        name, [&target](const double& value) { target = value; }, description);
}

} // namespace

void AddLimitOptions(CLI::App& sub, MonitorLimits& limits) {
    AddOptional(sub, "--high", limits.high, "Raise an alarm when a reading goes above X");
    AddOptional(sub, "--low", limits.low, "Raise an alarm when a reading goes below Y");
    AddOptional(
        sub, "--hysteresis", limits.hysteresis,
        "How far a reading must come back to end an alarm (default 1 % of the span between the limits)");
    sub.add_option("--hold", limits.holdSeconds,
                   "Seconds a reading must stay beyond a limit to raise an alarm");
    sub.add_option("--on-alarm", limits.onAlarm, "Command run (by /bin/sh) for every alarm raised");
}

std::string MonitorAlarms::Check(const MonitorLimits& limits) {
    if (!limits.high && !limits.low &&
        (limits.hysteresis || limits.holdSeconds != 0 || !limits.onAlarm.empty()))
        return "--hysteresis, --hold and --on-alarm need --high or --low";
    LimitSettings settings;
    settings.high = limits.high;
    settings.low = limits.low;
    settings.hysteresis = limits.hysteresis;
    settings.holdSeconds = limits.holdSeconds;
    return toUtf8(CheckLimits(settings));
}

MonitorAlarms::MonitorAlarms(const MonitorLimits& limits, bool text, std::string source)
    : text_(text), source_(std::move(source)), command_(limits.onAlarm) {
    ActiveLimits active;
    active.high = limits.high;
    active.low = limits.low;
    active.hysteresis = limits.hysteresis.value_or(DefaultHysteresis(limits.high, limits.low));
    active.holdSeconds = limits.holdSeconds;
    monitor_.SetLimits(active);
}

void MonitorAlarms::OnReading(const LiveReading& live) {
    const MeterReading& reading = live.reading;
    const auto lowLimit = static_cast<int32_t>(reading.lowLimit);
    const std::vector<AlarmEvent> events =
        monitor_.Feed(reading.value, reading.fullScale, lowLimit, MonotonicSeconds());
    for (const AlarmEvent& event : events) {
        AlarmNotice notice;
        notice.event = event;
        notice.source = fromUtf8(source_);
        notice.functionName = reading.functionName;
        notice.unit = reading.unit;
        notice.time = fromUtf8(LocalTimeNow());
        notice.valueText = FormatStoredValue(reading.value, reading.fullScale, lowLimit);
        const bool raised = event.kind == AlarmEvent::Kind::Raised;
        if (text_) {
            std::cout << (raised ? "ALARM " : "ALARM ENDED ") << toUtf8(NoticeTitle(notice)) << ": "
                      << toUtf8(NoticeText(notice)) << std::endl;
        } else {
            Json line;
            line["kind"] = raised ? "alarm" : "alarmEnded";
            line["side"] = toUtf8(SideName(event.side));
            line["limit"] = ShortestNumber(event.limit);
            line["value"] = ShortestNumber(reading.value);
            line["valueText"] = toUtf8(notice.valueText);
            line["unit"] = toUtf8(reading.unit);
            line["functionName"] = toUtf8(reading.functionName);
            line["time"] = toUtf8(notice.time);
            std::cout << line.dump(-1, ' ', false, Json::error_handler_t::replace) << std::endl;
        }
        if (onEvent)
            onEvent(notice);
        if (raised && !command_.empty()) {
            if (const Outcome<pid_t> started = launcher_.Start(command_, AlarmEnvironment(notice)); !started)
                std::cerr << "calvora-cli: " << toUtf8(started.reason()) << '\n';
        }
    }
}

void MonitorAlarms::Finish() {
    if (!launcher_.WaitAll(std::chrono::seconds(5)))
        std::cerr << "calvora-cli: " << launcher_.running() << " alarm command(s) still running\n";
}

void AddTriggerOptions(CLI::App& sub, RecordTrigger& trigger) {
    auto* level = sub.add_option_function<double>(
        "--trigger-level", [&trigger](const double& value) { trigger.level = value; },
        "Start recording when a reading crosses X");
    sub.add_option("--trigger-edge", trigger.edge,
                   "Which crossing starts it: rising (default), falling or either");
    auto* at =
        sub.add_option("--trigger-at", trigger.at, "Start recording at this local time (HH:MM or HH:MM:SS)");
    level->excludes(at);
    sub.add_option("--pre-trigger", trigger.preTrigger,
                   "Readings from before the trigger to open the recording with (fewer than --samples)");
}

Outcome<TriggerSettings> MakeTrigger(const RecordTrigger& options, uint32_t samples) {
    TriggerSettings trigger;
    const std::optional<TriggerEdge> edge = EdgeNamed(options.edge);
    if (!edge)
        return Failure(u"--trigger-edge is rising, falling or either");
    trigger.edge = *edge;
    if (options.level) {
        if (!std::isfinite(*options.level))
            return Failure(u"--trigger-level must be a number");
        trigger.kind = TriggerKind::Level;
        trigger.level = *options.level;
    } else if (!options.at.empty()) {
        const std::optional<int> second = ParseTimeOfDay(options.at);
        if (!second)
            return Failure(u"--trigger-at takes a time of day as HH:MM or HH:MM:SS");
        trigger.kind = TriggerKind::TimeOfDay;
        trigger.secondOfDay = *second;
    } else if (options.preTrigger > 0 || options.edge != "rising") {
        return Failure(u"--pre-trigger and --trigger-edge need --trigger-level or --trigger-at");
    }
    if (options.preTrigger >= samples && options.preTrigger > 0)
        return Failure(u"--pre-trigger must be fewer than --samples");
    trigger.preTrigger = options.preTrigger;
    return trigger;
}

std::string LocalTimeNow() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char date[32];
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
    char zone[8];
    std::strftime(zone, sizeof zone, "%z", &local); // +0100
    char text[64];
    std::snprintf(text, sizeof text, "%s.%03d%.3s:%s", date, static_cast<int>(millis), zone, zone + 3);
    return text;
}

} // namespace calvora::cli
