// The window side of the engine: shows what the engine asks for (timers, document windows, dialogs, the
// receiver tree, the instrument panel) and hands the meter's commands, timer ticks and close requests to it.
// CalvoraApplication builds it with the engine and connects both to the main window.
#pragma once

#include "app/command_target.h"
#include "app/meter_engine.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <memory>
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

// The status bar's words for a running log: "Logging: 1,234 readings, 0:20:34, 0.1 MB".
QString LogStatusText(const ContinuousLog& log, int64_t nowMs);

class EngineLink : public QObject, public EngineView, public CommandTarget {
    Q_OBJECT
public:
    // Questions and messages go to `prompts`, which must outlive the link. `monitorDevices` watches udev for
    // receivers coming and going.
    EngineLink(MainWindow& frame, UserPrompts& prompts, bool monitorDevices);
    ~EngineLink() override;

    // The engine this link shows, made with this link as its view; it must outlive the link.
    void SetEngine(MeterEngine& engine) { state_ = &engine; }
    MeterEngine& state() { return *state_; }
    // Runs on this thread the frames the reader thread handed over; the engine's wake-up queues a call here.
    void RunPendingFrames();
    // The "Loading..." window while a download runs, else null.
    LoadingDialog* progress() const { return progress_; }
    // The instrument panel that takes the Instrument page once a receiver is chosen; not owned. Without one
    // the link makes the meter's panel (InstrumentPanel) the first time a receiver is chosen.
    void SetInstrumentPanel(InstrumentPanelPage* panel) { panel_ = panel; }
    // The meter's panel once made, else null.
    InstrumentPanel* meterPanel() const;
    // Where the sessions of further receivers find receivers and their names; both must outlive the link.
    // With `journals` each further session keeps its recordings in a crash journal of its own.
    void SetSessionServices(ReceiverInventory& inventory, SettingsFile& settings, bool journals = false);
    // Receivers connected beside the first one (double-clicked while it is connected), in the order they
    // were connected; each has its own engine session, panel and recording document.
    size_t extraSessionCount() const { return extras_.size(); }
    MeterEngine& extraSession(size_t index);
    // The Instrument bar's page while more than one receiver is connected: their panels stacked, each titled
    // with its receiver's name; null otherwise.
    QWidget* panelStack() const { return stack_.data(); }
    // Instrument > Disconnect: every receiver's session ends (recordings stop, ports close), the tree comes
    // back.
    void DisconnectAll();
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

private:
    friend class SessionLink;
    void OnTreeDoubleClicked(QTreeWidgetItem* item);
    // A further session for the receiver of tree item `itemId`; a failure to open is said and leaves nothing.
    void OpenExtraSession(int itemId, int portIndex);
    // The page for what is connected now: the stacked panels, the first receiver's panel alone, or the tree.
    void ShowConnectedPanels();
    // The receiver's name for `portIndex` of the engine's port list ("Multimeter" when it has none).
    QString ReceiverName(int portIndex) const;
    const PortEntry* PortAt(int portIndex) const;
    // The stack is the page while further receivers are connected, or one is and another could be.
    bool StackWanted() const;
    // The stacked panels' titles say each receiver's name and state (connected, no signal, recording).
    void RefreshPanelTitles();
    void SetTreeIcon(int itemId, bool connected);
    // Ends the further session `index` (port closed, panel gone); it stays among the retired sessions.
    void RetireExtra(size_t index);
    // The message pane says what an armed trigger waits for, and "Ready" again once it no longer waits.
    void ShowTriggerState();
    void OnDeviceChange();
    void PollReader();
    // Instrument > Continuous Logging...: the dialog, then the log.
    void StartLogging();
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

    ReceiverInventory* sessionInventory_ = nullptr;
    SettingsFile* sessionSettings_ = nullptr;
    bool sessionJournals_ = false;
    std::vector<std::unique_ptr<SessionLink>> extras_;
    std::vector<std::unique_ptr<SessionLink>> retired_;
    std::vector<QPointer<QGroupBox>> panelBoxes_;
    bool primaryHasReading_ = false;
    // The first session's tree item while it is connected (0: none).
    int primaryItem_ = 0;
    QPointer<QWidget> stack_;
};

} // namespace calvora
