#include "panel/meter_layout.h"

#include <algorithm>
#include <array>
#include <cstdlib>

namespace calvora {

namespace {

using Kind = MeterControlKind;

// Template 166 in its own order; the group box is the frame of the display area.
constexpr std::array<MeterControl, 13> kTemplate{{
    {kMeterTrmsId, Kind::Text, {79, 63, 20, 9}, true},
    {kMeterModeId, Kind::Text, {43, 63, 25, 9}, true},
    {kMeterUnitId, Kind::Text, {131, 63, 16, 9}, true},
    {kMeterValueId, Kind::Text, {41, 79, 125, 49}, true},
    {kMeterScaleId, Kind::Text, {27, 151, 149, 8}, true},
    {kMeterBarId, Kind::Text, {27, 143, 150, 8}, true},
    {kMeterAutoId, Kind::Text, {39, 134, 18, 8}, true},
    {kMeterHoldId, Kind::Text, {113, 134, 20, 8}, true},
    {kMeterPeakId, Kind::Text, {83, 134, 20, 8}, true},
    {kMeterBeepId, Kind::Picture, {137, 132, 9, 9}, false},
    {kMeterDiodeId, Kind::Picture, {145, 132, 13, 8}, false},
    {kMeterFrameId, Kind::GroupBox, {19, 42, 169, 126}, true},
    {kMeterNoticeId, Kind::CentredText, {35, 84, 135, 44}, true},
}};

constexpr int kBarSegments = 40;
constexpr std::array<std::u16string_view, 9> kScaleTokens{u"0", u".",  u"10", u".", u"20",
                                                          u".", u"30", u".",  u"40"};

// The windowing system's MulDiv: the product divided with rounding half away from zero.
int MulDiv(int number, int numerator, int denominator) {
    const long long product = static_cast<long long>(number) * numerator;
    const long long half = denominator / 2;
    const long long rounded = product >= 0 ? (product + half) / denominator : (product - half) / denominator;
    return static_cast<int>(rounded);
}

} // namespace

std::span<const MeterControl> MeterTemplate() {
    return kTemplate;
}

const MeterControl* FindMeterControl(int id) {
    const auto it = std::find_if(kTemplate.begin(), kTemplate.end(),
                                 [id](const MeterControl& control) { return control.id == id; });
    return it == kTemplate.end() ? nullptr : &*it;
}

int BaseUnitXFromLetters(int extentOf52Letters) {
    return (extentOf52Letters / 26 + 1) / 2;
}

DialogRect DialogToPixels(const DialogRect& rect, DialogBaseUnits units) {
    const int left = MulDiv(rect.x, units.x, 4);
    const int top = MulDiv(rect.y, units.y, 8);
    const int right = MulDiv(rect.x + rect.width, units.x, 4);
    const int bottom = MulDiv(rect.y + rect.height, units.y, 8);
    return {left, top, right - left, bottom - top};
}

double BarMarkFraction(int characterIndex) {
    return std::clamp(characterIndex / 2.0 / kBarSegments, 0.0, 1.0);
}

std::vector<ScaleMark> ScaleMarks(std::u16string_view scaleText) {
    std::vector<ScaleMark> marks;
    size_t position = 0;
    while (position < scaleText.size()) {
        if (scaleText[position] == u' ') {
            ++position;
            continue;
        }
        const size_t end = std::min(scaleText.find(u' ', position), scaleText.size());
        const std::u16string_view token = scaleText.substr(position, end - position);
        const size_t index = marks.size();
        if (index >= kScaleTokens.size() || token != kScaleTokens[index]) {
            return {};
        }
        marks.push_back({token, static_cast<int>(index) * kBarSegments / 8});
        position = end;
    }
    if (marks.size() != kScaleTokens.size()) {
        return {};
    }
    return marks;
}

} // namespace calvora
