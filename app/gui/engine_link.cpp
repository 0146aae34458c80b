#include "app/gui/engine_link.h"

#include "app/command_ids.h"
#include "app/gui/document_window.h"
#include "app/gui/instrument_panel_page.h"
#include "app/gui/integer_field_dialogs.h"
#include "app/gui/loading_dialog.h"
#include "app/gui/main_window.h"
#include "app/gui/toolbar_images.h"
#include "app/shared_log.h"
#include "link/receiver_inventory.h"
#include "link/settings_file.h"
#include "logging/gui/continuous_logging_dialog.h"
#include "measure/gui/trigger_dialog.h"
#include "panel/gui/instrument_panel.h"
#include "panel/gui/meter_symbols.h"
#include "recording/recording_document.h"
#include "recording/save.h"

#include <QGroupBox>
#include <QLabel>
#include <QMdiArea>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QSocketNotifier>
#include <QTreeWidget>

#include <algorithm>

namespace calvora {

namespace {

// A reader that ended because its device went away is noticed this often.
constexpr int kReaderPollMs = 500;

// The meter's panel as the Instrument page.
class MeterPanelPage final : public InstrumentPanelPage {
public:
    explicit MeterPanelPage(InstrumentPanel* meter) : meter_(meter) {}
    QWidget* Widget() override { return meter_.data(); }
    void Reset() override {
        if (meter_ != nullptr) {
            meter_->ShowWaiting();
        }
    }
    void ShowReading(const LiveReading& reading) override {
        if (meter_ != nullptr) {
            meter_->ShowReading(reading.panel);
        }
    }
    void ShowNoSignal() override {
        if (meter_ != nullptr) {
            PanelState state;
            state.texts.valueText = u"no signal";
            state.valueShown = true;
            meter_->ShowReading(state);
        }
    }

private:
    QPointer<InstrumentPanel> meter_;
};

} // namespace

QString LogStatusText(const ContinuousLog& log, int64_t nowMs) {
    QString readings = QString::number(log.readingCount());
    for (qsizetype at = readings.size() - 3; at > 0; at -= 3) {
        readings.insert(at, QLatin1Char(','));
    }
    const int64_t seconds = std::max<int64_t>(0, log.elapsedMs(nowMs) / 1000);
    const double megabytes = static_cast<double>(log.fileBytes()) / 1e6;
    return QStringLiteral("Logging: %1 readings, %2:%3:%4, %5 MB")
        .arg(readings)
        .arg(seconds / 3600)
        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'))
        .arg(megabytes, 0, 'f', 1);
}

EngineLink::EngineLink(MainWindow& frame, UserPrompts& prompts, bool monitorDevices)
    : frame_(frame), prompts_(prompts) {
    if (monitorDevices) {
        monitor_ = std::make_unique<DeviceMonitor>();
        if (monitor_->fd() >= 0) {
            monitorNotifier_ = new QSocketNotifier(monitor_->fd(), QSocketNotifier::Read, this);
            connect(monitorNotifier_, &QSocketNotifier::activated, this, &EngineLink::OnDeviceChange);
        }
    }
    QTreeWidget* tree = frame_.instrumentTree();
    connect(tree, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item, int) { OnTreeDoubleClicked(item); });
    // A receiver's item offers to rename it.
    tree->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(tree, &QWidget::customContextMenuRequested, this, [this, tree](const QPoint& at) {
        const QTreeWidgetItem* item = tree->itemAt(at);
        if (const PortEntry* entry =
                item != nullptr ? PortAt(item->data(0, kPortIndexRole).toInt()) : nullptr) {
            ShowReceiverMenu(*entry, tree->viewport()->mapToGlobal(at));
        }
    });
    readerPoll_.setInterval(kReaderPollMs);
    connect(&readerPoll_, &QTimer::timeout, this, &EngineLink::PollReader);
}

EngineLink::~EngineLink() {
    Stop();
}

void EngineLink::SetEngine(MeterEngine& engine, ReceiverInventory& inventory, SettingsFile& settings,
                           bool journals) {
    state_ = &engine;
    desk_ = std::make_unique<DeskSessions>(engine, inventory, settings);
    journals_ = journals;
}

