// "Graph Format": background, grid and trace colours and the display flags, edited on working copies and
// written to the document on OK.
#pragma once

#include "chart/model/chart_model.h"

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

    ColourSwatch* backgroundSwatch() const { return background_; }
    ColourSwatch* gridSwatch() const { return grid_; }
    ColourSwatch* traceSwatch() const { return trace_; }
    QCheckBox* horizontalAxisBox() const { return gridVisible_; }
    QCheckBox* verticalAxisBox() const { return verticalAxis_; }
    QCheckBox* dataVisibleBox() const { return traceVisible_; }
    QCheckBox* markPointsBox() const { return markPoints_; }
    // Hidden controls of the dialog: the channel list, the alarm flags and "Save this setting".
    QComboBox* channelList() const { return channels_; }
    QCheckBox* saveSettingBox() const { return save_; }

private:
    void ShowChannel(int channel);
    void StoreFlag(QCheckBox* box, std::array<uint8_t, kMaxChannels>& flags);

    RecordingDocument& document_;
    GraphFormatHooks hooks_;
    std::array<uint8_t, kMaxChannels> visible_{};
    std::array<uint8_t, kMaxChannels> alarmHigh_{};
    std::array<uint8_t, kMaxChannels> alarmLow_{};
    std::array<uint8_t, kMaxChannels> marks_{};
    std::array<uint32_t, kMaxChannels> colours_{};
    int channel_ = 0;

    ColourSwatch* background_;
    ColourSwatch* grid_;
    ColourSwatch* trace_;
    QCheckBox* gridVisible_;
    QCheckBox* verticalAxis_;
    QCheckBox* traceVisible_;
    QCheckBox* markPoints_;
    QCheckBox* alarmHighBox_;
    QCheckBox* alarmLowBox_;
    QComboBox* channels_;
    QCheckBox* save_;
};

} // namespace calvora
