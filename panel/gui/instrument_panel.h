// InstrumentPanel: the instrument panel, a page of the Instrument bar that imitates the meter's display. It
// has no logic of its own: the reading decoder decides every text and every shown control, the connection
// handling puts it in its waiting state.
#pragma once

#include "panel/meter_layout.h"
#include "protocol/reading_decoder.h"

#include <QFont>
#include <QWidget>

#include <map>

namespace calvora {

class LcdText;

// A plain widget rather than a dialog: as a page it must not close itself on Escape.
class InstrumentPanel : public QWidget {
    Q_OBJECT
public:
    explicit InstrumentPanel(QWidget* parent = nullptr);

    // Waiting for data (a receiver was just chosen): the notice "Please open the wireless on the meter"
    // shows; the value, the TRMS box and the symbols hide; every text but the value becomes empty.
    void ShowWaiting();
    // One decoded live reading: its texts and shown controls, the notice hidden.
    void ShowReading(const PanelState& panel);

    // The control with this template id, or null (the pictures nothing shows are left out).
    QWidget* Control(int id) const;
    // The text shown by a text control; empty for other ids.
    QString Text(int id) const;
    // The nine texts as last transferred into the controls.
    const PanelTexts& texts() const { return texts_; }

    QFont dialogFont() const { return dialogFont_; }
    QFont valueFont() const { return valueFont_; }
    QFont noticeFont() const { return noticeFont_; }
    DialogBaseUnits baseUnits() const { return units_; }
    // A template rectangle in this panel's pixels.
    QRect PixelRect(const DialogRect& rect) const;

    // The display area with the template's margin around it.
    QSize sizeHint() const override;

private:
    // Moves the nine text members into their controls.
    void TransferTexts();
    void SetShown(int id, bool shown);

    QFont dialogFont_;
    QFont valueFont_;
    QFont noticeFont_;
    DialogBaseUnits units_;
    PanelTexts texts_;
    std::map<int, QWidget*> controls_;
};

} // namespace calvora
