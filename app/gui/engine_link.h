// The window side of the engine: shows what the engine asks for (timers, document windows, dialogs, the
// receiver tree, the instrument panel) and hands the meter's commands, timer ticks and close requests to it.
// CalvoraApplication builds it with the engine and connects both to the main window.
#pragma once

#include "app/command_target.h"
#include "app/desk_sessions.h"
#include "app/meter_engine.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <memory>
#include <utility>
#include <vector>

class QGroupBox;
class QSocketNotifier;
class QTreeWidgetItem;

namespace calvora {

class MainWindow;
class InstrumentPanel;
class SessionLink;
class LoadingDialog;
class InstrumentPanelPage;
class ContinuousLoggingDialog;

// The status bar's words for a running log: "Logging: 1,234 readings, 0:20:34, 0.1 MB".
QString LogStatusText(const ContinuousLog& log, int64_t nowMs);

class EngineLink : public QObject, public EngineView, public CommandTarget {
    Q_OBJECT
public:
    // Questions and messages go to `prompts`, which must outlive the link. `monitorDevices` watches udev for
    // receivers coming and going.
    EngineLink(MainWindow& frame, UserPrompts& prompts, bool monitorDevices);
    ~EngineLink() override;

    // The engine this link shows, made with this link as its view; it must outlive the link. The further
    // receivers' sessions find receivers and their names in `inventory` and `settings`, which must outlive
    // the link too; with `journals` each keeps its recordings in a crash journal of its own.
    void SetEngine(MeterEngine& engine, ReceiverInventory& inventory, SettingsFile& settings,
                   bool journals = false);
    MeterEngine& state() { return *state_; }
    // Every connected receiver's session, which one is active, their names and states.
    DeskSessions& desk() { return *desk_; }
    // Runs on this thread the frames the reader thread handed over; the engine's wake-up queues a call here.
    void RunPendingFrames();
    // The "Loading..." window while a download runs, else null.
    LoadingDialog* progress() const { return progress_; }
    // The instrument panel that takes the Instrument page once a receiver is chosen; not owned. Without one
    // the link makes the meter's panel (InstrumentPanel) the first time a receiver is chosen.
    void SetInstrumentPanel(InstrumentPanelPage* panel) { panel_ = panel; }
    // The meter's panel once made, else null.
    InstrumentPanel* meterPanel() const;
    // Receivers connected beside the first one (double-clicked while it is connected), in the order they
    // were connected; each has its own engine session, panel and recording document.
    size_t extraSessionCount() const { return desk_->furtherCount(); }
    MeterEngine& extraSession(size_t index) { return desk_->further(index); }
    // The Instrument bar's page while more than one receiver is connected: their panels stacked, each titled
    // with its receiver's name; null otherwise.
    QWidget* panelStack() const { return stack_.data(); }
    // The stacked panel's frame of a connected session (its title names it), else null.
    QGroupBox* panelBoxOf(const MeterEngine& engine) const;
    // Makes a connected session the one the Instrument commands act on; its panel's title shows it.
    void Activate(MeterEngine& engine);
    // Instrument > Rename Receiver...: the dialog for `entry`'s receiver, then its new name everywhere.
    void RenameReceiver(const PortEntry& entry);
    // Starts watching the reader and runs the first receiver scan.
    void Start();
    // Closes the port, stopping the reader thread.
    void Stop();

    // EngineView
    void StartTimer(int id, int milliseconds) override;
    void StopTimer(int id) override;
    RecordingDocument* CreateDocumentWindow() override;
    bool SaveDocument(RecordingDocument& document) override;
    bool AskPlannedSamples(uint32_t& samples) override;
    void ActivateDocumentWindow(RecordingDocument& document) override;
    void ShowDocumentTitle(RecordingDocument& document) override;
    void ShowReceiverTree(const std::vector<ReceiverItem>& items) override;
    void SetReceiverConnected(int itemId, bool connected) override;
    void ShowInstrumentPanel() override;
    void ShowLogWindow(const std::shared_ptr<LogDocument>& log) override;
    void ShowNoSignal() override;
    void ShowLiveReading(const LiveReading& reading) override;
    void ShowStatus(const std::u16string& text) override;
    void ShowRecordingProgress(uint32_t recorded, uint32_t planned) override;
    bool progressOpen() const override;
    void OpenProgress(int rangeMax) override;
    void SetProgressPosition(int position) override;
    void SetProgressRecords(uint32_t arrived, uint32_t total) override;
    void CloseProgress() override;
    bool AskYesNo(const std::u16string& question) override;
    void ShowMessage(const std::u16string& text, MessageIcon icon) override;

