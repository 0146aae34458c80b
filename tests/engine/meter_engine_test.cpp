#include "app/meter_engine.h"
#include "protocol/frame_builder.h"
#include "protocol/text.h"
#include "recording/record_file.h"
#include "recording/recording_document.h"
#include "tests/engine/fake_view.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

namespace calvora {
namespace {

using testing::FakeInventory;
using testing::FakeView;

constexpr uint8_t kVdc = 0x01;
constexpr uint8_t kRange1 = 0x01; // divisor 10000 for volts

std::vector<uint8_t> LiveFrame(uint16_t magnitude, uint8_t range = kRange1, uint8_t function = kVdc) {
    const auto frame = MakeLiveFrame(magnitude, range, function, 0);
    return {frame.begin(), frame.end()};
}

std::vector<uint8_t> Records(int count) {
    std::vector<uint8_t> bytes;
    for (int i = 0; i < count; ++i) {
        const uint16_t magnitude = static_cast<uint16_t>(1000 + i);
        bytes.insert(bytes.end(), {static_cast<uint8_t>(magnitude >> 8),
                                   static_cast<uint8_t>(magnitude & 0xFF), kRange1, kVdc});
    }
    return bytes;
}

// The burst the meter sends for `count` stored records: header, 40-byte blocks, two empty tails.
std::vector<uint8_t> Burst(int count) {
    const auto records = Records(count);
    auto bytes = MakeMemoryHeader(static_cast<uint16_t>(count));
    uint16_t block = 1;
    for (size_t offset = 0; offset < records.size(); offset += 40, ++block) {
        const size_t end = std::min(records.size(), offset + 40);
        const auto frame =
            MakeMemoryBlock(block, std::vector<uint8_t>(records.begin() + offset, records.begin() + end));
        bytes.insert(bytes.end(), frame.begin(), frame.end());
    }
    for (int tail = 0; tail < 2; ++tail) {
        const auto frame = MakeMemoryTail(block, {});
        bytes.insert(bytes.end(), frame.begin(), frame.end());
    }
    return bytes;
}

class MeterEngineTest : public ::testing::Test {
protected:
    MeterEngineTest()
        : settingsPath_(std::filesystem::temp_directory_path() /
                        ("calvora-engine-" + std::to_string(::getpid()) + "-" +
                         ::testing::UnitTest::GetInstance()->current_test_info()->name())),
          settings_((settingsPath_ / "ZAZEDOVADIZO.ini").string()), state_(view_, inventory_, settings_) {
        view_.state = &state_.documents();
        ::setenv("TZ", "UTC", 1);
        ::tzset();
        state_.SetClock([] { return std::time_t{1796680000}; });
        inventory_.ports = std::vector<SerialPortInfo>{{kReceiverDescription, "COM5", ""}};
        state_.ScanReceivers(); // selects a "Multimeter" entry, so live frames are handed on
    }
    ~MeterEngineTest() override { std::filesystem::remove_all(settingsPath_); }

    // Feeds bytes the way the reader delivers them, in its chunk size.
    void Feed(const std::vector<uint8_t>& bytes) {
        constexpr size_t kChunk = kReceiveChunkSize;
        for (size_t offset = 0; offset < bytes.size(); offset += kChunk)
            state_.ReceiveChunk(bytes.data() + offset,
                                static_cast<int>(std::min(kChunk, bytes.size() - offset)));
    }
    void FeedReadings(int count, uint16_t magnitude = 12345) {
        for (int i = 0; i < count; ++i)
            Feed(LiveFrame(magnitude));
    }
    RecordingDocument* LiveDocument() const { return state_.documents().recordingDocument; }

