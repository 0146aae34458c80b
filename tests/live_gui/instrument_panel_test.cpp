// The instrument panel on the Instrument bar, driven by live frames from the meter's side of the wire.
#include "live_panel_support.h"

#include "panel/gui/instrument_panel.h"
#include "panel/gui/lcd_controls.h"
#include "protocol/text.h"

#include <QApplication>
#include <QImage>
#include <QTest>

namespace calvora::testing {
namespace {

using Reading = sim::ReadingSettings;

// "|" and one " l" or " |" (every fifth) per segment.
QString Bar(int segments) {
    QString bar = QStringLiteral("|");
    for (int i = 1; i <= segments; ++i) {
        bar += i % 5 == 0 ? QStringLiteral(" |") : QStringLiteral(" l");
    }
    return bar;
}

const QString kScale = QString::fromStdU16String(std::u16string(kBarScaleText));

class MeterPanelTest : public LiveWindowTest {
protected:
    InstrumentPanel* ConnectedPanel() {
        DoubleClick(0);
        return link->meterPanel();
    }
    static bool Shown(const InstrumentPanel& panel, int id) { return !panel.Control(id)->isHidden(); }
};

TEST_F(MeterPanelTest, ConnectingPutsThePanelOnTheBarWaitingWithTheNotice) {
    EXPECT_EQ(link->meterPanel(), nullptr);
    InstrumentPanel* panel = ConnectedPanel();
    ASSERT_NE(panel, nullptr);
    DockPageBar* bar = frame->instrumentBar();
    ASSERT_EQ(bar->pageCount(), 1);
    EXPECT_EQ(bar->page(0).window.data(), static_cast<QWidget*>(panel));
    EXPECT_EQ(bar->captionText(), QStringLiteral("Instrument"));

    EXPECT_TRUE(Shown(*panel, kMeterNoticeId));
    EXPECT_EQ(panel->Text(kMeterNoticeId), QStringLiteral("Please open the wireless on the meter"));
    for (int id : {kMeterValueId, kMeterTrmsId, kMeterBeepId, kMeterDiodeId}) {
        EXPECT_FALSE(Shown(*panel, id)) << id;
    }
    for (int id : {kMeterModeId, kMeterTrmsId, kMeterUnitId, kMeterValueId, kMeterAutoId, kMeterBarId,
                   kMeterHoldId, kMeterPeakId, kMeterScaleId}) {
        EXPECT_TRUE(panel->Text(id).isEmpty()) << id;
    }
    EXPECT_TRUE(Shown(*panel, kMeterFrameId));

    // The first reading replaces the notice.
    Feed(Reading{}, 12345);
    EXPECT_FALSE(Shown(*panel, kMeterNoticeId));
    EXPECT_TRUE(Shown(*panel, kMeterValueId));
    EXPECT_EQ(panel->Text(kMeterValueId), QStringLiteral("1.2345"));
}

TEST_F(MeterPanelTest, ReadingsShowTheDecodersTextsAndControls) {
    struct Case {
        const char* name;
        Reading reading;
        int32_t count;
        const char16_t* value;
        const char16_t* unit;
        const char16_t* mode;
        bool modeShown;
        bool trms;
        const char16_t* autoText;
        const char16_t* hold;
        const char16_t* peak;
        int segments; // -1: no bar and no scale
        bool beep;
        bool diode;
    };
    // function, submode, range, AC+DC, hold, peak, manual range
    const Case cases[] = {
        {"VDC 1.2345",
         {1, 0, 1},
         12345,
         u"1.2345",
         u"V",
         u"DC",
         true,
         false,
         u"AUTO",
         u"",
         u"",
         12,
         false,
         false},
        {"negative",
         {1, 0, 1},
         -12345,
         u"-1.2345",
         u"V",
         u"DC",
         true,
         false,
         u"AUTO",
         u"",
         u"",
         12,
         false,
         false},
        {"full bar",
         {1, 0, 1},
         40000,
         u"4.0000",
         u"V",
         u"DC",
         true,
         false,
         u"AUTO",
         u"",
         u"",
         40,
         false,
         false},
        {"OL", {0, 0, 4}, 10001, u"OL", u"V", u"AC", true, true, u"AUTO", u"", u"", 10, false, false},
        {"VAC 500.0",
         {0, 0, 4},
         5000,
         u"0500.0",
         u"V",
         u"AC",
         true,
         true,
         u"AUTO",
         u"",
         u"",
         5,
         false,
         false},
        {"-OL", {4, 0, 0}, -510, u"-OL", u"C", u"TK", false, false, u"", u"", u"", -1, false, false},
        {"temperature",
         {4, 1, 0},
         250,
         u"0025.0",
         u"F",
         u"TK",
         false,
         false,
         u"",
         u"",
         u"",
         -1,
         false,
         false},
        {"4-20 mA%", {7, 0, 0}, 5000, u"050.00", u"%", u"", false, false, u"", u"", u"", 5, false, false},
        {"PEAK HOLD",
         {1, 0, 2, false, true, true, true},
         1234,
         u"01.234",
         u"V",
         u"DC",
         true,
         false,
         u"",
         u"HOLD",
         u"PEAK",
         1,
         false,
         false},
        {"BEEP", {3, 2, 0}, 1500, u"015.00", u"Ω", u"BEEP", false, false, u"", u"", u"", 1, true, false},
        {"DIODE", {3, 1, 0}, 5000, u"0.5000", u"V", u"DIODE", false, false, u"", u"", u"", 0, false, true},
        {"AC+DC",
         {0, 0, 1, true},
         20000,
         u"2.0000",
         u"V",
         u"AC+DC",
         true,
         true,
         u"AUTO",
         u"",
         u"",
         20,
         false,
         false},
        {"Frequency",
         {2, 0, 1},
         5000,
         u"050.00",
         u"Hz",
         u"Frequency",
         false,
         false,
         u"AUTO",
         u"",
         u"",
         5,
         false,
         false},
    };
    InstrumentPanel* panel = ConnectedPanel();
    ASSERT_NE(panel, nullptr);
    // One panel for every case in turn: each frame must clear what the one before set.
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Feed(c.reading, c.count);
        EXPECT_EQ(panel->Text(kMeterValueId), QString::fromStdU16String(c.value));
        EXPECT_EQ(panel->Text(kMeterUnitId), QString::fromStdU16String(c.unit));
        EXPECT_EQ(panel->Text(kMeterModeId), QString::fromStdU16String(c.mode));
        EXPECT_EQ(Shown(*panel, kMeterModeId), c.modeShown);
        EXPECT_EQ(Shown(*panel, kMeterTrmsId), c.trms);
        EXPECT_EQ(panel->Text(kMeterTrmsId), c.trms ? QStringLiteral("TRMS") : QString());
        EXPECT_EQ(panel->Text(kMeterAutoId), QString::fromStdU16String(c.autoText));
        EXPECT_EQ(panel->Text(kMeterHoldId), QString::fromStdU16String(c.hold));
        EXPECT_EQ(panel->Text(kMeterPeakId), QString::fromStdU16String(c.peak));
        EXPECT_EQ(panel->Text(kMeterBarId), c.segments < 0 ? QString() : Bar(c.segments));
        EXPECT_EQ(panel->Text(kMeterScaleId), c.segments < 0 ? QString() : kScale);
        EXPECT_EQ(Shown(*panel, kMeterBeepId), c.beep);
        EXPECT_EQ(Shown(*panel, kMeterDiodeId), c.diode);
        // The annunciators stay in place, empty or not; the notice stays away.
        for (int id : {kMeterAutoId, kMeterHoldId, kMeterPeakId, kMeterValueId, kMeterUnitId}) {
            EXPECT_TRUE(Shown(*panel, id)) << id;
        }
        EXPECT_FALSE(Shown(*panel, kMeterNoticeId));
    }
    EXPECT_EQ(Bar(40).count(QStringLiteral(" |")), 8);
}

TEST_F(MeterPanelTest, TrmsAndPeakAreInverseOnTheDisplaysColour) {
    InstrumentPanel* panel = ConnectedPanel();
    ASSERT_NE(panel, nullptr);
    frame->show();
    Feed(Reading{0, 0, 1, false, false, true}, 12000);
    ASSERT_EQ(panel->Text(kMeterPeakId), QStringLiteral("PEAK"));
    const QImage image = panel->grab().toImage();
    const QColor lcd(125, 206, 205);
    EXPECT_EQ(image.pixelColor(2, 2), lcd);
    for (int id : {kMeterTrmsId, kMeterPeakId}) {
        // The text's cells are black with the display's colour as ink.
        const QWidget* control = panel->Control(id);
        const QFontMetrics metrics = control->fontMetrics();
        const QRect cells(control->pos(),
                          QSize(metrics.horizontalAdvance(panel->Text(id)), metrics.height()));
        int black = 0;
        int ink = 0;
        for (int x = cells.left(); x <= cells.right(); ++x) {
            black += image.pixelColor(x, cells.top()) == QColor(Qt::black) ? 1 : 0;
        }
        EXPECT_EQ(black, cells.width()) << id;
        for (int y = cells.top(); y <= cells.bottom(); ++y) {
            for (int x = cells.left(); x <= cells.right(); ++x) {
                // Smoothed glyph edges blend the two colours; stroke centres carry the ink itself.
                const QColor pixel = image.pixelColor(x, y);
                ink += std::abs(pixel.green() - lcd.green()) < 40 && std::abs(pixel.red() - lcd.red()) < 40
                           ? 1
                           : 0;
            }
        }
        EXPECT_GT(ink, 0) << id;
    }
    // Without its text the TRMS box leaves nothing black.
    Feed(Reading{1, 0, 1}, 12000);
    const QImage plain = panel->grab().toImage();
    const QRect trms = panel->Control(kMeterTrmsId)->geometry();
    EXPECT_EQ(plain.pixelColor(trms.left() + 1, trms.top() + 1), lcd);
}

TEST_F(MeterPanelTest, PanelKeepsTheMeterDisplaysProportions) {
    InstrumentPanel* panel = ConnectedPanel();
    ASSERT_NE(panel, nullptr);
    // The value's font: 60-pixel characters about 24 pixels wide on average, thin.
    const QFont value = panel->Control(kMeterValueId)->font();
    EXPECT_EQ(value.pixelSize(), 60);
    EXPECT_NEAR(QFontMetrics(value).averageCharWidth(), 24, 3);
    const QFont notice = panel->Control(kMeterNoticeId)->font();
    EXPECT_EQ(notice.pixelSize(), 25);
    EXPECT_NEAR(QFontMetrics(notice).averageCharWidth(), 8, 2);
    // The longest value fits its box, and each annunciator its own.
    EXPECT_LE(QFontMetrics(value).horizontalAdvance(QStringLiteral("-000.00")),
              panel->Control(kMeterValueId)->width());
    const std::pair<int, QString> words[] = {
        {kMeterModeId, QStringLiteral("AC+DC")}, {kMeterTrmsId, QStringLiteral("TRMS")},
        {kMeterAutoId, QStringLiteral("AUTO")},  {kMeterHoldId, QStringLiteral("HOLD")},
        {kMeterPeakId, QStringLiteral("PEAK")},
    };
    for (const auto& [id, word] : words) {
        EXPECT_LE(panel->Control(id)->fontMetrics().horizontalAdvance(word), panel->Control(id)->width())
            << id;
    }
    // The whole display fits the Instrument bar at its default width.
    frame->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame));
    EXPECT_LE(panel->Control(kMeterFrameId)->geometry().right(), panel->width());
}

