// Limits and alarms: the monitor on scripted sequences (hysteresis, hold time, a noisy limit, overloads),
// the limits in force under the channel's alarm flags, the actions a document's alarms take through a
// fake sink, and a real command run with the reading in its environment.
#include "measure/alarm_watcher.h"
#include "protocol/text.h"
#include "recording/recording_document.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <unistd.h>
#include <vector>

namespace calvora {
namespace {

using Kind = AlarmEvent::Kind;
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Step {
    double seconds;
    double value;
};
// An event expected at the reading of index `at`.
struct Expected {
    size_t at;
    Kind kind;
    LimitSide side;
};
struct Script {
    const char* name;
    ActiveLimits limits;
    std::vector<Step> readings;
    std::vector<Expected> events;
};

ActiveLimits Band(std::optional<double> high, std::optional<double> low, double hysteresis, double hold = 0) {
    return {high, low, hysteresis, hold};
}

std::vector<Step> Every(double period, const std::vector<double>& values) {
    std::vector<Step> steps;
    for (size_t i = 0; i < values.size(); ++i)
        steps.push_back({static_cast<double>(i) * period, values[i]});
    return steps;
}

TEST(AlarmMonitor, ScriptedSequences) {
    const Script scripts[] = {
        {"a noisy reading about the limit raises it once and ends it once back by the hysteresis",
         Band(5.0, std::nullopt, 0.1),
         Every(1, {4.9, 5.01, 4.98, 5.02, 4.95, 5.03, 4.91, 4.9, 5.01}),
         {{1, Kind::Raised, LimitSide::High},
          {7, Kind::Ended, LimitSide::High},
          {8, Kind::Raised, LimitSide::High}}},
        {"on the limit is inside", Band(5.0, 1.0, 0.0), Every(1, {5.0, 1.0, 5.0}), {}},
        {"a stored reading shown as the limit's value is on it",
         Band(1.2, 0.8, 0.004),
         Every(1, {1.2f, 0.8f, 1.22f, 1.196f, 0.78f, 0.804f}),
         {{2, Kind::Raised, LimitSide::High},
          {3, Kind::Ended, LimitSide::High},
          {4, Kind::Raised, LimitSide::Low},
          {5, Kind::Ended, LimitSide::Low}}},
        {"the low side mirrors the high",
         Band(std::nullopt, 1.0, 0.5),
         Every(1, {2, 0.9, 1.2, 1.49, 1.5, 0.5}),
         {{1, Kind::Raised, LimitSide::Low},
          {4, Kind::Ended, LimitSide::Low},
          {5, Kind::Raised, LimitSide::Low}}},
        {"the hold time must pass beyond the limit without a break",
         Band(5.0, std::nullopt, 0.1, 2.0),
         {{0, 6}, {1, 6}, {1.5, 4}, {3, 6}, {4, 6}, {4.9, 6}, {5, 6}, {6, 6}},
         {{6, Kind::Raised, LimitSide::High}}},
        {"an alarm held for its time ends at once",
         Band(5.0, std::nullopt, 0.1, 1.0),
         {{0, 6}, {1, 6}, {1.1, 4.8}},
         {{1, Kind::Raised, LimitSide::High}, {2, Kind::Ended, LimitSide::High}}},
        {"overloads lie beyond every limit on their side; no number changes nothing",
         Band(500.0, -500.0, 1.0),
         Every(1, {kInf, kNaN, 0, -kInf, kNaN, 0}),
         {{0, Kind::Raised, LimitSide::High},
          {2, Kind::Ended, LimitSide::High},
          {3, Kind::Raised, LimitSide::Low},
          {5, Kind::Ended, LimitSide::Low}}},
        {"a jump across the band ends one alarm before it raises the other",
         Band(5.0, 1.0, 0.1),
         Every(1, {0, 6, 0}),
         {{0, Kind::Raised, LimitSide::Low},
          {1, Kind::Ended, LimitSide::Low},
          {1, Kind::Raised, LimitSide::High},
          {2, Kind::Ended, LimitSide::High},
          {2, Kind::Raised, LimitSide::Low}}},
    };
    for (const Script& script : scripts) {
        SCOPED_TRACE(script.name);
        AlarmMonitor monitor(script.limits);
        std::vector<Expected> seen;
        for (size_t i = 0; i < script.readings.size(); ++i) {
            // Overloads come as the meter sends them: a number past the range's ends.
            double value = script.readings[i].value;
            double fullScale = 600;
            int32_t lowLimit = -600;
            if (value == kInf)
                value = 601;
            if (value == -kInf)
                value = -601;
            for (const AlarmEvent& event :
                 monitor.Feed(value, fullScale, lowLimit, script.readings[i].seconds)) {
                seen.push_back({i, event.kind, event.side});
                EXPECT_EQ(event.seconds, script.readings[i].seconds);
                EXPECT_EQ(event.limit,
                          event.side == LimitSide::High ? *script.limits.high : *script.limits.low);
            }
        }
        ASSERT_EQ(seen.size(), script.events.size());
        for (size_t e = 0; e < seen.size(); ++e) {
            EXPECT_EQ(seen[e].at, script.events[e].at) << "event " << e;
            EXPECT_EQ(seen[e].kind, script.events[e].kind) << "event " << e;
            EXPECT_EQ(seen[e].side, script.events[e].side) << "event " << e;
        }
    }
}

TEST(Limits, InForceUnderTheAlarmFlagsWithTheDefaultHysteresis) {
    LimitSettings limits;
    limits.high = 10;
    limits.low = 2;
    ChartSettings settings;
    ActiveLimits active = LimitsInForce(limits, settings);
    EXPECT_EQ(active.high, 10.0);
    EXPECT_EQ(active.low, 2.0);
    EXPECT_DOUBLE_EQ(active.hysteresis, 0.08);
    settings.alarmHigh[0] = 0;
    active = LimitsInForce(limits, settings);
    EXPECT_FALSE(active.high.has_value());
    EXPECT_DOUBLE_EQ(active.hysteresis, 0.08)
        << "switching one limit off leaves the other's end where it was";
    limits.hysteresis = 0.5;
    EXPECT_EQ(LimitsInForce(limits, settings).hysteresis, 0.5);
    EXPECT_DOUBLE_EQ(DefaultHysteresis(std::nullopt, -250.0), 2.5);
    EXPECT_EQ(DefaultHysteresis(std::nullopt, std::nullopt), 0.0);

    EXPECT_EQ(CheckLimits(limits), u"");
    limits.low = 10;
    EXPECT_EQ(CheckLimits(limits), u"The high limit must be above the low limit.");
    limits.low = 2;
    limits.holdSeconds = -1;
    EXPECT_EQ(CheckLimits(limits), u"The hold time cannot be negative.");
    limits.holdSeconds = 0;
    limits.hysteresis = kNaN;
    EXPECT_NE(CheckLimits(limits), u"");
}

// Records what the desktop would have done.
class FakeSink final : public AlarmSink {
public:
    void PlaySound() override { ++sounds; }
    void Notify(const std::u16string& title, const std::u16string& text) override {
        notifications.push_back(title + u" | " + text);
    }
    void List(const AlarmNotice& notice) override { listed.push_back(notice); }
    void RunCommand(const std::string& command, const CommandEnvironment& environment) override {
        commands.emplace_back(command, environment);
    }
    void StopRecording() override { ++stops; }
    void Event(const AlarmNotice& notice) override { events.push_back(notice.event.kind); }

