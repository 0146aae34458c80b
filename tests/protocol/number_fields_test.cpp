// The number a typed text starts with, as the scale limit fields take it.
#include "protocol/number_fields.h"

#include <gtest/gtest.h>

namespace calvora {
namespace {

TEST(LeadingNumber, TakesTheNumberATextStartsWith) {
    struct Case {
        std::u16string_view text;
        double value;
    };
    const Case cases[] = {
        {u"12.5x", 12.5}, {u"1-.2", 1}, {u"-.5", -0.5}, {u"", 0},    {u"abc", 0},        {u"-", 0},
        {u"  7", 7},      {u"3.", 3},   {u".25", 0.25}, {u"--1", 0}, {u"0.00001", 1e-5}, {u"+4", 4},
    };
    for (const Case& c : cases)
        EXPECT_DOUBLE_EQ(LeadingNumber(c.text), c.value);
}

} // namespace
} // namespace calvora