// The panel is laid out in the desktop's font at its own size: on a desktop with larger text the
// annunciators read like the rest of it, the value grows in proportion, and the bar widens to show it all.
TEST_F(MeterPanelTest, ThePanelFollowsTheDesktopsFontSize) {
    const QFont desktop = QApplication::font();
    QFont large = desktop;
    large.setPointSizeF(12);
    QApplication::setFont(large);
    InstrumentPanel* panel = ConnectedPanel();
    QApplication::setFont(desktop);
    ASSERT_NE(panel, nullptr);
    EXPECT_DOUBLE_EQ(panel->dialogFont().pointSizeF(), 12);
    const QFontMetrics annunciator = panel->Control(kMeterModeId)->fontMetrics();
    EXPECT_GE(annunciator.capHeight(), 10) << "readable beside a 60-pixel value";
    const double zoom = panel->baseUnits().y / static_cast<double>(kClassicBaseUnits.y);
    EXPECT_GT(zoom, 1.2);
    EXPECT_NEAR(panel->valueFont().pixelSize(), 60 * zoom, 1);
    EXPECT_LE(QFontMetrics(panel->valueFont()).horizontalAdvance(QStringLiteral("-000.00")),
              panel->Control(kMeterValueId)->width());
    frame->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame));
    EXPECT_LE(panel->Control(kMeterFrameId)->geometry().right(), panel->width()) << "nothing cut off";
}

