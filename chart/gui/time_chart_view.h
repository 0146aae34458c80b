// The time chart: readings drawn over wall-clock time (a continuous log, or a recording whose samples carry
// times). The trace comes from the series' column envelopes, a few questions per pixel column whatever the
// number of readings; gaps are breaks in it and are shaded. Tick labels follow the visible span and never
// overlap. Several traces (a log of several meters) share the time axis, each in its own colour on its own
// value scale: the first's axis on the left, the second's on the right, further ones right of that, and a
// legend names them; gaps are shaded where every trace has one.
//
// Mouse and keys: drag a rectangle to zoom into it; the wheel scrolls (with Ctrl it zooms around the
// pointer); a double click or Home shows the whole series again; Left and Right scroll, + and - zoom. While
// it shows the whole series it follows a series that grows.
#pragma once

#include "chart/time_trace.h"

#include <QImage>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

class QPrinter;
class QScrollBar;

namespace calvora {

// One trace of the time chart: its readings (outliving the view, or replaced first), the name the legend
// shows, and what its values are in ("V").
struct TimeChartTrace {
    const TimeSeries* series = nullptr;
    QString name;
    QString unit;
};

class TimeChartView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kRefreshMs = 40; // at most 25 repaints a second while readings arrive
    static constexpr int kScrollSteps = 10000;

    explicit TimeChartView(QWidget* parent = nullptr);
    ~TimeChartView() override;

    // The series drawn as the one trace (null: none); it must outlive the view or be replaced first.
    void SetSeries(const TimeSeries* series);
    // The traces drawn, in order; the window shows all of them whole. To keep a zoom across a change of the
    // traces, give the window back with SetWindow: a trace it has no scale for gets the automatic one.
    void SetTraces(std::vector<TimeChartTrace> traces);
    const std::vector<TimeChartTrace>& traces() const { return traces_; }
    // The first trace's series (null: none).
    const TimeSeries* series() const;
    // What the first trace's values are in, for its axis and the readout ("V"); SetSeries keeps it.
    void SetUnit(const QString& unit);
    // Text shown in the plot while there is nothing to draw.
    void SetEmptyText(const QString& text);

    // The series grew or changed: repainted at the next refresh, still following it when whole.
    void SeriesChanged();
    // Drawn afresh now (the series was replaced as a whole).
    void Redraw();

    const TimeWindow& window() const { return window_; }
    void SetWindow(const TimeWindow& window);
    void ShowWholeSeries();
    void ScrollBy(double fraction);
    void ZoomBy(double factor);

    // The full paint into `image` at its size (the benchmark and printing use it). The plot lies where the
    // view's would at that size.
    void Render(QImage& image);
    const QImage& backBuffer() const { return buffer_; }
    PlotRect plot() const;
    QScrollBar* scrollBar() const { return scrollBar_; }
    void Print(QPrinter& printer);

Q_SIGNALS:
    // The shown window changed: zoom, scrolling, or the whole series again.
    void windowChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    // The window to draw now: the whole series unless zoomed, with a scale for every trace.
    TimeWindow CurrentWindow() const;
    // Where the plot and the value axes lie at a size, with the labels `window` gives them.
    AxesLayout LayoutFor(int width, int height, const TimeWindow& window) const;
    bool HasReadings() const;
    void PaintInto(QImage& image, const AxesLayout& layout, const TimeWindow& window);
    void PaintLegend(QPainter& painter, const PlotRect& plot) const;
    void UpdateScrollBar();
    QString Readout(int x) const;

    std::vector<TimeChartTrace> traces_;
    std::vector<const TimeSeries*> series_; // the traces' series, for the window's arithmetic
    TimeWindow window_;
    QString unit_; // the unit SetSeries gives its trace
    QString emptyText_;
    QImage buffer_;
    bool dirty_ = true;
    QTimer refresh_;
    QScrollBar* scrollBar_;
    QFont labelFont_;
    ColumnTrace trace_;
    TracePicture picture_;
    // Rubber band and readout.
    bool dragging_ = false;
    QPoint dragStart_;
    QPoint dragNow_;
    int hoverX_ = -1;
};

} // namespace calvora
