// "Graph Format": background, grid and trace colours and the display flags, edited on working copies and
// written to the document on OK.
#pragma once

#include "chart/chart_model.h"

#include <QDialog>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

class QCheckBox;
class QComboBox;
class QPushButton;

namespace calvora {

class ColourSwatch;
class RecordingState;
class RecordingDocument;

// The system colour dialog with no preset colour; empty on Cancel.
using ColourPicker = std::function<std::optional<uint32_t>(QWidget* parent)>;
ColourPicker SystemColourPicker();

struct GraphFormatHooks {
    // The recording flags decide whether "Save this setting" saves; null: the document is not the live one.
    const RecordingState* documents = nullptr;
    // The Save command for the document; the frame decides how.
    std::function<bool(RecordingDocument&)> save;
    // Repaints the chart after OK.
    std::function<void()> redraw;
    ColourPicker pickColour;
};

class GraphFormatDialog : public QDialog {
    Q_OBJECT
public:
    GraphFormatDialog(RecordingDocument& document, GraphFormatHooks hooks, QWidget* parent = nullptr);

    void accept() override;

    // Chooses the colour of one swatch through the colour picker, as its "..." button does.
    void ChooseBackground();
    void ChooseGrid();
    void ChooseTrace();

    ColourSwatch* BackgroundSwatch() const { return m_background; }
    ColourSwatch* GridSwatch() const { return m_grid; }
    ColourSwatch* TraceSwatch() const { return m_trace; }
    QCheckBox* HorizontalAxisBox() const { return m_gridVisible; }
    QCheckBox* VerticalAxisBox() const { return m_verticalAxis; }
    QCheckBox* DataVisibleBox() const { return m_traceVisible; }
    QCheckBox* MarkPointsBox() const { return m_markPoints; }
    // Hidden controls of the dialog: the channel list, the alarm flags and "Save this setting".
    QComboBox* ChannelList() const { return m_channels; }
    QCheckBox* SaveSettingBox() const { return m_save; }

private:
    void ShowChannel(int channel);
    void StoreFlag(QCheckBox* box, std::array<uint8_t, kMaxChannels>& flags);

    RecordingDocument& m_document;
    GraphFormatHooks m_hooks;
    std::array<uint8_t, kMaxChannels> m_visible{};
    std::array<uint8_t, kMaxChannels> m_alarmHigh{};
    std::array<uint8_t, kMaxChannels> m_alarmLow{};
    std::array<uint8_t, kMaxChannels> m_marks{};
    std::array<uint32_t, kMaxChannels> m_colours{};
    int m_channel = 0;

    ColourSwatch* m_background;
    ColourSwatch* m_grid;
    ColourSwatch* m_trace;
    QCheckBox* m_gridVisible;
    QCheckBox* m_verticalAxis;
    QCheckBox* m_traceVisible;
    QCheckBox* m_markPoints;
    QCheckBox* m_alarmHighBox;
    QCheckBox* m_alarmLowBox;
    QComboBox* m_channels;
    QCheckBox* m_save;
};

} // namespace calvora
