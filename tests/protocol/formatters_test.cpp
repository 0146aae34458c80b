#include "protocol/formatters.h"
#include "protocol/text.h"

#include <gtest/gtest.h>

namespace calvora {
namespace {

TEST(FormatDigits, KeepsLeadingZerosAndPlacesThePoint) {
    struct Case {
        int32_t count;
        int32_t divisor;
        const char* expected;
    };
    const Case cases[] = {
        {1234, 1, "01234"},         {1234, 10, "0123.4"},  {1234, 100, "012.34"}, {1234, 1000, "01.234"},
        {1234, 10000, "0.1234"},    {-5, 100, "-000.05"},  {0, 10000, "0.0000"},  {12345, 10000, "1.2345"},
        {-12345, 10000, "-1.2345"}, {65535, 10, "6553.5"}, {1234, 7, ""},         {1234, 0, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(toUtf8(FormatDigits(c.count, c.divisor)), c.expected) << c.count << "/" << c.divisor;
}

TEST(FormatStoredValue, DecimalsFollowMagnitudeAndOverloadsWin) {
    struct Case {
        double value;
        double fullScale;
        int32_t lowLimit;
        const char* expected;
    };
    const Case cases[] = {
        {999.99, 4000, 0, "999.99"}, {0.5, 4, 0, "0.5000"},     {12.5, 4, 0, "OL"},
        {-30, 125, -25, "-OL"},      {1000, 4000, 0, "1000.0"}, {-1234.5, 4000, -4000, "-1234.5"},
        {10, 40, 0, "10.000"},       {100, 400, 0, "100.00"},   {4, 4, -4, "4.0000"},
        {-4, 4, -4, "-4.0000"},      {1.2345, 4, -4, "1.2345"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(toUtf8(FormatStoredValue(c.value, c.fullScale, c.lowLimit)), c.expected) << c.value;
}

TEST(Formatters, GroupedNumbersPutACommaBeforeEveryThreeDigits) {
    EXPECT_EQ(GroupedNumber(0), u"0");
    EXPECT_EQ(GroupedNumber(999), u"999");
    EXPECT_EQ(GroupedNumber(1000), u"1,000");
    EXPECT_EQ(GroupedNumber(180000), u"180,000");
    EXPECT_EQ(GroupedNumber(4320000), u"4,320,000");
    EXPECT_EQ(GroupedNumber(UINT64_MAX), u"18,446,744,073,709,551,615");
}

TEST(Text, Utf8AndWindows1252RoundTrips) {
    EXPECT_EQ(toUtf8(u"K\u03A9"), "K\xCE\xA9");
    EXPECT_EQ(fromUtf8("K\xCE\xA9"), u"K\u03A9");
    EXPECT_EQ(fromWindows1252("\x80\xB5"), u"\u20AC\u00B5");
    EXPECT_EQ(fromUtf8("\xFF"), u"\uFFFD");
}

TEST(Text, MalformedUtf8ReadsAsReplacementsAndIsRefused) {
    // Overlong forms (a hidden NUL or slash), surrogates, code points past U+10FFFF and cut sequences.
    for (std::string_view bad :
         {"\xC0\x80", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE2\x82"}) {
        EXPECT_FALSE(isUtf8(bad)) << testing::PrintToString(bad);
        EXPECT_EQ(fromUtf8(bad), std::u16string(bad.size(), u'\uFFFD')) << testing::PrintToString(bad);
    }
    EXPECT_TRUE(isUtf8("K\xCE\xA9 \xF0\x9F\x94\x8B"));
    EXPECT_EQ(fromUtf8("\xF0\x9F\x94\x8B"), u"\U0001F50B");
}

} // namespace
} // namespace calvora
