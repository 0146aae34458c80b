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

class QSocketNotifier;
class QTreeWidgetItem;

namespace calvora {

class MainWindow;
class InstrumentPanel;
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
    void OnTreeDoubleClicked(QTreeWidgetItem* item);
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
};

} // namespace calvora