void EngineLink::RunPendingFrames() {
    // What a frame changed (a recording that reached its count, a finished download) shows in the menus and
    // toolbar at once, as the framework's idle update did.
    if (state_->handOff().RunPending() > 0) {
        // A reading can end a log (its stop condition): the pane goes with it.
        if (!desk_->active().logging() && !frame_.logPane()->isHidden()) {
            UpdateLogStatus();
        }
        frame_.UpdateCommandUI();
        RefreshPanelTitles();
        ShowTriggerState();
    }
}

void EngineLink::Start() {
    readerPoll_.start();
    started_ = true;
    state_->ScanReceivers();
}

void EngineLink::Stop() {
    if (!started_) {
        return;
    }
    started_ = false;
    readerPoll_.stop();
    desk_->CloseAll();
    state_->ClosePort();
}

// ---------------------------------------------------------------------------------------------------------
// What the state asks of the window

void EngineLink::StartTimer(int id, int milliseconds) {
    frame_.StartTimer(id, milliseconds);
}

void EngineLink::StopTimer(int id) {
    frame_.StopTimer(id);
}

RecordingDocument* EngineLink::CreateDocumentWindow() {
    auto document = std::make_shared<RecordingDocument>();
    DocumentWindow* window = frame_.CreateDocumentWindow(document);
    return window != nullptr ? document.get() : nullptr;
}

bool EngineLink::SaveDocument(RecordingDocument& document) {
    return frame_.SaveWithDialog(document);
}

bool EngineLink::AskPlannedSamples(uint32_t& samples) {
    SamplingSetupDialog dialog(prompts_, &frame_);
    dialog.SetValue(static_cast<int>(samples));
    if (dialog.exec() != QDialog::Accepted) {
        return false;
    }
    samples = static_cast<uint32_t>(dialog.value());
    return true;
}

void EngineLink::ActivateDocumentWindow(RecordingDocument& document) {
    if (DocumentWindow* window = frame_.WindowOf(&document)) {
        frame_.mdiArea()->setActiveSubWindow(window);
    }
}

void EngineLink::ShowDocumentTitle(RecordingDocument& document) {
    if (DocumentWindow* window = frame_.WindowOf(&document)) {
        window->UpdateTitle();
    }
    // The main window's caption names the active document.
    frame_.UpdateCommandUI();
}

void EngineLink::ShowReceiverTree(const std::vector<ReceiverItem>& items) {
    QTreeWidget* tree = frame_.instrumentTree();
    tree->clear();
    tree->setIconSize(kReceiverImageSize);
    for (const ReceiverItem& receiver : items) {
        auto* item = new QTreeWidgetItem(tree, QStringList{ReceiverName(receiver.portIndex)});
        item->setData(0, kItemIdRole, receiver.id);
        item->setData(0, kPortIndexRole, receiver.portIndex);
        // The further sessions' receivers keep their state in the new tree.
        const PortEntry* entry = PortAt(receiver.portIndex);
        MeterEngine* session = entry != nullptr ? desk_->sessionOn(*entry) : nullptr;
        if (session != nullptr) {
            desk_->SetItemId(*session, receiver.id);
        }
        item->setIcon(0, QIcon(ReceiverImage(session != nullptr)));
    }
    // A scan while connected only rebuilds the tree behind the panel: the panel keeps the page while the
    // connect timer opens the receiver again. The tree takes the page when nothing is connected.
    if (desk_->furtherCount() > 0) {
        ShowConnectedPanels();
    } else if (state_ == nullptr || state_->connectedLabel().empty()) {
        frame_.ShowInstrumentPage(tree);
    }
    frame_.UpdateCommandUI();
}

const PortEntry* EngineLink::PortAt(int portIndex) const {
    if (state_ == nullptr || portIndex < 0 || portIndex >= static_cast<int>(state_->portList().size())) {
        return nullptr;
    }
    return &state_->portList()[static_cast<size_t>(portIndex)];
}

QString EngineLink::ReceiverName(int portIndex) const {
    const PortEntry* entry = PortAt(portIndex);
    return entry != nullptr ? QString::fromStdString(desk_->ReceiverName(*entry))
                            : QString::fromStdU16String(std::u16string(kMultimeterLabel));
}

InstrumentPanel* EngineLink::meterPanel() const {
    return meter_.data();
}

