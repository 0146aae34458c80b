#include "protocol/frame_assembler.h"
#include "protocol/frame_builder.h"
#include "protocol/hex_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace calvora {
namespace {

using Bytes = std::vector<uint8_t>;

struct Event {
    enum Kind { Live, Memory, PairAck } kind;
    Bytes frame;
    bool operator==(const Event&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Event& e) {
    static const char* names[] = {"live", "memory", "pair-ack"};
    return out << names[e.kind] << ":" << ToHexText(e.frame.data(), e.frame.size());
}

class RecordingSink : public FrameSink {
public:
    void OnLiveFrame(const uint8_t* frame, int length) override {
        events.push_back({Event::Live, Bytes(frame, frame + length)});
    }
    void OnMemoryFrame(const uint8_t* frame, int length) override {
        events.push_back({Event::Memory, Bytes(frame, frame + length)});
    }
    void OnPairAcknowledged() override { events.push_back({Event::PairAck, {}}); }
    // Returns what arrived since the last call.
    std::vector<Event> Take() { return std::exchange(events, {}); }

    std::vector<Event> events;
};

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes Live(uint16_t magnitude) {
    const auto frame = MakeLiveFrame(magnitude, 0x01, 0x01, 0x00);
    return Bytes(frame.begin(), frame.end());
}

Event LiveEvent(const Bytes& frame) {
    return {Event::Live, frame};
}
Event MemoryEvent(const Bytes& frame) {
    return {Event::Memory, frame};
}

// Noise that holds no marker at any character position and no pairing lead byte.
Bytes Noise(size_t count) {
    return Bytes(count, 0x77);
}

Bytes Payload(size_t count, uint8_t first = 0x11) {
    Bytes payload(count);
    for (size_t i = 0; i < count; ++i)
        payload[i] = static_cast<uint8_t>(first + i);
    return payload;
}

const Bytes kAck = {0x05, 0x4C, 0x4B, 0x4C, 0x00, 0x00};

// The frame's hex text with one digit before and after it, so its marker starts inside a byte.
Bytes ShiftedByADigit(const Bytes& frame, char before, char after) {
    std::string text(1, before);
    text.append(ToHexText(frame.data(), frame.size())).push_back(after);
    return *HexTextToBytes(text);
}

class FrameAssemblerTest : public ::testing::Test {
protected:
    FrameAssemblerTest() { assembler.SetLiveFramesEnabled(true); }
    void Feed(const Bytes& chunk) { assembler.OnReceive(chunk.data(), static_cast<int>(chunk.size())); }
    // Feeds `stream` in the given chunk lengths; returns the events after each chunk.
    std::vector<std::vector<Event>> FeedSplit(const Bytes& stream, std::initializer_list<size_t> lengths) {
        std::vector<std::vector<Event>> perChunk;
        size_t at = 0;
        for (size_t length : lengths) {
            Feed(Bytes(stream.begin() + static_cast<long>(at),
                       stream.begin() + static_cast<long>(at + length)));
            perChunk.push_back(sink.Take());
            at += length;
        }
        EXPECT_EQ(at, stream.size());
        return perChunk;
    }

