// The main window's state without its widgets: the receiver's port and its reader, receiver discovery,
// live readings, recording, the stored-log download and pairing. The desktop program shows this state
// through a EngineView made of widgets; calvora-cli and the tests use headless views.
//
// Threads: everything runs on the user-interface thread except the receive routine, which runs on the
// serial reader thread and hands each frame over synchronously through a SyncHandOff. The owner must
// let the hand-off run (RunPending / WaitAndRun) on the user-interface thread.
#pragma once

#include "app/sync_hand_off.h"
#include "chart/live_chart_rules.h"
#include "link/receiver_inventory.h"
#include "link/receiver_port.h"
#include "link/settings_file.h"
#include "logging/continuous_log.h"
#include "measure/trigger.h"
#include "protocol/frame_assembler.h"
#include "protocol/outcome.h"
#include "protocol/reading_decoder.h"
#include "recording/recording_state.h"

#include <cstdint>
#include <ctime>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace calvora {

class Journal;
class RecordingDocument;

// One receiver found by the scan (or named by the settings file or the user).
struct PortEntry {
    std::u16string label; // always "Multimeter" for receivers
    int portNumber = 0;   // 1..255; 0 for a device known only by its path; anything else fails to open
    uint32_t baudRate = 0;
    std::string devicePath; // opened instead of the COM number when not empty
};

// One entry of the instrument tree. Ids are never reused, so a stale id never matches a new item.
struct ReceiverItem {
    int id = 0;
    int portIndex = 0;
    std::u16string label;
};

enum EngineTimer : int {
    kConnectTimer = 1,
    kRescanTimer = 3,
    kPairTimer = 4,
    kDownloadTimer = 5,
    kPairCountdownTimer = 6,
    kLogTimer = 7,
};
inline constexpr int kConnectDelayMs = 200;
inline constexpr int kRescanDelayMs = 1000;
inline constexpr int kPairTimeoutMs = 30000;
// The status bar counts the pairing's seconds down at this pace.
inline constexpr int kPairCountdownMs = 1000;
// A download whose memory frames stop arriving for this long ends with what has arrived.
inline constexpr int kDownloadStallMs = 5000;
// A running continuous log looks at the clock this often: gaps, its stop condition, reconnecting.
inline constexpr int kLogTickMs = 250;
// While its receiver is away it looks for the device this often: the port's open discards whatever the
// receiver sent before it, so the sooner the better.
inline constexpr int kLogReconnectPollMs = 50;
inline constexpr uint32_t kMaxPlannedSamples = 20000;
inline constexpr int kMaxReceivers = 100;
// The port Reconnect and Comport start from when the settings file names none.
inline constexpr int kDefaultPortNumber = 3;

inline constexpr std::u16string_view kMultimeterLabel = u"Multimeter";
inline constexpr std::u16string_view kPairFailed =
    u"Pair failed! Make sure the meter is opened and sending data!";
inline constexpr std::u16string_view kSaveBeforeContinuing =
    u"Do you want to save the existing data before continuing?";
inline constexpr std::u16string_view kLiveDocumentTitle = u"RealTime Panel";
inline constexpr std::u16string_view kDownloadDocumentTitle = u"Datalog Panel";

// What the state asks of the window. Display-only hooks default to doing nothing so headless views
// implement just what they need.
class EngineView : public UserPrompts {
public:
    // Single-shot timers; when one fires the owner calls MeterEngine::OnTimer(id).
    virtual void StartTimer(int id, int milliseconds) = 0;
    virtual void StopTimer(int id) = 0;

    // A new, empty document in its own window (the document template's new-document path). The view
    // owns it until the window closes, when it calls OnDocumentDestroyed.
    virtual RecordingDocument* CreateDocumentWindow() = 0;
    // The Save command for `document` (dialog, both files). True when the files were written.
    virtual bool SaveDocument(RecordingDocument& document) = 0;
    // The "Sampling Setup" dialog; false when cancelled. `samples` holds the proposal on entry.
    virtual bool AskPlannedSamples(uint32_t& samples) = 0;

    virtual void ActivateDocumentWindow(RecordingDocument& /*document*/) {}
    // The window of `document` shows the title the state has just given it. What the document holds is
    // announced by the document itself, to the views that listen to it.
    virtual void ShowDocumentTitle(RecordingDocument& /*document*/) {}

    // What just happened, in words, for the status bar ("Paired.", "Receiver removed - ...").
    virtual void ShowStatus(const std::u16string& /*text*/) {}
    // The running recording's count for its status pane ("Recording 150 of 300"); planned 0 hides the pane.
    virtual void ShowRecordingProgress(uint32_t /*recorded*/, uint32_t /*planned*/) {}