TEST_F(MeterPanelTest, DoubleClickingTheConnectedReceiverDoesNothing) {
    InstrumentPanel* panel = ConnectedPanel();
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(settings->ReadDevicePath("Multimeter").value_or(std::string()), meter.path());
    Feed(Reading{}, 23456);
    ASSERT_FALSE(Shown(*panel, kMeterNoticeId));
    // A second open would put the panel back to its notice.
    DoubleClick(0);
    EXPECT_FALSE(Shown(*panel, kMeterNoticeId));
    EXPECT_EQ(panel->Text(kMeterValueId), QStringLiteral("2.3456"));
    EXPECT_EQ(link->meterPanel(), panel);
}

TEST_F(MeterPanelTest, ReadingsArriveThroughTheReaderThread) {
    InstrumentPanel* panel = ConnectedPanel();
    ASSERT_NE(panel, nullptr);
    frame->show();
    // Through the reader thread this time, as in the program.
    ASSERT_TRUE(meter.Send(sim::BuildLiveFrame(Reading{9, 0, 0}, 3210)));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return panel->Text(kMeterValueId) == QStringLiteral("032.10"); }, 5000));
    EXPECT_EQ(panel->Text(kMeterUnitId), QStringLiteral("mV"));
    EXPECT_TRUE(panel->Text(kMeterAutoId).isEmpty());
}

} // namespace
} // namespace calvora::testing
