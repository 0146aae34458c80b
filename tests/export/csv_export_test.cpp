// The csv contract, byte for byte, on a document that holds every case its rules treat apart; the time
// column's rules both ways; JSON lines.
#include "export/csv_export.h"
#include "export/csv_import.h"
#include "export/jsonl_export.h"
#include "export/sample_time.h"
#include "protocol/formatters.h"
#include "protocol/text.h"
#include "tests/export/export_documents.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <charconv>
#include <sstream>

namespace calvora {
namespace {

std::string Csv(const RecordingDocument& document, CsvOptions options,
                std::optional<SampleNumbers> range = {}) {
    const DocumentSamples samples(document);
    MemorySink sink;
    EXPECT_TRUE(WriteCsv(samples, range.value_or(AllSamples(samples)), options, sink));
    return {sink.bytes.begin(), sink.bytes.end()};
}

const std::string kComma = "sample,time,function,mode,value,unit\r\n"
                           "1,2026-12-07T22:05:20,VDC,DC,1.2345,V\r\n"
                           "2,2026-12-07T22:05:21,RDBC,R,OL,KΩ\r\n"
                           "3,2026-12-07T22:05:22,Temp,TK,-OL,°C\r\n"
                           "4,02/29/27 10:00:00,VDC,DC,OL,V\r\n"
                           "5,2028-02-29T10:00:00,VDC,DC,-OL,V\r\n"
                           "6,12/07/26 22:05:20,\"say \"\"hi\"\"\",\"a,b\",0.1,x;y\r\n"
                           "7,13/07/26 22:05:20,mV,\"line\r\nbreak\",1e+05,Ω\r\n"
                           "8,,tab\there,,-0,\r\n"
                           "9,12/07/26 24:00:00,VAC,AC,3.4028235e+38,V\r\n"
                           "10,just a note,uA,DC,1.5e-07,uA\r\n";

const std::string kSemicolonComma = "sample;time;function;mode;value;unit\r\n"
                                    "1;2026-12-07T22:05:20;VDC;DC;1,2345;V\r\n"
                                    "2;2026-12-07T22:05:21;RDBC;R;OL;KΩ\r\n"
                                    "3;2026-12-07T22:05:22;Temp;TK;-OL;°C\r\n"
                                    "4;02/29/27 10:00:00;VDC;DC;OL;V\r\n"
                                    "5;2028-02-29T10:00:00;VDC;DC;-OL;V\r\n"
                                    "6;12/07/26 22:05:20;\"say \"\"hi\"\"\";a,b;0,1;\"x;y\"\r\n"
                                    "7;13/07/26 22:05:20;mV;\"line\r\nbreak\";1e+05;Ω\r\n"
                                    "8;;tab\there;;-0;\r\n"
                                    "9;12/07/26 24:00:00;VAC;AC;3,4028235e+38;V\r\n"
                                    "10;just a note;uA;DC;1,5e-07;uA\r\n";

const std::string kTab = "sample\ttime\tfunction\tmode\tvalue\tunit\r\n"
                         "1\t2026-12-07T22:05:20\tVDC\tDC\t1.2345\tV\r\n"
                         "2\t2026-12-07T22:05:21\tRDBC\tR\tOL\tKΩ\r\n"
                         "3\t2026-12-07T22:05:22\tTemp\tTK\t-OL\t°C\r\n"
                         "4\t02/29/27 10:00:00\tVDC\tDC\tOL\tV\r\n"
                         "5\t2028-02-29T10:00:00\tVDC\tDC\t-OL\tV\r\n"
                         "6\t12/07/26 22:05:20\t\"say \"\"hi\"\"\"\ta,b\t0.1\tx;y\r\n"
                         "7\t13/07/26 22:05:20\tmV\t\"line\r\nbreak\"\t1e+05\tΩ\r\n"
                         "8\t\t\"tab\there\"\t\t-0\t\r\n"
                         "9\t12/07/26 24:00:00\tVAC\tAC\t3.4028235e+38\tV\r\n"
                         "10\tjust a note\tuA\tDC\t1.5e-07\tuA\r\n";

TEST(CsvExport, GoldenDocumentInEachDelimiterAndDecimalChoice) {
    const RecordingDocument document = test::DocumentOf(test::GoldenRows());
    EXPECT_EQ(Csv(document, {',', false}), kComma);
    EXPECT_EQ(Csv(document, {';', true}), kSemicolonComma);
    EXPECT_EQ(Csv(document, {'\t', false}), kTab);
}

TEST(CsvExport, RangeKeepsTheSampleNumbersAndAnEmptyDocumentHasTheHeaderOnly) {
    const RecordingDocument document = test::DocumentOf(test::GoldenRows());
    EXPECT_EQ(Csv(document, {}, SampleNumbers{9, 10}), "sample,time,function,mode,value,unit\r\n"
                                                       "9,12/07/26 24:00:00,VAC,AC,3.4028235e+38,V\r\n"
                                                       "10,just a note,uA,DC,1.5e-07,uA\r\n");
    EXPECT_EQ(Csv(test::DocumentOf({}), {}), "sample,time,function,mode,value,unit\r\n");
}

TEST(CsvExport, OverloadsAreWhatTheStoredValueFormatterShowsOrNotFinite) {
    constexpr float kInf = std::numeric_limits<float>::infinity();
    struct Case {
        float value;
        float fullScale;
        int32_t lowLimit;
        std::u16string_view expected;
    };
    const Case cases[] = {
        {4.0f, 4.0f, -4, u""},
        {4.0001f, 4.0f, -4, u"OL"},
        {-4.0f, 4.0f, -4, u""},
        {-4.0001f, 4.0f, -4, u"-OL"},
        {5.0f, 4.0f, 6, u"-OL"}, // both: the low limit wins, as shown
        {kInf, kInf, -4, u"OL"},
        {-kInf, 4.0f, INT32_MIN, u"-OL"},
        {std::numeric_limits<float>::quiet_NaN(), 4.0f, -4, u"OL"},
        {-std::numeric_limits<float>::quiet_NaN(), 4.0f, -4, u"-OL"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(OverloadText(c.value, c.fullScale, c.lowLimit), c.expected) << c.value;
        if (std::isfinite(c.value)) {
            const std::u16string shown = FormatStoredValue(c.value, c.fullScale, c.lowLimit);
            EXPECT_EQ(shown == u"OL" || shown == u"-OL" ? std::u16string_view(shown) : u"", c.expected);
        }
    }
}

TEST(CsvExport, ValuesReadBackToTheSameFloat) {
    for (const float value :
         {0.1f, 1.2345f, 4.0001f, 65.535f, -1e-38f, 1e-45f, 123456789.0f, 3.4028235e38f}) {
        const std::string text = ShortestFloatText(value);
        float back = 0;
        EXPECT_EQ(std::from_chars(text.data(), text.data() + text.size(), back).ec, std::errc()) << text;
        EXPECT_EQ(back, value) << text;
        std::string comma = ShortestFloatText(value, true);
        EXPECT_EQ(comma.find('.'), std::string::npos);
        std::replace(comma.begin(), comma.end(), ',', '.');
        EXPECT_EQ(comma, text);
    }
}

TEST(SampleTime, RecordedTimesBecomeIsoAndBack) {
    struct Case {
        std::u16string_view recorded;
        std::u16string_view exported;
    };
    const Case cases[] = {
        {u" 12/07/26 22:05:20", u"2026-12-07T22:05:20"},
        {u" 01/01/00 00:00:00", u"2000-01-01T00:00:00"},
        {u" 12/31/99 23:59:59", u"2099-12-31T23:59:59"},
        {u" 02/29/28 10:00:00", u"2028-02-29T10:00:00"},
        {u" 02/29/00 10:00:00", u"2000-02-29T10:00:00"},
        {u" 02/29/27 10:00:00", u"02/29/27 10:00:00"},
        {u" 04/31/26 10:00:00", u"04/31/26 10:00:00"},
        {u" 00/10/26 10:00:00", u"00/10/26 10:00:00"},
        {u" 12/07/26 22:60:20", u"12/07/26 22:60:20"},
        {u" 12/07/26 22:05:60", u"12/07/26 22:05:60"},
        {u"12/07/26 22:05:20", u"12/07/26 22:05:20"},   // no leading blank
        {u" 12/07/26 22:05:20 ", u"12/07/26 22:05:20"}, // one character too many
        {u" 12-07-26 22:05:20", u"12-07-26 22:05:20"},
        {u" 1a/07/26 22:05:20", u"1a/07/26 22:05:20"},
        {u"   ", u""},
        {u"", u""},
        {u" \tx ", u"\tx"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ExportedTime(c.recorded), c.exported) << toUtf8(c.recorded);
        // Reading the export back gives a time text that exports the same way.
        EXPECT_EQ(ExportedTime(ImportedTime(c.exported)), c.exported) << toUtf8(c.exported);
    }
    EXPECT_EQ(ImportedTime(u"2026-12-07T22:05:20"), u" 12/07/26 22:05:20");
    EXPECT_EQ(ImportedTime(u"1999-12-07T22:05:20"), u"1999-12-07T22:05:20"); // no two-digit year for it
    EXPECT_EQ(ImportedTime(u"2026-02-30T22:05:20"), u"2026-02-30T22:05:20");
    // Finer times (a source that keeps milliseconds) are dates for a spreadsheet, text for a recording.
    EXPECT_EQ(ParseIsoTime(u"2026-12-07T22:05:20.125")->millisecond, 125);
    EXPECT_EQ(ParseIsoTime(u"2026-12-07T22:05:20.5")->millisecond, 500);
    EXPECT_FALSE(ParseIsoTime(u"2026-12-07T22:05:20."));
    EXPECT_FALSE(ParseIsoTime(u"2026-12-07T22:05:20.1234"));
    EXPECT_FALSE(ParseIsoTime(u"2026-12-07T22:05:20Z"));
    EXPECT_EQ(ImportedTime(u"2026-12-07T22:05:20.125"), u"2026-12-07T22:05:20.125");
}

TEST(JsonLines, OneObjectPerSampleWithOverloadsAsNull) {
    RecordingDocument document = test::DocumentOf(test::GoldenRows());
    const DocumentSamples samples(document);
    MemorySink sink;
    ASSERT_TRUE(WriteJsonLines(samples, {1, 3}, sink));
    const std::string text(sink.bytes.begin(), sink.bytes.end());
    EXPECT_EQ(
        text,
        "{\"sample\":1,\"time\":\"2026-12-07T22:05:20\",\"function\":\"VDC\",\"mode\":\"DC\",\"value\":1."
        "2345,"
        "\"unit\":\"V\",\"fullScale\":4,\"lowLimit\":-4}\n"
        "{\"sample\":2,\"time\":\"2026-12-07T22:05:21\",\"function\":\"RDBC\",\"mode\":\"R\",\"value\":null,"
        "\"overload\":\"OL\",\"unit\":\"KΩ\",\"fullScale\":40,\"lowLimit\":0}\n"
        "{\"sample\":3,\"time\":\"2026-12-07T22:05:22\",\"function\":\"Temp\",\"mode\":\"TK\",\"value\":null,"
        "\"overload\":\"-OL\",\"unit\":\"°C\",\"fullScale\":1200,\"lowLimit\":-25}\n");

    // Every line of the whole document is JSON that reads back to the texts it came from.
    MemorySink all;
    ASSERT_TRUE(WriteJsonLines(samples, AllSamples(samples), all));
    std::istringstream lines(std::string(all.bytes.begin(), all.bytes.end()));
    std::string line;
    uint32_t row = 0;
    while (std::getline(lines, line)) {
        const nlohmann::json object = nlohmann::json::parse(line);
        EXPECT_EQ(object["sample"], row + 1);
        EXPECT_EQ(object["function"], toUtf8(document.functionName(row)));
        EXPECT_EQ(object["mode"], toUtf8(document.mode(row)));
        EXPECT_EQ(object["unit"], toUtf8(document.unit(row)));
        EXPECT_EQ(object["value"].is_null(), object.contains("overload"));
        if (!object["value"].is_null()) {
            EXPECT_EQ(object["value"].get<float>(), document.value(row, 0));
        }
        ++row;
    }
    EXPECT_EQ(row, document.sampleCount());
}

} // namespace
} // namespace calvora
