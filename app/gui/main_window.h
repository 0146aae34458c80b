// The main window: menus, toolbar, status bar, the Instrument bar and the MDI area with one DocumentWindow
// per document. Commands go first to the engine the window is attached to, then to the window's own handlers;
// a command neither handles is shown disabled. The definitions are split by topic: main_window.cpp
// (construction, bars, timers, window events), main_window_commands.cpp (menus, accelerators, command table),
// main_window_documents.cpp (document windows, open, save, print, recent files) and
// main_window_instrument.cpp (the Instrument bar) and main_window_statistics.cpp (the Statistics bar).
#pragma once

#include "app/command_target.h"
#include "app/gui/document_window.h"
#include "app/recent_files.h"
#include "docking/gui/auto_hide.h"
#include "logging/log_set.h"

#include <QMainWindow>
#include <QPointer>
#include <QPrinter>
#include <QSettings>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>
#include <vector>

class QAction;
class QMdiArea;
class QLabel;
class QMenu;
class QTreeWidget;

namespace calvora {

class AlarmList;
class StatisticsPage;

class RecordingState;
class UserPrompts;
class RecordingDocument;
struct ExportChoices;
struct ExportOptions;

// The framework's settings (recent files, the window's place and bars), in the file the classic key names.
QSettings ApplicationSettings();
class LogDocument;
class LogWindow;

// A file-dialog filter of the form "Text|*.a;*.b|…|" as Qt name filters ("Text(*.a *.b)").
QStringList QtNameFilters(const QString& filter);
// The Save command's name rule: a name that ends in neither ".recorder" nor ".xls" gets ".recorder", so the
// last-dot rule never cuts into the name itself.
QString WithSaveExtension(const QString& chosen);
// A continuous log: a ".calvlog" name, or a file that begins as an SQLite database does.
bool IsLogFile(const QString& path);
// The Continuous Logging command's toolbar image: a trace running on past a clock.
QIcon LoggingIcon();

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int kInstrumentBarId = 123;
    static constexpr int kStatisticsBarId = 124;
    static constexpr int kInstrumentTreeId = 1058;
    static constexpr int kMenuWithoutDocument = 128;
    static constexpr int kMenuWithDocument = 129;

    // `documentTabs` gives every document window its tabs; it must outlive the window.
    explicit MainWindow(const TabTable& documentTabs, QWidget* parent = nullptr);
    ~MainWindow() override;

    // The creation steps: toolbar, status bar, docking, Instrument bar with its tree page. False on failure.
    bool Create();

    // The engine behind the window, before the window is used: the meter's commands, the timers and the close
    // requests go to `target`; the document commands keep the recording flags in `documents`; questions and
    // messages go to `prompts`. None is owned; all must outlive the window.
    void Attach(CommandTarget& target, RecordingState& documents, UserPrompts& prompts);

    // Puts the window, its bars and the document windows' maximised state as the last run left them; on the
    // first start the window takes most of the screen it opens on.
    void RestoreWindowState();
    // Keeps them for the next run (the close does this too).
    void SaveWindowState();
    // Whether the first document window of a run opens maximised: the state the user left them in.
    bool documentsMaximized() const { return documentsMaximized_; }

    // Command table (main_window_commands.cpp).
    CommandState QueryCommandState(int id) const;
    // Runs a command if it is enabled; false when disabled or unhandled.
    bool ExecuteCommand(int id);
    // Refreshes every action's enabled state and check mark and the menu of the state.
    void UpdateCommandUI();

    // The menu the bar shows now: 128 without a document window, 129 with one.
    int currentMenuId() const { return currentMenu_; }
    // The menu bar's top-level menus of menu 128 or 129.
    QList<QMenu*> Menus(int menuId) const;
    QAction* CommandAction(int id) const;
    QToolBar* toolBar() const { return toolBar_; }
    QLabel* messagePane() const { return messagePane_; }
    // The pane that counts a running recording's samples; hidden while none runs.
    QLabel* recordingPane() const { return recordingPane_; }
    // What just happened, in the message pane until the next prompt replaces it.
    void ShowStatus(const QString& text);
    // "Recording 150 of 300" in the recording pane; `planned` 0 hides it.
    void ShowRecordingProgress(uint32_t recorded, uint32_t planned);
    // The broker's state while readings are published (the whole text in its tool tip); hidden when empty.
    void ShowBrokerState(const QString& text, bool connected);
    DockPageBar* instrumentBar() const { return instrumentBar_; }
    QTreeWidget* instrumentTree() const { return instrumentTree_; }
    QMdiArea* mdiArea() const { return mdiArea_; }
    // The strips the Instrument bar can be pinned to.
    AutoHideStrips& autoHide() const { return *autoHide_; }

