// Reading a csv export back: export, import and export again give the same bytes in every choice of
// delimiter and decimal separator; what is not an export is refused with the line that does not fit.
#include "export/csv_export.h"
#include "export/csv_import.h"
#include "protocol/formatters.h"
#include "protocol/text.h"
#include "tests/export/export_documents.h"

#include <gtest/gtest.h>

namespace calvora {
namespace {

std::string Csv(const RecordingDocument& document, CsvOptions options) {
    const DocumentSamples samples(document);
    MemorySink sink;
    EXPECT_TRUE(WriteCsv(samples, AllSamples(samples), options, sink));
    return {sink.bytes.begin(), sink.bytes.end()};
}

TEST(CsvImport, ExportImportExportIsByteIdenticalInEveryChoice) {
    const RecordingDocument original = test::DocumentOf(test::GoldenRows());
    for (const CsvOptions options : {CsvOptions{',', false}, CsvOptions{';', false}, CsvOptions{';', true},
                                     CsvOptions{'\t', false}, CsvOptions{'\t', true}}) {
        SCOPED_TRACE(std::string("delimiter ") + options.delimiter +
                     (options.decimalComma ? " comma" : " point"));
        const std::string exported = Csv(original, options);
        RecordingDocument imported;
        const auto read = ReadCsvExport(exported, imported);
        ASSERT_TRUE(read) << toUtf8(read.reason());
        EXPECT_EQ(Csv(imported, options), exported);
        ASSERT_EQ(imported.sampleCount(), original.sampleCount());
        EXPECT_EQ(imported.channelCount(), 1);
        // The rebuilt samples show as the exported ones did, overloads included.
        for (uint32_t row = 0; row < original.sampleCount(); ++row) {
            const std::u16string shown =
                FormatStoredValue(original.value(row, 0), original.fullScale(row, 0), original.lowLimit(row));
            if (std::isfinite(original.value(row, 0))) {
                EXPECT_EQ(FormatStoredValue(imported.value(row, 0), imported.fullScale(row, 0),
                                            imported.lowLimit(row)),
                          shown);
            }
        }
        EXPECT_EQ(imported.timeText(0), u" 12/07/26 22:05:20") << "recorded form again";
        EXPECT_EQ(imported.timeText(5), u"12/07/26 22:05:20") << "the trimmed text, as exported";
        EXPECT_EQ(imported.unit(1), u"KΩ");
        EXPECT_EQ(imported.mode(6), u"line\r\nbreak");
    }
}

TEST(CsvImport, AcceptsAByteOrderMarkLfLineEndsAndAMissingLastLineEnd) {
    for (const std::string text : {"\xEF\xBB\xBFsample,time,function,mode,value,unit\r\n5,t,VDC,DC,1.5,V\r\n",
                                   "sample,time,function,mode,value,unit\n5,t,VDC,DC,1.5,V\n",
                                   "sample,time,function,mode,value,unit\r\n5,t,VDC,DC,1.5,V"}) {
        RecordingDocument document;
        const auto read = ReadCsvExport(text, document);
        ASSERT_TRUE(read) << toUtf8(read.reason());
        ASSERT_EQ(document.sampleCount(), 1u) << "numbered from 1 again, whatever the first number was";
        EXPECT_EQ(document.value(0, 0), 1.5f);
        EXPECT_EQ(document.timeText(0), u"t");
    }
}

TEST(CsvImport, RefusesWhatIsNotAnExportNamingTheFirstLineThatDoesNotFit) {
    const std::string header = "sample,time,function,mode,value,unit\r\n";
    const std::string good = "1,t,VDC,DC,1.5,V\r\n";
    struct Case {
        std::string text;
        std::string reason;
    };
    const Case cases[] = {
        {"", "line 1 does not fit a csv export: it is not the header"},
        {"a,b,c\r\n1,2,3\r\n", "line 1 does not fit a csv export: it is not the header"},
        {"sample,time,function,mode,value\r\n", "line 1 does not fit a csv export: it is not the header"},
        {"sample|time|function|mode|value|unit\r\n", "line 1 does not fit"},
        {"\xFF\xFE"
         "s\0a\0",
         "line 1 does not fit a csv export: the file is UTF-16 text"},
        {header + good + "2,t,VDC,DC,1.5\r\n", "line 3 does not fit a csv export: it has 5 fields, not 6"},
        {header + good + "\r\n", "line 3 does not fit a csv export: it has 1 field, not 6"},
        {header + good + "3,t,VDC,DC,1.5,V\r\n",
         "line 3 does not fit a csv export: the sample number \"3\" is not 2"},
        {header + "0,t,VDC,DC,1.5,V\r\n",
         "line 2 does not fit a csv export: the sample number \"0\" is not a number"},
        {header + "01,t,VDC,DC,1.5,V\r\n", "line 2 does not fit"},
        {header + "x,t,VDC,DC,1.5,V\r\n", "line 2 does not fit"},
        {header + good + "2,t,VDC,DC,abc,V\r\n",
         "line 3 does not fit a csv export: the value \"abc\" is neither"},
        {header + good + "2,t,VDC,DC,inf,V\r\n", "the value \"inf\" is neither"},
        {header + good + "2,t,VDC,DC,1E5,V\r\n", "the value \"1E5\" is neither"},
        {header + good + "2,t,VDC,DC,+1,V\r\n", "the value \"+1\" is neither"},
        {header + good + "2,t,VDC,DC,1e39,V\r\n", "the value \"1e39\" is beyond the range"},
        {header + good + "2,t,VDC,DC,\"1,5\",V\r\n",
         "the value \"1,5\" has a decimal comma beside the comma delimiter"},
        {"sample;time;function;mode;value;unit\r\n1;t;VDC;DC;1,5;V\r\n2;t;VDC;DC;1.5;V\r\n",
         "line 3 does not fit a csv export: the value \"1.5\" has a decimal point where the lines above have "
         "a "
         "decimal comma"},
        {header + good + "2,\"t,VDC,DC,1.5,V\r\n",
         "line 3 does not fit a csv export: a quoted field is not closed"},
        {header + good + "2,\"t\"x,VDC,DC,1.5,V\r\n",
         "line 3 does not fit a csv export: a quoted field goes on"},
        {header + good + "2,t\"x,VDC,DC,1.5,V\r\n",
         "line 3 does not fit a csv export: a quote inside a field"},
        {header + good + "2,t\rx,VDC,DC,1.5,V\r\n", "a carriage return that does not end the line"},
        {header + good + "2,\xC3(,VDC,DC,1.5,V\r\n",
         "line 3 does not fit a csv export: it is not UTF-8 text"},
        // A quoted line break counts: the bad record begins on line 4.
        {header + "1,t,VDC,\"a\r\nb\",1.5,V\r\n2,t,VDC,DC,?,V\r\n", "line 4 does not fit"},
    };
    for (const Case& c : cases) {
        RecordingDocument document;
        const auto read = ReadCsvExport(c.text, document);
        ASSERT_FALSE(read) << c.text;
        EXPECT_EQ(read.kind(), ReadFailure::UnexpectedFormat);
        EXPECT_NE(toUtf8(read.reason()).find(c.reason), std::string::npos) << toUtf8(read.reason());
        EXPECT_EQ(document.sampleCount(), 0u) << "nothing half-read is kept";
    }
}

} // namespace
} // namespace calvora
