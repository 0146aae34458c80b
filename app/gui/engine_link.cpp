#include "app/gui/engine_link.h"

#include "app/command_ids.h"
#include "app/gui/document_window.h"
#include "app/gui/instrument_panel_page.h"
#include "app/gui/integer_field_dialogs.h"
#include "app/gui/loading_dialog.h"
#include "app/gui/main_window.h"
#include "app/gui/toolbar_images.h"
#include "link/receiver_inventory.h"
#include "link/settings_file.h"
#include "logging/gui/continuous_logging_dialog.h"
#include "measure/gui/trigger_dialog.h"
#include "panel/gui/instrument_panel.h"
#include "panel/gui/meter_symbols.h"
#include "recording/journal.h"
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
#include <QVBoxLayout>

#include <algorithm>
#include <map>

namespace calvora {

namespace {

constexpr int kItemIdRole = Qt::UserRole;
constexpr int kPortIndexRole = Qt::UserRole + 1;
// The receiver tree above the stacked panels shows about this many receivers before it scrolls.
constexpr int kStackedTreeRows = 4;
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

QIcon TreeImage(bool connected) {
    return QIcon(ReceiverImage(connected));
}

// "Supply voltage: recording" and the like, for the title of a receiver's panel in the stack.
QString PanelTitle(const QString& name, const MeterEngine& engine, bool hasReading) {
    const char* state = engine.documents().recording ? "recording" : hasReading ? "connected" : "no signal";
    return name + QStringLiteral(": ") + QLatin1String(state);
}

} // namespace

// A receiver connected beside the first: an engine session of its own with its own panel. Its documents are
// windows of the main window like the first session's. Once its receiver is gone or disconnected the session
// stays (port closed, no panel) so the questions about its unsaved recording are still asked.
class SessionLink final : public EngineView {
public:
    SessionLink(EngineLink& link, int itemId, const PortEntry& entry, QString name)
        : link_(link), itemId_(itemId), entry_(entry), name_(std::move(name)),
          panel_(new InstrumentPanel(link.frame_.instrumentBar())) {
        // The reader thread's wake-up runs the frames here, through the relay: a session gone takes its
        // queued calls with it.
        engine_ =
            std::make_unique<MeterEngine>(*this, *link.sessionInventory_, *link.sessionSettings_, [this] {
                QMetaObject::invokeMethod(
                    &relay_, [this] { RunPending(); }, Qt::QueuedConnection);
            });
        // Its recordings are kept in a crash journal of their own, as the first receiver's are.
        if (link.sessionJournals_) {
            journal_ = std::make_unique<Journal>();
            engine_->SetJournal(journal_.get());
        }
        panel_->hide();
        panel_->ShowWaiting();
    }
    ~SessionLink() override {
        engine_->ClosePort();
        engine_.reset();
        delete panel_.data();
    }
    SessionLink(const SessionLink&) = delete;
    SessionLink& operator=(const SessionLink&) = delete;

    MeterEngine& engine() { return *engine_; }
    int itemId() const { return itemId_; }
    void SetItemId(int itemId) { itemId_ = itemId; }
    const PortEntry& entry() const { return entry_; }
    const QString& name() const { return name_; }
    InstrumentPanel* panel() const { return panel_.data(); }
    QString title() const { return PanelTitle(name_, *engine_, hasReading_); }
    // The port closes and the panel goes; the documents stay with the session.
    void Retire() {
        engine_->StopRecording();
        engine_->ClosePort();
        delete panel_.data();
    }

