#include "tools/sim/meter_frames.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace calvora::sim {
namespace {

TEST(BuildLiveFrame, PlacesTheReadingBytes) {
    struct Case {
        ReadingSettings settings;
        int32_t count;
        Bytes payload; // frame bytes 5-9
    };
    ReadingSettings vdc;
    ReadingSettings everything{0x0F, 3, 7, true, true, true, true};
    ReadingSettings vac{0, 1, 2};
    const Case cases[] = {
        {vdc, 12345, {0x30, 0x39, 0x01, 0x01, 0x00}},
        {vdc, -256, {0x01, 0x00, 0x11, 0x01, 0x00}},
        {vdc, 0, {0x00, 0x00, 0x01, 0x01, 0x00}},
        {vdc, 70000, {0xFF, 0xFF, 0x01, 0x01, 0x00}}, // beyond 16 bits: clamped, not wrapped
        {everything, -5, {0x00, 0x05, 0x97, 0x3F, 0xB0}},
        {vac, 4000, {0x0F, 0xA0, 0x02, 0x10, 0x00}},
    };
    for (const auto& c : cases) {
        const Bytes frame = BuildLiveFrame(c.settings, c.count);
        ASSERT_EQ(frame.size(), kLiveFrameSize);
        EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 3), (Bytes{0x00, 0xD5, 0xF0}));
        EXPECT_EQ(Bytes(frame.begin() + 5, frame.begin() + 10), c.payload) << c.count;
    }
}

TEST(BuildLiveFrame, NeverHoldsASecondMarker) {
    for (const ReadingSettings settings :
         {ReadingSettings{}, ReadingSettings{0, 0, 0}, ReadingSettings{13, 0, 0},
          ReadingSettings{15, 3, 7, true, true, true, true}}) {
        for (int32_t count = -65535; count <= 65535; count += 7) {
            ASSERT_FALSE(HasInnerMarker(BuildLiveFrame(settings, count))) << count;
        }
        ASSERT_FALSE(HasInnerMarker(BuildLiveFrame(settings, 0x0D5F)));
        ASSERT_FALSE(HasInnerMarker(BuildLiveFrame(settings, 0xD5F0)));
    }
}

TEST(BuildLogBurst, HeaderBlocksAndTwoTails) {
    struct Case {
        size_t records;
        std::vector<uint16_t> blockLengths;
    };
    const Case cases[] = {
        {25, {40, 40, 20}}, {10, {40}}, {1, {4}}, {0, {}}, {95, {40, 40, 40, 40, 40, 40, 40, 40, 40, 20}}};
    for (const auto& c : cases) {
        std::vector<Record> records;
        for (size_t i = 0; i < c.records; ++i)
            records.push_back(Record{static_cast<uint8_t>(i), static_cast<uint8_t>(i + 1), 0x01, 0x01});
        const auto frames = BuildLogBurst(records);
        ASSERT_EQ(frames.size(), c.blockLengths.size() + 3) << c.records;

        ASSERT_EQ(frames[0].size(), kMemoryHeaderSize);
        EXPECT_EQ(Bytes(frames[0].begin(), frames[0].begin() + 3), (Bytes{0x00, 0xD5, 0xF1}));
        EXPECT_EQ(frames[0][5] * 256 + frames[0][6], static_cast<int>(c.records));

        Bytes payload;
        for (size_t b = 0; b < c.blockLengths.size(); ++b) {
            const Bytes& block = frames[1 + b];
            ASSERT_EQ(block.size(), kMemoryBlockSize);
            EXPECT_EQ(block[2], 0xF2);
            EXPECT_EQ(block[3] * 256 + block[4], static_cast<int>(b + 1));
            EXPECT_EQ(block[5] * 256 + block[6], c.blockLengths[b]);
            payload.insert(payload.end(), block.begin() + 7, block.begin() + 7 + c.blockLengths[b]);
        }
        Bytes expected;
        for (const auto& record : records)
            expected.insert(expected.end(), record.begin(), record.end());
        EXPECT_EQ(payload, expected) << c.records;

        for (size_t t = frames.size() - 2; t < frames.size(); ++t) {
            ASSERT_EQ(frames[t].size(), kMemoryTailSize);
            EXPECT_EQ(frames[t][2], 0xF3);
            EXPECT_EQ(frames[t][5] * 256 + frames[t][6], 0);
        }
    }
}