void EngineLink::ShowInstrumentPanel() {
    if (panel_ == nullptr) {
        meter_ = new InstrumentPanel(frame_.instrumentBar());
        meterPage_ = std::make_unique<MeterPanelPage>(meter_.data());
        panel_ = meterPage_.get();
    }
    panel_->Reset();
    desk_->SetSignal(*state_, false);
    if (StackWanted()) {
        ShowConnectedPanels();
    } else {
        frame_.ShowInstrumentPage(panel_->Widget());
    }
}

void EngineLink::ShowLiveReading(const LiveReading& reading) {
    if (desk_->SetSignal(*state_, true)) {
        RefreshPanelTitles();
    }
    if (panel_ != nullptr) {
        panel_->ShowReading(reading);
    }
}

void EngineLink::ShowStatus(const std::u16string& text) {
    frame_.ShowStatus(QString::fromStdU16String(text));
}

void EngineLink::ShowRecordingProgress(uint32_t recorded, uint32_t planned) {
    // The status bar's pane shows the active receiver's recording.
    if (desk_->isFirst(desk_->active())) {
        frame_.ShowRecordingProgress(recorded, planned);
    }
}

void EngineLink::ShowLogWindow(const std::shared_ptr<LogDocument>& log) {
    frame_.ShowLogWindow(log);
}

void EngineLink::ShowNoSignal() {
    if (desk_->SetSignal(*state_, false)) {
        RefreshPanelTitles();
    }
    if (panel_ != nullptr) {
        panel_->ShowNoSignal();
    }
}

void EngineLink::UpdateLogStatus() {
    const MeterEngine& active = desk_->active();
    const ContinuousLog* log = active.logging() ? active.currentLog() : nullptr;
    frame_.ShowLogStatus(log != nullptr ? LogStatusText(*log, active.NowMs()) : QString());
}

void EngineLink::StartLogging() {
    ContinuousLoggingDialog dialog(PrepareSaveFolder(), QString::fromStdU16String(DefaultFileNameNow()),
                                   prompts_, &frame_);
    std::vector<MeterEngine*> offered{&desk_->active()};
    QStringList names{QString::fromStdString(desk_->name(desk_->active()))};
    for (MeterEngine* engine : desk_->connected()) {
        if (engine != &desk_->active() && !engine->logging()) {
            offered.push_back(engine);
            names << QString::fromStdString(desk_->name(*engine));
        }
    }
    dialog.OfferReceivers(names);
    if (dialog.exec() == QDialog::Accepted) {
        StartChosenLog(dialog, offered);
    }
}

// What the Continuous Logging dialog chose becomes a running log here.
void EngineLink::StartChosenLog(const ContinuousLoggingDialog& dialog,
                                const std::vector<MeterEngine*>& offered) {
    // The recordings folder may not exist yet where the documents folder is missing too.
    std::error_code ignored;
    std::filesystem::create_directories(dialog.path().parent_path(), ignored);
    std::vector<MeterEngine*> sessions;
    std::vector<std::string> names;
    for (const size_t k : dialog.chosenReceivers()) {
        sessions.push_back(offered.at(k));
        names.push_back(desk_->name(*offered.at(k)));
    }
    Outcome<void> started;
    if (sessions.size() == 1) {
        started = sessions.front()->StartLogging(dialog.path(), dialog.stopCondition());
    } else if (Outcome<LogSet> shared =
                   StartSharedLog(sessions, names, dialog.path(), dialog.stopCondition());
               shared) {
        frame_.ShowLogWindow(std::move(shared).value());
    } else {
        started = shared.failure();
    }
    if (!started) {
        prompts_.ShowMessage(u"Cannot start the continuous log: " + started.reason(),
                             MessageIcon::Exclamation);
    }
    UpdateLogStatus();
    RefreshPanelTitles();
}

void EngineLink::StopSharedLog(const MeterEngine& engine) {
    const ContinuousLog* log = engine.logging() ? engine.currentLog() : nullptr;
    if (log == nullptr)
        return;
    const std::filesystem::path path = log->path();
    for (MeterEngine* other : desk_->connected()) {
        if (other != &engine && other->logging() && other->currentLog()->path() == path)
            other->StopLogging(LogEnd::Stopped);
    }
}