    // Documents (main_window_documents.cpp).
    DocumentWindow* NewDocument();
    // Reads a ".recorder" file or a csv export into a new document window; null (after the reader's message)
    // on failure.
    DocumentWindow* OpenDocumentFile(const QString& path);
    // Shows `document` in a new window (also the engine's way in for the live and downloaded documents).
    DocumentWindow* CreateDocumentWindow(std::shared_ptr<RecordingDocument> document);
    DocumentWindow* activeDocumentWindow() const;
    RecordingDocument* activeDocument() const;
    QList<DocumentWindow*> documentWindows() const;

    const RecentFileList& recentFiles() const { return recent_; }

    // Where Help finds the manual (empty: the installed one, else the one beside the program) and whether
    // the desktop has a browser for it; tests replace both.
    void SetHelpSource(const QString& manual, std::function<bool()> hasBrowser);
    // The manual in the program's own window, once Help has opened it there.
    QWidget* helpWindow() const { return helpWindow_; }
    // Continuous logs (main_window_logs.cpp). A log this program writes, in a window of its own.
    LogWindow* ShowLogWindow(std::shared_ptr<LogDocument> log);
    // A log this program writes over several receivers: one window for all its meters.
    LogWindow* ShowLogWindow(LogSet set);
    // Opens a ".calvlog" file read-only (following it while another program writes it); null after a
    // message on failure.
    LogWindow* OpenLogFile(const QString& path);
    LogWindow* activeLogWindow() const;
    QList<LogWindow*> logWindows() const;
    // File > Export Log to Recording...: a span of the active log as a new recording window, to be saved or
    // exported like any recording.
    void ExportLogRange();
    // View > Time Axis: the active recording's chart over its samples' times, or over sample numbers again.
    void ToggleTimeAxis();
    // The status bar's pane for a running log: readings, elapsed time, file size; hidden when empty.
    void ShowLogStatus(const QString& text);
    QLabel* logPane() const { return logPane_; }
    QLabel* brokerPane() const { return brokerPane_; }

    // Instrument bar (main_window_instrument.cpp). View › Instrument: shows the bar when hidden, hides it
    // when visible; a bar pinned to a strip counts as visible and is docked again, hidden.
    void ToggleInstrumentBar();
    bool isInstrumentBarShown() const;
    // Puts `page` alone on the Instrument bar, as its "Instrument" page (the receiver tree or the panel).
    void ShowInstrumentPage(QWidget* page);

    // Statistics bar (main_window_statistics.cpp): the active document's statistics and the alarm list, shown
    // and hidden by View › Statistics.
    DockPageBar* statisticsBar() const { return statisticsBar_; }
    StatisticsPage* statisticsPage() const { return statisticsPage_; }
    AlarmList* alarmList() const { return alarmList_; }
    void ToggleStatisticsBar();
    bool isStatisticsBarShown() const;
    // The Limits dialog for `document` (Instrument › Limits and the chart's context menu).
    void EditDocumentLimits(RecordingDocument& document);

    // The engine's timers (ids of EngineTimer): each tick goes to the attached target until the timer stops.
    void StartTimer(int id, int periodMs);
    void StopTimer(int id);
    bool IsTimerRunning(int id) const;
    // What a timer tick runs.
    void OnTimer(int id);

    // The window showing `document`, or null.
    DocumentWindow* WindowOf(const RecordingDocument* document) const;

