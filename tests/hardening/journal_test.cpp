// The crash journal: what it keeps, what a crash in the middle of a write leaves, how the engine and
// calvora-cli settle it, and what a SIGKILL during a long recording costs.
#include "app/meter_engine.h"
#include "protocol/text.h"
#include "recording/journal.h"
#include "recording/recording_document.h"
#include "tests/engine/fake_view.h"
#include "tests/hardening/hardening_support.h"
#include "tests/support/simulator_process.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <ctime>
#include <fstream>
#include <iterator>

namespace calvora {
namespace {

using namespace std::chrono_literals;
using testing::Bytes;
using testing::ChildProcess;
using testing::FakeInventory;
using testing::FakeView;
using testing::ScratchFolder;
using testing::SimulatorProcess;
using testing::WaitFor;

struct Row {
    float value;
    float fullScale;
    int32_t lowLimit;
    std::u16string functionName, mode, unit, timeText;
};

const std::vector<Row>& Rows() {
    static const std::vector<Row> rows = {
        {1.2345f, 6.0f, 0, u"VDC", u"DC", u"V", u" 12/08/26 15:04:05"},
        {-0.5f, 60.0f, -60, u"VAC", u"AC", u"mV", u" 12/08/26 15:04:06"},
        {0.0f, 0.0f, 0, u"", u"", u"", u""},
        {std::numeric_limits<float>::infinity(), 1.0f, 7, u"Ω", u"", u"kΩ", u" 12/08/26 15:04:06"},
        {3.0f, 600.0f, 1, std::u16string(300, u'x'), u"AC+DC", u"°C", u" 12/08/26 15:04:07"},
    };
    return rows;
}

// Rows `first` up to `end` of a recording; row 0 starts a new one.
void RecordRows(Journal& journal, uint32_t end, uint32_t first = 0) {
    for (uint32_t row = first; row < end; ++row) {
        const Row& r = Rows()[row % Rows().size()];
        journal.Record(row, {r.value, r.fullScale, r.lowLimit, r.functionName, r.mode, r.unit, r.timeText});
    }
}

std::string FileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
void WriteBytes(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(bytes.data(), std::streamsize(bytes.size()));
}

uint32_t Recovered(const std::filesystem::path& path) {
    const Outcome<RecordingDocument> recovered = RecoverJournal(path);
    return recovered ? recovered.value().sampleCount() : 0;
}

TEST(Journal, RecoversEverySampleAsAnUnsavedLivePanel) {
    ScratchFolder folder;
    Journal journal(folder.path());
    RecordRows(journal, static_cast<uint32_t>(Rows().size()));
    const Outcome<void> synced = journal.Sync();
    ASSERT_TRUE(synced) << toUtf8(synced.reason());
    EXPECT_EQ(journal.path().parent_path(), folder.path());

    const Outcome<RecordingDocument> recovered = RecoverJournal(journal.path());
    ASSERT_TRUE(recovered) << toUtf8(recovered.reason());
    const RecordingDocument& document = recovered.value();
    EXPECT_EQ(document.title, u"RealTime Panel");
    EXPECT_EQ(document.channelCount(), 1);
    ASSERT_EQ(document.sampleCount(), Rows().size());
    for (uint32_t row = 0; row < Rows().size(); ++row) {
        const Row& r = Rows()[row];
        SCOPED_TRACE(row);
        EXPECT_EQ(std::bit_cast<uint32_t>(document.value(row, 0)), std::bit_cast<uint32_t>(r.value));
        EXPECT_EQ(document.fullScale(row, 0), r.fullScale);
        EXPECT_EQ(document.lowLimit(row), r.lowLimit);
        EXPECT_EQ(document.functionName(row), r.functionName);
        EXPECT_EQ(document.mode(row), r.mode);
        EXPECT_EQ(document.unit(row), r.unit);
        EXPECT_EQ(document.timeText(row), r.timeText);
    }
    // The infinite sample does not make the scale infinite.
    EXPECT_TRUE(std::isfinite(document.settings.axisMax));
}

TEST(Journal, ACrashInTheMiddleOfAWriteCostsOnlyTheTornSample) {
    ScratchFolder folder;
    std::filesystem::path path;
    size_t twoSamples = 0;
    {
        Journal journal(folder.path());
        RecordRows(journal, 2);
        ASSERT_TRUE(journal.Sync());
        path = journal.path();
        twoSamples = std::filesystem::file_size(path);
        RecordRows(journal, 3, 2);
        ASSERT_TRUE(journal.Sync());
    }
    // The journal is kept when its owner goes away without saying the samples are safe.
    const std::string whole = FileBytes(path);
    const std::filesystem::path copy = folder / "copy.journal";

    // Every cut inside the third record leaves the first two; every cut inside the magic, nothing.
    for (size_t length = twoSamples; length < whole.size(); ++length) {
        WriteBytes(copy, std::string_view(whole).substr(0, length));
        EXPECT_EQ(Recovered(copy), 2u) << "cut at " << length;
    }
    for (size_t length = 0; length < 8; ++length) {
        WriteBytes(copy, std::string_view(whole).substr(0, length));
        EXPECT_EQ(RecoverJournal(copy).reason(), fromUtf8(copy.string()) + u" is not a recording journal")
            << length;
    }

    struct Damage {
        size_t offset;
        uint32_t expected;
    };
    // A flipped byte in a record ends the recovery there: what follows cannot be trusted in order.
    const Damage damages[] = {
        {8 + 4, 0}, {8 + 20, 0}, {twoSamples - 1, 1}, {twoSamples + 5, 2}, {whole.size() - 1, 2}};
    for (const Damage& damage : damages) {
        std::string bytes = whole;
        bytes[damage.offset] = static_cast<char>(bytes[damage.offset] ^ 0x40);
        WriteBytes(copy, bytes);
        EXPECT_EQ(Recovered(copy), damage.expected) << "damage at " << damage.offset;
    }
}

// A record written twice (same row, valid checksum) is replayed once, and the rows after it still
// count; a row that jumps ahead or back still ends the recovery.
TEST(Journal, ARepeatedRowIsReplayedOnceAndAJumpEndsTheRecovery) {
    struct Case {
        const char* name;
        std::vector<uint32_t> rows;
        std::vector<uint32_t> recovered; // rows whose samples come back, in order
    };
    const Case cases[] = {
        {"repeat in the middle", {0, 1, 1, 2}, {0, 1, 2}},
        {"repeat at the end", {0, 1, 2, 2}, {0, 1, 2}},
        {"first row twice", {0, 0, 1}, {0, 1}},
        {"row skipped", {0, 1, 3, 4}, {0, 1}},
        {"row goes back", {0, 1, 2, 1}, {0, 1, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder folder;
        Journal journal(folder.path());
        for (uint32_t row : c.rows) {
            const Row& r = Rows()[row];
            journal.Record(row,
                           {r.value, r.fullScale, r.lowLimit, r.functionName, r.mode, r.unit, r.timeText});
        }
        ASSERT_TRUE(journal.Sync());
        const Outcome<RecordingDocument> recovered = RecoverJournal(journal.path());
        ASSERT_TRUE(recovered);
        const RecordingDocument& document = recovered.value();
        ASSERT_EQ(document.sampleCount(), c.recovered.size());
        for (uint32_t i = 0; i < c.recovered.size(); ++i) {
            EXPECT_EQ(document.lowLimit(i), Rows()[c.recovered[i]].lowLimit) << i;
            EXPECT_EQ(document.timeText(i), Rows()[c.recovered[i]].timeText) << i;
        }
    }
}

TEST(Journal, UnreadableAndForeignFilesAreRefusedWithAReason) {
    ScratchFolder folder;
    WriteBytes(folder / "foreign.journal", "not a journal at all");
    std::filesystem::create_directories(folder / "folder.journal");
    struct Case {
        std::string name;
        std::string reason;
    };
    const Case cases[] = {{"foreign.journal", "not a recording journal"},
                          {"folder.journal", "Is a directory"},
                          {"missing.journal", "No such file or directory"}};
    for (const Case& c : cases) {
        const Outcome<RecordingDocument> recovered = RecoverJournal(folder / c.name);
        EXPECT_FALSE(recovered);
        EXPECT_NE(toUtf8(recovered.reason()).find(c.reason), std::string::npos)
            << c.name << ": " << toUtf8(recovered.reason());
    }
}

TEST(Journal, LeftJournalsAreFoundOnlyWhenNoSessionHoldsThem) {
    ScratchFolder folder;
    EXPECT_FALSE(FindLeftJournal(folder / "never-made").has_value());

    Journal running(folder.path());
    RecordRows(running, 3);
    ASSERT_TRUE(running.Sync());
    EXPECT_FALSE(FindLeftJournal(folder.path()).has_value()) << "a running session's journal is not offered";

    WriteBytes(folder / "other.journal", "someone else's file");
    WriteBytes(folder / "empty.journal", "CVJRNL1\n");
    std::filesystem::path left;
    {
        Journal crashed(folder.path());
        RecordRows(crashed, 4);
        crashed.Sync();
        left = crashed.path();
    }
    EXPECT_EQ(FindLeftJournal(folder.path()), left);
    EXPECT_FALSE(std::filesystem::exists(folder / "empty.journal")) << "nothing to offer: removed";
    EXPECT_TRUE(std::filesystem::exists(folder / "other.journal")) << "a file that is not ours stays";

    // A second recording replaces the first one's journal; Remove ends it.
    const std::filesystem::path first = running.path();
    RecordRows(running, 2);
    EXPECT_FALSE(std::filesystem::exists(first));
    EXPECT_TRUE(std::filesystem::exists(running.path()));
    running.Remove();
    EXPECT_TRUE(running.path().empty());

    DiscardJournal(left);
    EXPECT_FALSE(FindLeftJournal(folder.path()).has_value());
}

TEST(Journal, SamplesReachTheDiskWithinThePeriodWithoutAnExplicitSync) {
    ScratchFolder folder;
    Journal journal(folder.path());
    RecordRows(journal, 7);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(WaitFor([&] { return Recovered(journal.path()) == 7; }, 5000ms));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1000ms + kJournalSyncPeriod);
}

// ------------------------------------------------------------------------------ engine wiring

class JournalEngineTest : public ::testing::Test {
protected:
    JournalEngineTest()
        : settings_((folder_ / "ZAZEDOVADIZO.ini").string()), journal_(folder_ / "state"),
          state_(view_, inventory_, settings_) {
        view_.state = &state_.documents();
        view_.saveFolder = folder_.path();
        state_.SetJournal(&journal_);
        state_.SelectCaptureSource();
    }
    void Feed(int readings, uint16_t first = 100) {
        for (int i = 0; i < readings; ++i) {
            const Bytes frame = testing::LiveFrame(static_cast<uint16_t>(first + i));
            state_.ReceiveChunk(frame.data(), static_cast<int>(frame.size()));
        }
    }
    RecordingDocument& Live() { return *state_.documents().recordingDocument; }

    ScratchFolder folder_;
    FakeView view_;
    FakeInventory inventory_;
    SettingsFile settings_;
    Journal journal_;
    MeterEngine state_;
};

TEST_F(JournalEngineTest, EverySampleIsJournaledUntilTheFinishedRecordingIsSaved) {
    state_.StartRecordingOf(10);
    Feed(4);
    ASSERT_TRUE(journal_.Sync());
    const std::filesystem::path path = journal_.path();
    EXPECT_EQ(Recovered(path), 4u);

    // Saved in the middle of the recording: the samples still to come need the journal.
    state_.OnDocumentSaved(Live());
    Feed(6, 200);
    EXPECT_FALSE(state_.documents().recording);
    ASSERT_TRUE(journal_.Sync());
    const Outcome<RecordingDocument> recovered = RecoverJournal(path);
    ASSERT_TRUE(recovered);
    ASSERT_EQ(recovered.value().sampleCount(), 10u);
    for (uint32_t row = 0; row < 10; ++row)
        EXPECT_EQ(recovered.value().value(row, 0), Live().value(row, 0)) << row;

    // Another document's save says nothing about the live samples.
    RecordingDocument other;
    state_.OnDocumentSaved(other);
    EXPECT_TRUE(std::filesystem::exists(path));
    state_.OnDocumentSaved(Live());
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(JournalEngineTest, DiscardingByClosingOrStartingOverRemovesTheJournal) {
    state_.StartRecordingOf(5);
    Feed(5);
    const std::filesystem::path first = journal_.path();
    ASSERT_TRUE(std::filesystem::exists(first));

    // "Save the existing data before continuing?" Yes: saved through the view, journal settled.
    view_.answers = {true};
    view_.plannedAnswer = 3;
    state_.StartRecording();
    EXPECT_EQ(view_.saves, 1);
    EXPECT_FALSE(std::filesystem::exists(first));
    Feed(2);
    const std::filesystem::path second = journal_.path();
    EXPECT_TRUE(std::filesystem::exists(second));

    // The live window closes (the user said No to saving): its journal goes with it.
    state_.StopRecording();
    view_.answers = {false};
    EXPECT_TRUE(state_.OnDocumentClosing(Live()));
    state_.OnDocumentDestroyed(Live());
    EXPECT_FALSE(std::filesystem::exists(second));
}

TEST_F(JournalEngineTest, ALeftJournalComesBackAsTheUnsavedLiveDocument) {
    std::filesystem::path left;
    {
        Journal crashed(folder_ / "state");
        RecordRows(crashed, 5);
        crashed.Sync();
        left = crashed.path();
    }
    const auto found = FindLeftJournal(folder_ / "state");
    ASSERT_EQ(found, left);
    const Outcome<RecordingDocument*> opened = state_.RecoverJournal(*found);
    ASSERT_TRUE(opened) << toUtf8(opened.reason());
    RecordingDocument* document = opened.value();
    EXPECT_EQ(document->title, u"RealTime Panel");
    EXPECT_EQ(document->sampleCount(), 5u);
    EXPECT_EQ(state_.documents().recordingDocument, document);
    EXPECT_FALSE(state_.documents().dataSaved);
    EXPECT_FALSE(FindLeftJournal(folder_ / "state").has_value()) << "this session holds it now";

    // Closing asks, like any unsaved live recording; saving settles the journal.
    view_.answers = {true};
    EXPECT_TRUE(state_.OnDocumentClosing(*document));
    EXPECT_EQ(view_.saves, 1);
    EXPECT_FALSE(std::filesystem::exists(left));
    state_.OnDocumentDestroyed(*document);

    const Outcome<RecordingDocument*> again = state_.RecoverJournal(left);
    EXPECT_FALSE(again);
    EXPECT_NE(toUtf8(again.reason()).find("No such file"), std::string::npos);
}

// ------------------------------------------------------------------------------ killed session

class KilledRecordingTest : public ::testing::Test {
protected:
    KilledRecordingTest()
        : settings_((folder_ / "ZAZEDOVADIZO.ini").string()), state_(view_, inventory_, settings_) {
        ::setenv("XDG_CONFIG_HOME", folder_.path().c_str(), 1);
        ::setenv("XDG_STATE_HOME", folder_.path().c_str(), 1);
    }
    ~KilledRecordingTest() override { state_.ClosePort(); }

    // The journal file of the running calvora-cli (its lock keeps FindLeftJournal away from it).
    std::filesystem::path RunningJournal() const {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(folder_ / "calvora", error)) {
            if (entry.path().extension() == ".journal")
                return entry.path();
        }
        return {};
    }

    ScratchFolder folder_;
    FakeView view_;
    FakeInventory inventory_;
    SettingsFile settings_;
    MeterEngine state_;
};

long Count(float value) {
    return std::lround(value * 10000);
}

// Each sample carries the local time at which it was handed on (whole seconds), so the newest recovered
// sample shows how much of the recording before the kill the journal missed.
std::time_t SampleTime(std::u16string_view timeText) {
    std::tm local{};
    local.tm_isdst = -1;
    if (!strptime(toUtf8(timeText).c_str(), " %m/%d/%y %H:%M:%S", &local))
        return 0;
    return std::mktime(&local);
}

TEST_F(KilledRecordingTest, SigkillDuringATwentyThousandSampleRecordingLosesAtMostTheLastSecond) {
    // A ramp that rises by one count per reading.
    SimulatorProcess simulator({"--rate", "1000", "--waveform", "ramp", "--offset", "30000", "--amplitude",
                                "25000", "--period", "50000"});
    ASSERT_FALSE(simulator.devicePath().empty());
    ChildProcess cli({testing::BuildPath("tools/cli/calvora-cli"), "record", "--port", simulator.devicePath(),
                      "--samples", "20000", "--out", (folder_ / "never").string()});
    ASSERT_TRUE(cli.running());

    // Kill once a good part of the recording is on disk, right after a second begins: the newest
    // sample then must come from the second before at the latest.
    ASSERT_TRUE(WaitFor(
        [&] {
            const auto path = RunningJournal();
            return !path.empty() && Recovered(path) >= 2000;
        },
        30000ms));
    const std::time_t second = std::time(nullptr);
    ASSERT_TRUE(WaitFor([&] { return std::time(nullptr) > second; }, 2000ms));
    cli.Stop(SIGKILL);
    const std::time_t killedAt = std::time(nullptr);

    const auto left = FindLeftJournal(folder_ / "calvora");
    ASSERT_TRUE(left.has_value()) << "the killed session's journal is offered";
    const Outcome<RecordingDocument> recoveredOutcome = RecoverJournal(*left);
    ASSERT_TRUE(recoveredOutcome) << toUtf8(recoveredOutcome.reason());
    const RecordingDocument& recovered = recoveredOutcome.value();
    ASSERT_GE(recovered.sampleCount(), 2000u);
    EXPECT_LT(recovered.sampleCount(), 20000u);
    // A stream this fast outruns the one-frame-per-chunk rule, so readings are given up before the
    // hand-off; what was recorded comes back in order, each sample once.
    int outOfOrder = 0;
    for (uint32_t row = 1; row < recovered.sampleCount(); ++row)
        outOfOrder += Count(recovered.value(row, 0)) <= Count(recovered.value(row - 1, 0));
    EXPECT_EQ(outOfOrder, 0) << "the recovered samples are the recorded ones, in order";
    const std::time_t newest = SampleTime(recovered.timeText(recovered.sampleCount() - 1));
    EXPECT_GE(newest, killedAt - 1) << "the journal missed more than the last second";
    std::cout << "recovered " << recovered.sampleCount() << " samples, the newest stamped "
              << toUtf8(recovered.timeText(recovered.sampleCount() - 1)) << ", killed at "
              << killedAt - newest << " s after it\n";
}

TEST_F(KilledRecordingTest, ACompletedCommandLineRecordingLeavesNoJournal) {
    SimulatorProcess simulator({"--rate", "500"});
    ASSERT_FALSE(simulator.devicePath().empty());
    ChildProcess cli({testing::BuildPath("tools/cli/calvora-cli"), "record", "--port", simulator.devicePath(),
                      "--samples", "200", "--out", (folder_ / "run").string()});
    ASSERT_EQ(cli.Wait(30000ms), 0);
    EXPECT_TRUE(RunningJournal().empty());
    EXPECT_FALSE(FindLeftJournal(folder_ / "calvora").has_value());
}

} // namespace
} // namespace calvora
