// The receivers' side of the window link: the further receivers' sessions with their panels, the stacked
// panels of every connected receiver with the active one standing out, renaming, and the sessions that end.
#include "app/gui/engine_link.h"

#include "app/gui/instrument_panel_page.h"
#include "app/gui/main_window.h"
#include "app/gui/toolbar_images.h"
#include "panel/gui/instrument_panel.h"
#include "panel/gui/meter_symbols.h"
#include "recording/recording_document.h"

#include <QEvent>
#include <QGroupBox>
#include <QInputDialog>
#include <QMenu>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <map>

namespace calvora {

namespace {

// The receiver tree above the stacked panels shows about this many receivers before it scrolls.
constexpr int kStackedTreeRows = 4;

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
            item->setIcon(0, QIcon(ReceiverImage(connected)));
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

} // namespace calvora
