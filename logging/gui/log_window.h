// The window of a continuous log: "Data Graph" (the time chart) and "Data List" tabs over the log's meters
// (one LogDocument each), and a line under them saying how many readings it holds, over what time, with how
// many gaps (per meter when it has several), and whether it is being written. A log this program writes is
// fed by the engine; a log file is opened with its overview at once, its readings loaded on another thread,
// and then followed while another program still writes it (read-only). With several meters a chooser says
// which meter log() is: the one the export and the statistics take.
#pragma once

#include "chart/gui/time_chart_view.h"
#include "logging/log_document.h"
#include "logging/log_range.h"
#include "logging/log_set.h"

#include <QMdiSubWindow>
#include <QString>
#include <QTimer>

#include <filesystem>
#include <memory>
#include <vector>

class QComboBox;
class QLabel;
class QPrinter;
class QTabWidget;
class QTableView;

namespace calvora {

class LogFollower;
class LogListModel;
class LogLoader;

class LogWindow : public QMdiSubWindow, private LogListener {
    Q_OBJECT
public:
    static constexpr int kFollowMs = 500;

    // A log this program writes as it runs.
    explicit LogWindow(std::shared_ptr<LogDocument> log, QWidget* parent = nullptr);
    // A log of several meters this program writes as it runs (StartSharedLog).
    explicit LogWindow(LogSet set, QWidget* parent = nullptr);
    // A log file whose overview `loader` has read (OpenLogWindow); the window loads its readings.
    LogWindow(std::unique_ptr<LogLoader> loader, const QString& path, QWidget* parent = nullptr);
    ~LogWindow() override;

    // The chosen meter's log (the first one's until another is chosen; the only one of one receiver).
    LogDocument& log() const { return *log_; }
    const std::shared_ptr<LogDocument>& logPtr() const { return log_; }
    const LogSet& set() const { return set_; }
    // Chooses the meter that log() is.
    void SetCurrentMeter(size_t index);
    QComboBox* meterChooser() const { return meterBox_; }
    TimeChartView* chart() const { return chart_; }
    QTableView* list() const { return list_; }
    LogListModel* listModel() const { return model_; }
    QTabWidget* tabs() const { return tabs_; }
    QLabel* statusLine() const { return status_; }
    // The file shown, when it was opened from one.
    QString pathName() const { return pathName_; }
    bool loading() const { return loader_ != nullptr; }
    bool following() const { return follower_ != nullptr; }
    // The readings the chart shows now (all of them while it shows the whole log).
    LogRange ShownRange() const;

    void Print(QPrinter& printer);
    void PrintPreview(QPrinter& printer);

Q_SIGNALS:
    // Asked before closing; `accept` may be cleared by the handler.
    void closeRequested(calvora::LogWindow* window, bool& accept);
    void aboutToClose(calvora::LogWindow* window);
    // The readings finished loading (or failed to: the reason is then shown in the status line).
    void loaded();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    LogWindow(LogSet set, bool writtenHere, QWidget* parent);
    // What the chart draws: each meter's readings (or overview) with its name and unit, in the meters' order.
    std::vector<TimeChartTrace> Traces() const;
    void OnReadingsAppended(LogDocument& log, uint64_t first, uint64_t count) override;
    void OnGapsChanged(LogDocument& log) override;
    void OnLogReset(LogDocument& log) override;
    void OnLoaded();
    void Follow();
    void ShowSeries();
    void UpdateStatus();

    LogSet set_;
    std::shared_ptr<LogDocument> log_;
    bool writtenHere_;
    QString pathName_;
    QString problem_;
    QTabWidget* tabs_;
    TimeChartView* chart_;
    QTableView* list_;
    LogListModel* model_;
    QLabel* status_;
    QComboBox* meterBox_;
    std::unique_ptr<LogLoader> loader_;
    std::unique_ptr<LogFollower> follower_;
    QTimer followTimer_;
    QTimer statusTimer_;
    std::vector<LogSubscription> subscriptions_;
};

} // namespace calvora