    // CommandTarget
    std::optional<CommandState> QueryCommand(int id) const override;
    bool ExecuteCommand(int id) override;
    void OnTimer(int id) override;
    bool OnCloseRequest() override;
    bool OnDocumentClosing(RecordingDocument& document) override;
    void OnDocumentDestroyed(RecordingDocument& document) override;
    void OnDocumentSaved(RecordingDocument& document) override;

Q_SIGNALS:
    // A receiver's session has connected (the first one's after each connection), or a further one ended.
    void sessionConnected(calvora::MeterEngine* engine);
    void sessionEnded(calvora::MeterEngine* engine);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class SessionLink;
    // What a receiver tree item holds: its id in the engine's tree and its index in the engine's port list.
    static constexpr int kItemIdRole = Qt::UserRole;
    static constexpr int kPortIndexRole = Qt::UserRole + 1;
    void OnTreeDoubleClicked(QTreeWidgetItem* item);
    // A further session for the receiver of tree item `itemId`; a failure to open is said and leaves nothing.
    void OpenExtraSession(int itemId, int portIndex);
    // The page for what is connected now: the stacked panels, the first receiver's panel alone, or the tree.
    void ShowConnectedPanels();
    // The receiver's name for `portIndex` of the engine's port list ("Multimeter" when it has none).
    QString ReceiverName(int portIndex) const;
    const PortEntry* PortAt(int portIndex) const;
    // The receiver the Rename command names: the active one while connected, else the tree's current item.
    const PortEntry* RenameTarget() const;
    void ShowReceiverMenu(const PortEntry& entry, const QPoint& globalPos);
    // The panel, the status bar's panes and the message pane show the active session's state.
    void ShowActiveState();
    void ShowRecordingProgressOf(const MeterEngine& engine);
    // The stack is the page while further receivers are connected, or one is and another could be.
    bool StackWanted() const;
    // The stacked panels' titles say each receiver's name and state (connected, no signal, recording).
    void RefreshPanelTitles();
    void SetTreeIcon(int itemId, bool connected);
    // Ends the further session of `engine` (port closed, panel gone); its documents stay.
    void Retire(MeterEngine& engine);
    // The progress window for `engine`'s download.
    void OpenProgressFor(MeterEngine& engine, int rangeMax);
    void CloseProgressWindow();
    // The message pane says what an armed trigger waits for, and "Ready" again once it no longer waits.
    void ShowTriggerState();
    void OnDeviceChange();
    void PollReader();
    // Instrument > Continuous Logging...: the dialog, then the log.
    void StartLogging();
    // Starts the continuous log the dialog chose: the active receiver's own, or one over the receivers
    // checked among `offered` (the connected receivers not logging yet, the active one first).
    void StartChosenLog(const ContinuousLoggingDialog& dialog, const std::vector<MeterEngine*>& offered);
    // Stop Recording of a receiver whose log other receivers share ends the log for all of them.
    void StopSharedLog(const MeterEngine& engine);
    void UpdateLogStatus();

    MainWindow& frame_;
    UserPrompts& prompts_;
    MeterEngine* state_ = nullptr;
    std::unique_ptr<DeviceMonitor> monitor_;
    QSocketNotifier* monitorNotifier_ = nullptr;
    QTimer readerPoll_;
    LoadingDialog* progress_ = nullptr;
    InstrumentPanelPage* panel_ = nullptr;
    // The panel is made once, on the Instrument bar; the main window's widgets own it.
    QPointer<InstrumentPanel> meter_;
    std::unique_ptr<InstrumentPanelPage> meterPage_;
    bool started_ = false;
    bool triggerShown_ = false;

    std::unique_ptr<DeskSessions> desk_;
    bool journals_ = false;
    // The stacked panels' frames and the sessions they show.
    std::vector<std::pair<QPointer<QGroupBox>, MeterEngine*>> panelBoxes_;
    // The session whose download the "Loading..." window shows.
    MeterEngine* progressEngine_ = nullptr;
    // The first session's tree item while it is connected (0: none).
    int primaryItem_ = 0;
    QPointer<QWidget> stack_;
};

} // namespace calvora