    std::filesystem::path settingsPath_;
    FakeView view_;
    FakeInventory inventory_;
    SettingsFile settings_;
    MeterEngine state_;
};

TEST_F(MeterEngineTest, RecordingStopsByItselfAtThePlannedCount) {
    for (uint32_t planned : {1u, 3u, 50u}) {
        view_.plannedAnswer = planned;
        view_.answers = {false}; // do not save the previous run
        state_.StartRecording();
        ASSERT_TRUE(state_.documents().recording);
        FeedReadings(static_cast<int>(planned) + 2);
        ASSERT_NE(LiveDocument(), nullptr);
        EXPECT_EQ(LiveDocument()->sampleCount(), planned);
        EXPECT_FALSE(state_.documents().recording);
        EXPECT_FALSE(state_.documents().dataSaved);
    }
    EXPECT_EQ(view_.windowsCreated, 1) << "the live document and its window are reused";
    EXPECT_EQ(view_.proposedSamples, 10000u);
    EXPECT_EQ(LiveDocument()->title, u"RealTime Panel");
    EXPECT_EQ(LiveDocument()->timeText(0), u" 12/07/26 21:46:40");
    EXPECT_EQ(LiveDocument()->functionName(0), u"VDC");
    EXPECT_FLOAT_EQ(LiveDocument()->value(0, 0), 1.2345f);
    EXPECT_FLOAT_EQ(LiveDocument()->fullScale(0, 0), 4.0f);
    EXPECT_EQ(LiveDocument()->lowLimit(0), -4);
}

TEST_F(MeterEngineTest, ScaleFollowsTheRunningExtremesAndRedrawsOnlyWhenItChanges) {
    state_.StartRecordingOf(10);
    Feed(LiveFrame(10000)); // 1.0
    EXPECT_FLOAT_EQ(LiveDocument()->settings.autoMin, 0.8f);
    EXPECT_FLOAT_EQ(LiveDocument()->settings.autoMax, 1.2f);
    const int updates = view_.viewUpdates();
    Feed(LiveFrame(50000)); // 5.0
    EXPECT_FLOAT_EQ(LiveDocument()->settings.autoMin, 0.2f);
    EXPECT_FLOAT_EQ(LiveDocument()->settings.autoMax, 5.8f);
    EXPECT_EQ(view_.viewUpdates(), updates + 1);
    Feed(LiveFrame(30000)); // 3.0: inside, nothing changes
    EXPECT_EQ(view_.viewUpdates(), updates + 1);
    EXPECT_EQ(view_.liveAppends(), 3);
    EXPECT_EQ(LiveDocument()->layout.laidOut.last, 3);
}

TEST_F(MeterEngineTest, ASecondRecordingOfSmallerValuesGetsItsOwnScaleAndLiveWindow) {
    state_.StartRecordingOf(120);
    FeedReadings(119, 50000); // 5.0
    Feed(LiveFrame(30000));   // 3.0
    ASSERT_FALSE(state_.documents().recording);
    EXPECT_FLOAT_EQ(LiveDocument()->settings.autoMin, 2.6f);
    EXPECT_GT(LiveDocument()->layout.liveWindow.index, 0u) << "120 samples outgrow the first live window";

    state_.StartRecordingOf(2);
    Feed(LiveFrame(10000)); // 1.0
    Feed(LiveFrame(15000)); // 1.5
    const RecordingDocument& second = *LiveDocument();
    EXPECT_FLOAT_EQ(second.settings.autoMin, 0.9f) << "the first recording's extremes must not count";
    EXPECT_FLOAT_EQ(second.settings.autoMax, 1.6f);
    EXPECT_EQ(second.settings.axisMin, static_cast<double>(second.settings.autoMin));
    EXPECT_EQ(second.settings.axisMax, static_cast<double>(second.settings.autoMax));
    EXPECT_EQ(second.layout.liveWindow.index, 0u);
    EXPECT_EQ(second.layout.liveWindow.sizes[0], 100u);
    EXPECT_EQ(second.layout.laidOut.last, 2);
}

TEST_F(MeterEngineTest, StopAndDeviceRemovalEndTheRecordingAndKeepTheSamples) {
    state_.StartRecordingOf(100);
    FeedReadings(7);
    state_.StopRecording();
    FeedReadings(3);
    EXPECT_EQ(LiveDocument()->sampleCount(), 7u);
    EXPECT_FALSE(LiveDocument()->liveActive);

    view_.answers = {false};
    state_.StartRecordingOf(100);
    FeedReadings(4);
    state_.OnDeviceRemoved();
    EXPECT_FALSE(state_.documents().recording);
    EXPECT_TRUE(view_.TimerRunning(kRescanTimer));
    FeedReadings(2);
    EXPECT_EQ(LiveDocument()->sampleCount(), 4u);
}

TEST_F(MeterEngineTest, TheStatusBarCountsARecordingAndSaysHowItEnded) {
    struct Case {
        const char* what;
        int samples;
        std::function<void()> end;
        std::u16string status;
    };
    const Case cases[] = {
        {"Stop Recording", 3, [&] { state_.StopRecording(); }, u"Recording stopped, 3 samples kept."},
        {"receiver pulled", 1234, [&] { state_.OnDeviceRemoved(); },
         u"Receiver removed - recording stopped, 1,234 samples kept."},
        {"one sample, then a stored log", 1, [&] { Feed(MakeMemoryHeader(2)); },
         u"Stored log arriving - recording stopped, 1 sample kept."},
        {"the planned count", 3000, [&] { FeedReadings(1); }, u"Recording complete - 3,001 samples."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        view_.statuses.clear();
        state_.documents().dataSaved = true; // no save question between the cases
        state_.StartRecordingOf(c.samples == 3000 ? 3001 : 5000);
        EXPECT_NE(view_.panePlanned, 0u);
        EXPECT_EQ(view_.paneRecorded, 0u);
        FeedReadings(c.samples);
        EXPECT_EQ(view_.paneRecorded, static_cast<uint32_t>(c.samples));
        c.end();
        EXPECT_FALSE(state_.documents().recording);
        EXPECT_EQ(view_.panePlanned, 0u) << "the pane goes with the recording";
        ASSERT_EQ(view_.statuses.size(), 1u);
        EXPECT_EQ(view_.statuses[0], c.status);
        state_.AbandonDownload();
        Feed(LiveFrame(100)); // a live reading ends any burst
    }
    // Nothing runs: a second stop says nothing.
    view_.statuses.clear();
    state_.StopRecording();
    EXPECT_TRUE(view_.statuses.empty());
}

// A capture without the meter's pauses (calvora-cli record --input reads one this way): every reading
// is recorded, however many frames a chunk completes.
TEST_F(MeterEngineTest, BackToBackReadingsAreAllRecorded) {
    std::vector<uint8_t> capture;
    for (uint16_t i = 0; i < 60; ++i) {
        const auto frame = LiveFrame(static_cast<uint16_t>(1000 + i));
        capture.insert(capture.end(), frame.begin(), frame.end());
    }
    state_.StartRecordingOf(100);
    Feed(capture);
    ASSERT_EQ(LiveDocument()->sampleCount(), 60u);
    for (uint32_t row = 0; row < 60; ++row)
        EXPECT_FLOAT_EQ(LiveDocument()->value(row, 0), static_cast<float>(1000 + row) / 10000) << row;
}

TEST_F(MeterEngineTest, StartingOverUnsavedSamplesAsksAndRefusesToLoseThemWhenTheSaveFails) {
    view_.plannedAnswer = 10;
    state_.StartRecording();
    FeedReadings(2);
    state_.StopRecording();

    view_.answers = {true};
    view_.saveSucceeds = false;
    state_.StartRecording();
    ASSERT_EQ(view_.questions.size(), 1u);
    EXPECT_EQ(view_.questions[0], u"Do you want to save the existing data before continuing?");
    EXPECT_FALSE(state_.documents().recording) << "a failed save must not let the samples be replaced";
    EXPECT_EQ(LiveDocument()->sampleCount(), 2u);

    view_.saveSucceeds = true;
    view_.answers = {true};
    state_.StartRecording();
    EXPECT_TRUE(state_.documents().recording);
    EXPECT_EQ(LiveDocument()->sampleCount(), 0u);
}

TEST_F(MeterEngineTest, ClosingAsksOnlyForUnsavedLiveSamples) {
    view_.plannedAnswer = 5;
    state_.StartRecording();
    RecordingDocument* live = LiveDocument();
    EXPECT_TRUE(state_.OnDocumentClosing(*live)) << "an empty live document has nothing to lose";
    EXPECT_TRUE(view_.questions.empty());
    FeedReadings(2);
    view_.answers = {false};
    EXPECT_TRUE(state_.OnDocumentClosing(*live));
    ASSERT_EQ(view_.questions.size(), 1u);
    EXPECT_EQ(view_.questions[0], u"Do you want to save the data before closing?");
    state_.OnDocumentDestroyed(*live);
    EXPECT_EQ(LiveDocument(), nullptr);
    EXPECT_FALSE(state_.documents().recording);
}

TEST_F(MeterEngineTest, QuittingAsksOnceAndThenStopsTakingChunks) {
    state_.StartRecordingOf(5);
    FeedReadings(1);
    view_.answers = {false};
    EXPECT_TRUE(state_.OnMainWindowClosing());
    EXPECT_TRUE(state_.OnDocumentClosing(*LiveDocument()));
    EXPECT_EQ(view_.questions.size(), 1u);
    const size_t readings = view_.readings.size();
    FeedReadings(1);
    EXPECT_EQ(view_.readings.size(), readings);
}

TEST_F(MeterEngineTest, SavedRecordingReadsBack) {
    view_.saveFolder = settingsPath_;
    std::filesystem::create_directories(settingsPath_);
    state_.StartRecordingOf(50);
    for (int i = 0; i < 50; ++i)
        Feed(LiveFrame(static_cast<uint16_t>(1000 * i)));
    ASSERT_TRUE(view_.SaveDocument(*LiveDocument()));
    EXPECT_TRUE(state_.documents().dataSaved);
    RecordingDocument reread;
    const auto read = ReadRecordFile(settingsPath_ / "saved.recorder", reread);
    ASSERT_TRUE(read) << toUtf8(read.reason());
    ASSERT_EQ(reread.sampleCount(), 50u);
    EXPECT_FLOAT_EQ(reread.value(49, 0), 4.9f);
    EXPECT_EQ(reread.unit(10), u"V");
    EXPECT_TRUE(std::filesystem::exists(settingsPath_ / "saved.csv"));
}

TEST_F(MeterEngineTest, NewLiveAndDownloadDocumentsAreAdoptedAtOnceWithTheChartDefaults) {
    view_.prepareDocument = [](RecordingDocument& document) {
        document.settings.backgroundColour = 0x123456;
        document.settings.traceColour[2] = 0x00FF00;
        document.layout.fullView = false;
    };
    state_.StartRecordingOf(5);
    RecordingDocument* live = LiveDocument();
    ASSERT_NE(live, nullptr);
    EXPECT_EQ(live->title, u"RealTime Panel");
    EXPECT_EQ(live->channelCount(), 1);
    EXPECT_EQ(live->settings.backgroundColour, kDefaultBackground);
    EXPECT_EQ(live->settings.traceColour[2], kRed);
    EXPECT_TRUE(live->layout.fullView);
    EXPECT_EQ(view_.titled, std::vector<RecordingDocument*>{live}) << "the window shows the new title";

    Feed(Burst(25));
    RecordingDocument* log = state_.documents().downloadDocument;
    ASSERT_NE(log, nullptr);
    EXPECT_NE(log, live);
    EXPECT_EQ(log->title, u"Datalog Panel");
    EXPECT_EQ(log->sampleCount(), 25u);
    EXPECT_EQ(log->settings.backgroundColour, kDefaultBackground);
    EXPECT_EQ(view_.viewUpdates(), 1) << "the filled log is announced once";
    EXPECT_EQ(view_.titled.back(), log);
}

TEST_F(MeterEngineTest, DownloadOf25RecordsFillsTheDatalogDocumentAndASecondRefillsIt) {
    Feed(Burst(25));
    EXPECT_FALSE(view_.progressShown);
    EXPECT_EQ(view_.progressRange, 60);
    RecordingDocument* log = state_.documents().downloadDocument;
    ASSERT_NE(log, nullptr);
    EXPECT_EQ(log->title, u"Datalog Panel");
    ASSERT_EQ(log->sampleCount(), 25u);
    EXPECT_FLOAT_EQ(log->value(0, 0), 0.1f);
    EXPECT_FLOAT_EQ(log->value(24, 0), 0.1024f);
    for (uint32_t row = 1; row < 25; ++row)
        EXPECT_EQ(log->timeText(row), log->timeText(0));
    EXPECT_FALSE(state_.downloading());

    Feed(Burst(30));
    EXPECT_EQ(view_.windowsCreated, 1);
    EXPECT_EQ(state_.documents().downloadDocument, log);
    EXPECT_EQ(log->sampleCount(), 30u);
}

TEST_F(MeterEngineTest, DownloadProgressRangeAndPositionFor95Records) {
    // Hold the completion back to look at the progress window after the last block.
    const auto burst = Burst(95);
    const size_t withoutTails = burst.size() - 18;
    Feed(std::vector<uint8_t>(burst.begin(), burst.begin() + withoutTails));
    EXPECT_TRUE(view_.progressShown);
    EXPECT_EQ(view_.progressRange, 200);
    Feed(std::vector<uint8_t>(burst.begin() + withoutTails, burst.end()));
    EXPECT_EQ(view_.progressPosition, 120);
    EXPECT_EQ(state_.documents().downloadDocument->sampleCount(), 95u);
}

TEST_F(MeterEngineTest, MemoryHeaderEndsARecordingAndBlockZeroWritesNothing) {
    state_.StartRecordingOf(100);
    FeedReadings(3);
    Feed(MakeMemoryHeader(2));
    EXPECT_FALSE(state_.documents().recording);
    EXPECT_TRUE(state_.downloading());
    Feed(MakeMemoryBlock(0, {0xFF, 0xFF, 0x01, 0x01, 0xFF, 0xFF, 0x01, 0x01}));
    Feed(MakeMemoryTail(1, {}));
    Feed(MakeMemoryTail(1, {}));
    Feed({0x00});
    ASSERT_NE(state_.documents().downloadDocument, nullptr);
    EXPECT_FLOAT_EQ(state_.documents().downloadDocument->value(0, 0), 0.0f);
}

// The reader thread clears the download flag at a live marker, the user-interface side sets and clears
// it through the documents: both must read the same flag at every step.
TEST_F(MeterEngineTest, TheAssemblerAndTheDocumentsShareOneDownloadFlag) {
    const std::vector<uint8_t> live = LiveFrame(100);
    struct Step {
        const char* what;
        std::function<void()> act;
        bool downloading;
    };
    const Step steps[] = {
        {"a memory header starts a download", [&] { Feed(MakeMemoryHeader(10)); }, true},
        {"a live frame ends it", [&] { Feed(live); }, false},
        {"another header", [&] { Feed(MakeMemoryHeader(10)); }, true},
        {"the user gives the download up", [&] { state_.AbandonDownload(); }, false},
        {"set through the documents", [&] { state_.documents().SetDownloading(true); }, true},
        {"cleared through the documents", [&] { state_.documents().SetDownloading(false); }, false},
        {"a complete burst", [&] { Feed(Burst(5)); }, false},
    };
    for (const Step& step : steps) {
        step.act();
        EXPECT_EQ(state_.downloading(), step.downloading) << step.what;
        EXPECT_EQ(state_.documents().downloading(), step.downloading) << step.what;
    }
}

TEST_F(MeterEngineTest, AbandonedDownloadClosesTheProgressAndFillsNothing) {
    Feed(MakeMemoryHeader(10));
    Feed({0x00});
    EXPECT_TRUE(view_.progressShown);
    state_.AbandonDownload();
    EXPECT_FALSE(view_.progressShown);
    EXPECT_FALSE(state_.downloading());
    EXPECT_EQ(state_.documents().downloadDocument, nullptr);
}

TEST_F(MeterEngineTest, TheRestOfAnAbandonedBurstIsNotTakenForANewDownload) {
    Feed(Burst(25));
    RecordingDocument* log = state_.documents().downloadDocument;
    ASSERT_NE(log, nullptr);
    const float first = log->value(0, 0);

    const auto burst = Burst(100);
    const size_t headerAndTwoBlocks = 9 + 2 * 49;
    Feed(std::vector<uint8_t>(burst.begin(), burst.begin() + headerAndTwoBlocks));
    state_.AbandonDownload();
    Feed(std::vector<uint8_t>(burst.begin() + headerAndTwoBlocks, burst.end()));
    Feed({0x00});
    EXPECT_FALSE(state_.downloading());
    EXPECT_FALSE(view_.progressShown);
    EXPECT_EQ(log->sampleCount(), 25u) << "the log document must keep its records";
    EXPECT_FLOAT_EQ(log->value(0, 0), first);

    Feed(Burst(30)); // the next burst downloads normally
    EXPECT_EQ(log->sampleCount(), 30u);
}

// The first `blocks` 40-byte blocks of a burst of `count` records, after its header.
std::vector<uint8_t> HeaderAndBlocks(int count, std::initializer_list<uint16_t> blocks) {
    const auto records = Records(count);
    auto bytes = MakeMemoryHeader(static_cast<uint16_t>(count));
    for (uint16_t block : blocks) {
        const size_t offset = size_t(block - 1) * 40;
        const size_t end = std::min(records.size(), offset + 40);
        const auto frame =
            MakeMemoryBlock(block, std::vector<uint8_t>(records.begin() + offset, records.begin() + end));
        bytes.insert(bytes.end(), frame.begin(), frame.end());
    }
    return bytes;
}

TEST_F(MeterEngineTest, StalledDownloadKeepsTheRecordsThatArrivedOrSaysNothingIsKept) {
    struct Case {
        const char* what;
        std::vector<std::vector<uint8_t>> feeds;
        uint32_t arrivedShown;
        uint32_t kept;
        std::u16string message;
    };
    const Case cases[] = {
        {"two of three blocks",
         {HeaderAndBlocks(25, {1, 2})},
         20,
         20,
         u"The meter's log stopped arriving after 20 of 25 records. The 20 records that arrived are kept in "
         u"\"Datalog Panel\"."},
        {"a live reading cut the burst short",
         {HeaderAndBlocks(25, {1}), LiveFrame(100)},
         10,
         10,
         u"The meter's log stopped arriving after 10 of 25 records. The 10 records that arrived are kept in "
         u"\"Datalog Panel\"."},
        {"the header alone",
         {HeaderAndBlocks(25, {})},
         0,
         0,
         u"The meter's log stopped arriving before its first record came (0 of 25). Nothing is kept."},
        {"the first block missing",
         {HeaderAndBlocks(25, {2})},
         10,
         0,
         u"The meter's log stopped arriving before its first record came (0 of 25). Nothing is kept."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeView view;
        MeterEngine engine(view, inventory_, settings_);
        engine.SelectCaptureSource();
        // In the reader's chunks, and one byte more: a frame is handed on when the next bytes come.
        auto feed = [&](const std::vector<uint8_t>& bytes) {
            for (size_t offset = 0; offset < bytes.size(); offset += kReceiveChunkSize)
                engine.ReceiveChunk(bytes.data() + offset, static_cast<int>(std::min<size_t>(
                                                               kReceiveChunkSize, bytes.size() - offset)));
            const uint8_t next = 0x00;
            engine.ReceiveChunk(&next, 1);
        };
        for (const std::vector<uint8_t>& bytes : c.feeds)
            feed(bytes);
        ASSERT_TRUE(view.progressShown);
        EXPECT_EQ(view.progressArrived, c.arrivedShown);
        EXPECT_EQ(view.progressTotal, 25u);
        ASSERT_EQ(view.timers[kDownloadTimer], 5000) << "every memory frame restarts the watch";

        engine.OnTimer(kDownloadTimer);
        EXPECT_FALSE(view.progressShown);
        EXPECT_FALSE(engine.downloading());
        EXPECT_FALSE(engine.lastDownloadComplete());
        ASSERT_EQ(view.messages.size(), 1u);
        EXPECT_EQ(view.messages[0], c.message);
        RecordingDocument* log = engine.documents().downloadDocument;
        if (c.kept == 0) {
            EXPECT_EQ(log, nullptr);
            continue;
        }
        ASSERT_NE(log, nullptr);
        EXPECT_EQ(log->title, u"Datalog Panel");
        ASSERT_EQ(log->sampleCount(), c.kept);
        EXPECT_FLOAT_EQ(log->value(c.kept - 1, 0), (1000 + static_cast<float>(c.kept) - 1) / 10000);

        // The rest of the burst, late, is not taken for a download of its own; the next burst is.
        const auto burst = Burst(25);
        feed(std::vector<uint8_t>(burst.begin() + 9, burst.end()));
        EXPECT_EQ(log->sampleCount(), c.kept);
        feed(burst);
        EXPECT_EQ(log->sampleCount(), 25u);
        EXPECT_TRUE(engine.lastDownloadComplete());
        EXPECT_FALSE(view.TimerRunning(kDownloadTimer)) << "a complete download stops the watch";
    }
}

TEST_F(MeterEngineTest, PairingTimesOutUnlessAWholeAcknowledgementArrives) {
    struct Case {
        std::vector<std::vector<uint8_t>> chunks;
        bool failed;
    };
    const Case cases[] = {
        {{{0x05, 0x11, 0x22, 0x4C}}, false},
        {{{0x05, 0x11}, {0x22, 0x4C}}, true}, // split across two chunks: not recognised
        {{}, true},
    };
    for (const auto& c : cases) {
        view_.messages.clear();
        view_.statuses.clear();
        state_.Pair();
        EXPECT_TRUE(view_.TimerRunning(kPairTimer));
        EXPECT_FALSE(state_.paired());
        // The status bar counts the seconds down.
        EXPECT_EQ(view_.statuses.back(), u"Pairing... (30 s)");
        EXPECT_EQ(view_.timers[kPairCountdownTimer], 1000);
        state_.OnTimer(kPairCountdownTimer);
        EXPECT_EQ(view_.statuses.back(), u"Pairing... (29 s)");
        for (const auto& chunk : c.chunks)
            state_.ReceiveChunk(chunk.data(), static_cast<int>(chunk.size()));
        if (!c.failed) {
            EXPECT_FALSE(view_.TimerRunning(kPairTimer));
            EXPECT_FALSE(view_.TimerRunning(kPairCountdownTimer));
            EXPECT_EQ(view_.statuses.back(), u"Paired.");
        }
        state_.OnTimer(kPairTimer); // 30 s later
        EXPECT_FALSE(view_.TimerRunning(kPairTimer));
        EXPECT_FALSE(view_.TimerRunning(kPairCountdownTimer));
        if (c.failed) {
            EXPECT_EQ(view_.statuses.back(), u"Not paired.");
            ASSERT_EQ(view_.messages.size(), 1u);
            EXPECT_EQ(view_.messages[0], u"Pair failed! Make sure the meter is opened and sending data!");
        } else {
            EXPECT_TRUE(view_.messages.empty());
        }
    }
}

TEST_F(MeterEngineTest, ScanTakesOnlyExactDescriptionsAndAtMostAHundred) {
    inventory_.ports = std::vector<SerialPortInfo>{
        {kReceiverDescription, "COM7", ""},
        {"Silicon Labs CP210x USB to UART Bridge (COM9)", "COM9", ""},
        {"silicon labs cp210x usb to uart bridge", "COM10", ""},
        {"Communications Port", "COM1", ""},
        {kReceiverDescription, "COM123", ""},
    };
    state_.ScanReceivers();
    ASSERT_EQ(state_.portList().size(), 2u);
    EXPECT_EQ(state_.portList()[0].portNumber, 7);
    EXPECT_EQ(state_.portList()[1].portNumber, 123);
    EXPECT_EQ(state_.portList()[1].label, u"Multimeter");
    ASSERT_EQ(view_.tree.size(), 2u);
    EXPECT_EQ(view_.tree[0].label, u"Multimeter");
    EXPECT_FALSE(view_.TimerRunning(kConnectTimer)) << "nothing is opened without a connection";

    inventory_.ports->assign(130, SerialPortInfo{kReceiverDescription, "COM1", ""});
    state_.ScanReceivers();
    EXPECT_EQ(state_.portList().size(), 100u);

    inventory_.ports = std::nullopt; // the inventory cannot be reached: nothing changes
    const int treeShown = view_.treeShown;
    state_.ScanReceivers();
    EXPECT_EQ(state_.portList().size(), 100u);
    EXPECT_EQ(view_.treeShown, treeShown + 1) << "the previous successful scan still shows the tree page";
}

TEST_F(MeterEngineTest, ReconnectWithoutSettingsTriesComThreeAndSaysSo) {
    state_.Reconnect();
    ASSERT_EQ(state_.portList().size(), 1u);
    EXPECT_EQ(state_.portList()[0].portNumber, 3);
    ASSERT_EQ(view_.messages.size(), 1u);
    EXPECT_EQ(toUtf8(view_.messages[0]).substr(0, 25), "Warning:Can't open COM3!");
    EXPECT_TRUE(state_.connectedLabel().empty());
    EXPECT_FALSE(state_.canPair());
    EXPECT_EQ(view_.panelShown, 1);
}

TEST_F(MeterEngineTest, DoubleClickOnTheConnectedItemDoesNothing) {
    inventory_.ports = std::vector<SerialPortInfo>{{kReceiverDescription, "COM250", ""}};
    state_.ScanReceivers();
    ASSERT_EQ(view_.tree.size(), 1u);
    const int item = view_.tree[0].id;
    state_.OnReceiverDoubleClicked(item); // /dev/ttyUSB249 cannot be opened here
    EXPECT_EQ(view_.messages.size(), 1u);
    EXPECT_EQ(view_.panelShown, 1) << "the panel is shown whether or not the open succeeded";
    state_.OnReceiverDoubleClicked(item + 1000); // unknown item: ignored
    EXPECT_EQ(view_.panelShown, 1);
}

} // namespace
} // namespace calvora
