#include "panel/meter_layout.h"
#include "protocol/reading_decoder.h"

#include <gtest/gtest.h>

namespace calvora {
namespace {

TEST(MeterLayout, DialogUnitsBecomePixelsEdgeByEdge) {
    struct Case {
        DialogRect units;
        DialogBaseUnits base;
        DialogRect pixels;
    };
    const Case cases[] = {
        // The value box in the classic 6 × 13 dialog font.
        {{41, 79, 125, 49}, {6, 13}, {62, 128, 187, 80}},
        // Halves round away from zero: 1 × 6 / 4 = 1.5 → 2, and 3 × 13 / 8 = 4.875 → 5.
        {{1, 3, 1, 1}, {6, 13}, {2, 5, 1, 2}},
        // Neighbours that touch in dialog units touch in pixels (bar 143+8 = scale 151).
        {{27, 143, 150, 8}, {7, 15}, {47, 268, 263, 15}},
        {{27, 151, 149, 8}, {7, 15}, {47, 283, 261, 15}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DialogToPixels(c.units, c.base), c.pixels) << c.units.x << "," << c.units.y;
    }
}

TEST(MeterLayout, BaseUnitIsTheRoundedAverageLetterWidth) {
    // 52 letters 5.5 pixels wide on average round up to 6; 5.4 rounds down to 5.
    EXPECT_EQ(BaseUnitXFromLetters(286), 6);
    EXPECT_EQ(BaseUnitXFromLetters(281), 5);
    EXPECT_EQ(BaseUnitXFromLetters(364), 7);
}

TEST(MeterLayout, TemplateHoldsEveryShownControlInsideTheFrame) {
    const MeterControl* frame = FindMeterControl(kMeterFrameId);
    ASSERT_NE(frame, nullptr);
    for (int id : {kMeterModeId, kMeterTrmsId, kMeterUnitId, kMeterValueId, kMeterBarId, kMeterAutoId,
                   kMeterHoldId, kMeterPeakId, kMeterScaleId, kMeterBeepId, kMeterDiodeId, kMeterNoticeId}) {
        const MeterControl* control = FindMeterControl(id);
        ASSERT_NE(control, nullptr) << id;
        EXPECT_GE(control->rect.x, frame->rect.x) << id;
        EXPECT_GE(control->rect.y, frame->rect.y) << id;
        EXPECT_LE(control->rect.x + control->rect.width, frame->rect.x + frame->rect.width) << id;
        EXPECT_LE(control->rect.y + control->rect.height, frame->rect.y + frame->rect.height) << id;
        // Only the symbols start hidden.
        EXPECT_EQ(control->initiallyVisible, id != kMeterBeepId && id != kMeterDiodeId) << id;
    }
    EXPECT_EQ(FindMeterControl(1089), nullptr);
    EXPECT_EQ(FindMeterControl(1090), nullptr);
}

TEST(MeterLayout, ScaleMarksSitUnderEveryFifthBarSegment) {
    const std::vector<ScaleMark> marks = ScaleMarks(kBarScaleText);
    ASSERT_EQ(marks.size(), 9u);
    const char16_t* texts[] = {u"0", u".", u"10", u".", u"20", u".", u"30", u".", u"40"};
    for (size_t i = 0; i < marks.size(); ++i) {
        EXPECT_EQ(marks[i].text, texts[i]) << i;
        EXPECT_EQ(marks[i].segment, static_cast<int>(i) * 5) << i;
    }
    // In the full bar the " |" of every fifth segment falls on a scale mark.
    const std::u16string bar =
        u"| l l l l | l l l l | l l l l | l l l l | l l l l | l l l l | l l l l | l l l l |";
    for (size_t i = 0; i < bar.size(); ++i) {
        if (bar[i] == u'|') {
            const double fraction = BarMarkFraction(static_cast<int>(i));
            EXPECT_EQ(fraction * 40, static_cast<double>(marks[i / 10].segment)) << i;
        }
    }
    EXPECT_EQ(BarMarkFraction(0), 0.0);
    EXPECT_EQ(BarMarkFraction(80), 1.0);

    // Anything else is drawn as it stands.
    for (std::u16string_view other : {std::u16string_view(), std::u16string_view(u"0 . 10"),
                                      std::u16string_view(u"0 . 10 . 20 . 30 . 40 . 50"),
                                      std::u16string_view(u"0 , 10 . 20 . 30 . 40")}) {
        EXPECT_TRUE(ScaleMarks(other).empty());
    }
}

} // namespace
} // namespace calvora