void EngineLink::SetReceiverConnected(int itemId, bool connected) {
    if (connected) {
        primaryItem_ = itemId;
    } else if (primaryItem_ == itemId) {
        primaryItem_ = 0;
    }
    SetTreeIcon(itemId, connected);
    frame_.UpdateCommandUI();
    if (connected) {
        Q_EMIT sessionConnected(state_);
    }
}

bool EngineLink::progressOpen() const {
    return progress_ != nullptr && progressEngine_ == state_;
}

void EngineLink::OpenProgress(int rangeMax) {
    OpenProgressFor(*state_, rangeMax);
}

void EngineLink::OpenProgressFor(MeterEngine& engine, int rangeMax) {
    if (progress_ != nullptr && progressEngine_ != &engine) {
        return; // one window at a time: it stays with the download that opened it
    }
    if (progress_ == nullptr) {
        progress_ = new LoadingDialog(&frame_);
        progressEngine_ = &engine;
        // Closing the window gives the download up; the state then closes it through CloseProgress.
        connect(progress_, &LoadingDialog::closedByUser, this, [this] {
            progressEngine_->AbandonDownload();
            CloseProgressWindow();
        });
        // The menu bar lies outside a window's client area on the desktop the layout comes from; Qt counts
        // it in, so the client area starts below it.
        const QMenuBar* menu = frame_.menuBar();
        const int menuHeight = menu != nullptr && menu->isVisible() ? menu->height() : 0;
        const QRect client(frame_.mapToGlobal(QPoint(0, menuHeight)),
                           QSize(frame_.width(), frame_.height() - menuHeight));
        progress_->PlaceOver(client);
        progress_->show();
    }
    progress_->bar()->setRange(0, rangeMax);
    progress_->bar()->setValue(0);
}

void EngineLink::SetProgressPosition(int position) {
    if (progress_ != nullptr) {
        progress_->bar()->setValue(std::min(position, progress_->bar()->maximum()));
    }
}

void EngineLink::SetProgressRecords(uint32_t arrived, uint32_t total) {
    if (progress_ != nullptr) {
        progress_->SetRecords(arrived, total);
    }
}

void EngineLink::CloseProgress() {
    if (progressOpen()) {
        CloseProgressWindow();
    }
}

void EngineLink::CloseProgressWindow() {
    if (progress_ != nullptr) {
        LoadingDialog* progress = progress_;
        progress_ = nullptr;
        progressEngine_ = nullptr;
        progress->disconnect(this);
        progress->hide();
        progress->deleteLater();
    }
}

bool EngineLink::AskYesNo(const std::u16string& question) {
    return prompts_.AskYesNo(question);
}

void EngineLink::ShowMessage(const std::u16string& text, MessageIcon icon) {
    prompts_.ShowMessage(text, icon);
}

// ---------------------------------------------------------------------------------------------------------
// Commands

// The receiver commands act on the active receiver (with one connected: the only one) and follow its state.
std::optional<CommandState> EngineLink::QueryCommand(int id) const {
    const MeterEngine& active = desk_->active();
    switch (id) {
    case ID_PAIR:
        return CommandState{active.canPair(), false};
    case ID_START_RECORDING:
        return CommandState{active.canStartRecording(), false};
    case ID_STOP_RECORDING:
        return CommandState{active.canStopRecording(), false};
    case ID_DISCONNECT:
        return CommandState{active.canDisconnect() || !desk_->isFirst(active), false};
    case ID_CONTINUOUS_LOGGING:
        return CommandState{active.canStartLogging(), false};
    case ID_RENAME_RECEIVER:
        return CommandState{RenameTarget() != nullptr, false};
    case ID_RESCAN:
    case ID_RECONNECT:
    case ID_COMPORT:
    case ID_TRIGGER:
        return CommandState{true, false};
    default:
        return std::nullopt;
    }
}