    // Every live reading after decoding, for the instrument panel.
    virtual void ShowLiveReading(const LiveReading& /*reading*/) {}
    // The instrument tree with these items becomes the Instrument page.
    virtual void ShowReceiverTree(const std::vector<ReceiverItem>& /*items*/) {}
    virtual void SetReceiverConnected(int /*itemId*/, bool /*connected*/) {}
    // The instrument panel becomes the Instrument page, showing the notice
    // "Please open the wireless on the meter" with empty texts.
    virtual void ShowInstrumentPanel() {}

    // A continuous log has started: its document in a window of its own. The view shares the document;
    // headless views may keep nothing.
    virtual void ShowLogWindow(const std::shared_ptr<LogDocument>& /*log*/) {}
    // A continuous log lost its readings (receiver gone, or silent for five seconds): the panel says so
    // until the next reading.
    virtual void ShowNoSignal() {}

    // The "Loading..." progress window of a download.
    virtual bool progressOpen() const { return false; }
    virtual void OpenProgress(int /*rangeMax*/) {}
    virtual void SetProgressPosition(int /*position*/) {}
    // Whole records that have arrived of the `total` the meter announced.
    virtual void SetProgressRecords(uint32_t /*arrived*/, uint32_t /*total*/) {}
    virtual void CloseProgress() {}
};

class MeterEngine : private FrameSink {
public:
    // `settings` and `inventory` must outlive the state. `wakeUi` is called on the reader thread when
    // a frame waits for the user-interface thread (see SyncHandOff).
    MeterEngine(EngineView& view, ReceiverInventory& inventory, SettingsFile& settings,
                std::function<void()> wakeUi = {});
    ~MeterEngine() override;
    MeterEngine(const MeterEngine&) = delete;
    MeterEngine& operator=(const MeterEngine&) = delete;

    // --- receivers and the port ---
    void ScanReceivers();
    // Opens the selected receiver's port. A failure is also shown as a warning that names the port; its
    // reason is the port's (busy, missing, no access ...).
    PortOutcome<> OpenSelectedPort();
    void OnReceiverDoubleClicked(int itemId);
    void OnDeviceArrived();
    void OnDeviceRemoved();
    void Reconnect();
    // The Comport dialog: the number it starts with (from the settings file; for a receiver remembered by
    // its device path, a valid number of its own), then the typed one.
    int BeginComport();
    void ConfirmComport(int portNumber);
    // Opens a device path directly (the command-line tool's --port).
    PortOutcome<> OpenDevice(const std::string& devicePath, int portNumber = 0);
    void ClosePort();
    // The Disconnect command: a running recording or log ends, the port closes, the receiver's tree item
    // shows it unconnected and the tree takes the Instrument page. Nothing happens when none is connected.
    bool canDisconnect() const { return !connectedLabel_.empty(); }
    void Disconnect();
    void OnTimer(int id);
    // A reader that ended because its device went away is treated as a removal notification: a pulled
    // receiver is noticed even where no device-change event arrives (pseudo-terminals). Call it from
    // the owner's loop; true when it reported a removal.
    bool PollReaderEnd();
    // Hands live frames on without a port, for bytes that come from a capture file.
    void SelectCaptureSource();

    // --- commands and their enable rules ---
    bool canPair() const { return !connectedLabel_.empty(); }
    void Pair();
    bool canStartRecording() const { return !connectedLabel_.empty() && !documents_.recording; }
    // Stop Recording also stops a continuous log, whose receiver may be away just then.
    bool canStopRecording() const { return (!connectedLabel_.empty() && documents_.recording) || logging(); }
    void StartRecording();
    // Starts a recording of `plannedSamples` without the dialog (command-line tool).
    void StartRecordingOf(uint32_t plannedSamples);
    // Ends a running recording; documents().recordingEnd keeps `why` (RecordingEndMessage words it).
    // A running continuous log stops too.
    void StopRecording(RecordingEnd why = RecordingEnd::Stopped);
    // How the next recording starts; it applies once (the recording after it starts at once again).
    void SetNextTrigger(const TriggerSettings& trigger) { nextTrigger_ = trigger; }
    // The last trigger chosen, its kind back to Immediate once a recording has used it.
    const TriggerSettings& nextTrigger() const { return nextTrigger_; }
    // A recording is running but waits for its trigger; readings are only kept until then.
    bool triggerArmed() const { return documents_.recording && armedTrigger_.has_value(); }
    const std::optional<TriggerArm>& armedTrigger() const { return armedTrigger_; }