    int sounds = 0;
    std::vector<AlarmEvent::Kind> events;
    int stops = 0;
    std::vector<std::u16string> notifications;
    std::vector<AlarmNotice> listed;
    std::vector<std::pair<std::string, CommandEnvironment>> commands;
};

std::string Variable(const CommandEnvironment& environment, const std::string& name) {
    for (const auto& [key, value] : environment)
        if (key == name)
            return value;
    return "<unset>";
}

class AlarmWatcherTest : public ::testing::Test {
protected:
    AlarmWatcherTest() : watcher_(document_, sink_, [this] { return now_; }) {
        document_.title = u"RealTime Panel";
        document_.limits.high = 5;
        document_.limits.low = 1;
        document_.limits.actions.sound = true;
        document_.limits.actions.command = u"true";
        document_.BeginLiveStorage(100, allocated_);
    }
    void Append(float value) {
        now_ += 1;
        document_.AppendSample(value, 600, -600, u"VDC", u"DC", u"V", u" 12/07/26 22:05:20");
    }

    RecordingDocument document_;
    uint32_t allocated_ = 0;
    double now_ = 0;
    FakeSink sink_;
    AlarmWatcher watcher_;
};

TEST_F(AlarmWatcherTest, EveryEventReachesTheSinkWhateverTheActions) {
    document_.limits.actions = AlarmActions{};
    document_.limits.actions.notify = false;
    document_.limits.actions.list = false;
    Append(5.5f);
    Append(3);
    EXPECT_EQ(sink_.events, (std::vector<Kind>{Kind::Raised, Kind::Ended}));
    EXPECT_TRUE(sink_.listed.empty());
    EXPECT_TRUE(sink_.notifications.empty());
}

TEST_F(AlarmWatcherTest, ARaisedAlarmTakesEveryActionChosenAndItsEndOnlyClosesTheListLine) {
    Append(3);
    Append(5.5f);
    Append(5.2f); // still beyond: nothing new
    ASSERT_EQ(sink_.notifications.size(), 1u);
    EXPECT_EQ(sink_.notifications[0],
              u"High limit 5 V exceeded | Reading 5.5000 V at 12/07/26 22:05:20, sample 2 of RealTime Panel");
    EXPECT_EQ(sink_.sounds, 1);
    ASSERT_EQ(sink_.commands.size(), 1u);
    const CommandEnvironment& environment = sink_.commands[0].second;
    EXPECT_EQ(Variable(environment, "CALVORA_ALARM"), "high");
    EXPECT_EQ(Variable(environment, "CALVORA_LIMIT"), "5");
    EXPECT_EQ(Variable(environment, "CALVORA_VALUE"), "5.5000");
    EXPECT_EQ(Variable(environment, "CALVORA_UNIT"), "V");
    EXPECT_EQ(Variable(environment, "CALVORA_SAMPLE"), "2");
    EXPECT_EQ(Variable(environment, "CALVORA_SOURCE"), "RealTime Panel");
    EXPECT_EQ(sink_.stops, 0);

    Append(4.9f); // back by more than the hysteresis (1 % of 4)
    ASSERT_EQ(sink_.listed.size(), 2u);
    EXPECT_EQ(sink_.listed[1].event.kind, Kind::Ended);
    EXPECT_EQ(sink_.listed[1].sampleNumber, 4u);
    EXPECT_EQ(sink_.notifications.size(), 1u);
    EXPECT_EQ(sink_.commands.size(), 1u);

    document_.limits.actions = {
        .sound = false, .notify = false, .list = false, .stopRecording = true, .command = {}};
    Append(0.5f);
    EXPECT_EQ(sink_.stops, 1);
    EXPECT_EQ(sink_.listed.size(), 2u);
    EXPECT_TRUE(sink_.notifications.size() == 1u && sink_.sounds == 1);
}

TEST_F(AlarmWatcherTest, TheAlarmFlagsSwitchLimitsOffAndANewRecordingStartsWithoutAlarm) {
    document_.settings.alarmHigh[0] = 0;
    Append(9);
    EXPECT_TRUE(sink_.listed.empty());
    document_.settings.alarmHigh[0] = 1;
    Append(9); // the limit is back: the reading is beyond it
    EXPECT_EQ(sink_.listed.size(), 1u);
    EXPECT_TRUE(watcher_.monitor().raised(LimitSide::High));

    document_.BeginLiveStorage(100, allocated_);
    Append(3);
    EXPECT_FALSE(watcher_.monitor().raised(LimitSide::High));
    Append(9);
    EXPECT_EQ(sink_.listed.size(), 2u);
}

TEST(CommandLauncher, RunsTheCommandWithTheReadingInItsEnvironment) {
    const std::filesystem::path out =
        std::filesystem::temp_directory_path() / ("calvora-alarm-command-" + std::to_string(::getpid()));
    CommandLauncher launcher;
    AlarmNotice notice;
    notice.event = {Kind::Raised, LimitSide::Low, 1.5, 0.25, 0};
    notice.valueText = u"0.2500";
    notice.unit = u"\u03a9";
    notice.source = u"it's \"quoted\"";
    const auto started = launcher.Start(
        "printf '%s|%s|%s|%s|%s' \"$CALVORA_ALARM\" \"$CALVORA_LIMIT\" \"$CALVORA_VALUE\" \"$CALVORA_UNIT\" "
        "\"$CALVORA_SOURCE\" > '" +
            out.string() + "'",
        AlarmEnvironment(notice));
    ASSERT_TRUE(started) << toUtf8(started.reason());
    ASSERT_TRUE(launcher.WaitAll(std::chrono::seconds(10)));
    std::ifstream in(out);
    const std::string written{std::istreambuf_iterator<char>(in), {}};
    std::filesystem::remove(out);
    EXPECT_EQ(written, "low|1.5|0.2500|\xCE\xA9|it's \"quoted\"");
    EXPECT_EQ(launcher.running(), 0u);
}

} // namespace
} // namespace calvora