    RecordingSink sink;
    FrameAssembler assembler{sink};
};

TEST_F(FrameAssemblerTest, ChunkingSequences) {
    const Bytes a = Live(1), b = Live(2);
    const Bytes header = MakeMemoryHeader(25);
    const Bytes block = MakeMemoryBlock(1, Payload(40));
    const Bytes tail = MakeMemoryTail(3, Payload(3)); // L = 3, N = 12
    struct Case {
        const char* what;
        Bytes stream;
        std::initializer_list<size_t> chunks;
        std::vector<std::vector<Event>> expected; // per chunk
    };
    const Case cases[] = {
        {"live frame in three chunks, handed on with its last byte", a, {4, 5, 3}, {{}, {}, {LiveEvent(a)}}},
        {"two live frames in one chunk are both handed on at once",
         Cat({a, b}),
         {24},
         {{LiveEvent(a), LiveEvent(b)}}},
        {"noise before the marker is dropped", Cat({Noise(7), a}), {19}, {{LiveEvent(a)}}},
        {"a live frame drops the unfinished memory block before it",
         Cat({Bytes(block.begin(), block.begin() + 20), a, Bytes(block.begin() + 20, block.end())}),
         {20, 12, 29},
         {{}, {LiveEvent(a)}, {}}},
        {"a live marker in the same chunk drops even a finished memory frame",
         Cat({header, a}),
         {21},
         {{LiveEvent(a)}}},
        {"memory frames complete in separate chunks are all handed on",
         Cat({header, block, tail}),
         {9, 49, 12},
         {{MemoryEvent(header)}, {MemoryEvent(block)}, {MemoryEvent(tail)}}},
        {"two blocks in one chunk are both handed on at once",
         Cat({block, MakeMemoryBlock(2, Payload(8))}),
         {98},
         {{MemoryEvent(block), MemoryEvent(MakeMemoryBlock(2, Payload(8)))}}},
        {"a memory burst in one chunk comes out in order",
         Cat({header, block, tail, tail}),
         {9 + 49 + 12 + 12},
         {{MemoryEvent(header), MemoryEvent(block), MemoryEvent(tail), MemoryEvent(tail)}}},
        {"a live frame, a tail and a live frame in one chunk: the second round hands on the last",
         Cat({a, tail, b}),
         {36},
         {{LiveEvent(a), MemoryEvent(tail), LiveEvent(b)}}},
        {"a tail with L = 3 is handed on at its 12th byte", tail, {11, 1}, {{}, {MemoryEvent(tail)}}},
        {"a pairing acknowledgement chunk is not appended",
         Cat({Bytes(a.begin(), a.begin() + 5), kAck, Bytes(a.begin() + 5, a.end())}),
         {5, 6, 7},
         {{}, {{Event::PairAck, {}}}, {LiveEvent(a)}}},
        {"an acknowledgement split across chunks is missed and appended",
         Cat({kAck, a}),
         {2, 16},
         {{}, {LiveEvent(a)}}},
        {"an acknowledgement in a chunk of three bytes is missed",
         Cat({Bytes(kAck.begin(), kAck.begin() + 3), a}),
         {3, 12},
         {{}, {LiveEvent(a)}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RecordingSink fresh;
        FrameAssembler local(fresh);
        local.SetLiveFramesEnabled(true);
        size_t at = 0;
        size_t index = 0;
        for (size_t length : c.chunks) {
            local.OnReceive(c.stream.data() + at, static_cast<int>(length));
            EXPECT_EQ(fresh.Take(), c.expected[index]) << "after chunk " << index;
            at += length;
            ++index;
        }
        EXPECT_EQ(at, c.stream.size());
    }
}

// Back-to-back live frames, as a capture without the meter's pauses or a fast stream holds them: at
// every chunk size each frame is handed on with the chunk that completes it, none waits for a later
// chunk, and nothing is left over at the end of input.
TEST(FrameAssemblerBackToBack, EveryFrameIsHandedOnWithTheChunkThatCompletesIt) {
    constexpr size_t kFrames = 200;
    Bytes stream;
    std::vector<Event> expected;
    for (size_t i = 0; i < kFrames; ++i) {
        const Bytes frame = Live(static_cast<uint16_t>(i * 7));
        stream.insert(stream.end(), frame.begin(), frame.end());
        expected.push_back(LiveEvent(frame));
    }
    for (size_t chunk = 1; chunk <= 64; ++chunk) {
        SCOPED_TRACE("chunk size " + std::to_string(chunk));
        RecordingSink sink;
        FrameAssembler assembler(sink);
        assembler.SetLiveFramesEnabled(true);
        for (size_t at = 0; at < stream.size(); at += chunk) {
            const size_t end = std::min(at + chunk, stream.size());
            assembler.OnReceive(stream.data() + at, static_cast<int>(end - at));
            ASSERT_EQ(sink.events.size(), end / 12) << "after byte " << end;
        }
        EXPECT_EQ(sink.events, expected);
        EXPECT_TRUE(assembler.receiveText().empty());
    }
}

TEST_F(FrameAssemblerTest, ADroppedOversizedTailMarkerLetsTheFrameBehindItThroughAtOnce) {
    const Bytes oversized = MakeMemoryTail(2, Payload(60, 0x20)); // N = 69
    const Bytes next = MakeMemoryTail(3, Payload(2));
    Feed(Cat({Bytes(oversized.begin(), oversized.begin() + 7), next}));
    EXPECT_EQ(sink.Take(), std::vector<Event>{MemoryEvent(next)});
}

// An empty header cannot be consumed, so the rounds stop at it instead of spinning; frames queued
// behind it wait, up to the bound of the driver's input queue.
TEST_F(FrameAssemblerTest, FramesHeldUpByAnEmptyHeaderKeepABoundedBacklog) {
    const Bytes block = MakeMemoryBlock(1, Payload(40));
    Feed(Cat({Live(1), MakeMemoryHeader(0), block, block}));
    EXPECT_EQ(sink.Take(), std::vector<Event>{LiveEvent(Live(1))});
    Feed(block);
    EXPECT_TRUE(sink.Take().empty());
    size_t longest = 0;
    for (int i = 0; i < 400; ++i) {
        Feed(block);
        longest = std::max(longest, assembler.receiveText().size());
    }
    EXPECT_LE(longest, 2 * 4096u + 2 * block.size()) << "no more than the driver's input queue is held back";
    // The bound gave the header up with the oldest bytes: the blocks behind it flow again.
    const std::vector<Event> after = sink.Take();
    ASSERT_FALSE(after.empty());
    EXPECT_TRUE(
        std::all_of(after.begin(), after.end(), [&](const Event& e) { return e == MemoryEvent(block); }));
}

TEST_F(FrameAssemblerTest, AcknowledgementSetsPairedFlag) {
    assembler.SetPaired(false);
    Feed(kAck);
    EXPECT_TRUE(assembler.paired());
    EXPECT_TRUE(assembler.receiveText().empty());
}

TEST_F(FrameAssemblerTest, EmptyHeaderHoldsUpMemoryPassesUntilALiveMarker) {
    const Bytes empty = MakeMemoryHeader(0);
    const Bytes block = MakeMemoryBlock(1, Payload(40));
    const Bytes tail = MakeMemoryTail(2, {});
    const Bytes a = Live(3);
    Feed(empty);
    Feed(block);
    Feed(tail);
    EXPECT_TRUE(sink.Take().empty());
    // The live pass cuts the header and the frames queued behind it away.
    Feed(a);
    EXPECT_EQ(sink.Take(), std::vector<Event>{LiveEvent(a)});
    Feed(block);
    EXPECT_EQ(sink.Take(), std::vector<Event>{MemoryEvent(block)});
}

TEST_F(FrameAssemblerTest, OversizedTailIsSkippedWithoutOverrunningTheFrameBuffer) {
    const Bytes largest = MakeMemoryTail(1, Payload(51, 0x20));   // N = 60, the frame buffer's size
    const Bytes oversized = MakeMemoryTail(2, Payload(60, 0x20)); // N = 69
    Feed(largest);
    EXPECT_EQ(sink.Take(), std::vector<Event>{MemoryEvent(largest)});
    Feed(oversized);
    EXPECT_TRUE(sink.Take().empty());
    // Already the header tells the length: the marker goes at once, the rest holds no marker.
    EXPECT_LE(assembler.receiveText().size(), 5u);
    const Bytes next = MakeMemoryTail(3, Payload(2));
    Feed(next);
    EXPECT_EQ(sink.Take(), std::vector<Event>{MemoryEvent(next)});
}

TEST_F(FrameAssemblerTest, MarkerAtAnOddCharacterPosition) {
    const Bytes a = Live(0x1234);
    Feed(ShiftedByADigit(a, '1', '0'));
    EXPECT_EQ(sink.Take(), std::vector<Event>{LiveEvent(a)});
}

TEST_F(FrameAssemblerTest, TextWithoutMarkersKeepsOnlyWhatCouldStartOne) {
    for (int i = 0; i < 1000; ++i)
        Feed(Noise(19));
    EXPECT_LE(assembler.receiveText().size(), 5u);
    // A marker split after "00d5f" at an odd position: all five kept characters are needed.
    const Bytes a = Live(0x4321);
    const Bytes shifted = ShiftedByADigit(a, '7', '7');
    Feed(Bytes(shifted.begin(), shifted.begin() + 3)); // "7" + "00d5f"
    EXPECT_EQ(assembler.receiveText().substr(assembler.receiveText().size() - 5), "00d5f");
    Feed(Bytes(shifted.begin() + 3, shifted.end()));
    EXPECT_EQ(sink.Take(), std::vector<Event>{LiveEvent(a)});
}

TEST_F(FrameAssemblerTest, LiveFramesAreConsumedSilentlyWhileDisabled) {
    const Bytes a = Live(5), b = Live(6);
    assembler.SetLiveFramesEnabled(false);
    Feed(a);
    EXPECT_TRUE(sink.Take().empty());
    EXPECT_TRUE(assembler.receiveText().empty());
    assembler.SetLiveFramesEnabled(true);
    Feed(b);
    EXPECT_EQ(sink.Take(), std::vector<Event>{LiveEvent(b)});
}

TEST_F(FrameAssemblerTest, LiveMarkerEndsADownloadEvenBeforeTheFrameIsComplete) {
    assembler.SetDownloading(true);
    Feed(MakeMemoryHeader(4));
    EXPECT_TRUE(assembler.downloading());
    const Bytes a = Live(7);
    Feed(Bytes(a.begin(), a.begin() + 3));
    EXPECT_FALSE(assembler.downloading());
}

TEST_F(FrameAssemblerTest, ChunksAreIgnoredWhileClosing) {
    assembler.SetClosePrompted(true);
    Feed(Live(8));
    Feed(kAck);
    EXPECT_TRUE(sink.Take().empty());
    EXPECT_FALSE(assembler.paired());
    EXPECT_TRUE(assembler.receiveText().empty());
}

// One capture of every frame kind, cut at every chunk size from 1 to 40. Frames sit between runs of
// noise longer than any chunk, so no chunk completes one frame and reaches the next marker: every
// frame is handed on or dropped by its own rule, whatever the cutting. Only the acknowledgement
// depends on the cut: it counts only when a chunk of at least 4 bytes starts with it.
TEST(FrameAssemblerCapture, EveryChunkSizeHandsOnWhatTheRulesDictate) {
    const Bytes liveA = Live(12345);
    const Bytes header = MakeMemoryHeader(25);
    const Bytes block1 = MakeMemoryBlock(1, Payload(40));
    const Bytes tail = MakeMemoryTail(3, Payload(3));
    const Bytes oversized = MakeMemoryTail(4, Payload(60, 0x22));
    const Bytes emptyHeader = MakeMemoryHeader(0);
    const Bytes block2 = MakeMemoryBlock(2, Payload(20, 0x40));
    const Bytes liveB = Live(0x2345);
    const Bytes lastTail = MakeMemoryTail(5, {});
    const Bytes gap = Noise(45);

    Bytes capture = Cat({gap, liveA, gap, header, gap, block1, gap, tail, gap});
    // 360 has many divisors, so many chunk sizes start a chunk with the acknowledgement.
    const size_t ackOffset = 360;
    ASSERT_LT(capture.size(), ackOffset);
    capture.resize(ackOffset, 0x77);
    capture =
        Cat({capture, kAck, gap, oversized, gap, emptyHeader, gap, block2, gap, liveB, gap, lastTail, gap});

    int acknowledged = 0;
    for (size_t chunk = 1; chunk <= 40; ++chunk) {
        SCOPED_TRACE("chunk size " + std::to_string(chunk));
        RecordingSink sink;
        FrameAssembler assembler(sink);
        assembler.SetLiveFramesEnabled(true);
        for (size_t at = 0; at < capture.size(); at += chunk) {
            const size_t length = std::min(chunk, capture.size() - at);
            assembler.OnReceive(capture.data() + at, static_cast<int>(length));
        }
        const bool ackSeen = chunk >= 4 && ackOffset % chunk == 0;
        std::vector<Event> expected = {LiveEvent(liveA), MemoryEvent(header), MemoryEvent(block1),
                                       MemoryEvent(tail)};
        if (ackSeen)
            expected.push_back({Event::PairAck, {}});
        // The oversized tail is skipped; the empty header and block2 behind it are cut away by liveB.
        expected.push_back(LiveEvent(liveB));
        expected.push_back(MemoryEvent(lastTail));
        EXPECT_EQ(sink.events, expected);
        EXPECT_EQ(assembler.paired(), ackSeen);
        EXPECT_LE(assembler.receiveText().size(), 5u);
        acknowledged += ackSeen;
    }
    EXPECT_EQ(acknowledged, 14); // 4, 5, 6, 8, 9, 10, 12, 15, 18, 20, 24, 30, 36, 40
}

// The cutting rules read literally: find and erase on a plain string, no index, no offsets, rounds of
// the four passes repeated while one hands on a frame or drops a marker. The
// assembler must agree with it on random streams cut at random, including the receive text left over.
class LiteralRules {
public:
    void OnReceive(const Bytes& chunk) {
        if (chunk.size() >= 4 && chunk[0] == 0x05 && chunk[3] == 0x4C) {
            events.push_back({Event::PairAck, {}});
            return;
        }
        text += ToHexText(chunk.data(), chunk.size());
        while (Round()) {
        }
    }

    std::string text;
    std::vector<Event> events;

private:
    // One round of the four passes; true when it handed on a frame or dropped a marker.
    bool Round() {
        bool found = false;
        bool progress = false;
        if (Cut("00d5f0", found) && text.size() >= 24)
            progress = Emit(Event::Live, 12);
        if (Cut("00d5f1", found) && text.size() >= 18) {
            const Bytes header = *HexTextToBytes(text.substr(0, 18));
            if (header[5] == 0 && header[6] == 0)
                return progress;
            progress = Emit(Event::Memory, 9);
        }
        if (Cut("00d5f2", found) && text.size() >= 98)
            progress = Emit(Event::Memory, 49);
        if (Cut("00d5f3", found) && text.size() >= 14) {
            const size_t length = std::stoul(text.substr(10, 4), nullptr, 16) + 9;
            if (length > 60) {
                text.erase(0, 6);
                progress = true;
            } else if (text.size() >= 2 * length) {
                progress = Emit(Event::Memory, length);
            }
        }
        if (!found && text.size() > 5)
            text.erase(0, text.size() - 5);
        return progress;
    }
    bool Cut(const char* marker, bool& found) {
        const size_t at = text.find(marker);
        if (at == std::string::npos)
            return false;
        found = true;
        text.erase(0, at);
        return true;
    }
    bool Emit(Event::Kind kind, size_t length) {
        events.push_back({kind, *HexTextToBytes(text.substr(0, 2 * length))});
        text.erase(0, 2 * length);
        return true;
    }
};

Bytes RandomStream(std::mt19937& random) {
    // Bytes that make markers, half markers at odd positions and acknowledgements likely.
    const uint8_t tricky[] = {0x00, 0xD5, 0xF0, 0xF1, 0xF2, 0xF3, 0x0D, 0x5F, 0x05, 0x4C, 0x77, 0x10};
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    Bytes stream;
    while (stream.size() < 3000) {
        Bytes piece;
        switch (pick(8)) {
        case 0:
        case 1:
            piece = Live(static_cast<uint16_t>(random()));
            break;
        case 2:
            piece = MakeMemoryHeader(static_cast<uint16_t>(pick(3) == 0 ? 0 : random()));
            break;
        case 3:
            piece = MakeMemoryBlock(static_cast<uint16_t>(pick(5)), Payload(static_cast<size_t>(pick(41))));
            break;
        case 4:
            piece = MakeMemoryTail(static_cast<uint16_t>(pick(5)), Payload(static_cast<size_t>(pick(70))));
            break;
        case 5:
            piece = kAck;
            break;
        default:
            for (int i = pick(50); i > 0; --i)
                piece.push_back(pick(2) ? tricky[pick(sizeof tricky)] : static_cast<uint8_t>(random()));
            break;
        }
        if (pick(6) == 0 && !piece.empty())
            piece.resize(static_cast<size_t>(pick(static_cast<int>(piece.size())))); // cut short
        stream.insert(stream.end(), piece.begin(), piece.end());
    }
    return stream;
}

TEST(FrameAssemblerRandom, AgreesWithTheLiteralRules) {
    std::mt19937 random(20240611);
    int seen[3] = {};
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const Bytes stream = RandomStream(random);
        RecordingSink sink;
        FrameAssembler assembler(sink);
        assembler.SetLiveFramesEnabled(true);
        LiteralRules rules;
        const int longest = round % 2 == 0 ? 40 : 4;
        for (size_t at = 0; at < stream.size();) {
            const size_t length = std::min<size_t>(1 + random() % longest, stream.size() - at);
            const Bytes chunk(stream.begin() + static_cast<long>(at),
                              stream.begin() + static_cast<long>(at + length));
            assembler.OnReceive(chunk.data(), static_cast<int>(chunk.size()));
            rules.OnReceive(chunk);
            ASSERT_EQ(assembler.receiveText(), rules.text) << "after byte " << at + length;
            at += length;
        }
        ASSERT_EQ(sink.events, rules.events);
        for (const Event& event : sink.events)
            ++seen[event.kind];
    }
    // The streams did exercise every kind of hand-off.
    EXPECT_GT(seen[Event::Live], 1000);
    EXPECT_GT(seen[Event::Memory], 1000);
    EXPECT_GT(seen[Event::PairAck], 100);
}

} // namespace
} // namespace calvora
