// The instrument panel's dialog template: which controls it has, where they sit in dialog units, and the
// geometry of the bar graph. Dialog units become pixels through the dialog font's base units, as the
// windowing system does it, so the panel keeps the meter display's proportions in any font.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace calvora {

// Control ids of the panel (dialog 166).
enum MeterControlId : int {
    kMeterModeId = 1075,
    kMeterTrmsId = 1076,
    kMeterUnitId = 1077,
    kMeterValueId = 1078,
    kMeterBarId = 1079,
    kMeterAutoId = 1080,
    kMeterHoldId = 1081,
    kMeterPeakId = 1082,
    kMeterScaleId = 1083,
    kMeterBeepId = 1087,
    kMeterDiodeId = 1088,
    kMeterNoticeId = 1092,
    kMeterFrameId = -1, // the group box has no id of its own
};

inline constexpr std::u16string_view kWaitingNotice = u"Please open the wireless on the meter";

enum class MeterControlKind { Text, CentredText, Picture, GroupBox };

struct DialogRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const DialogRect&) const = default;
};

// The dialog font's base units in pixels.
struct DialogBaseUnits {
    int x = 0; // average width of the 52 Latin letters, rounded
    int y = 0; // character height
};

struct MeterControl {
    int id;
    MeterControlKind kind;
    DialogRect rect; // dialog units
    bool initiallyVisible;
};

// The size of the whole template in dialog units.
inline constexpr DialogRect kMeterDialogSize{0, 0, 533, 576};
// The dialog font's size in points.
inline constexpr int kMeterDialogFontPoints = 8;

// Every control of the template that an operation shows, in the template's order. The pictures nothing
// ever shows are left out.
std::span<const MeterControl> MeterTemplate();
// The control with `id`, or null.
const MeterControl* FindMeterControl(int id);

// The base units of the classic 8-point dialog font at 96 dots per inch, for which the template was drawn.
inline constexpr DialogBaseUnits kClassicBaseUnits{6, 13};

// The horizontal base unit from the extent of "A".."Z" then "a".."z" drawn in the dialog font.
int BaseUnitXFromLetters(int extentOf52Letters);

// A dialog-unit rectangle in pixels: each edge is converted on its own with rounding, so neighbours that
// touch in dialog units touch in pixels too.
DialogRect DialogToPixels(const DialogRect& rect, DialogBaseUnits units);

// The bar graph: the bar text ("|" followed by " l" or " |" per segment) puts segment k's mark on
// character 2k. Where that mark sits, as a fraction of the bar's width (segment 40 at the right end).
double BarMarkFraction(int characterIndex);

// One mark of the scale text under the bar, placed at the segment it labels.
struct ScaleMark {
    std::u16string_view text;
    int segment = 0;
};

// The marks of a scale text that reads "0 . 10 . 20 . 30 . 40" with any blanks between: one mark every five
// segments. Empty for any other text (it is then drawn as it stands).
std::vector<ScaleMark> ScaleMarks(std::u16string_view scaleText);

} // namespace calvora