    void StartTimer(int id, int milliseconds) override {
        QTimer*& timer = timers_[id];
        if (timer == nullptr) {
            timer = new QTimer(&relay_);
            timer->setSingleShot(true);
            QObject::connect(timer, &QTimer::timeout, &relay_, [this, id] {
                engine_->OnTimer(id);
                link_.frame_.UpdateCommandUI();
            });
        }
        timer->start(milliseconds);
    }
    void StopTimer(int id) override {
        if (const auto found = timers_.find(id); found != timers_.end()) {
            found->second->stop();
        }
    }
    RecordingDocument* CreateDocumentWindow() override { return link_.CreateDocumentWindow(); }
    bool SaveDocument(RecordingDocument& document) override { return link_.SaveDocument(document); }
    // Recordings of further receivers start with the first one's planned count, without the dialog.
    bool AskPlannedSamples(uint32_t&) override { return false; }
    void ActivateDocumentWindow(RecordingDocument& document) override {
        link_.ActivateDocumentWindow(document);
    }
    void ShowDocumentTitle(RecordingDocument& document) override { link_.ShowDocumentTitle(document); }
    void ShowStatus(const std::u16string& text) override {
        link_.frame_.ShowStatus(name_ + QStringLiteral(": ") + QString::fromStdU16String(text));
    }
    void ShowLiveReading(const LiveReading& reading) override {
        if (!hasReading_) {
            hasReading_ = true;
            link_.RefreshPanelTitles();
        }
        if (panel_ != nullptr) {
            panel_->ShowReading(reading.panel);
        }
    }
    void ShowNoSignal() override {
        hasReading_ = false;
        link_.RefreshPanelTitles();
    }
    bool AskYesNo(const std::u16string& question) override { return link_.prompts_.AskYesNo(question); }
    void ShowMessage(const std::u16string& text, MessageIcon icon) override {
        link_.prompts_.ShowMessage(text, icon);
    }

private:
    void RunPending() {
        if (engine_->handOff().RunPending() > 0) {
            link_.frame_.UpdateCommandUI();
            link_.RefreshPanelTitles();
        }
    }

    EngineLink& link_;
    int itemId_;
    PortEntry entry_;
    QString name_;
    QPointer<InstrumentPanel> panel_;
    bool hasReading_ = false;
    // Declared before the engine, destroyed after it: the reader's last wake-up still finds it.
    QObject relay_;
    std::map<int, QTimer*> timers_;
    std::unique_ptr<Journal> journal_;
    std::unique_ptr<MeterEngine> engine_;
};

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
    connect(frame_.instrumentTree(), &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item, int) { OnTreeDoubleClicked(item); });
    readerPoll_.setInterval(kReaderPollMs);
    connect(&readerPoll_, &QTimer::timeout, this, &EngineLink::PollReader);
}

EngineLink::~EngineLink() {
    Stop();
}

void EngineLink::SetSessionServices(ReceiverInventory& inventory, SettingsFile& settings, bool journals) {
    sessionInventory_ = &inventory;
    sessionSettings_ = &settings;
    sessionJournals_ = journals;
}

MeterEngine& EngineLink::extraSession(size_t index) {
    return extras_.at(index)->engine();
}

