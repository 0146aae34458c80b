#include "link/receiver_port.h"
#include "protocol/frame_assembler.h"
#include "protocol/text.h"
#include "tests/link/link_test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <functional>
#include <thread>

namespace calvora::testing {
namespace {

Bytes Sequence(size_t count, uint8_t first = 1) {
    Bytes bytes(count);
    for (size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<uint8_t>(first + i);
    return bytes;
}

struct OpenLine {
    PseudoTerminal terminal;
    ChunkCollector collector; // outlives the port, whose reader calls it until Close
    ReceiverPort port;

    explicit OpenLine(bool withCallback = true) {
        const PortOutcome<> opened = OpenMeterLine(port, terminal.slavePath());
        EXPECT_TRUE(opened) << toUtf8(opened.reason());
        if (withCallback)
            port.SetReceiveCallback(&ChunkCollector::Receive, &collector);
    }
};

TEST(ReceiverPort, ChunksCompleteOnSizeOrSilence) {
    struct Case {
        int32_t chunkSize;
        size_t sent;
        std::vector<size_t> expected;
    };
    const Case cases[] = {
        {kReceiveChunkSize, 19, {19}}, // the engine's size, arriving at once
        {kReceiveChunkSize, 5, {5}},   // a short burst, completed by silence
        {kInitialChunkSize, 30, {14, 14, 2}},
        {kMaxChunkSize, 300, {300}},
    };
    for (const auto& c : cases) {
        OpenLine line;
        if (c.chunkSize != kInitialChunkSize) {
            ASSERT_TRUE(line.port.SetChunkSize(c.chunkSize));
        }
        const Bytes sent = Sequence(c.sent);
        const auto sentAt = Clock::now();
        ASSERT_TRUE(line.terminal.Send(sent));
        ASSERT_TRUE(line.collector.WaitForChunks(c.expected.size(), 3000ms)) << c.sent;
        const auto chunks = line.collector.chunks();
        ASSERT_EQ(chunks.size(), c.expected.size()) << c.sent;
        for (size_t i = 0; i < chunks.size(); ++i)
            EXPECT_EQ(chunks[i].bytes.size(), c.expected[i]) << c.sent << " chunk " << i;
        EXPECT_EQ(line.collector.all(), sent);
        if (c.expected.back() < static_cast<size_t>(c.chunkSize)) {
            // A short chunk is only complete once the line has been quiet for the read interval.
            EXPECT_GE(chunks.back().at - sentAt, std::chrono::milliseconds(kReadIntervalMs - 5)) << c.sent;
        }
    }
}

TEST(ReceiverPort, BytesBeforeTheCallbackAreDropped) {
    OpenLine line(false);
    ASSERT_TRUE(line.terminal.Send(Sequence(7, 0x40)));
    ASSERT_TRUE(WaitUntil([&] { return line.port.readerThread()->chunksRead() >= 1; }, 3000ms));

    line.port.SetReceiveCallback(&ChunkCollector::Receive, &line.collector);
    ASSERT_TRUE(line.terminal.Send(Sequence(3, 0x70)));
    ASSERT_TRUE(line.collector.WaitForChunks(1, 3000ms));
    EXPECT_EQ(line.collector.all(), Sequence(3, 0x70));
}

TEST(ReceiverPort, ChunkSizeLimits) {
    ReceiverPort closed;
    EXPECT_FALSE(closed.SetChunkSize(19));
    OpenLine line;
    EXPECT_EQ(line.port.readerThread()->chunkSize(), kInitialChunkSize);
    EXPECT_FALSE(line.port.SetChunkSize(0));
    EXPECT_FALSE(line.port.SetChunkSize(kMaxChunkSize + 1));
    EXPECT_TRUE(line.port.SetChunkSize(kMaxChunkSize));
    EXPECT_EQ(line.port.readerThread()->chunkSize(), kMaxChunkSize);
}

TEST(ReceiverPort, WriteReachesTheDeviceAndFailsWhenNotOpen) {
    const Bytes request{0x05, 0x4C, 0x4B, 0x08, 0x00, 0x00};
    ReceiverPort never;
    EXPECT_EQ(never.Write(request.data(), 6).kind(), EBADF);

    OpenLine line;
    const PortOutcome<> written = line.port.Write(request.data(), 6);
    EXPECT_TRUE(written) << toUtf8(written.reason());
    EXPECT_EQ(line.terminal.Receive(6, 2000ms), request);

    line.port.Close();
    EXPECT_FALSE(line.port.isOpen());
    EXPECT_EQ(line.port.Write(request.data(), 6).reason(), u"The port is not open.");
}

TEST(ReceiverPort, CloseCompletesQuicklyInEveryState) {
    const auto quick = 500ms;
    ReceiverPort never;
    auto start = Clock::now();
    never.Close();
    never.Close();
    EXPECT_LT(Clock::now() - start, quick);

    OpenLine line;
    start = Clock::now();
    line.port.Close();
    line.port.Close();
    EXPECT_LT(Clock::now() - start, quick);
    EXPECT_TRUE(line.port.closing());

    // The device can be opened again: the lock and the exclusive flag went with the close.
    const PortOutcome<> reopened = OpenMeterLine(line.port, line.terminal.slavePath());
    EXPECT_TRUE(reopened) << toUtf8(reopened.reason());
    EXPECT_FALSE(line.port.closing());
}

TEST(ReceiverPort, ReaderEndsOnHangUpAndThePortStaysOpenUntilClose) {
    OpenLine line;
    line.terminal.Hangup();
    ReaderThread* reader = line.port.readerThread();
    ASSERT_TRUE(reader->WaitExited(3000ms));
    EXPECT_EQ(reader->endReason(), ReaderEnd::HangUp);
    EXPECT_TRUE(line.port.isOpen());

    const Bytes request{0x05, 0x4C, 0x4B, 0x08, 0x00, 0x00};
    const auto start = Clock::now();
    EXPECT_EQ(line.port.Write(request.data(), 6).kind(), EIO);
    line.port.Close();
    EXPECT_LT(Clock::now() - start, 500ms);
    EXPECT_FALSE(line.port.isOpen());
}

TEST(ReceiverPort, OpenFailsOnAHeldDeviceAndReportsWhy) {
    OpenLine line;
    ReceiverPort second;
    const PortOutcome<> opened = OpenMeterLine(second, line.terminal.slavePath());
    ASSERT_FALSE(opened);
    EXPECT_FALSE(second.isOpen());
    EXPECT_EQ(opened.kind(), EBUSY);
    EXPECT_NE(toUtf8(opened.reason()).find(line.terminal.slavePath()), std::string::npos);
    EXPECT_FALSE(second.Write(Sequence(2).data(), 2));
    second.Close();
}

// The owner's thread, modelled: the callback hands each chunk over synchronously and waits until the
// owner has handled it, as the main window's receive routine does.
struct SynchronousOwner {
    ReceiverPort* port = nullptr;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<int32_t> requests;
    int32_t handled = 0;
    bool checkClosing = true;

    static void Receive(void* context, const uint8_t*, int32_t count) {
        auto* self = static_cast<SynchronousOwner*>(context);
        if (self->checkClosing && self->port->closing())
            return;
        std::unique_lock lock(self->mutex);
        self->requests.push_back(count);
        self->changed.notify_all();
        // Bounded so a broken test cannot hang the suite.
        self->changed.wait_for(lock, 10s, [&] { return self->requests.empty(); });
    }
    void Serve() {
        std::lock_guard lock(mutex);
        handled += static_cast<int32_t>(requests.size());
        requests.clear();
        changed.notify_all();
    }
    bool WaitForRequest(std::chrono::milliseconds bound) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, bound, [&] { return !requests.empty(); });
    }
};

TEST(ReceiverPort, CloseServesAHandOffInFlight) {
    OpenLine line(false);
    SynchronousOwner owner;
    owner.port = &line.port;
    line.port.SetReceiveCallback(&SynchronousOwner::Receive, &owner);
    ASSERT_TRUE(line.terminal.Send(Sequence(14)));
    ASSERT_TRUE(owner.WaitForRequest(3000ms));

    const auto start = Clock::now();
    line.port.Close([&] { owner.Serve(); });
    EXPECT_LT(Clock::now() - start, 1000ms);
    EXPECT_EQ(owner.handled, 1);
}

TEST(ReceiverPort, CloseWinsOverAStreamingDevice) {
    OpenLine line;
    line.port.SetChunkSize(1);
    std::atomic<bool> sending{true};
    std::thread meter([&] {
        while (sending)
            line.terminal.Send(Sequence(16));
    });
    ASSERT_TRUE(line.collector.WaitForChunks(50, 3000ms));
    const auto start = Clock::now();
    line.port.Close();
    const auto took = Clock::now() - start;
    sending = false;
    meter.join();
    EXPECT_LT(took, 500ms);
}

TEST(ReceiverPort, CloseIsBoundedByAStuckCallbackAndTheDeviceIsReleasedLater) {
    OpenLine line(false);
    SynchronousOwner owner;
    owner.port = &line.port;
    owner.checkClosing = false; // a callback that breaks the contract
    line.port.SetReceiveCallback(&SynchronousOwner::Receive, &owner);
    ASSERT_TRUE(line.terminal.Send(Sequence(14)));
    ASSERT_TRUE(owner.WaitForRequest(3000ms));

    const auto start = Clock::now();
    line.port.Close();
    const auto took = Clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(kCloseJoinBoundMs - 100));
    EXPECT_LT(took, std::chrono::milliseconds(kCloseJoinBoundMs + 1000));
    EXPECT_FALSE(line.port.isOpen());

