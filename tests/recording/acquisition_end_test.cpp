// What the engine keeps of what arrives: how a live recording ends (and says why), and what a
// stored-log block copies into the download.
#include "app/meter_engine.h"
#include "protocol/frame_builder.h"
#include "protocol/text.h"
#include "recording/recording_document.h"
#include "tests/engine/fake_view.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

namespace calvora {
namespace {

using testing::FakeInventory;
using testing::FakeView;

constexpr uint8_t kVdc = 0x01;
constexpr uint8_t kRange1 = 0x01; // divisor 10000 for volts

class AcquisitionTest : public ::testing::Test {
protected:
    AcquisitionTest()
        : folder_(std::filesystem::temp_directory_path() /
                  ("calvora-acquisition-" + std::to_string(::getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name())),
          settings_((folder_ / "ZAZEDOVADIZO.ini").string()), engine_(view_, inventory_, settings_) {
        view_.state = &engine_.documents();
        inventory_.ports = std::vector<SerialPortInfo>{{kReceiverDescription, "COM5", ""}};
        engine_.ScanReceivers(); // a "Multimeter" is selected, so live frames are handed on
    }
    ~AcquisitionTest() override { std::filesystem::remove_all(folder_); }

    // One whole frame per chunk, so every frame is handed on as it arrives.
    void Frame(const std::vector<uint8_t>& frame) {
        engine_.ReceiveChunk(frame.data(), static_cast<int>(frame.size()));
    }
    void Reading(uint16_t magnitude = 12345) {
        const auto frame = MakeLiveFrame(magnitude, kRange1, kVdc, 0);
        Frame({frame.begin(), frame.end()});
    }
    uint32_t Recorded() const {
        const RecordingDocument* document = engine_.documents().recordingDocument;
        return document ? document->sampleCount() : 0;
    }
    std::string EndMessage(uint32_t planned) const {
        return toUtf8(RecordingEndMessage(Recorded(), planned, engine_.documents().recordingEnd));
    }

    std::filesystem::path folder_;
    FakeView view_;
    FakeInventory inventory_;
    SettingsFile settings_;
    MeterEngine engine_;
};

// Exactly the planned count ends the recording at its last sample, not at the reading after it.
TEST_F(AcquisitionTest, ARecordingFedExactlyItsPlannedCountEndsAtItsLastSample) {
    for (const uint32_t planned : {1u, 2u, 7u}) {
        SCOPED_TRACE(planned);
        engine_.StartRecordingOf(planned);
        EXPECT_EQ(engine_.documents().recordingEnd, RecordingEnd::None);
        for (uint32_t i = 1; i < planned; ++i) {
            Reading();
            ASSERT_TRUE(engine_.documents().recording) << "after " << i;
        }
        Reading();
        EXPECT_FALSE(engine_.documents().recording);
        EXPECT_EQ(Recorded(), planned);
        EXPECT_EQ(engine_.documents().recordingEnd, RecordingEnd::PlannedCount);
        EXPECT_EQ(EndMessage(planned), "");
        // A later Stop (the command-line tool always stops) keeps the reason.
        engine_.StopRecording();
        EXPECT_EQ(engine_.documents().recordingEnd, RecordingEnd::PlannedCount);
    }
}

TEST_F(AcquisitionTest, AnEarlyEndSaysHowFarItGotAndWhy) {
    struct Case {
        const char* name;
        std::function<void()> end;
        RecordingEnd expected;
        const char* message;
    };
    const Case cases[] = {
        {"Stop Recording", [&] { engine_.StopRecording(); }, RecordingEnd::Stopped,
         "stopped after 3 of 10 samples: Stop Recording was chosen"},
        {"receiver removed", [&] { engine_.OnDeviceRemoved(); }, RecordingEnd::ReceiverRemoved,
         "stopped after 3 of 10 samples: the receiver was removed"},
        {"download begins", [&] { Frame(MakeMemoryHeader(2)); }, RecordingEnd::DownloadStarted,
         "stopped after 3 of 10 samples: a stored-log download began"},
        {"end of a capture", [&] { engine_.StopRecording(RecordingEnd::EndOfInput); },
         RecordingEnd::EndOfInput, "stopped after 3 of 10 samples: end of input"},
        {"Ctrl+C", [&] { engine_.StopRecording(RecordingEnd::Interrupted); }, RecordingEnd::Interrupted,
         "stopped after 3 of 10 samples: interrupted"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        engine_.AbandonDownload(); // a case before may have begun one
        engine_.StartRecordingOf(10);
        for (int i = 0; i < 3; ++i)
            Reading();
        c.end();
        EXPECT_FALSE(engine_.documents().recording);
        EXPECT_EQ(engine_.documents().recordingEnd, c.expected);
        EXPECT_EQ(EndMessage(10), c.message);
        // Only the first reason counts: a Stop after the removal does not rename it.
        engine_.StopRecording(RecordingEnd::Interrupted);
        EXPECT_EQ(engine_.documents().recordingEnd, c.expected);
    }
}

TEST_F(AcquisitionTest, ClosingTheLiveDocumentEndsItsRecording) {
    engine_.StartRecordingOf(10);
    Reading();
    RecordingDocument* document = engine_.documents().recordingDocument;
    ASSERT_NE(document, nullptr);
    engine_.OnDocumentDestroyed(*document);
    EXPECT_FALSE(engine_.documents().recording);
    EXPECT_EQ(engine_.documents().recordingEnd, RecordingEnd::DocumentClosed);
}

// A block declaring more payload bytes than it carries copies what it carries and nothing after it.
TEST_F(AcquisitionTest, ABlockDeclaringMoreThanItsPayloadCopiesOnlyThePayload) {
    std::vector<uint8_t> records;
    for (int i = 0; i < 20; ++i) {
        const auto magnitude = static_cast<uint16_t>(1000 + i);
        records.insert(records.end(), {static_cast<uint8_t>(magnitude >> 8),
                                       static_cast<uint8_t>(magnitude & 0xFF), kRange1, kVdc});
    }
    Frame(MakeMemoryHeader(20));
    Frame(MakeMemoryBlock(2, {records.begin() + 40, records.end()}));
    auto first = MakeMemoryBlock(1, {records.begin(), records.begin() + 40});
    first[5] = 0;
    first[6] = 60; // 42 bytes follow the length in a 49-byte block
    Frame(first);
    Frame(MakeMemoryTail(3, {}));
    Frame(MakeMemoryTail(3, {}));

    const RecordingDocument* log = engine_.documents().downloadDocument;
    ASSERT_NE(log, nullptr);
    ASSERT_EQ(log->sampleCount(), 20u);
    for (uint32_t row = 0; row < 20; ++row) {
        SCOPED_TRACE(row);
        // Record 10 starts with the block's two trailing bytes (zero), the 41st and 42nd it carries.
        const float expected = row == 10 ? 0.0f : static_cast<float>(1000 + row) / 10000;
        EXPECT_FLOAT_EQ(log->value(row, 0), expected);
    }
}

} // namespace
} // namespace calvora
