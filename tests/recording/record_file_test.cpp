#include "chart/chart_layout.h"
#include "protocol/text.h"
#include "recording/record_file.h"
#include "recording/recording_document.h"
#include "recording/recording_state.h"
#include "tests/recording/file_bytes.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace calvora {
namespace {

using test::FileBytes;

constexpr char16_t kTime[] = u" 12/07/26 22:05:20";

std::vector<uint8_t> Written(const RecordingDocument& document) {
    MemorySink sink;
    EXPECT_TRUE(WriteRecord(document, sink));
    return sink.bytes;
}

// The one-sample live recording of the format's worked example.
void FillOneSample(RecordingDocument& document) {
    uint32_t allocated = 0;
    document.BeginLiveStorage(10, allocated);
    ASSERT_TRUE(document.AppendSample(1.5f, 6.0f, -6, u"VDC", u"DC", u"V", kTime));
}

std::vector<uint8_t> OneSampleFile() {
    return FileBytes()
        .model()
        .Header(1, 1)
        .F32(1.5f)
        .F32(6.0f)
        .Wide(u"VDC")
        .Wide(u"DC")
        .Wide(u"V")
        .Wide(kTime)
        .U32(static_cast<uint32_t>(-6))
        .DefaultChannel()
        .DefaultChartTrailer()
        .bytes;
}

TEST(RecordWriter, EmptyDocumentHasHeaderAndChartTrailerOnly) {
    RecordingDocument document;
    const auto expected = FileBytes().model().Header(0, 0).DefaultChartTrailer().bytes;
    EXPECT_EQ(expected.size(), 86u);
    EXPECT_EQ(Written(document), expected);
}

TEST(RecordWriter, NewLiveDocumentCarriesOneChannelBlock) {
    RecordingDocument document;
    document.SetChannelCount(1);
    const auto expected = FileBytes().model().Header(0, 1).DefaultChannel().DefaultChartTrailer().bytes;
    EXPECT_EQ(expected.size(), 99u);
    EXPECT_EQ(Written(document), expected);
}

TEST(RecordWriter, OneSampleExample) {
    RecordingDocument document;
    FillOneSample(document);
    const auto expected = OneSampleFile();
    EXPECT_EQ(expected.size(), 175u);
    EXPECT_EQ(Written(document), expected);
}

// The length prefix changes form at 255 and at 65534 characters; a name just below and just above
// each step is written in the right form and reads back whole, in a sample and in a channel block.
TEST(RecordWriter, NamesAtTheLengthFormBoundariesRoundTrip) {
    struct Case {
        size_t length;
        std::vector<uint8_t> prefix; // after the wide marker FF FE FF
    };
    const Case cases[] = {
        {254, {0xFE}},
        {255, {0xFF, 0xFF, 0x00}},
        {256, {0xFF, 0x00, 0x01}},
        {300, {0xFF, 0x2C, 0x01}},
        {65533, {0xFF, 0xFD, 0xFF}},
        {65534, {0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        RecordingDocument document;
        document.SetChannelCount(1);
        const size_t unnamed = Written(document).size(); // its empty name takes FF FE FF 00
        document.channelName[0] = std::u16string(c.length, u'x');
        std::vector<uint8_t> expected = {0xFF, 0xFE, 0xFF};
        expected.insert(expected.end(), c.prefix.begin(), c.prefix.end());
        const auto bytes = Written(document);
        EXPECT_EQ(
            std::vector<uint8_t>(bytes.begin() + 68, bytes.begin() + 68 + std::ptrdiff_t(expected.size())),
            expected);
        EXPECT_EQ(bytes.size(), unnamed - 4 + expected.size() + 2 * c.length);

        document.FillRows(1);
        document.SetTexts(0, std::u16string(c.length, u'f'), u"DC", u"V", u" t");
        RecordingDocument reopened;
        ASSERT_TRUE(ReadRecord(Written(document), reopened));
        EXPECT_EQ(reopened.channelName[0], document.channelName[0]);
        EXPECT_EQ(reopened.functionName(0), document.functionName(0));
        EXPECT_EQ(reopened.mode(0), u"DC");
    }
}

TEST(RecordReader, ReadsTheExampleAndWritesItBackIdentically) {
    const auto file = OneSampleFile();
    RecordingDocument document;
    ASSERT_TRUE(ReadRecord(file, document));
    ASSERT_EQ(document.sampleCount(), 1u);
    EXPECT_EQ(document.channelCount(), 1);
    EXPECT_EQ(document.rowCapacity(), 1u);
    EXPECT_EQ(document.value(0, 0), 1.5f);
    EXPECT_EQ(document.fullScale(0, 0), 6.0f);
    EXPECT_EQ(document.lowLimit(0), -6);
    EXPECT_EQ(document.functionName(0), u"VDC");
    EXPECT_EQ(document.mode(0), u"DC");
    EXPECT_EQ(document.unit(0), u"V");
    EXPECT_EQ(document.timeText(0), kTime);
    EXPECT_EQ(Written(document), file);
}

TEST(RecordReader, CarriesReservedHeaderBytesAndSettingsOfTwoChannels) {
    const auto file = FileBytes()
                          .model()
                          .Header(2, 2, 0x40)
                          .F32(1)
                          .F32(10)
                          .F32(-2)
                          .F32(20)
                          .Wide(u"VDC")
                          .Wide(u"")
                          .Wide(u"V")
                          .Wide(kTime)
                          .U32(0)
                          .F32(3)
                          .F32(10)
                          .F32(-4)
                          .F32(20)
                          .Wide(u"VDC")
                          .Wide(u"")
                          .Wide(u"V")
                          .Wide(kTime)
                          .U32(7)
                          .Wide(u"Probe A")
                          .U8(1)
                          .U8(0)
                          .U8(1)
                          .U8(0)
                          .U32(0x00FF0000)
                          .U8(0)
                          .Wide(u"Probe B")
                          .U8(0)
                          .U8(1)
                          .U8(0)
                          .U8(1)
                          .U32(0x0000FF00)
                          .U8(1)
                          .F32(2.5f)
                          .F32(-1.25f)
                          .U8(0)
                          .U8(1)
                          .U32(0x00123456)
                          .U32(0x00654321)
                          .bytes;
    RecordingDocument document;
    ASSERT_TRUE(ReadRecord(file, document));
    EXPECT_EQ(document.channelCount(), 2);
    EXPECT_EQ(document.value(1, 0), 3.0f);
    EXPECT_EQ(document.value(1, 1), -4.0f);
    EXPECT_EQ(document.fullScale(0, 1), 20.0f);
    EXPECT_EQ(document.lowLimit(1), 7);
    EXPECT_EQ(document.header().reserved[0], 0x40);
    EXPECT_EQ(document.header().reserved[36], 0x40 + 36);
    EXPECT_EQ(document.channelName[1], u"Probe B");
    EXPECT_EQ(document.settings.traceAxis[1], 1);
    EXPECT_EQ(document.settings.traceColour[0], 0x00FF0000u);
    EXPECT_EQ(document.settings.customMax, 2.5f);
    EXPECT_EQ(document.settings.customMin, -1.25f);
    EXPECT_EQ(document.settings.gridVisible, 0);
    EXPECT_EQ(document.settings.backgroundColour, 0x00123456u);
    EXPECT_EQ(Written(document), file);
}

// Every length form the reader accepts, in the function, mode, unit and time fields of one sample.
TEST(RecordReader, AcceptsNarrowAndLongLengthForms) {
    struct Case {
        const char* name;
        std::vector<uint8_t> field;
        std::u16string expected;
    };
    const std::vector<Case> cases = {
        {"narrow byte length", FileBytes().Narrow("VDC").bytes, u"VDC"},
        {"narrow 16-bit length", FileBytes().U8(0xFF).U16(3).Raw("ACV").bytes, u"ACV"},
        {"narrow 32-bit length", FileBytes().U8(0xFF).U16(0xFFFF).U32(2).Raw("Hz").bytes, u"Hz"},
        {"narrow 64-bit length", FileBytes().U8(0xFF).U16(0xFFFF).U32(0xFFFFFFFF).U64(1).Raw("V").bytes,
         u"V"},
        {"narrow Windows-1252", FileBytes().Narrow("\x80\xE9\xB5").bytes, u"\u20AC\u00E9\u00B5"},
        {"wide 16-bit length", FileBytes().U8(0xFF).U16(0xFFFE).U8(0xFF).U16(2).Units(u"\u03A9k").bytes,
         u"\u03A9k"},
        {"wide 32-bit length",
         FileBytes().U8(0xFF).U16(0xFFFE).U8(0xFF).U16(0xFFFF).U32(3).Units(u"mV\u2103").bytes, u"mV\u2103"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FileBytes file;
        file.Narrow("QM310/QM312").Header(1, 1).F32(1).F32(2);
        for (int field = 0; field < 4; ++field)
            file.bytes.insert(file.bytes.end(), c.field.begin(), c.field.end());
        file.U32(0).DefaultChannel().DefaultChartTrailer();
        RecordingDocument document;
        const auto read = ReadRecord(file.bytes, document);
        ASSERT_TRUE(read) << toUtf8(read.reason());
        EXPECT_EQ(document.functionName(0), c.expected);
        EXPECT_EQ(document.mode(0), c.expected);
        EXPECT_EQ(document.unit(0), c.expected);
        EXPECT_EQ(document.timeText(0), c.expected);
    }
}

TEST(RecordReader, RejectsForeignAndCorruptFiles) {
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        ReadFailure failure;
    };
    const auto tail = [](FileBytes file) { return file.DefaultChartTrailer().bytes; };
    // Whole files, so that only the rule named in each case can refuse them.
    FileBytes sixChannels;
    sixChannels.model().Header(1, 6);
    for (int c = 0; c < 6; ++c)
        sixChannels.F32(1).F32(4);
    sixChannels.Wide(u"VDC").Wide(u"DC").Wide(u"V").Wide(kTime).U32(0);
    for (int c = 0; c < 6; ++c)
        sixChannels.DefaultChannel();
    const auto highHalfName = [](uint32_t high) {
        return FileBytes()
            .model()
            .Header(0, 1)
            .U8(0xFF)
            .U16(0xFFFF)
            .U32(0xFFFFFFFF)
            .U32(1)
            .U32(high)
            .Raw("n")
            .U8(1)
            .U8(1)
            .U8(1)
            .U8(1)
            .U32(0xFF)
            .U8(0)
            .DefaultChartTrailer()
            .bytes;
    };
    RecordingDocument control;
    ASSERT_TRUE(ReadRecord(highHalfName(0), control)) << "the same file with a zero high half is good";
    ASSERT_EQ(control.channelName[0], u"n");
    const std::vector<Case> cases = {
        {"other model", tail(FileBytes().Wide(u"QM320").Header(0, 0)), ReadFailure::InvalidFormat},
        {"model in other case", tail(FileBytes().Wide(u"qm310/qm312").Header(0, 0)),
         ReadFailure::InvalidFormat},
        {"model with suffix", tail(FileBytes().Wide(u"QM310/QM3120").Header(0, 0)),
         ReadFailure::InvalidFormat},
        {"empty file", {}, ReadFailure::UnexpectedFormat},
        {"six channels", tail(FileBytes().model().Header(0, 6)), ReadFailure::UnexpectedFormat},
        {"six channels with every block present", tail(sixChannels), ReadFailure::UnexpectedFormat},
        {"samples without channels",
         tail(FileBytes().model().Header(1, 0).Wide(u"").Wide(u"").Wide(u"").Wide(u"").U32(0)),
         ReadFailure::UnexpectedFormat},
        {"sample count beyond the file", tail(FileBytes().model().Header(0xFFFFFFFF, 1).DefaultChannel()),
         ReadFailure::UnexpectedFormat},
        {"sample count one too many",
         tail(FileBytes().model().Header(5, 1).F32(1).F32(1).Narrow("").Narrow("").Narrow("").Narrow("").U32(
             0)),
         ReadFailure::UnexpectedFormat},
        {"string longer than the file",
         tail(FileBytes().model().Header(0, 1).U8(0xFF).U16(0xFFFE).U8(0xFF).U16(0xFFFF).U32(0x7FFFFFFF)),
         ReadFailure::UnexpectedFormat},
        {"narrow string longer than the file", tail(FileBytes().model().Header(0, 1).U8(200)),
         ReadFailure::UnexpectedFormat},
        {"64-bit length with a high half",
         tail(FileBytes().model().Header(0, 1).U8(0xFF).U16(0xFFFF).U32(0xFFFFFFFF).U64(uint64_t{1} << 32)),
         ReadFailure::UnexpectedFormat},
        {"64-bit length with a high half, characters present", highHalfName(1),
         ReadFailure::UnexpectedFormat},
        {"chart trailer cut short", FileBytes().model().Header(0, 0).F32(0).F32(0).bytes,
         ReadFailure::UnexpectedFormat},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingDocument document;
        document.title = u"kept";
        const auto read = ReadRecord(c.bytes, document);
        ASSERT_FALSE(read);
        EXPECT_EQ(read.kind(), c.failure);
        EXPECT_EQ(read.reason(),
                  c.failure == ReadFailure::InvalidFormat ? u"Invalid Format!" : u"Unexpected file format.");
        EXPECT_EQ(document.sampleCount(), 0u);
        EXPECT_EQ(document.channelCount(), 0);
        EXPECT_EQ(document.rowCapacity(), 0u);
        EXPECT_EQ(document.title, u"kept");
    }
}

TEST(RecordReader, EveryTruncationIsUnexpected) {
    const auto file = OneSampleFile();
    for (size_t length = 0; length < file.size(); ++length) {
        RecordingDocument document;
        const auto read = ReadRecord(std::span(file.data(), length), document);
        ASSERT_FALSE(read) << "cut at " << length;
        EXPECT_EQ(read.kind(), ReadFailure::UnexpectedFormat) << "cut at " << length;
        EXPECT_EQ(document.sampleCount(), 0u);
    }
}

// Every byte of a valid file replaced by values that matter to lengths and counts: the reader must
// either reject the file cleanly or give a document that writes a file it reads again.
TEST(RecordReader, SurvivesEverySingleByteCorruption) {
    const auto original = OneSampleFile();
    for (size_t at = 0; at < original.size(); ++at) {
        for (const uint8_t byte : {0x00, 0x01, 0x7F, 0x80, 0xFE, 0xFF}) {
            auto file = original;
            file[at] = byte;
            RecordingDocument document;
            if (!ReadRecord(file, document)) {
                EXPECT_EQ(document.rowCapacity(), 0u) << "byte " << at;
                continue;
            }
            RecordingDocument again;
            EXPECT_TRUE(ReadRecord(Written(document), again)) << "byte " << at << " = " << int{byte};
        }
    }
}

TEST(RecordReader, AnOpenedFilesScaleComesFromItsSamplesStartingAtFourThousand) {
    struct Case {
        std::vector<float> values;
        double low;
        double high;
    };
    // Extremes start at -4000/4000, so values all above 4000 keep a minimum of 4000.
    const std::vector<Case> cases = {{{2, 12}, 0, 14}, {{5000, 6000}, 3600, 6400}, {{-5, -5}, -6, -4}};
    for (const Case& c : cases) {
        FileBytes file;
        file.model().Header(static_cast<uint32_t>(c.values.size()), 1);
        for (float v : c.values)
            file.F32(v).F32(10000).Narrow("").Narrow("").Narrow("").Narrow("").U32(0);
        file.DefaultChannel().DefaultChartTrailer();
        RecordingDocument document;
        ASSERT_TRUE(ReadRecord(file.bytes, document));
        PrepareOpenedDocument(document);
        EXPECT_DOUBLE_EQ(document.settings.axisMin, c.low);
        EXPECT_DOUBLE_EQ(document.settings.axisMax, c.high);
        EXPECT_EQ(document.settings.autoMin, static_cast<float>(c.low));
        EXPECT_EQ(document.settings.autoMax, static_cast<float>(c.high));
        EXPECT_EQ(document.layout.laidOut.first, 1);
        EXPECT_EQ(document.layout.laidOut.last, static_cast<int32_t>(c.values.size()));
        EXPECT_TRUE(document.layout.fullView);
    }
}

// Files are read through a window far smaller than a long recording; fields cross its edges and a
// name longer than the window grows it.
TEST(RecordReader, FileReadAcrossTheWindowMatchesTheBytesInMemory) {
    RecordingDocument original;
    original.SetChannelCount(2);
    original.FillRows(30000);
    for (uint32_t row = 0; row < original.sampleCount(); ++row) {
        original.SetValue(row, 0, static_cast<float>(row), 6);
        original.SetValue(row, 1, -static_cast<float>(row), 60);
        original.SetTexts(row, row % 7 ? u"VDC" : u"OHM", u"DC", row % 3 ? u"V" : u"k\u03A9",
                          std::u16string(u" 12/07/26 22:05:") + static_cast<char16_t>(u'0' + row % 10));
    }
    original.channelName[1] = std::u16string(300000, u'n');
    const auto bytes = Written(original);

    const auto path =
        std::filesystem::temp_directory_path() / ("calvora-window-" + std::to_string(::getpid()));
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    RecordingDocument fromFile;
    ASSERT_TRUE(ReadRecordFile(path, fromFile));
    EXPECT_EQ(Written(fromFile), bytes);
    EXPECT_EQ(fromFile.timeText(29999), u" 12/07/26 22:05:9");

    std::filesystem::resize_file(path, bytes.size() - 1);
    RecordingDocument cut;
    EXPECT_EQ(ReadRecordFile(path, cut).kind(), ReadFailure::UnexpectedFormat);
    EXPECT_EQ(cut.sampleCount(), 0u);
    std::filesystem::remove(path);
}

// A valid model and header followed by zeros reads as empty samples; past the cap such a file is
// refused before any row is allocated (the file is sparse, so it costs no disk).
TEST(RecordReader, RefusesSampleCountsAboveTheCap) {
    const auto path =
        std::filesystem::temp_directory_path() / ("calvora-zeros-" + std::to_string(::getpid()));
    const auto head = FileBytes().model().Header(kMaxFileSamples + 1, 1).bytes;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(head.data()), static_cast<std::streamsize>(head.size()));
    // Each zero sample is two floats, four empty narrow strings and lowLimit; then a channel block
    // with an empty name and the chart trailer.
    std::filesystem::resize_file(path, head.size() + (uint64_t{kMaxFileSamples} + 1) * 16 + 10 + 18);
    RecordingDocument document;
    EXPECT_EQ(ReadRecordFile(path, document).kind(), ReadFailure::UnexpectedFormat);
    EXPECT_EQ(document.rowCapacity(), 0u);
    std::filesystem::remove(path);
}

class ScriptedPrompts : public UserPrompts {
public:
    MOCK_METHOD(bool, AskYesNo, (const std::u16string&), (override));
    MOCK_METHOD(void, ShowMessage, (const std::u16string&, MessageIcon), (override));
};

TEST(OpenRecordFile, RejectedModelSetsLoadRejectedAndShowsMessage) {
    const auto dir = std::filesystem::temp_directory_path() / ("calvora-open-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto write = [&](const char* name, const std::vector<uint8_t>& bytes) {
        std::ofstream(dir / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return dir / name;
    };
    const auto foreign =
        write("foreign.recorder", FileBytes().Wide(u"XYZ").Header(0, 0).DefaultChartTrailer().bytes);
    const auto good = write("good.recorder", OneSampleFile());

    RecordingState state;
    testing::StrictMock<ScriptedPrompts> prompts;
    EXPECT_CALL(prompts, ShowMessage(std::u16string(u"Invalid Format!"), MessageIcon::Exclamation));
    RecordingDocument rejected;
    EXPECT_EQ(OpenRecordFile(foreign, rejected, state, prompts).kind(), ReadFailure::InvalidFormat);
    EXPECT_TRUE(state.loadRejected);

    RecordingDocument accepted;
    EXPECT_TRUE(OpenRecordFile(good, accepted, state, prompts));
    EXPECT_FALSE(state.loadRejected);
    EXPECT_EQ(accepted.sampleCount(), 1u);

    EXPECT_CALL(prompts, ShowMessage(testing::_, MessageIcon::Exclamation));
    RecordingDocument missing;
    EXPECT_EQ(OpenRecordFile(dir / "missing.recorder", missing, state, prompts).kind(),
              ReadFailure::CannotOpen);
    std::filesystem::remove_all(dir);
}

} // namespace
} // namespace calvora