TEST(GenerateRecords, BurstNeverHoldsAStrayMarker) {
    // Function 0 (low nibble 0) followed by magnitude 0D 5F and a low range is the combination that
    // spells "00d5f0" across two records.
    std::mt19937_64 random(3);
    const ReadingSettings vac{0, 0, 0};
    const WaveSettings wave{Waveform::Ramp, 4, 0x0D5F, 9};
    const auto records = GenerateRecords(200, vac, wave, random);
    ASSERT_EQ(records.size(), 200u);
    for (const Bytes& frame : BuildLogBurst(records))
        EXPECT_FALSE(HasInnerMarker(frame));
    EXPECT_EQ(records[0][3], FunctionByte(vac));
}

TEST(ParseHexLine, AcceptsCommonSpellingsAndRefusesJunk) {
    struct Case {
        const char* line;
        bool ok;
        Bytes bytes;
    };
    const Case cases[] = {
        {"00 D5 F0", true, {0x00, 0xD5, 0xF0}},
        {"00d5f0", true, {0x00, 0xD5, 0xF0}},
        {"0x05,0x4c", true, {0x05, 0x4C}},
        {"  # only a comment", true, {}},
        {"30 39 # magnitude", true, {0x30, 0x39}},
        {"0g", false, {}},
        {"abc", false, {}},
        {"12 3 0x5", true, {0x12, 0x03, 0x05}},
        {"0x", false, {}},
    };
    for (const auto& c : cases) {
        Bytes bytes;
        EXPECT_EQ(ParseHexLine(c.line, bytes), c.ok) << c.line;
        if (c.ok) {
            EXPECT_EQ(bytes, c.bytes) << c.line;
        }
    }
}

TEST(LoadHexLines, KeepsTheLinesWithBytesAndNamesTheLineThatIsNot) {
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("calvora-hex-lines-" + std::to_string(::getpid()));
    std::ofstream(path) << "00 D5\n# comment\n\n0x05,0x4c\n";
    const Outcome<std::vector<Bytes>> good = LoadHexLines(path.string());
    ASSERT_TRUE(good) << std::string(good.reason().begin(), good.reason().end());
    EXPECT_EQ(good.value(), (std::vector<Bytes>{{0x00, 0xD5}, {0x05, 0x4C}}));

    std::ofstream(path) << "00 D5\n0g\n";
    EXPECT_EQ(LoadHexLines(path.string()).reason(),
              std::u16string(path.u16string()) + u":2: not a line of hex bytes");
    std::filesystem::remove(path);
    EXPECT_EQ(LoadHexLines(path.string()).reason(), u"can't read " + path.u16string());
}

TEST(PairDetector, FindsTheRequestAcrossWrites) {
    struct Case {
        std::vector<Bytes> writes;
        bool seen;
    };
    const Case cases[] = {
        {{{0x05, 0x4C, 0x4B, 0x08, 0x00, 0x00}}, true},
        {{{0x05, 0x4C, 0x4B}, {0x08, 0x00, 0x00}}, true},
        {{{0x05, 0x05, 0x4C, 0x4B, 0x08, 0x00, 0x00}}, true},
        {{{0x00, 0x05, 0x4C, 0x4B, 0x08, 0x00}}, false},
        {{{0x05, 0x4C, 0x4B, 0x08, 0x00, 0x01}}, false},
    };
    for (const auto& c : cases) {
        PairDetector detector;
        bool seen = false;
        for (const Bytes& write : c.writes)
            seen = detector.Feed(write.data(), write.size()) || seen;
        EXPECT_EQ(seen, c.seen);
    }
}

TEST(ApplyFaults, EachFaultChangesTheStreamAsDescribed) {
    const Bytes frame = BuildLiveFrame(ReadingSettings{}, 1234);
    std::mt19937_64 random(9);
    EXPECT_EQ(ApplyFaults(frame, FaultSettings{}, random), std::vector<Bytes>{frame});
    EXPECT_TRUE(ApplyFaults(frame, FaultSettings{0, 0, 1.0}, random).empty());

    for (int i = 0; i < 50; ++i) {
        const auto pieces = ApplyFaults(frame, FaultSettings{0, 1.0, 0}, random);
        ASSERT_EQ(pieces.size(), 2u);
        Bytes joined = pieces[0];
        joined.insert(joined.end(), pieces[1].begin(), pieces[1].end());
        EXPECT_EQ(joined, frame);

        const auto noisy = ApplyFaults(frame, FaultSettings{1.0, 0, 0}, random);
        ASSERT_EQ(noisy.size(), 1u);
        const size_t junk = noisy[0].size() - frame.size();
        EXPECT_GE(junk, 1u);
        EXPECT_LE(junk, 8u);
        EXPECT_EQ(Bytes(noisy[0].begin() + static_cast<std::ptrdiff_t>(junk), noisy[0].end()), frame);
        for (size_t k = 0; k < junk; ++k)
            EXPECT_NE(noisy[0][k], 0x00);
    }
}

} // namespace
} // namespace calvora::sim
