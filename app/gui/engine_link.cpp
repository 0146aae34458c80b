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

#include <QEvent>
#include <QGroupBox>
#include <QInputDialog>
#include <QLabel>
#include <QMdiArea>
#include <QMenu>
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

QString Qs(const std::string& text) {
    return QString::fromStdString(text);
}

} // namespace

// A receiver connected beside the first: an engine session of its own with its own panel. Its documents are
// windows of the main window like the first session's. Once its receiver is gone or disconnected the session
// stays (port closed, no panel) so the questions about its unsaved recording are still asked.
class SessionLink final : public SessionView {
public:
    explicit SessionLink(EngineLink& link)
        : link_(link), panel_(new InstrumentPanel(link.frame_.instrumentBar())) {
        panel_->hide();
        panel_->ShowWaiting();
    }
    ~SessionLink() override { delete panel_.data(); }
    SessionLink(const SessionLink&) = delete;
    SessionLink& operator=(const SessionLink&) = delete;

    InstrumentPanel* panel() const { return panel_.data(); }

    // SessionView
    void Attach(MeterEngine& engine) override { engine_ = &engine; }
    // The reader thread's wake-up runs the frames here, through the relay: a session gone takes its queued
    // calls with it.
    void Wake() override {
        QMetaObject::invokeMethod(
            &relay_, [this] { RunPending(); }, Qt::QueuedConnection);
    }
    void Retired() override { delete panel_.data(); }