    // --- continuous logging ---
    bool canStartLogging() const { return !connectedLabel_.empty() && !logging(); }
    bool logging() const { return log_ != nullptr; }
    // Starts a continuous log of the connected receiver into `path` (which must not exist) and shows it.
    Outcome<void> StartLogging(const std::filesystem::path& path, const LogStopCondition& stop);
    // Ends the running log (the file keeps everything); a reason other than Stopped or a stop condition is
    // also shown as a message.
    void StopLogging(LogEnd why = LogEnd::Stopped);
    // What a log says of this session's receiver: its name and where it is connected. Empty when no receiver
    // is connected.
    std::optional<LogMeterFacts> logMeter() const;
    // What a log started here says of itself: model, application, receiver.
    std::map<std::string, std::string> LogFacts() const;
    // Runs `log` (this session's meter of a log started elsewhere, e.g. one file over several sessions) as
    // this session's log, shown in a log window of its own when `show`.
    Outcome<void> AdoptLog(std::unique_ptr<ContinuousLog> log, bool show);
    // The running log, else the last one that ran (its end and counts), else null.
    const ContinuousLog* currentLog() const { return log_ ? log_.get() : endedLog_.get(); }
    // What the log's facts name as the program ("Calvora 2.1.0").
    void SetApplicationName(std::string name) { applicationName_ = std::move(name); }

    // --- the stored-log download ---
    // The user closed the progress window: the burst is abandoned, nothing is filled.
    void AbandonDownload();
    // Runs the fill when the download document exists and a download has completed into it.
    void FillDownloadDocument();
    // False after a download that stalled and kept only the records that had arrived.
    bool lastDownloadComplete() const { return lastDownloadComplete_; }

    // --- documents and closing ---
    // The main window's close request: asks about unsaved live samples once. False when the user
    // wanted to save and the save did not happen (cancelled or failed): the window then stays open.
    bool OnMainWindowClosing();
    // A document window is closing: the save question for the live recording document. False when
    // the user wanted to save and the save did not happen: the window then stays open.
    bool OnDocumentClosing(RecordingDocument& document);
    // A document has been destroyed: forget every reference to it.
    void OnDocumentDestroyed(RecordingDocument& document);

    // --- frames, for the owner's loop and for tests ---
    SyncHandOff& handOff() { return handOff_; }
    // Feeds bytes as if the reader had received them (reader thread or a test's own thread).
    void ReceiveChunk(const uint8_t* bytes, int count);

    // --- state shown by the window ---
    const std::u16string& connectedLabel() const { return connectedLabel_; }
    // The selected receiver's name: the one given to it (kept in the settings file by its USB serial number,
    // else its device path), else "Multimeter".
    std::u16string meterName() const;
    // Gives the selected receiver a name; an empty one brings the default back.
    Outcome<void> SetMeterName(const std::u16string& name);
    // The name its documents carry beside several receivers: "RealTime Panel (NAME)", "Datalog Panel (NAME)";
    // empty (the first receiver): "RealTime Panel", "Datalog Panel". Its open documents follow at once.
    void SetDocumentLabel(const std::u16string& label);
    std::u16string liveTitle() const;
    std::u16string downloadTitle() const;
    const std::vector<PortEntry>& portList() const { return portList_; }
    int selectedPortIndex() const { return selectedPortIndex_; }
    bool scanSucceeded() const { return scanSucceeded_; }
    bool paired() const { return assembler_.paired(); }
    bool downloading() const { return assembler_.downloading(); }
    RecordingState& documents() { return documents_; }
    const RecordingState& documents() const { return documents_; }
    ReceiverPort& port() { return port_; }
    uint32_t downloadRecordCount() const { return downloadRecordCount_; }

    // Local time source for sample time texts (tests pin it).
    void SetClock(std::function<std::time_t()> clock) { clock_ = std::move(clock); }
    // Receive times of log readings, UTC milliseconds (tests pin it); without one the system clock's, or
    // the time-text clock's whole seconds when only that is set.
    void SetPreciseClock(std::function<int64_t()> clock) { preciseClock_ = std::move(clock); }
    int64_t NowMs() const;
    // Called after every recorded sample with the document and the new row (the crash journal).
    void SetSampleObserver(std::function<void(const RecordingDocument&, uint32_t)> observer) {
        sampleObserver_ = std::move(observer);
    }
    // Every recorded sample also goes to `journal` (null: none), which must outlive the state. The
    // journal is removed once the recording is saved after its end, or its document is destroyed.
    void SetJournal(Journal* journal) { journal_ = journal; }
    // The Save command wrote `document`; every path that saves must report it here.
    void OnDocumentSaved(const RecordingDocument& document);
    // Opens a journal left by an earlier session as an unsaved "RealTime Panel" document in a new
    // window; it becomes the live recording document, so saving or closing it settles the journal.
    Outcome<RecordingDocument*> RecoverJournal(const std::filesystem::path& path);
    // Called after a download filled its document.
    // Told of every live reading, before the view shows it (the desktop publishes them to a broker).
    void SetReadingObserver(std::function<void(const LiveReading&)> observer) {
        readingObserver_ = std::move(observer);
    }
    void SetDownloadObserver(std::function<void(const RecordingDocument&)> observer) {
        downloadObserver_ = std::move(observer);
    }

private:
    void OnLiveFrame(const uint8_t* frame, int length) override;
    void OnMemoryFrame(const uint8_t* frame, int length) override;
    void OnPairAcknowledged() override;
    static void ReceiveRoutine(void* context, const uint8_t* bytes, int32_t count);
    // Runs `task` on the user-interface thread and waits for it.
    void Deliver(const std::function<void()>& task);

