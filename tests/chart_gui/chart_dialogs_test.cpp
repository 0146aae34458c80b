#include "chart/gui/chart_controls.h"
#include "chart/gui/graph_format_dialog.h"
#include "chart/gui/scale_format_dialog.h"
#include "recording/recording_state.h"
#include "tests/chart/chart_test_documents.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QPainter>
#include <QRadioButton>
#include <QTest>

#include <deque>

namespace calvora {
namespace {

using testing::MakeDocument;

class RecordedPrompts : public UserPrompts {
public:
    bool AskYesNo(const std::u16string& /*question*/) override { return false; }
    void ShowMessage(const std::u16string& text, MessageIcon /*icon*/) override { messages.push_back(text); }
    std::vector<std::u16string> messages;
};

// Scripted answers of the colour dialog: a colour, or empty for Cancel.
ColourPicker Answers(std::deque<std::optional<uint32_t>>& answers) {
    return [&answers](QWidget*) {
        std::optional<uint32_t> answer;
        if (!answers.empty()) {
            answer = answers.front();
            answers.pop_front();
        }
        return answer;
    };
}

TEST(ScaleFormat, FreshChartShowsTheAutoLimitsDisabled) {
    auto document = MakeDocument({0, 5, 10}); // auto limits 0 .. 12
    ScaleFormatDialog dialog(*document, nullptr, {});
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Scale Format"));
    EXPECT_EQ(dialog.minimumEdit()->text(), QStringLiteral("0.00000"));
    EXPECT_EQ(dialog.maximumEdit()->text(), QStringLiteral("12.00000"));
    EXPECT_TRUE(dialog.autoButton()->isChecked());
    EXPECT_FALSE(dialog.minimumEdit()->isEnabled());
    dialog.customButton()->click();
    EXPECT_TRUE(dialog.minimumEdit()->isEnabled());
    dialog.autoButton()->click();
    EXPECT_FALSE(dialog.maximumEdit()->isEnabled());
}

TEST(ScaleFormat, RefusesAMaximumNotAboveTheMinimum) {
    auto document = MakeDocument({0, 5, 10});
    document->layout.fullView = false;
    RecordedPrompts prompts;
    int applied = 0;
    ScaleFormatDialog dialog(*document, &prompts, [&] { ++applied; });
    dialog.customButton()->click();
    dialog.minimumEdit()->setText(QStringLiteral("5"));
    dialog.maximumEdit()->setText(QStringLiteral("5"));
    dialog.accept();
    ASSERT_EQ(prompts.messages.size(), 1U);
    EXPECT_EQ(prompts.messages[0], kScaleRefused);
    EXPECT_EQ(dialog.result(), QDialog::Rejected); // still open
    EXPECT_EQ(applied, 0);
    EXPECT_EQ(document->settings.axisMax, 12);
    EXPECT_FALSE(document->layout.fullView);

    dialog.minimumEdit()->setText(QStringLiteral("0"));
    dialog.maximumEdit()->setText(QStringLiteral("0.00001"));
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(applied, 1);
    EXPECT_EQ(document->settings.axisMin, 0);
    EXPECT_DOUBLE_EQ(document->settings.axisMax, 0.00001f);
    EXPECT_EQ(document->settings.scaleMode, ScaleMode::Custom);
    EXPECT_TRUE(document->layout.fullView); // the zoom is reset
}

TEST(ScaleFormat, AutoAfterCustomKeepsTheTypedLimits) {
    auto document = MakeDocument({0, 5, 10});
    {
        ScaleFormatDialog custom(*document, nullptr, {});
        custom.customButton()->click();
        custom.minimumEdit()->setText(QStringLiteral("1"));
        custom.maximumEdit()->setText(QStringLiteral("9abc"));
        custom.accept();
    }
    EXPECT_EQ(document->settings.axisMin, 1);
    EXPECT_EQ(document->settings.axisMax, 9);
    {
        ScaleFormatDialog again(*document, nullptr, {});
        EXPECT_TRUE(again.customButton()->isChecked());
        EXPECT_TRUE(again.minimumEdit()->isEnabled());
        EXPECT_EQ(again.minimumEdit()->text(), QStringLiteral("1.00000"));
        EXPECT_EQ(again.maximumEdit()->text(), QStringLiteral("9.00000"));
        again.autoButton()->click();
        again.accept();
    }
    EXPECT_EQ(document->settings.axisMin, 0);
    EXPECT_EQ(document->settings.axisMax, 12);
    EXPECT_EQ(document->settings.customMin, 1);
    EXPECT_EQ(document->settings.customMax, 9);
    ScaleFormatDialog third(*document, nullptr, {});
    EXPECT_TRUE(third.autoButton()->isChecked());
    EXPECT_EQ(third.maximumEdit()->text(), QStringLiteral("9.00000"));
}

TEST(GraphFormat, CancelKeepsTheColoursAndOkAppliesThem) {
    auto document = MakeDocument({1, 2});
    std::deque<std::optional<uint32_t>> answers = {0x00FF0000, std::nullopt, 0x0000FF00, 0x000080FF};
    GraphFormatHooks hooks;
    hooks.pickColour = Answers(answers);
    {
        GraphFormatDialog dialog(*document, hooks);
        dialog.ChooseBackground(); // blue
        EXPECT_EQ(dialog.backgroundSwatch()->colour(), 0x00FF0000U);
        dialog.ChooseGrid(); // cancelled: unchanged
        EXPECT_EQ(dialog.gridSwatch()->colour(), kDefaultGrid);
        dialog.ChooseTrace(); // green
        dialog.reject();
    }
    EXPECT_EQ(document->settings.backgroundColour, kDefaultBackground);
    EXPECT_EQ(document->settings.traceColour[0], kRed);

    int redraws = 0;
    hooks.redraw = [&] { ++redraws; };
    GraphFormatDialog dialog(*document, hooks);
    dialog.ChooseTrace(); // orange
    dialog.markPointsBox()->click();
    dialog.horizontalAxisBox()->click();
    dialog.accept();
    EXPECT_EQ(document->settings.traceColour[0], 0x000080FFU);
    EXPECT_EQ(document->settings.markPoints[0], 0);
    EXPECT_EQ(document->settings.gridVisible, 0);
    EXPECT_EQ(document->settings.backgroundColour, kDefaultBackground);
    EXPECT_EQ(redraws, 1);
}

TEST(GraphFormat, SavesAFileDocumentButNotAnUnsavedLiveRecording) {
    auto document = MakeDocument({1, 2});
    RecordingState state;
    int saves = 0;
    GraphFormatHooks hooks;
    hooks.documents = &state;
    hooks.save = [&](RecordingDocument& saved) {
        saves += &saved == document.get() ? 1 : 100;
        return true;
    };
    GraphFormatDialog(*document, hooks).accept();
    EXPECT_EQ(saves, 1); // a file document is saved at once

    state.recordingDocument = document.get();
    state.dataSaved = false;
    GraphFormatDialog(*document, hooks).accept();
    EXPECT_EQ(saves, 1); // live samples not yet saved: settings only applied

    state.dataSaved = true;
    GraphFormatDialog(*document, hooks).accept();
    EXPECT_EQ(saves, 2);

    GraphFormatDialog unchecked(*document, hooks);
    unchecked.saveSettingBox()->setChecked(false);
    unchecked.accept();
    EXPECT_EQ(saves, 2);
}

TEST(ChartControls, NumEditDropsEverythingButDigitsSignAndPoint) {
    NumberEdit edit;
    QTest::keyClicks(&edit, QStringLiteral("1a2.b-3 e"));
    EXPECT_EQ(edit.text(), QStringLiteral("12.-3"));
    QTest::keyClick(&edit, Qt::Key_Backspace);
    EXPECT_EQ(edit.text(), QStringLiteral("12.-"));
}

TEST(ChartControls, ColourSwatchFillsInsideItsOutline) {
    ColourSwatch swatch;
    swatch.resize(20, 10);
    swatch.SetColour(0x000000FF);
    const QImage image = swatch.grab().toImage();
    EXPECT_EQ(image.pixel(1, 1), 0xFF000000U);  // the outline
    EXPECT_EQ(image.pixel(18, 8), 0xFF000000U); // width - 2, height - 2
    EXPECT_EQ(image.pixel(10, 5), 0xFFFF0000U); // red inside
    EXPECT_NE(image.pixel(19, 9), 0xFF000000U); // the last row and column stay outside
    EXPECT_EQ(ColourFromRef(0x00C8A010), QColor(0x10, 0xA0, 0xC8));
    EXPECT_EQ(RefFromColour(QColor(0x10, 0xA0, 0xC8)), 0x00C8A010U);
}

} // namespace
} // namespace calvora