    // EngineView
    void StartTimer(int id, int milliseconds) override {
        QTimer*& timer = timers_[id];
        if (timer == nullptr) {
            timer = new QTimer(&relay_);
            timer->setSingleShot(true);
            QObject::connect(timer, &QTimer::timeout, &relay_, [this, id] {
                engine_->OnTimer(id);
                if (id == kLogTimer) {
                    link_.UpdateLogStatus();
                }
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
    bool AskPlannedSamples(uint32_t& samples) override { return link_.AskPlannedSamples(samples); }
    void ActivateDocumentWindow(RecordingDocument& document) override {
        link_.ActivateDocumentWindow(document);
    }
    void ShowDocumentTitle(RecordingDocument& document) override { link_.ShowDocumentTitle(document); }
    void ShowStatus(const std::u16string& text) override {
        link_.frame_.ShowStatus(Qs(link_.desk_->name(*engine_)) + QStringLiteral(": ") +
                                QString::fromStdU16String(text));
    }
    void ShowRecordingProgress(uint32_t recorded, uint32_t planned) override {
        if (&link_.desk_->active() == engine_) {
            link_.frame_.ShowRecordingProgress(recorded, planned);
        }
    }
    void ShowLogWindow(const std::shared_ptr<LogDocument>& log) override { link_.ShowLogWindow(log); }
    void ShowLiveReading(const LiveReading& reading) override {
        if (link_.desk_->SetSignal(*engine_, true)) {
            link_.RefreshPanelTitles();
        }
        if (panel_ != nullptr) {
            panel_->ShowReading(reading.panel);
        }
    }
    void ShowNoSignal() override {
        if (link_.desk_->SetSignal(*engine_, false)) {
            link_.RefreshPanelTitles();
        }
        if (panel_ != nullptr) {
            PanelState state;
            state.texts.valueText = u"no signal";
            state.valueShown = true;
            panel_->ShowReading(state);
        }
    }
    // One "Loading..." window at a time: it shows the download that opened it.
    bool progressOpen() const override {
        return link_.progress_ != nullptr && link_.progressEngine_ == engine_;
    }
    void OpenProgress(int rangeMax) override { link_.OpenProgressFor(*engine_, rangeMax); }
    void SetProgressPosition(int position) override {
        if (progressOpen()) {
            link_.SetProgressPosition(position);
        }
    }
    void SetProgressRecords(uint32_t arrived, uint32_t total) override {
        if (progressOpen()) {
            link_.SetProgressRecords(arrived, total);
        }
    }
    void CloseProgress() override {
        if (progressOpen()) {
            link_.CloseProgressWindow();
        }
    }
    bool AskYesNo(const std::u16string& question) override { return link_.prompts_.AskYesNo(question); }
    void ShowMessage(const std::u16string& text, MessageIcon icon) override {
        link_.prompts_.ShowMessage(text, icon);
    }

private:
    void RunPending() {
        if (engine_ != nullptr && engine_->handOff().RunPending() > 0) {
            link_.frame_.UpdateCommandUI();
            link_.RefreshPanelTitles();
            link_.ShowTriggerState();
        }
    }

    EngineLink& link_;
    QPointer<InstrumentPanel> panel_;
    MeterEngine* engine_ = nullptr;
    // Outlives the engine (the sessions destroy the engine first): the reader's last wake-up still finds it.
    QObject relay_;
    std::map<int, QTimer*> timers_;
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
        item->setIcon(0, TreeImage(session != nullptr));
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
    return entry != nullptr ? Qs(desk_->ReceiverName(*entry))
                            : QString::fromStdU16String(std::u16string(kMultimeterLabel));
}

void EngineLink::OpenExtraSession(int itemId, int portIndex) {
    const PortEntry* entry = PortAt(portIndex);
    if (entry == nullptr || desk_->sessionOfItem(itemId) != nullptr) {
        return;
    }
    MeterEngine* engine = desk_->Connect(std::make_unique<SessionLink>(*this), *entry, itemId, journals_);
    if (engine == nullptr) {
        return;
    }
    SetTreeIcon(itemId, true);
    ShowConnectedPanels();
    Q_EMIT sessionConnected(engine);
}

bool EngineLink::StackWanted() const {
    const bool primaryConnected = state_ != nullptr && !state_->connectedLabel().empty();
    // With one receiver connected and no other to connect, its panel alone is the page.
    return desk_->furtherCount() > 0 ||
           (primaryConnected && frame_.instrumentTree()->topLevelItemCount() > 1);
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
        // A click on a panel or its title makes its receiver the active one; its title's menu renames it.
        auto add = [&](QWidget* panel, MeterEngine* engine) {
            auto* box = new QGroupBox(stack);
            auto* inner = new QVBoxLayout(box);
            inner->setContentsMargins(2, 2, 2, 2);
            inner->addWidget(panel);
            panel->show();
            layout->addWidget(box);
            box->installEventFilter(this);
            panel->installEventFilter(this);
            box->setContextMenuPolicy(Qt::CustomContextMenu);
            connect(box, &QWidget::customContextMenuRequested, this, [this, box, engine](const QPoint& at) {
                if (const PortEntry* entry = desk_->entryOf(*engine)) {
                    ShowReceiverMenu(*entry, box->mapToGlobal(at));
                }
            });
            panelBoxes_.emplace_back(box, engine);
        };
        if (primaryConnected) {
            if (panel_ == nullptr) {
                ShowInstrumentPanel();
            }
            add(panel_->Widget(), state_);
        }
        for (size_t k = 0; k < desk_->furtherCount(); ++k) {
            if (auto* panel = static_cast<SessionLink&>(desk_->furtherView(k)).panel()) {
                add(panel, &desk_->further(k));
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
    const MeterEngine* active = &desk_->active();
    for (const auto& [box, engine] : panelBoxes_) {
        if (box == nullptr) {
            continue;
        }
        box->setTitle(Qs(desk_->title(*engine)));
        // The active receiver's title stands out; its panel keeps its own font.
        const bool isActive = engine == active;
        if (box->font().bold() != isActive) {
            QFont font = box->font();
            font.setBold(isActive);
            box->setFont(font);
            for (QWidget* child : box->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
                QFont plain = child->font();
                plain.setBold(false);
                child->setFont(plain);
            }
        }
        box->setProperty("activeReceiver", isActive);
    }
    // The tree tells each connected receiver's state too.
    QTreeWidget* tree = frame_.instrumentTree();
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = tree->topLevelItem(i);
        const int itemId = item->data(0, kItemIdRole).toInt();
        const MeterEngine* engine = desk_->sessionOfItem(itemId);
        if (engine == nullptr && itemId != 0 && itemId == primaryItem_ && desk_->firstConnected()) {
            engine = state_;
        }
        item->setToolTip(0, engine != nullptr ? Qs(desk_->title(*engine)) : QString());
    }
}

QGroupBox* EngineLink::panelBoxOf(const MeterEngine& engine) const {
    for (const auto& [box, shown] : panelBoxes_) {
        if (shown == &engine) {
            return box.data();
        }
    }
    return nullptr;
}

void EngineLink::Activate(MeterEngine& engine) {
    if (desk_->SetActive(engine)) {
        ShowActiveState();
    }
}

void EngineLink::ShowActiveState() {
    RefreshPanelTitles();
    ShowRecordingProgressOf(desk_->active());
    UpdateLogStatus();
    // The message pane says again what the active receiver's trigger waits for.
    triggerShown_ = !desk_->active().triggerArmed();
    ShowTriggerState();
    frame_.UpdateCommandUI();
}

void EngineLink::ShowRecordingProgressOf(const MeterEngine& engine) {
    const RecordingState& documents = engine.documents();
    const RecordingDocument* document = documents.recordingDocument;
    if (documents.recording && document != nullptr) {
        frame_.ShowRecordingProgress(document->sampleCount(), documents.plannedSamples);
    } else {
        frame_.ShowRecordingProgress(0, 0);
    }
}

bool EngineLink::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonPress) {
        for (const auto& [box, engine] : panelBoxes_) {
            if (box != nullptr && (watched == box || box->isAncestorOf(qobject_cast<QWidget*>(watched)))) {
                Activate(*engine);
                break;
            }
        }
    }
    return QObject::eventFilter(watched, event);
}

const PortEntry* EngineLink::RenameTarget() const {
    if (desk_->firstConnected() || desk_->furtherCount() > 0) {
        return desk_->entryOf(desk_->active());
    }
    const QTreeWidgetItem* item = frame_.instrumentTree()->currentItem();
    return item != nullptr ? PortAt(item->data(0, kPortIndexRole).toInt()) : nullptr;
}

void EngineLink::ShowReceiverMenu(const PortEntry& entry, const QPoint& globalPos) {
    QMenu menu(&frame_);
    const PortEntry target = entry;
    menu.addAction(QStringLiteral("Rena&me Receiver..."), this, [this, target] { RenameReceiver(target); });
    menu.exec(globalPos);
}

void EngineLink::RenameReceiver(const PortEntry& entry) {
    const PortEntry target = entry; // the tree may be rebuilt while the dialog is open
    const QString path =
        target.devicePath.empty() ? QStringLiteral("COM%1").arg(target.portNumber) : Qs(target.devicePath);
    QInputDialog dialog(&frame_);
    dialog.setObjectName(QStringLiteral("RenameReceiverDialog"));
    dialog.setWindowTitle(QStringLiteral("Rename Receiver"));
    dialog.setLabelText(QStringLiteral("Name of the receiver on %1\n(empty: \"Multimeter\"):").arg(path));
    dialog.setTextValue(Qs(desk_->ReceiverName(target)));
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    if (const Outcome<void> renamed = desk_->Rename(target, dialog.textValue().trimmed().toStdString());
        !renamed) {
        prompts_.ShowMessage(u"The receiver cannot be renamed: " + renamed.reason(),
                             MessageIcon::Exclamation);
        return;
    }
    QTreeWidget* tree = frame_.instrumentTree();
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = tree->topLevelItem(i);
        const PortEntry* shown = PortAt(item->data(0, kPortIndexRole).toInt());
        if (shown != nullptr && shown->devicePath == target.devicePath &&
            shown->portNumber == target.portNumber) {
            item->setText(0, Qs(desk_->ReceiverName(target)));
        }
    }
    RefreshPanelTitles();
    frame_.UpdateCommandUI();
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

void EngineLink::Retire(MeterEngine& engine) {
    SetTreeIcon(desk_->itemIdOf(engine), false);
    desk_->Retire(engine);
    ShowConnectedPanels();
    ShowActiveState();
    Q_EMIT sessionEnded(&engine);
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
    if (dialog.exec() == QDialog::Accepted) {
        StartChosenLog(dialog);
    }
}

// What the Continuous Logging dialog chose becomes a running log here.
void EngineLink::StartChosenLog(const ContinuousLoggingDialog& dialog) {
    // The recordings folder may not exist yet where the documents folder is missing too.
    std::error_code ignored;
    std::filesystem::create_directories(dialog.path().parent_path(), ignored);
    MeterEngine& engine = desk_->active();
    if (const Outcome<void> started = engine.StartLogging(dialog.path(), dialog.stopCondition()); !started) {
        prompts_.ShowMessage(u"Cannot start the continuous log: " + started.reason(),
                             MessageIcon::Exclamation);
    }
    UpdateLogStatus();
    RefreshPanelTitles();
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

void EngineLink::PollReader() {
    if (state_->PollReaderEnd()) {
        frame_.UpdateCommandUI();
    }
    // A further receiver that went away ends its session; its recording stays in its document.
    const std::vector<MeterEngine*> gone = desk_->RetireEnded();
    for (MeterEngine* engine : gone) {
        frame_.ShowStatus(Qs(desk_->name(*engine)) + QStringLiteral(": Receiver removed"));
        SetTreeIcon(desk_->itemIdOf(*engine), false);
        Q_EMIT sessionEnded(engine);
    }
    if (!gone.empty()) {
        ShowConnectedPanels();
        ShowActiveState();
    }
    ShowTriggerState();
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