void EngineLink::RunPendingFrames() {
    // What a frame changed (a recording that reached its count, a finished download) shows in the menus and
    // toolbar at once, as the framework's idle update did.
    if (state_->handOff().RunPending() > 0) {
        // A reading can end a log (its stop condition): the pane goes with it.
        if (!state_->logging() && !frame_.logPane()->isHidden()) {
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
    for (auto& extra : extras_) {
        extra->engine().ClosePort();
    }
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
        bool connected = false;
        // The further sessions' receivers keep their state in the new tree.
        for (auto& extra : extras_) {
            const PortEntry* entry = PortAt(receiver.portIndex);
            if (entry != nullptr && entry->devicePath == extra->entry().devicePath &&
                entry->portNumber == extra->entry().portNumber) {
                extra->SetItemId(receiver.id);
                connected = true;
            }
        }
        item->setIcon(0, TreeImage(connected));
    }
    // A scan while connected only rebuilds the tree behind the panel: the panel keeps the page while the
    // connect timer opens the receiver again. The tree takes the page when nothing is connected.
    if (!extras_.empty()) {
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
    if (entry != nullptr && sessionSettings_ != nullptr) {
        const Outcome<std::string> name =
            sessionSettings_->ReadReceiverName(ReceiverNameKey(entry->devicePath, entry->portNumber));
        if (name && !name.value().empty()) {
            return QString::fromStdString(name.value());
        }
    }
    return QString::fromStdU16String(std::u16string(kMultimeterLabel));
}

void EngineLink::OpenExtraSession(int itemId, int portIndex) {
    const PortEntry* entry = PortAt(portIndex);
    if (entry == nullptr || sessionInventory_ == nullptr || sessionSettings_ == nullptr) {
        return;
    }
    for (auto& extra : extras_) {
        if (extra->itemId() == itemId) {
            return;
        }
    }
    auto session = std::make_unique<SessionLink>(*this, itemId, *entry, ReceiverName(portIndex));
    // A port that cannot be opened is said by the session's engine (its warning names the port).
    if (!session->engine().OpenDevice(entry->devicePath, entry->portNumber)) {
        return;
    }
    extras_.push_back(std::move(session));
    SetTreeIcon(itemId, true);
    ShowConnectedPanels();
}

bool EngineLink::StackWanted() const {
    const bool primaryConnected = state_ != nullptr && !state_->connectedLabel().empty();
    // With one receiver connected and no other to connect, its panel alone is the page.
    return !extras_.empty() || (primaryConnected && frame_.instrumentTree()->topLevelItemCount() > 1);
}

void EngineLink::ShowConnectedPanels() {
    QPointer<QWidget> old = stack_;
    QTreeWidget* tree = frame_.instrumentTree();
    const bool primaryConnected = state_ != nullptr && !state_->connectedLabel().empty();
    panelBoxes_.clear();
    if (!StackWanted()) {
        stack_ = nullptr;
        frame_.ShowInstrumentPage(primaryConnected && panel_ != nullptr ? panel_->Widget()
                                                                        : static_cast<QWidget*>(tree));
    } else {
        // The tree on top (a further receiver is double-clicked there), then one titled panel per receiver.
        auto* stack = new QWidget(frame_.instrumentBar());
        stack->setObjectName(QStringLiteral("InstrumentStack"));
        auto* layout = new QVBoxLayout(stack);
        layout->setContentsMargins(2, 2, 2, 2);
        const int rowHeight = std::max(tree->sizeHintForRow(0), tree->fontMetrics().height());
        const int rows = std::clamp(tree->topLevelItemCount(), 1, kStackedTreeRows);
        tree->setMaximumHeight(rowHeight * rows + 2 * tree->frameWidth() + 2);
        layout->addWidget(tree);
        tree->show();
        auto add = [&](QWidget* panel) {
            auto* box = new QGroupBox(stack);
            auto* inner = new QVBoxLayout(box);
            inner->setContentsMargins(2, 2, 2, 2);
            inner->addWidget(panel);
            panel->show();
            layout->addWidget(box);
            panelBoxes_.push_back(box);
        };
        if (primaryConnected) {
            if (panel_ == nullptr) {
                ShowInstrumentPanel();
            }
            add(panel_->Widget());
        }
        for (auto& extra : extras_) {
            if (extra->panel() != nullptr) {
                add(extra->panel());
            }
        }
        layout->addStretch(1);
        stack_ = stack;
        RefreshPanelTitles();
        frame_.ShowInstrumentPage(stack);
        // Taking the page from the bar hid the tree that was the page until now.
        tree->show();
    }
    if (old != nullptr && old != stack_) {
        // What the old stack still holds lives on: the tree and the first panel go back to the bar.
        for (QWidget* kept : {static_cast<QWidget*>(tree), panel_ != nullptr ? panel_->Widget() : nullptr}) {
            if (kept != nullptr && old->isAncestorOf(kept)) {
                kept->hide();
                kept->setParent(frame_.instrumentBar());
            }
        }
        old->deleteLater();
    }
    if (stack_ == nullptr) {
        tree->setMaximumHeight(QWIDGETSIZE_MAX);
    }
}

void EngineLink::RefreshPanelTitles() {
    if (stack_ == nullptr) {
        return;
    }
    size_t box = 0;
    auto title = [&](const QString& text) {
        if (box < panelBoxes_.size() && panelBoxes_[box] != nullptr) {
            panelBoxes_[box]->setTitle(text);
        }
        ++box;
    };
    if (state_ != nullptr && !state_->connectedLabel().empty()) {
        title(PanelTitle(QString::fromStdU16String(state_->meterName()), *state_, primaryHasReading_));
    }
    for (auto& extra : extras_) {
        title(extra->title());
    }
}

void EngineLink::SetTreeIcon(int itemId, bool connected) {
    QTreeWidget* tree = frame_.instrumentTree();
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = tree->topLevelItem(i);
        if (item->data(0, kItemIdRole).toInt() == itemId) {
            item->setIcon(0, TreeImage(connected));
        }
    }
}

void EngineLink::RetireExtra(size_t index) {
    std::unique_ptr<SessionLink> session = std::move(extras_.at(index));
    extras_.erase(extras_.begin() + static_cast<std::ptrdiff_t>(index));
    SetTreeIcon(session->itemId(), false);
    session->Retire();
    retired_.push_back(std::move(session));
}

void EngineLink::DisconnectAll() {
    while (!extras_.empty()) {
        RetireExtra(extras_.size() - 1);
    }
    state_->Disconnect();
    ShowConnectedPanels();
    frame_.UpdateCommandUI();
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
    primaryHasReading_ = false;
    if (StackWanted()) {
        ShowConnectedPanels();
    } else {
        frame_.ShowInstrumentPage(panel_->Widget());
    }
}

void EngineLink::ShowLiveReading(const LiveReading& reading) {
    if (!primaryHasReading_) {
        primaryHasReading_ = true;
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
    frame_.ShowRecordingProgress(recorded, planned);
}

void EngineLink::ShowLogWindow(const std::shared_ptr<LogDocument>& log) {
    frame_.ShowLogWindow(log);
}

void EngineLink::ShowNoSignal() {
    primaryHasReading_ = false;
    RefreshPanelTitles();
    if (panel_ != nullptr) {
        panel_->ShowNoSignal();
    }
}

void EngineLink::UpdateLogStatus() {
    const ContinuousLog* log = state_->logging() ? state_->currentLog() : nullptr;
    frame_.ShowLogStatus(log != nullptr ? LogStatusText(*log, state_->NowMs()) : QString());
}

void EngineLink::StartLogging() {
    ContinuousLoggingDialog dialog(PrepareSaveFolder(), QString::fromStdU16String(DefaultFileNameNow()),
                                   prompts_, &frame_);
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    // The recordings folder may not exist yet where the documents folder is missing too.
    std::error_code ignored;
    std::filesystem::create_directories(dialog.path().parent_path(), ignored);
    if (const Outcome<void> started = state_->StartLogging(dialog.path(), dialog.stopCondition()); !started) {
        prompts_.ShowMessage(u"Cannot start the continuous log: " + started.reason(),
                             MessageIcon::Exclamation);
    }
    UpdateLogStatus();
}

void EngineLink::SetReceiverConnected(int itemId, bool connected) {
    if (connected) {
        primaryItem_ = itemId;
    } else if (primaryItem_ == itemId) {
        primaryItem_ = 0;
    }
    SetTreeIcon(itemId, connected);
    frame_.UpdateCommandUI();
}

bool EngineLink::progressOpen() const {
    return progress_ != nullptr;
}

void EngineLink::OpenProgress(int rangeMax) {
    if (progress_ == nullptr) {
        progress_ = new LoadingDialog(&frame_);
        // Closing the window gives the download up; the state then closes it through CloseProgress.
        connect(progress_, &LoadingDialog::closedByUser, this, [this] {
            state_->AbandonDownload();
            CloseProgress();
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
    if (progress_ != nullptr) {
        LoadingDialog* progress = progress_;
        progress_ = nullptr;
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

std::optional<CommandState> EngineLink::QueryCommand(int id) const {
    switch (id) {
    case ID_PAIR:
        return CommandState{state_->canPair(), false};
    case ID_START_RECORDING:
        return CommandState{state_->canStartRecording(), false};
    case ID_STOP_RECORDING: {
        bool any = state_->canStopRecording();
        for (const auto& extra : extras_) {
            any = any || extra->engine().documents().recording;
        }
        return CommandState{any, false};
    }
    case ID_DISCONNECT:
        return CommandState{state_->canDisconnect() || !extras_.empty(), false};
    case ID_CONTINUOUS_LOGGING:
        return CommandState{state_->canStartLogging(), false};
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
    switch (id) {
    case ID_PAIR:
        state_->Pair();
        return true;
    case ID_START_RECORDING:
        state_->StartRecording();
        // Every further receiver records beside the first, as many samples, each into its own document.
        if (state_->documents().recording) {
            for (auto& extra : extras_) {
                if (!extra->engine().documents().recording) {
                    extra->engine().StartRecordingOf(state_->documents().plannedSamples);
                }
            }
        }
        RefreshPanelTitles();
        ShowTriggerState();
        return true;
    case ID_TRIGGER: {
        TriggerDialog dialog(state_->nextTrigger(), &prompts_, &frame_);
        if (dialog.exec() == QDialog::Accepted) {
            state_->SetNextTrigger(dialog.trigger());
        }
        return true;
    }
    case ID_STOP_RECORDING:
        state_->StopRecording();
        for (auto& extra : extras_) {
            extra->engine().StopRecording();
        }
        RefreshPanelTitles();
        UpdateLogStatus();
        return true;
    case ID_DISCONNECT:
        DisconnectAll();
        return true;
    case ID_CONTINUOUS_LOGGING:
        StartLogging();
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
    if (!state_->OnMainWindowClosing()) {
        return false;
    }
    for (auto* sessions : {&extras_, &retired_}) {
        for (auto& session : *sessions) {
            if (!session->engine().OnMainWindowClosing()) {
                return false;
            }
        }
    }
    return true;
}

bool EngineLink::OnDocumentClosing(RecordingDocument& document) {
    if (!state_->OnDocumentClosing(document)) {
        return false;
    }
    for (auto* sessions : {&extras_, &retired_}) {
        for (auto& session : *sessions) {
            if (!session->engine().OnDocumentClosing(document)) {
                return false;
            }
        }
    }
    return true;
}

void EngineLink::OnDocumentDestroyed(RecordingDocument& document) {
    state_->OnDocumentDestroyed(document);
    for (auto* sessions : {&extras_, &retired_}) {
        for (auto& session : *sessions) {
            session->engine().OnDocumentDestroyed(document);
        }
    }
}

void EngineLink::OnDocumentSaved(RecordingDocument& document) {
    // The saved live recording needs its crash journal no more.
    state_->OnDocumentSaved(document);
    for (auto* sessions : {&extras_, &retired_}) {
        for (auto& session : *sessions) {
            session->engine().OnDocumentSaved(document);
        }
    }
}

// ---------------------------------------------------------------------------------------------------------

void EngineLink::OnTreeDoubleClicked(QTreeWidgetItem* item) {
    if (item != nullptr) {
        frame_.instrumentTree()->setCurrentItem(item);
        const int itemId = item->data(0, kItemIdRole).toInt();
        // A receiver a further session holds is connected already.
        for (const auto& extra : extras_) {
            if (extra->itemId() == itemId) {
                return;
            }
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

void EngineLink::PollReader() {
    if (state_->PollReaderEnd()) {
        frame_.UpdateCommandUI();
    }
    // A further receiver that went away ends its session; its recording stays in its document.
    for (size_t k = extras_.size(); k-- > 0;) {
        if (extras_[k]->engine().PollReaderEnd()) {
            frame_.ShowStatus(extras_[k]->name() + QStringLiteral(": Receiver removed"));
            RetireExtra(k);
            ShowConnectedPanels();
            frame_.UpdateCommandUI();
        }
    }
    ShowTriggerState();
}

void EngineLink::ShowTriggerState() {
    // However the wait ends (the trigger, Stop Recording, a pulled receiver), the next poll notices.
    const bool armed = state_->triggerArmed();
    if (armed == triggerShown_) {
        return;
    }
    triggerShown_ = armed;
    QString text = QStringLiteral("Ready");
    if (armed) {
        const TriggerSettings& trigger = state_->armedTrigger()->settings();
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
