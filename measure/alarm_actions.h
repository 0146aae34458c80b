// What a raised alarm does, handed to whatever carries the actions out: the desktop (a sound, a
// notification, the alarm list, the user's command, the end of the recording) or the terminal.
#pragma once

#include "chart/model/limits.h"
#include "measure/alarm_monitor.h"
#include "measure/command_launcher.h"

#include <cstdint>
#include <string>

namespace calvora {

// An alarm event with what the user needs to know of its reading.
struct AlarmNotice {
    AlarmEvent event;
    std::u16string source; // the document's title, or the receiver
    std::u16string functionName;
    std::u16string unit;
    uint64_t sampleNumber = 0; // 0 when the reading is not recorded
    std::u16string time;       // when the reading was taken, as the user reads it
    std::u16string valueText;  // as the meter shows it: "5.0123", "OL"
};

// "High limit 5 V exceeded", "Low limit 1 V: back inside".
std::u16string NoticeTitle(const AlarmNotice& notice);
// "Reading 5.2000 V at 12/07/26 22:05:20, sample 12 of RealTime Panel".
std::u16string NoticeText(const AlarmNotice& notice);
// The variables a command gets: CALVORA_ALARM (high or low), CALVORA_LIMIT, CALVORA_VALUE, CALVORA_UNIT,
// CALVORA_FUNCTION, CALVORA_TIME, CALVORA_SAMPLE (empty when not recorded) and CALVORA_SOURCE.
CommandEnvironment AlarmEnvironment(const AlarmNotice& notice);

class AlarmSink {
public:
    virtual ~AlarmSink() = default;
    virtual void PlaySound() = 0;
    virtual void Notify(const std::u16string& title, const std::u16string& text) = 0;
    // Raised alarms add a line; an alarm that ends fills in its line's end.
    virtual void List(const AlarmNotice& notice) = 0;
    virtual void RunCommand(const std::string& command, const CommandEnvironment& environment) = 0;
    virtual void StopRecording() = 0;
    // Every event, raised or ended, whatever the actions (the desktop publishes them to a broker).
    virtual void Event(const AlarmNotice& /*notice*/) {}
};

// A raised alarm takes every action chosen; an alarm that ends only closes its line in the list.
void CarryOut(const AlarmActions& actions, const AlarmNotice& notice, AlarmSink& sink);

} // namespace calvora
