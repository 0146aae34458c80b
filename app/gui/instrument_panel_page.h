// What the Instrument bar needs of the instrument panel while a receiver is connected: its widget for the
// page, a reset to the "Please open the wireless on the meter" notice, and each live reading.
#pragma once

class QWidget;

namespace calvora {

struct LiveReading;

class InstrumentPanelPage {
public:
    virtual ~InstrumentPanelPage() = default;
    virtual QWidget* Widget() = 0;
    // Shows the notice, hides the indicators and empties the display texts.
    virtual void Reset() = 0;
    virtual void ShowReading(const LiveReading& reading) = 0;
    // A continuous log's readings stopped (receiver away or silent): the display says "no signal" until the
    // next reading.
    virtual void ShowNoSignal() {}
};

} // namespace calvora
