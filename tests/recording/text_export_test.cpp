#include "recording/recording_document.h"
#include "recording/text_export.h"

#include <gtest/gtest.h>

#include <string>

namespace calvora {
namespace {

// The export decoded back to text (its bytes are UTF-16LE after the BOM).
std::u16string Exported(const RecordingDocument& document) {
    MemorySink sink;
    EXPECT_TRUE(WriteTextExport(document, sink));
    EXPECT_GE(sink.bytes.size(), 2u);
    EXPECT_EQ(sink.bytes[0], 0xFF);
    EXPECT_EQ(sink.bytes[1], 0xFE);
    EXPECT_EQ(sink.bytes.size() % 2, 0u);
    std::u16string text;
    for (size_t i = 2; i + 1 < sink.bytes.size(); i += 2)
        text += static_cast<char16_t>(sink.bytes[i] | sink.bytes[i + 1] << 8);
    return text;
}

const std::u16string kPreamble = u"                            Multimeter Data File\r\n\r\n";
const std::u16string kGroup = u"No.\tChannel\t Function\tData Value\tUnit\tTime\t";

RecordingDocument Filled(uint32_t count) {
    RecordingDocument document;
    document.SetChannelCount(1);
    document.FillRows(count);
    for (uint32_t row = 0; row < count; ++row) {
        document.SetValue(row, 0, static_cast<float>(row + 1) / 4, 100000);
        document.SetLowLimit(row, -6000);
        document.SetTexts(row, u"VDC", u"DC", u"V", u" 12/07/26 22:05:20");
    }
    return document;
}

TEST(TextExport, EmptyDocumentHasOneHeaderGroupAndNoData) {
    RecordingDocument document;
    EXPECT_EQ(Exported(document), kPreamble + kGroup + u"\r\n");
}

TEST(TextExport, TwoSamplesByteForByte) {
    RecordingDocument document = Filled(2);
    document.SetValue(1, 0, 7000, 6000); // above fullScale: overload
    document.SetTexts(1, u"OHM", u"", u"k\u03A9", u" 12/07/26 22:05:21");
    const std::u16string expected = kPreamble + kGroup + u"\r\n" +
                                    u"1\tVDC\tDC\t0.2500\tV\t 12/07/26 22:05:20\t\r\n" +
                                    u"2\tOHM\t\tOL\tk\u03A9\t 12/07/26 22:05:21\t\r\n";
    EXPECT_EQ(Exported(document), expected);

    MemorySink sink;
    ASSERT_TRUE(WriteTextExport(document, sink));
    EXPECT_EQ(sink.bytes.size(), 2 + expected.size() * 2);
    // "k" then U+03A9 as little-endian units: the multi-byte character survives as UTF-16.
    const std::u16string_view ohm = u"k\u03A9";
    const size_t at = 2 + expected.find(ohm) * 2;
    EXPECT_EQ(sink.bytes[at + 2], 0xA9);
    EXPECT_EQ(sink.bytes[at + 3], 0x03);
}

TEST(TextExport, SamplesBeyond60000ContinueInASecondGroup) {
    const RecordingDocument document = Filled(60001);
    const std::u16string text = Exported(document);
    const std::u16string header = kPreamble + kGroup + kGroup + u"\r\n";
    ASSERT_EQ(text.compare(0, header.size(), header), 0);

    size_t lines = 0;
    size_t start = header.size();
    std::u16string first, second, last;
    while (start < text.size()) {
        const size_t end = text.find(u"\r\n", start);
        ASSERT_NE(end, std::u16string::npos);
        const std::u16string line = text.substr(start, end - start);
        if (lines == 0)
            first = line;
        if (lines == 1)
            second = line;
        last = line;
        ++lines;
        start = end + 2;
    }
    EXPECT_EQ(lines, 60000u);
    EXPECT_EQ(first, u"1\tVDC\tDC\t0.2500\tV\t 12/07/26 22:05:20\t"
                     u"60001\tVDC\tDC\t15000.2\tV\t 12/07/26 22:05:20\t");
    EXPECT_EQ(second, u"2\tVDC\tDC\t0.5000\tV\t 12/07/26 22:05:20\t");
    EXPECT_EQ(last.substr(0, 6), u"60000\t");
}

} // namespace
} // namespace calvora
