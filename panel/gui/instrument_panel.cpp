#include "panel/gui/instrument_panel.h"

#include "panel/gui/lcd_controls.h"

#include <QApplication>
#include <QFontMetrics>

#include <algorithm>
#include <cmath>

namespace calvora {

namespace {

// A font asked for the way the display's fonts were: Arial (or the closest sans serif) with a character
// height in pixels, an average character width and a weight. The width is met by stretching the face.
QFont DisplayFont(int characterHeight, int averageWidth, QFont::Weight weight) {
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(characterHeight);
    font.setWeight(weight);
    const int natural = QFontMetrics(font).averageCharWidth();
    if (natural > 0) {
        font.setStretch(static_cast<int>(std::lround(100.0 * averageWidth / natural)));
    }
    return font;
}

DialogBaseUnits BaseUnitsOf(const QFont& font) {
    const QFontMetrics metrics(font);
    return {BaseUnitXFromLetters(metrics.horizontalAdvance(
                QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"))),
            metrics.height()};
}

// True when each annunciator's widest word fits its box in `font`.
bool AnnunciatorsFit(const QFont& font) {
    const std::pair<int, const char16_t*> words[] = {
        {kMeterModeId, u"AC+DC"}, {kMeterTrmsId, u"TRMS"}, {kMeterAutoId, u"AUTO"},
        {kMeterHoldId, u"HOLD"},  {kMeterPeakId, u"PEAK"},
    };
    const QFontMetrics metrics(font);
    const DialogBaseUnits units = BaseUnitsOf(font);
    for (const auto& [id, word] : words) {
        const int box = DialogToPixels(FindMeterControl(id)->rect, units).width;
        if (metrics.horizontalAdvance(QString::fromUtf16(word)) > box) {
            return false;
        }
    }
    return true;
}

// The dialog font the template is laid out in: the desktop's font at its own size, never below the template's
// 8 points, so the annunciators read like the rest of the desktop and the display grows with the desktop's
// font size and resolution. Smaller only where an annunciator would not fit its box.
QFont TemplateDialogFont() {
    QFont font = QApplication::font();
    font.setPointSizeF(std::max<double>(kMeterDialogFontPoints, font.pointSizeF()));
    constexpr double kSmallest = 6;
    while (!AnnunciatorsFit(font) && font.pointSizeF() > kSmallest) {
        font.setPointSizeF(font.pointSizeF() - 0.5);
    }
    return font;
}

QString FromCore(const std::u16string& text) {
    return QString::fromStdU16String(text);
}

} // namespace

InstrumentPanel::InstrumentPanel(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("CMeterDlg166"));
    dialogFont_ = TemplateDialogFont();
    setFont(dialogFont_);
    units_ = BaseUnitsOf(dialogFont_);
    // The value and the notice keep their proportion to the boxes, which follow the dialog font's height.
    const double zoom = std::max(1.0, static_cast<double>(units_.y) / kClassicBaseUnits.y);
    auto zoomed = [zoom](int pixels) { return static_cast<int>(std::lround(pixels * zoom)); };
    valueFont_ = DisplayFont(zoomed(60), zoomed(24), QFont::Thin);
    noticeFont_ = DisplayFont(zoomed(25), zoomed(8), QFont::Thin);

    setAutoFillBackground(true);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, LcdBackground());
    setPalette(colours);

    for (const MeterControl& control : MeterTemplate()) {
        QWidget* widget = nullptr;
        switch (control.kind) {
        case MeterControlKind::Text: {
            LcdText::Look look = LcdText::Look::Plain;
            if (control.id == kMeterTrmsId || control.id == kMeterPeakId) {
                look = LcdText::Look::Inverse;
            } else if (control.id == kMeterBarId) {
                look = LcdText::Look::BarGraph;
            } else if (control.id == kMeterScaleId) {
                look = LcdText::Look::BarScale;
            }
            widget = new LcdText(control.id, look, this);
            break;
        }
        case MeterControlKind::CentredText: {
            auto* notice = new LcdText(control.id, LcdText::Look::Centred, this);
            notice->SetText(
                QString::fromUtf16(kWaitingNotice.data(), static_cast<qsizetype>(kWaitingNotice.size())));
            widget = notice;
            break;
        }
        case MeterControlKind::Picture:
            widget = new LcdSymbol(control.id, this);
            break;
        case MeterControlKind::GroupBox:
            widget = new LcdFrame(this);
            // Drawn under the texts it surrounds.
            widget->lower();
            break;
        }
        widget->setGeometry(PixelRect(control.rect));
        widget->setVisible(control.initiallyVisible);
        controls_[control.id] = widget;
    }
    Control(kMeterValueId)->setFont(valueFont_);
    Control(kMeterNoticeId)->setFont(noticeFont_);
    // Dialog initialisation: the empty members go into the controls, so only the notice and the frame remain.
    TransferTexts();
}

QRect InstrumentPanel::PixelRect(const DialogRect& rect) const {
    const DialogRect pixels = DialogToPixels(rect, units_);
    return {pixels.x, pixels.y, pixels.width, pixels.height};
}

QSize InstrumentPanel::sizeHint() const {
    const MeterControl* frame = FindMeterControl(kMeterFrameId);
    const DialogRect area = frame->rect;
    return PixelRect({0, 0, area.x * 2 + area.width, area.y + area.height + area.x}).size();
}

QWidget* InstrumentPanel::Control(int id) const {
    const auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : it->second;
}

QString InstrumentPanel::Text(int id) const {
    const auto* text = qobject_cast<LcdText*>(Control(id));
    return text != nullptr ? text->text() : QString();
}

void InstrumentPanel::SetShown(int id, bool shown) {
    if (QWidget* control = Control(id)) {
        control->setVisible(shown);
    }
}

void InstrumentPanel::TransferTexts() {
    const std::pair<int, const std::u16string*> members[] = {
        {kMeterModeId, &texts_.modeText},   {kMeterTrmsId, &texts_.trmsText},
        {kMeterUnitId, &texts_.unitText},   {kMeterValueId, &texts_.valueText},
        {kMeterAutoId, &texts_.autoText},   {kMeterBarId, &texts_.barText},
        {kMeterHoldId, &texts_.holdText},   {kMeterPeakId, &texts_.peakText},
        {kMeterScaleId, &texts_.scaleText},
    };
    for (const auto& [id, text] : members) {
        static_cast<LcdText*>(Control(id))->SetText(FromCore(*text));
    }
}

void InstrumentPanel::ShowWaiting() {
    SetShown(kMeterNoticeId, true);
    for (int id : {kMeterValueId, kMeterBeepId, kMeterDiodeId, kMeterTrmsId}) {
        SetShown(id, false);
    }
    // The value keeps its last text behind the notice; it is hidden until the next reading.
    const std::u16string value = texts_.valueText;
    texts_ = PanelTexts{};
    texts_.valueText = value;
    TransferTexts();
}

void InstrumentPanel::ShowReading(const PanelState& panel) {
    texts_ = panel.texts;
    SetShown(kMeterNoticeId, panel.noticeShown);
    SetShown(kMeterValueId, panel.valueShown);
    SetShown(kMeterModeId, panel.modeShown);
    SetShown(kMeterTrmsId, panel.trmsShown);
    SetShown(kMeterBeepId, panel.beepShown);
    SetShown(kMeterDiodeId, panel.diodeShown);
    TransferTexts();
}

} // namespace calvora