    // Once the callback returns, the reader ends and gives the device back.
    owner.Serve();
    ReceiverPort again;
    PortOutcome<> reopened;
    EXPECT_TRUE(WaitUntil(
        [&] {
            reopened = OpenMeterLine(again, line.terminal.slavePath());
            return static_cast<bool>(reopened);
        },
        3000ms))
        << toUtf8(reopened.reason());
}

// Swapping the callback while chunks arrive never pairs a callback with another callback's context.
struct Tagged {
    int tag;
    std::atomic<int> calls{0};
    std::atomic<int> mismatches{0};
};
template <int Tag> void TaggedReceive(void* context, const uint8_t*, int32_t) {
    auto* target = static_cast<Tagged*>(context);
    ++target->calls;
    if (target->tag != Tag)
        ++target->mismatches;
}

TEST(ReceiverPort, CallbackAndContextAlwaysArriveTogether) {
    OpenLine line(false);
    line.port.SetChunkSize(1);
    Tagged first{1};
    Tagged second{2};
    std::atomic<bool> sending{true};
    std::thread meter([&] {
        while (sending)
            line.terminal.Send(Sequence(8));
    });
    for (int i = 0; i < 5000; ++i) {
        if (i % 2)
            line.port.SetReceiveCallback(&TaggedReceive<1>, &first);
        else
            line.port.SetReceiveCallback(&TaggedReceive<2>, &second);
    }
    ASSERT_TRUE(WaitUntil([&] { return first.calls + second.calls > 0; }, 3000ms));
    sending = false;
    meter.join();
    line.port.Close();
    EXPECT_EQ(first.mismatches + second.mismatches, 0);
}

} // namespace
} // namespace calvora::testing
