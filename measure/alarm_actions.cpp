#include "measure/alarm_actions.h"

#include "measure/statistics.h"
#include "protocol/text.h"

namespace calvora {

namespace {
std::u16string WithUnit(const std::u16string& value, const std::u16string& unit) {
    return unit.empty() ? value : value + u" " + unit;
}
} // namespace

std::u16string NoticeTitle(const AlarmNotice& notice) {
    const AlarmEvent& event = notice.event;
    const bool high = event.side == LimitSide::High;
    const std::u16string limit = std::u16string(high ? u"High limit " : u"Low limit ") +
                                 WithUnit(FigureText(event.limit), notice.unit);
    if (event.kind == AlarmEvent::Kind::Ended)
        return limit + u": back inside";
    return limit + (high ? u" exceeded" : u" undershot");
}

std::u16string NoticeText(const AlarmNotice& notice) {
    std::u16string text = u"Reading " + WithUnit(notice.valueText, notice.unit);
    if (!notice.time.empty())
        text += u" at " + notice.time;
    if (notice.sampleNumber > 0)
        text += u", sample " + fromAscii(std::to_string(notice.sampleNumber)) + u" of " + notice.source;
    else if (!notice.source.empty())
        text += u", " + notice.source;
    return text;
}

CommandEnvironment AlarmEnvironment(const AlarmNotice& notice) {
    return {
        {"CALVORA_ALARM", toUtf8(SideName(notice.event.side))},
        {"CALVORA_LIMIT", toUtf8(FigureText(notice.event.limit))},
        {"CALVORA_VALUE", toUtf8(notice.valueText)},
        {"CALVORA_UNIT", toUtf8(notice.unit)},
        {"CALVORA_FUNCTION", toUtf8(notice.functionName)},
        {"CALVORA_TIME", toUtf8(notice.time)},
        {"CALVORA_SAMPLE", notice.sampleNumber > 0 ? std::to_string(notice.sampleNumber) : std::string()},
        {"CALVORA_SOURCE", toUtf8(notice.source)},
    };
}

void CarryOut(const AlarmActions& actions, const AlarmNotice& notice, AlarmSink& sink) {
    sink.Event(notice);
    if (actions.list)
        sink.List(notice);
    if (notice.event.kind != AlarmEvent::Kind::Raised)
        return;
    if (actions.sound)
        sink.PlaySound();
    if (actions.notify)
        sink.Notify(NoticeTitle(notice), NoticeText(notice));
    if (!actions.command.empty())
        sink.RunCommand(toUtf8(actions.command), AlarmEnvironment(notice));
    if (actions.stopRecording)
        sink.StopRecording();
}

} // namespace calvora
