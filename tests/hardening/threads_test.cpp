// The reader thread against the user-interface thread: the synchronous hand-off under load, Close
// during traffic, the receiver vanishing during a hand-off and during Close. Meant for ThreadSanitizer
// as much as for the assertions.
#include "app/meter_engine.h"
#include "app/sync_hand_off.h"
#include "protocol/text.h"
#include "recording/recording_document.h"
#include "tests/engine/fake_view.h"
#include "tests/hardening/hardening_support.h"
#include "tests/link/link_test_support.h"
#include "tests/support/simulator_process.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace calvora {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::FakeInventory;
using testing::FakeView;
using testing::PseudoTerminal;
using testing::ScratchFolder;
using testing::SimulatorProcess;

TEST(HandOffUnderLoad, EveryAcceptedTaskRunsOnceAndNoRefusedTaskRuns) {
    constexpr int kSenders = 4;
    constexpr int kTasks = 1500;
    SyncHandOff handOff;
    std::vector<std::vector<int>> ran(kSenders, std::vector<int>(kTasks, 0)); // touched by the UI thread only
    std::vector<std::vector<char>> accepted(kSenders, std::vector<char>(kTasks, 0));
    std::atomic<int> sendersLeft{kSenders};
    std::atomic<bool> toggling{true};

    std::vector<std::thread> senders;
    for (int s = 0; s < kSenders; ++s) {
        senders.emplace_back([&, s] {
            for (int t = 0; t < kTasks; ++t)
                accepted[s][t] = handOff.Send([&, s, t] { ++ran[s][t]; });
            --sendersLeft;
        });
    }
    // Closing and reopening from a third thread, as a port being closed and opened again does.
    std::thread toggler([&] {
        for (int i = 0; toggling; ++i) {
            if (i % 50 == 0) {
                handOff.Close();
                handOff.Open();
            }
            std::this_thread::yield();
        }
    });
    const auto deadline = Clock::now() + 60s;
    while (sendersLeft > 0 && Clock::now() < deadline)
        handOff.WaitAndRun(1ms);
    toggling = false;
    toggler.join();
    ASSERT_EQ(sendersLeft, 0) << "a sender stayed blocked";
    for (auto& sender : senders)
        sender.join();
    handOff.RunPending();

    int refused = 0;
    for (int s = 0; s < kSenders; ++s) {
        for (int t = 0; t < kTasks; ++t) {
            ASSERT_EQ(ran[s][t], accepted[s][t] ? 1 : 0) << "sender " << s << " task " << t;
            refused += !accepted[s][t];
        }
    }
    std::cout << refused << " of " << kSenders * kTasks << " tasks refused by a closed hand-off\n";
}

class EngineThreadsTest : public ::testing::Test {
protected:
    EngineThreadsTest()
        : settings_((folder_ / "ZAZEDOVADIZO.ini").string()), state_(view_, inventory_, settings_, [this] {
              std::lock_guard lock(mutex_);
              ++wakes_;
              woken_.notify_all();
          }) {
        view_.state = &state_.documents();
    }
    ~EngineThreadsTest() override { state_.ClosePort(); }

    bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds bound) {
        const auto deadline = Clock::now() + bound;
        while (!done()) {
            if (Clock::now() >= deadline)
                return false;
            const int ran = state_.handOff().WaitAndRun(5ms);
            {
                std::lock_guard lock(mutex_);
                ran_ += ran;
            }
            state_.PollReaderEnd();
        }
        return true;
    }
    // Waits, without running it, until the reader has a hand-off queued.
    bool WaitForPending(std::chrono::milliseconds bound) {
        std::unique_lock lock(mutex_);
        return woken_.wait_for(lock, bound, [&] { return wakes_ > ran_; });
    }
    // After a Close the hand-offs it released are never run.
    void ForgetPending() {
        std::lock_guard lock(mutex_);
        ran_ = wakes_;
    }

    ScratchFolder folder_;
    FakeView view_;
    FakeInventory inventory_;
    SettingsFile settings_;
    std::mutex mutex_;
    std::condition_variable woken_;
    int wakes_ = 0;
    int ran_ = 0;
    MeterEngine state_;
};

