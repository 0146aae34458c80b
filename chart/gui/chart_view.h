// The chart view: one document's samples drawn as value over sample number, with the graph toolbar,
// two scroll bars, rubber-band zoom, the snapping cursor with its readout, printing and print preview.
//
// Drawing goes into one back-buffer image of the client size. A full paint (OnDraw) refills it when the
// chart was invalidated (RedrawChart, resize, focus); the cheap paths (the newest live segment, the
// inverting rubber band and crosshair) change the image in place and the paint event only copies it.
#pragma once

#include "chart/chart_navigation.h"
#include "chart/gui/cursor_readout.h"
#include "chart/gui/graph_format_dialog.h"
#include "recording/document_listeners.h"

#include <QImage>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <array>
#include <ctime>
#include <functional>
#include <memory>
#include <string>

class QPainter;
class QPrinter;
class QScrollBar;

namespace calvora {

class ChartToolbar;
class LabelCache;
class RecordingState;
class UserPrompts;
class RecordingDocument;

// What every chart view of the program shares: the program makes one and hands it to each chart.
struct SharedChartState {
    std::array<int, kMaxChannels> markedX{}; // the last marked column per channel
    std::u16string lastFunction;             // a change repaints a live chart
    uint8_t pickedChannel = 0;               // the channel the cursor follows
};

// What the chart needs from the program around it. Every member may be left empty.
struct ChartHooks {
    // The main frame's recording flags, for the save rule of Graph Format.
    RecordingState* documents = nullptr;
    // The Save command for the document ("Save this setting").
    std::function<bool(RecordingDocument&)> save;
    // A paint to the screen shows the tabbed frame's tab strip and dialog bar again (print preview hides
    // them).
    std::function<void()> showFrameBars;
    // The print preview has ended: the tabbed frame lays out its strip and view again.
    std::function<void()> previewEnded;
    // Message boxes; null uses Qt's.
    UserPrompts* prompts = nullptr;
    // The colour dialog of Graph Format; empty uses the system's.
    ColourPicker pickColour;
    // Shared with the program's other charts; a chart given none keeps its own.
    std::shared_ptr<SharedChartState> shared;
    // The Limits dialog for the document, from the chart's context menu; no menu item when empty.
    std::function<void(RecordingDocument&)> openLimits;
};

// The colour of limit lines and of the marks of samples beyond a limit, and of a selected range's band.
inline constexpr QRgb kLimitColour = 0xFFE67800;
inline constexpr QRgb kSelectionColour = 0xFFB0CCEC;

// Sets the pixels of a trace inside `clip`, straight into an RGB32 image: per line one pixel per step
// along its longer axis (the ideal line rounded, both ends included, the same whichever end it starts
// from), and the point marks. Lines far outside the clip cost nothing.
void PaintTrace(QImage& image, const TracePicture& picture, QRgb colour, const QRect& clip);

// Listens to its document: a live sample takes the cheap path, anything else repaints the chart.
class ChartView : public QWidget, private DocumentListener {
    Q_OBJECT
public:
    static constexpr int kHorizontalBarId = 152;
    static constexpr int kVerticalBarId = 153;
    static constexpr int kScrollBarThickness = 20;
    static constexpr int kCursorTimerMs = 200;
    static constexpr int kZoomTimerMs = 10;

    explicit ChartView(RecordingDocument& document, ChartHooks hooks = {}, QWidget* parent = nullptr);
    ~ChartView() override;

    RecordingDocument& document() const { return document_; }

    // The full paint into `image`, which is (re)made at the client size. False when nothing was painted
    // (another tab shown, paint suspended, or the plot rectangle is empty: the image is then the plain
    // button face). `printTime` adds the footer.
    bool OnDraw(QImage& image, const std::tm* printTime = nullptr);
    // After each live sample: lays the chart out again and draws the newest segment alone when it can.
    void AppendLiveSample();
    // Invalidates the chart (not its toolbar and scroll bars) for a full paint.
    void RedrawChart();

    // Prints one page: the chart at the client size, with the footer, stretched over the printable area.
    void Print(QPrinter& printer);
    // The picture Print puts on the page.
    QImage PrintImage(const std::tm& localTime);
    // The print preview dialog; the frame's "Print Preview" command calls this.
    void PrintPreview(QPrinter& printer);

    // Toolbar commands.
    void OpenScaleFormat();
    void OpenGraphFormat();
    void UndoZoom();
    void SetMouseMode(MouseMode mode);

    // What the last full paint used and what is on the screen now.
    const PlotRect& plot() const { return plot_; }
    const QImage& backBuffer() const { return buffer_; }
    ChartToolbar* toolbar() const { return toolbar_; }
    QScrollBar* horizontalBar() const { return hBar_; }
    QScrollBar* verticalBar() const { return vBar_; }
    CursorReadout* readout() const { return readout_; }
    bool dragging() const { return dragging_; }
    bool paintSuspended() const { return suspendPaint_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void OnSamplesAppended(RecordingDocument& document, uint32_t first, uint32_t count) override;
    void OnDocumentReset(RecordingDocument& document) override;
    void OnSettingsChanged(RecordingDocument& document) override;

    void PlaceChildren();
    void UpdateScrollBars();
    void DrawTraces(QImage& image, const PlotRect& plot, const SampleAxis& axis, const DrawRange& range);
    void DrawLabels(QImage& image, const PlotRect& plot, const SampleAxis& axis, const DrawRange& range);
    void DrawSelection(QImage& image, const PlotRect& plot, const SampleAxis& axis);
    // The limits in force as dashed lines with their values, and a mark on every sample beyond one.
    void DrawLimits(QImage& image, const PlotRect& plot, const DrawRange& range);
    // Marks the samples of rows first .. end - 1 that lie beyond a limit in force; the area changed.
    QRect MarkBeyondLimits(QImage& image, const PlotRect& plot, int64_t first, int64_t end);

    void OnDragTimer();
    void OnHorizontalAction(int action);
    void OnVerticalAction(int action);
    void CursorStep(int x, int y);
    void CloseReadout();
    // Where the readout of a sample drawn at `cursorX` goes.
    QPoint ReadoutPlace(const QSize& size, double cursorX) const;
    void EndDragOverReadout();
    // XOR drawings on the back buffer: drawing the same thing twice restores the picture.
    void InvertRect(const DragRect& rect);
    void InvertCrosshair(int y, int x);

    RecordingDocument& document_;
    ChartHooks hooks_;
    std::shared_ptr<SharedChartState> shared_;
    ChartToolbar* toolbar_;
    QScrollBar* hBar_;
    QScrollBar* vBar_;
    std::unique_ptr<LabelCache> labels_;
    QFont labelFont_; // resolved once: asking the font database costs more than drawing the labels
    QPointer<CursorReadout> readout_;
    QTimer dragTimer_;
    QImage buffer_;
    TracePicture trace_;
    bool dirty_ = true;

    PlotRect plot_;
    bool dragging_ = false;
    bool dragMoved_ = false;
    bool selecting_ = false; // a drag with Shift held picks a range of samples
    bool crosshairFresh_ = true;
    bool suspendPaint_ = false;
    QPoint dragStart_;
    QPoint dragLast_;
    bool bandShown_ = false;
    int crosshairOldY_ = 0;
    int crosshairOldX_ = 0;
    bool channelPicked_ = false;
    bool vScrolled_ = false;
    DocumentSubscription subscription_;
};

} // namespace calvora