    void HandleLiveFrame(const uint8_t* frame, int length);
    // True when the reading is to be recorded: no trigger waits, or it is the trigger (the readings kept
    // from before it are recorded first).
    bool PassTrigger(const MeterReading& reading, const std::u16string& timeText);
    void RecordReading(const MeterReading& reading, const std::u16string& timeText);
    void OnLogTick();
    // The port of the running log's receiver is closed or its reader ended.
    bool LogReceiverGone() const;
    // Opens the running log's receiver again once its device is back; silent when it is not.
    void ReconnectLogReceiver();
    // The running log's receiver in the port list (added when a scan left it out), selected.
    PortEntry& SelectLogReceiver();
    void NoteLogGap(bool gapOpenBefore);
    // Opens `entry` and hands its frames to this engine; no message on failure.
    PortOutcome<> OpenEntry(PortEntry& entry);
    void HandleMemoryFrame(const uint8_t* frame, int length);
    RecordingDocument* CreateAdoptedDocument(bool forDownload);
    // Copies the downloaded payload bytes that fall inside the buffer, noting the records they complete.
    void CopyPayload(size_t start, const uint8_t* bytes, int count);
    // The first `downloadRecordCount_` records of the buffer into `document`, which becomes the log.
    void FillFromDownloadBuffer(RecordingDocument& document);
    // The memory frames stopped coming: the records that arrived without a gap are kept.
    void EndStalledDownload();
    void ReleaseDownloadBuffer();
    void SetDownloading(bool downloading);
    void SelectPort(int index);
    void ShowPanelPage();
    bool SaveBeforeLosing(RecordingDocument& document);
    // Ends a running recording for `why` and says so in the status bar; nothing when none runs.
    void EndRecording(RecordingEnd why);
    void ShowPairCountdown();
    std::u16string TimeText() const;

    EngineView& view_;
    ReceiverInventory& inventory_;
    SettingsFile& settings_;
    SyncHandOff handOff_;
    FrameAssembler assembler_;
    ReceiverPort port_;
    RecordingState documents_;

    std::vector<PortEntry> portList_;
    int selectedPortIndex_ = 0;
    std::u16string connectedLabel_;
    bool scanSucceeded_ = false;
    int currentTreeItem_ = 0; // 0: none
    int lastConnectedTreeItem_ = 0;
    int nextTreeItemId_ = 1;
    std::vector<ReceiverItem> treeItems_;
    bool readerEndReported_ = false;

    // The chart's scale and live window follow the live recording document.
    LiveChartRules liveChart_;

    // Triggered start: the armed trigger of the running recording and the readings kept before it.
    struct HeldReading {
        MeterReading reading;
        std::u16string timeText;
    };
    TriggerSettings nextTrigger_;
    std::optional<TriggerArm> armedTrigger_;
    std::deque<HeldReading> preTrigger_;
    size_t preTriggerCapacity_ = 0;

    // Stored-log download.
    uint32_t downloadRecordCount_ = 0;
    std::vector<uint8_t> downloadBuffer_;
    std::vector<uint8_t> arrivedBytes_; // 1 for each buffer byte a frame has written
    uint32_t arrivedRecords_ = 0;       // records all of whose bytes have arrived
    bool lastDownloadComplete_ = true;
    int packetCounter_ = 0;
    int endState_ = 0;
    int pairSecondsLeft_ = 0;
    bool discardingBurst_ = false; // after AbandonDownload, until a new header or a live reading

    std::thread::id uiThread_;
    std::function<std::time_t()> clock_;
    std::function<void(const RecordingDocument&, uint32_t)> sampleObserver_;
    std::function<void(const RecordingDocument&)> downloadObserver_;
    std::function<void(const LiveReading&)> readingObserver_;
    Journal* journal_ = nullptr;

    // Continuous logging.
    std::function<int64_t()> preciseClock_;
    std::unique_ptr<ContinuousLog> log_;
    std::unique_ptr<ContinuousLog> endedLog_;
    PortEntry logReceiver_;
    std::string applicationName_ = "Calvora";
    std::u16string documentLabel_;
};

} // namespace calvora
