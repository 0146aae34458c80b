// Every seed and every input a fuzzer ever crashed on, replayed through the fuzz targets' own checks.
// A crash found by scripts/fuzz.sh goes into tests/hardening/crashes/<target>/ with a test of its own.
#include "fuzz/journal_harness.h"
#include "fuzz/record_file_harness.h"
#include "fuzz/settings_file_harness.h"
#include "fuzz/stream_harness.h"
#include "recording/recording_document.h"
#include "tests/engine/fake_view.h"
#include "tests/hardening/hardening_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace calvora {
namespace {

using Harness = bool (*)(const uint8_t*, size_t);

struct Target {
    std::string name;
    Harness holds;
};

const Target kTargets[] = {{"stream", &fuzz::StreamInputHolds},
                           {"record_file", &fuzz::RecordFileInputHolds},
                           {"settings_file", &fuzz::SettingsFileInputHolds},
                           {"journal", &fuzz::JournalInputHolds}};

TEST(FuzzRegressions, SeedsAndFormerCrashesHoldEveryRule) {
    const std::filesystem::path source = CALVORA_SOURCE_DIR;
    for (const Target& target : kTargets) {
        int replayed = 0;
        for (const auto& folder : {source / "fuzz" / "corpus" / target.name,
                                   source / "tests" / "hardening" / "crashes" / target.name}) {
            std::error_code error;
            for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
                std::ifstream in(entry.path(), std::ios::binary);
                const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                                 std::istreambuf_iterator<char>());
                EXPECT_TRUE(target.holds(bytes.data(), bytes.size())) << entry.path();
                ++replayed;
            }
        }
        EXPECT_GT(replayed, 0) << "no seeds for " << target.name;
    }
}

// Found by fuzz_stream: a recording started while a stored-log burst was in flight made the new live
// window the download's document too; the burst's end then overwrote the live samples.
TEST(FuzzRegressions, ARecordingStartedDuringADownloadKeepsItsOwnDocument) {
    testing::FakeView view;
    testing::FakeInventory inventory;
    SettingsFile settings("/nonexistent/calvora/ZAZEDOVADIZO.ini");
    MeterEngine state(view, inventory, settings);
    view.state = &state.documents();
    state.SelectCaptureSource();
    auto feed = [&](const std::vector<uint8_t>& bytes, size_t step) {
        for (size_t at = 0; at < bytes.size(); at += step)
            state.ReceiveChunk(bytes.data() + at, static_cast<int>(std::min(step, bytes.size() - at)));
    };
    const std::vector<uint8_t> burst = testing::Burst(25);
    feed({burst.begin(), burst.begin() + 9 + 49}, 9); // header and the first block
    ASSERT_TRUE(state.downloading());
    state.StartRecordingOf(3);
    RecordingDocument* live = state.documents().recordingDocument;
    ASSERT_NE(live, nullptr);
    EXPECT_EQ(live->title, u"RealTime Panel");
    EXPECT_EQ(state.documents().downloadDocument, nullptr);

    feed({burst.begin() + 9 + 49, burst.end()}, 9); // the rest of the burst, in 9-byte chunks
    ASSERT_NE(state.documents().downloadDocument, nullptr);
    EXPECT_NE(state.documents().downloadDocument, live);
    EXPECT_EQ(state.documents().downloadDocument->sampleCount(), 25u);
    for (uint16_t i = 0; i < 3; ++i)
        feed(testing::LiveFrame(static_cast<uint16_t>(700 + i)), 12);
    EXPECT_EQ(live->sampleCount(), 3u);
    EXPECT_EQ(live->title, u"RealTime Panel");
}

// Found by fuzz_settings_file: with the section in the file twice, the port went into the last one
// while the reader kept finding the old number in the first.
TEST(FuzzRegressions, WritingThePortChangesTheSectionTheReaderUses) {
    testing::ScratchFolder folder;
    const std::filesystem::path path = folder / "ZAZEDOVADIZO.ini";
    std::ofstream(path) << "[MultimeterCOMPORT]\nMultimeterPORTNUM=5\n[Other]\nkey=1\n"
                           "[MultimeterCOMPORT]\nMultimeterPORTNUM=6\n";
    const SettingsFile settings(path.string());
    EXPECT_EQ(settings.ReadPortNumber("Multimeter").value(), 5);
    ASSERT_TRUE(settings.WritePort("Multimeter", 7, "/dev/ttyUSB6"));
    EXPECT_EQ(settings.ReadPortNumber("Multimeter").value(), 7);
    EXPECT_EQ(settings.ReadDevicePath("Multimeter").value(), "/dev/ttyUSB6");
}

} // namespace
} // namespace calvora
