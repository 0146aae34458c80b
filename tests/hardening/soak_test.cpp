// Soak: one long-running engine against calvora-sim at its highest rate with garbage, split frames and
// dropped bytes, the receiver pulled and plugged in again every few seconds (a new simulator each
// time), and stored-log downloads in the middle of recordings. CALVORA_SOAK_SECONDS sets the length
// (25 s by default, the CI version); scripts/soak.sh runs it longer on an unsanitised build.
#include "app/meter_engine.h"
#include "recording/recording_document.h"
#include "tests/engine/fake_view.h"
#include "tests/hardening/hardening_support.h"
#include "tests/support/simulator_process.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define CALVORA_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define CALVORA_SANITIZED 1
#endif
#endif

namespace calvora {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::ScratchFolder;
using testing::SimulatorProcess;

// Counts what the engine hands on instead of keeping it, so the view itself stays flat.
class CountingView final : public EngineView {
public:
    void StartTimer(int id, int) override { timers.insert(id); }
    void StopTimer(int id) override { timers.erase(id); }
    RecordingDocument* CreateDocumentWindow() override {
        documents.push_back(std::make_unique<RecordingDocument>());
        return documents.back().get();
    }
    bool SaveDocument(RecordingDocument&) override { return false; }
    bool AskPlannedSamples(uint32_t&) override { return false; }
    bool AskYesNo(const std::u16string&) override { return false; }
    void ShowMessage(const std::u16string&, MessageIcon) override { ++messages; }
    void ShowLiveReading(const LiveReading&) override { ++readings; }
    bool progressOpen() const override { return progress; }
    void OpenProgress(int) override { progress = true; }
    void CloseProgress() override { progress = false; }

    std::set<int> timers;
    std::vector<std::unique_ptr<RecordingDocument>> documents;
    uint64_t readings = 0;
    int messages = 0;
    bool progress = false;
};

double ResidentMiB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return static_cast<double>(resident) * static_cast<double>(::sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

int Setting(const char* name, int fallback) {
    const char* value = std::getenv(name);
    return value && std::atoi(value) > 0 ? std::atoi(value) : fallback;
}

TEST(Soak, TheEngineKeepsRunningThroughFaultsUnplugsAndDownloadsAndItsMemoryStaysFlat) {
    const int seconds = Setting("CALVORA_SOAK_SECONDS", 25);
    const std::string rate = std::to_string(Setting("CALVORA_SOAK_RATE", 10000));
    constexpr double kPlugSeconds = 4;

    ScratchFolder folder;
    CountingView view;
    testing::FakeInventory inventory;
    SettingsFile settings((folder / "ZAZEDOVADIZO.ini").string());
    MeterEngine state(view, inventory, settings);
    int downloads = 0;
    state.SetDownloadObserver([&](const RecordingDocument&) { ++downloads; });

    const auto end = Clock::now() + std::chrono::seconds(seconds);
    double baseline = 0;
    size_t baselineDocuments = 0;
    int cycles = 0;
    int downloadsAsked = 0;
    while (Clock::now() < end || cycles < 2) {
        // Splits are rare: the simulator pauses between the two pieces, and often would slow the stream.
        SimulatorProcess simulator({"--rate", rate, "--garbage", "0.05", "--split", "0.01", "--drop",
                                    "0.0005", "--seed", std::to_string(cycles + 1), "--unplug-after",
                                    std::to_string(kPlugSeconds)});
        ASSERT_FALSE(simulator.devicePath().empty()) << "cycle " << cycles;
        ASSERT_TRUE(state.OpenDevice(simulator.devicePath())) << "cycle " << cycles;
        const uint64_t readingsBefore = view.readings;
        const auto plugged = Clock::now();
        bool asked = false;
        bool removed = false;
        while (!removed && Clock::now() - plugged < std::chrono::duration<double>(kPlugSeconds + 5)) {
            // A recording always runs; a download in the middle of it ends it, the next turn starts another.
            if (!state.documents().recording && !state.downloading())
                state.StartRecordingOf(kMaxPlannedSamples);
            if (!asked && Clock::now() - plugged > 1500ms) {
                asked = simulator.process().Write("log 60\n");
                downloadsAsked += asked;
            }
            state.handOff().WaitAndRun(5ms);
            removed = state.PollReaderEnd();
        }
        ASSERT_TRUE(removed) << "the pulled receiver was not noticed in cycle " << cycles;
        state.ClosePort();
        if (view.timers.count(kRescanTimer))
            state.OnTimer(kRescanTimer);
        ASSERT_GT(view.readings, readingsBefore)
            << "the engine stopped handing on readings in cycle " << cycles;
        ++cycles;
        if (cycles == 1) {
            baseline = ResidentMiB();
            for (const auto& document : view.documents)
                baselineDocuments += document->memoryBytes();
        }
    }
    const double final = ResidentMiB();
    size_t finalDocuments = 0;
    for (const auto& document : view.documents)
        finalDocuments += document->memoryBytes();

    std::printf("soak: %d s, %d plug cycles, %llu readings handed on, %d of %d downloads completed, "
                "resident memory %.1f MiB after the first cycle, %.1f MiB at the end\n",
                seconds, cycles, static_cast<unsigned long long>(view.readings), downloads, downloadsAsked,
                baseline, final);
    EXPECT_LE(view.documents.size(), 2u) << "one live and one download document, reused";
    EXPECT_LE(finalDocuments, baselineDocuments + 4 * 1024 * 1024);
#ifndef CALVORA_SANITIZED
    // A sanitizer's allocator keeps freed memory in quarantine: the bound means something only without.
    EXPECT_LT(final - baseline, 16.0) << "resident memory grew";
#endif
}

} // namespace
} // namespace calvora
