// The graph toolbar across the top of the chart: the two dialogs, "Undo Zoom" and the zoom/cursor mode
// buttons, whose images show the mode in force.
#pragma once

#include <QImage>
#include <QWidget>

class QPushButton;

namespace calvora {

class ChartView;

enum class ModeImage {
    ZoomActive,    // blue magnifier
    ZoomInactive,  // grey magnifier
    CursorActive,  // blue arrow pointer
    CursorInactive // grey arrow pointer
};
inline constexpr int kModeImageWidth = 58;
inline constexpr int kModeImageHeight = 30;

// A raised button face with a dotted rectangle and the symbol.
QImage DrawModeImage(ModeImage image);

class ChartToolbar : public QWidget {
    Q_OBJECT
public:
    static constexpr int kHeight = 41;

    explicit ChartToolbar(ChartView& view);

    // Shows the images of the document's current mode.
    void ShowMode();

    QPushButton* customScaleButton() const { return customScale_; }
    QPushButton* graphFormatButton() const { return graphFormat_; }
    QPushButton* undoZoomButton() const { return undoZoom_; }
    QPushButton* zoomModeButton() const { return zoomMode_; }
    QPushButton* cursorModeButton() const { return cursorMode_; }

private:
    ChartView& view_;
    QPushButton* customScale_;
    QPushButton* graphFormat_;
    QPushButton* undoZoom_;
    QPushButton* zoomMode_;
    QPushButton* cursorMode_;
};

} // namespace calvora