TEST_F(EngineThreadsTest, CloseDuringTrafficIsQuickAndTheNextOpenCarriesOn) {
    SimulatorProcess simulator({"--rate", "5000", "--split", "0.05", "--garbage", "0.1"});
    ASSERT_FALSE(simulator.devicePath().empty());
    state_.SelectCaptureSource();
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE(round);
        const PortOutcome<> opened = state_.OpenDevice(simulator.devicePath());
        ASSERT_TRUE(opened) << toUtf8(opened.reason());
        if (round == 1)
            state_.StartRecordingOf(kMaxPlannedSamples);
        const size_t before = view_.readings.size();
        ASSERT_TRUE(RunUntil([&] { return view_.readings.size() >= before + 100; }, 10000ms));
        // Half the rounds close while a hand-off is queued and not yet run.
        if (round % 2 == 0) {
            ASSERT_TRUE(WaitForPending(2000ms));
        }
        const auto start = Clock::now();
        state_.ClosePort();
        ForgetPending();
        EXPECT_LT(Clock::now() - start, 1500ms);
        EXPECT_FALSE(state_.port().isOpen());
    }
    ASSERT_NE(state_.documents().recordingDocument, nullptr);
    EXPECT_GE(state_.documents().recordingDocument->sampleCount(), 400u);
}

// The main window holds the hand-off (a reading is being shown) when the receiver is pulled.
class UnpluggingView : public FakeView {
public:
    void ShowLiveReading(const LiveReading& reading) override {
        FakeView::ShowLiveReading(reading);
        if (readings.size() != 3)
            return;
        std::unique_lock lock(mutex);
        pull = true;
        changed.notify_all();
        changed.wait_for(lock, 5s, [&] { return pulled; });
    }
    // The meter's side: sends until the view asks for the pull, then hangs up.
    void Meter(PseudoTerminal& terminal) {
        for (uint16_t i = 0;; ++i) {
            std::unique_lock lock(mutex);
            if (changed.wait_for(lock, 2ms, [&] { return pull; }))
                break;
            lock.unlock();
            if (!terminal.Send(testing::LiveFrame(i)))
                break;
        }
        terminal.Hangup();
        std::lock_guard lock(mutex);
        pulled = true;
        changed.notify_all();
    }
    void Release() {
        std::lock_guard lock(mutex);
        pull = true;
        changed.notify_all();
    }

    std::mutex mutex;
    std::condition_variable changed;
    bool pull = false;
    bool pulled = false;
};

TEST(EngineUnplug, ReceiverPulledDuringAHandOffEndsTheRecordingAndKeepsItsSamples) {
    ScratchFolder folder;
    PseudoTerminal terminal;
    UnpluggingView view;
    FakeInventory inventory;
    SettingsFile settings((folder / "ZAZEDOVADIZO.ini").string());
    MeterEngine state(view, inventory, settings);
    const PortOutcome<> opened = state.OpenDevice(terminal.slavePath());
    ASSERT_TRUE(opened) << toUtf8(opened.reason());
    state.StartRecordingOf(100);

    std::thread meter([&] { view.Meter(terminal); });
    bool removed = false;
    const auto deadline = Clock::now() + 10s;
    while (!removed && Clock::now() < deadline) {
        state.handOff().WaitAndRun(5ms);
        removed = state.PollReaderEnd();
    }
    view.Release();
    meter.join();
    ASSERT_TRUE(removed) << "the vanished receiver was not noticed";
    EXPECT_FALSE(state.documents().recording);
    EXPECT_TRUE(view.TimerRunning(kRescanTimer));
    const RecordingDocument* document = state.documents().recordingDocument;
    ASSERT_NE(document, nullptr);
    EXPECT_EQ(document->sampleCount(), view.readings.size());
    EXPECT_GE(document->sampleCount(), 3u);

    // Writing to the vanished receiver fails at once instead of waiting out the write bound.
    const auto start = Clock::now();
    state.Pair();
    EXPECT_LT(Clock::now() - start, 500ms);
    state.ClosePort();
    EXPECT_LT(Clock::now() - start, 1000ms);
}

TEST_F(EngineThreadsTest, ReceiverVanishingWhileCloseReleasesAWaitingReader) {
    PseudoTerminal terminal;
    const PortOutcome<> opened = state_.OpenDevice(terminal.slavePath());
    ASSERT_TRUE(opened) << toUtf8(opened.reason());
    ASSERT_TRUE(terminal.Send(testing::LiveFrame(42)));
    // The reader now waits for this thread, which is busy elsewhere when the receiver goes.
    ASSERT_TRUE(WaitForPending(3000ms));
    terminal.Hangup();
    const auto start = Clock::now();
    state_.ClosePort();
    EXPECT_LT(Clock::now() - start, 1000ms);
    EXPECT_TRUE(view_.readings.empty()) << "a frame released by Close is never shown afterwards";
    state_.handOff().RunPending();
    EXPECT_TRUE(view_.readings.empty());
}

} // namespace
} // namespace calvora