    // The Save command (32780) for `document`: the dialog, then both files. True when they were written.
    bool SaveWithDialog(RecordingDocument& document);
    // The Save command's dialog in the documents folder's "Multimeter" folder, with the default name; the
    // chosen path (with ".recorder" added when it ends in neither ".recorder" nor ".xls"), empty when
    // cancelled.
    QString AskSavePath();
    // The shell's Save (32780), framework save (57603) and Open commands, split from their dialogs.
    bool SaveDocumentAs(RecordingDocument& document, const QString& chosenPath);
    bool SaveRecordOnly(DocumentWindow& frame, const QString& path);
    // File › Export... (main_window_export.cpp): the Export dialog, whose choices are kept for the next
    // time, then a file dialog, then the file. True when it was written.
    bool ExportWithDialogs(RecordingDocument& document);
    // The export after the dialogs; a failure is shown as Save shows one. True when the file was written.
    bool ExportDocumentTo(const RecordingDocument& document, const ExportOptions& options,
                          const QString& path);
    // The Export command's file dialog for `choices`; the chosen path, empty when cancelled.
    QString AskExportPath(const RecordingDocument& document, const ExportChoices& choices);

Q_SIGNALS:
    void commandExecuted(int id);
    // A document has its window, before it is shown; it is going away with its window.
    void documentOpened(calvora::RecordingDocument* document);
    void documentClosed(calvora::RecordingDocument* document);
    // Settings › Publish Readings... was chosen.
    void publishReadingsRequested();

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct CommandInfo {
        int id;
        QString menuText;
        QString prompt; // status-bar prompt, then tooltip after '\n'
        int image = -1;
    };
    QAction* MakeCommand(const CommandInfo& info);
    void CreateMenus();
    bool CreateToolBar();
    bool CreateStatusBar();
    bool CreateInstrumentBar();
    bool CreateStatisticsBar();
    void AddAccelerator(const QKeySequence& keys, int id);
    bool RunShellCommand(int id);
    std::optional<CommandState> ShellCommandState(int id) const;
    void ShowMenu(int menuId);
    void UpdateTitle();
    // The framework's list of document windows at the end of the Window menu.
    void FillWindowList();
    void UpdateLockIndicators(quint32 nativeModifiers);

    void OnFileSave();
    void OnFileSaveFramework();
    void OnFileOpen(const QStringList& filters);
    void OnPrint();
    void OnPrintPreview();
    void OnPrintSetup();
    // File › Export Chart... (export_chart.cpp).
    void OnExportChart();
    void OnHelp();
    void OnAbout();
    void OnDocumentClosing(DocumentWindow* frame, bool& accept);
    void OnDocumentDestroyed(RecordingDocument* document);
    void AddLogWindow(LogWindow* window);
    std::optional<CommandState> LogCommandState(int id) const;
    void AddRecent(const QString& path);
    void LoadRecent();
    void StoreRecent();
    void OpenRecent(int index);

    CommandTarget* target_ = nullptr;
    RecordingState* state_ = nullptr;
    UserPrompts* prompts_ = nullptr;

    std::map<int, QAction*> commands_;
    std::vector<std::pair<QAction*, int>> accelerators_;
    QList<QMenu*> menus128_;
    QList<QMenu*> menus129_;
    int currentMenu_ = 0;
    QAction* recentPlaceholder_ = nullptr;
    std::vector<QAction*> recentActions_;
    RecentFileList recent_{4};

    QMdiArea* mdiArea_;
    AutoHideStrips* autoHide_;
    QToolBar* toolBar_ = nullptr;
    QLabel* messagePane_ = nullptr;
    QLabel* recordingPane_ = nullptr;
    QLabel* logPane_ = nullptr;
    QLabel* brokerPane_ = nullptr;
    std::vector<QLabel*> lockPanes_;
    QMenu* windowMenu_ = nullptr;
    std::vector<QAction*> windowList_;
    DockPageBar* instrumentBar_ = nullptr;
    QTreeWidget* instrumentTree_ = nullptr;
    DockPageBar* statisticsBar_ = nullptr;
    StatisticsPage* statisticsPage_ = nullptr;
    AlarmList* alarmList_ = nullptr;
    std::map<int, QTimer*> timers_;
    QPrinter printer_;
    const TabTable& documentTabs_;
    QString helpManual_;
    std::function<bool()> hasBrowser_;
    QPointer<QWidget> helpWindow_;
    int untitledCount_ = 0;
    bool documentsMaximized_ = true;
    // Whether the active recording's samples carry times to chart, as last worked out.
    struct SampleTimesCheck {
        const RecordingDocument* document = nullptr;
        uint32_t samples = 0;
        bool usable = false;
    };
    mutable SampleTimesCheck timesChecked_;
};

} // namespace calvora