bool EngineLink::ExecuteCommand(int id) {
    MeterEngine& active = desk_->active();
    switch (id) {
    case ID_PAIR:
        active.Pair();
        return true;
    case ID_START_RECORDING:
        active.StartRecording();
        RefreshPanelTitles();
        ShowTriggerState();
        return true;
    case ID_TRIGGER: {
        TriggerDialog dialog(active.nextTrigger(), &prompts_, &frame_);
        if (dialog.exec() == QDialog::Accepted) {
            active.SetNextTrigger(dialog.trigger());
        }
        return true;
    }
    case ID_STOP_RECORDING:
        StopSharedLog(active);
        active.StopRecording();
        RefreshPanelTitles();
        UpdateLogStatus();
        return true;
    case ID_DISCONNECT:
        if (desk_->isFirst(active)) {
            desk_->DisconnectActive();
            ShowConnectedPanels();
            ShowActiveState();
        } else {
            Retire(active);
            frame_.ShowStatus(QString::fromStdString(desk_->name(active)) +
                              QStringLiteral(": Disconnected."));
        }
        return true;
    case ID_CONTINUOUS_LOGGING:
        StartLogging();
        return true;
    case ID_RENAME_RECEIVER:
        if (const PortEntry* target = RenameTarget()) {
            RenameReceiver(*target);
        }
        return true;
    case ID_RESCAN:
        state_->ScanReceivers();
        return true;
    case ID_RECONNECT:
        state_->Reconnect();
        return true;
    case ID_COMPORT: {
        ComportDialog dialog(prompts_, &frame_);
        dialog.SetValue(state_->BeginComport());
        if (dialog.exec() == QDialog::Accepted) {
            state_->ConfirmComport(dialog.value());
        }
        return true;
    }
    default:
        return false;
    }
}

void EngineLink::OnTimer(int id) {
    // The state's timers fire once; it starts them again when it wants another tick.
    frame_.StopTimer(id);
    state_->OnTimer(id);
    if (id == kLogTimer) {
        UpdateLogStatus();
    }
}

// The further sessions, connected or not, are asked too: each about its own live recording.
bool EngineLink::OnCloseRequest() {
    return desk_->OnMainWindowClosing();
}

bool EngineLink::OnDocumentClosing(RecordingDocument& document) {
    return desk_->OnDocumentClosing(document);
}

void EngineLink::OnDocumentDestroyed(RecordingDocument& document) {
    desk_->OnDocumentDestroyed(document);
}

void EngineLink::OnDocumentSaved(RecordingDocument& document) {
    // The saved live recording needs its crash journal no more.
    desk_->OnDocumentSaved(document);
}

// ---------------------------------------------------------------------------------------------------------

void EngineLink::OnTreeDoubleClicked(QTreeWidgetItem* item) {
    if (item != nullptr) {
        frame_.instrumentTree()->setCurrentItem(item);
        const int itemId = item->data(0, kItemIdRole).toInt();
        // A receiver a further session holds is connected already.
        if (desk_->sessionOfItem(itemId) != nullptr) {
            return;
        }
        // While one receiver is connected, another one connects beside it.
        if (!state_->connectedLabel().empty() && primaryItem_ != 0 && itemId != primaryItem_) {
            OpenExtraSession(itemId, item->data(0, kPortIndexRole).toInt());
        } else {
            state_->OnReceiverDoubleClicked(itemId);
        }
        frame_.UpdateCommandUI();
    }
}

void EngineLink::OnDeviceChange() {
    switch (monitor_->Receive()) {
    case DeviceMonitor::Change::Arrived:
        state_->OnDeviceArrived();
        break;
    case DeviceMonitor::Change::Removed:
        state_->OnDeviceRemoved();
        break;
    case DeviceMonitor::Change::None:
        break;
    }
    frame_.UpdateCommandUI();
}

void EngineLink::ShowTriggerState() {
    // However the wait ends (the trigger, Stop Recording, a pulled receiver), the next poll notices.
    const MeterEngine& active = desk_->active();
    const bool armed = active.triggerArmed();
    if (armed == triggerShown_) {
        return;
    }
    triggerShown_ = armed;
    QString text = QStringLiteral("Ready");
    if (armed) {
        const TriggerSettings& trigger = active.armedTrigger()->settings();
        text = trigger.kind == TriggerKind::TimeOfDay
                   ? QStringLiteral("Waiting to record at %1")
                         .arg(QString::fromStdString(TimeOfDayText(trigger.secondOfDay)))
                   : QStringLiteral("Waiting to record: a reading crossing %1 (%2)")
                         .arg(QString::number(trigger.level, 'g', 10),
                              QString::fromLatin1(EdgeName(trigger.edge)));
    }
    frame_.messagePane()->setText(text);
}

} // namespace calvora
