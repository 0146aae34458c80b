#include "app/gui/engine_link.h"

#include "app/command_ids.h"
#include "app/gui/instrument_panel_page.h"
#include "app/gui/integer_field_dialogs.h"
#include "app/gui/main_window.h"
#include "app/gui/loading_dialog.h"
#include "app/gui/document_window.h"
#include "app/gui/toolbar_images.h"
#include "chart/gui/chart_document_view.h"
#include "panel/gui/instrument_panel.h"
#include "panel/gui/meter_symbols.h"
#include "recording/recording_document.h"

#include <QMdiArea>
#include <QMessageBox>
#include <QMenuBar>
#include <QProgressBar>
#include <QSocketNotifier>
#include <QTreeWidget>

namespace calvora {

namespace {

constexpr int kItemIdRole = Qt::UserRole;
// A reader that ended because its device went away is noticed this often.
constexpr int kReaderPollMs = 500;

// The meter's panel as the Instrument page.
class MeterPanelPage final : public InstrumentPanelPage {
public:
    explicit MeterPanelPage(InstrumentPanel* meter) : m_meter(meter) {}
    QWidget* Widget() override { return m_meter.data(); }
    void Reset() override {
        if (m_meter != nullptr) {
            m_meter->ShowWaiting();
        }
    }
    void ShowReading(const LiveReading& reading) override {
        if (m_meter != nullptr) {
            m_meter->ShowReading(reading.panel);
        }
    }

private:
    QPointer<InstrumentPanel> m_meter;
};

QIcon TreeImage(bool connected) {
    return QIcon(ReceiverImage(connected));
}

} // namespace

EngineLink::EngineLink(MainWindow& frame, ReceiverInventory& inventory, SettingsFile& settings,
                       bool monitorDevices)
    : m_frame(frame) {
    // The reader thread wakes the user-interface thread through a queued call; the hand-off then runs the
    // frame's task here while the reader waits.
    m_state = std::make_unique<MeterEngine>(*this, inventory, settings, [this] {
        QMetaObject::invokeMethod(
            this,
            [this] {
                // What a frame changed (a recording that reached its count, a finished download) shows in
                // the menus and toolbar at once, as the framework's idle update did.
                if (m_state->handOff().RunPending() > 0) {
                    m_frame.UpdateCommandUI();
                }
            },
            Qt::QueuedConnection);
    });
    if (monitorDevices) {
        m_monitor = std::make_unique<DeviceMonitor>();
        if (m_monitor->fd() >= 0) {
            m_monitorNotifier = new QSocketNotifier(m_monitor->fd(), QSocketNotifier::Read, this);
            connect(m_monitorNotifier, &QSocketNotifier::activated, this, &EngineLink::OnDeviceChange);
        }
    }
    m_readerPoll.setInterval(kReaderPollMs);
    connect(&m_readerPoll, &QTimer::timeout, this, &EngineLink::PollReader);
}

EngineLink::~EngineLink() {
    Stop();
}

void EngineLink::Start() {
    m_frame.SetRecordingState(m_state->documents());
    m_frame.SetPrompts(this);
    m_frame.SetCommandTarget(this);
    connect(m_frame.InstrumentTree(), &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item, int) { OnTreeDoubleClicked(item); });
    m_readerPoll.start();
    m_started = true;
    m_state->ScanReceivers();
}

void EngineLink::Stop() {
    if (!m_started) {
        return;
    }
    m_started = false;
    m_readerPoll.stop();
    m_state->ClosePort();
    disconnect(m_frame.InstrumentTree(), nullptr, this, nullptr);
    m_frame.SetCommandTarget(nullptr);
    m_frame.SetPrompts(nullptr);
}

// ---------------------------------------------------------------------------------------------------------
// What the state asks of the window

void EngineLink::StartTimer(int id, int milliseconds) {
    m_frame.StartTimer(id, milliseconds);
}

void EngineLink::StopTimer(int id) {
    m_frame.StopTimer(id);
}

RecordingDocument* EngineLink::CreateDocumentWindow() {
    auto document = std::make_shared<RecordingDocument>();
    DocumentWindow* window = m_frame.CreateDocumentWindow(document);
    return window != nullptr ? document.get() : nullptr;
}

bool EngineLink::SaveDocument(RecordingDocument& document) {
    return m_frame.SaveWithDialog(document);
}

bool EngineLink::AskPlannedSamples(uint32_t& samples) {
    SamplingSetupDialog dialog(*this, &m_frame);
    dialog.SetValue(static_cast<int>(samples));
    if (dialog.exec() != QDialog::Accepted) {
        return false;
    }
    samples = static_cast<uint32_t>(dialog.Value());
    return true;
}

void EngineLink::ActivateDocumentWindow(RecordingDocument& document) {
    if (DocumentWindowBase* window = m_frame.FrameOf(&document)) {
        m_frame.MdiArea()->setActiveSubWindow(window);
    }
}

void EngineLink::UpdateAllViews(RecordingDocument& document) {
    m_frame.UpdateViews(document);
}

void EngineLink::AppendLiveSample(RecordingDocument& document) {
    // The chart draws the newest segment only; other views refresh as a whole.
    DocumentWindowBase* window = m_frame.FrameOf(&document);
    if (auto* chart = window != nullptr ? qobject_cast<ChartDocumentView*>(window->ActiveView()) : nullptr) {
        chart->AppendLiveSample();
    } else {
        m_frame.UpdateViews(document);
    }
    m_frame.UpdateCommandUI();
}

void EngineLink::ShowReceiverTree(const std::vector<ReceiverItem>& items) {
    QTreeWidget* tree = m_frame.InstrumentTree();
    tree->clear();
    tree->setIconSize(kReceiverImageSize);
    for (const ReceiverItem& receiver : items) {
        auto* item = new QTreeWidgetItem(tree, QStringList{QString::fromStdU16String(receiver.label)});
        item->setData(0, kItemIdRole, receiver.id);
        item->setIcon(0, TreeImage(false));
    }
    // A scan while connected only rebuilds the tree behind the panel: the panel keeps the page while the
    // connect timer opens the receiver again. The tree takes the page when nothing is connected.
    if (m_state == nullptr || m_state->connectedLabel().empty()) {
        ShowInstrumentPage(tree);
    }
    m_frame.UpdateCommandUI();
}

void EngineLink::ShowInstrumentPage(QWidget* page) {
    DockPageBar* bar = m_frame.InstrumentBar();
    if (bar->PageCount() == 1 && bar->Page(0).window == page) {
        return;
    }
    while (bar->PageCount() > 0) {
        if (bar->ActivePageIndex() < 0) {
            bar->ActivatePage(0);
        }
        bar->RemoveActivePage();
    }
    bar->AddPage(page, QStringLiteral("Instrument"), InstrumentPageIcon());
}

InstrumentPanel* EngineLink::MeterPanel() const {
    return m_meter.data();
}

void EngineLink::ShowInstrumentPanel() {
    if (m_panel == nullptr) {
        m_meter = new InstrumentPanel(m_frame.InstrumentBar());
        m_meterPage = std::make_unique<MeterPanelPage>(m_meter.data());
        m_panel = m_meterPage.get();
    }
    m_panel->Reset();
    ShowInstrumentPage(m_panel->Widget());
}

void EngineLink::ShowLiveReading(const LiveReading& reading) {
    if (m_panel != nullptr) {
        m_panel->ShowReading(reading);
    }
}

void EngineLink::SetReceiverConnected(int itemId, bool connected) {
    QTreeWidget* tree = m_frame.InstrumentTree();
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = tree->topLevelItem(i);
        if (item->data(0, kItemIdRole).toInt() == itemId) {
            item->setIcon(0, TreeImage(connected));
        }
    }
    m_frame.UpdateCommandUI();
}

bool EngineLink::ProgressOpen() const {
    return m_progress != nullptr;
}

void EngineLink::OpenProgress(int rangeMax) {
    if (m_progress == nullptr) {
        m_progress = new LoadingDialog(&m_frame);
        // Closing the window gives the download up; the state then closes it through CloseProgress.
        connect(m_progress, &LoadingDialog::closedByUser, this, [this] {
            m_state->AbandonDownload();
            CloseProgress();
        });
        // The menu bar lies outside a window's client area on the desktop the layout comes from; Qt counts
        // it in, so the client area starts below it.
        const QMenuBar* menu = m_frame.menuBar();
        const int menuHeight = menu != nullptr && menu->isVisible() ? menu->height() : 0;
        const QRect client(m_frame.mapToGlobal(QPoint(0, menuHeight)),
                           QSize(m_frame.width(), m_frame.height() - menuHeight));
        m_progress->PlaceOver(client);
        m_progress->show();
    }
    m_progress->Bar()->setRange(0, rangeMax);
    m_progress->Bar()->setValue(0);
}

void EngineLink::SetProgressPosition(int position) {
    if (m_progress != nullptr) {
        m_progress->Bar()->setValue(std::min(position, m_progress->Bar()->maximum()));
    }
}

void EngineLink::CloseProgress() {
    if (m_progress != nullptr) {
        LoadingDialog* progress = m_progress;
        m_progress = nullptr;
        progress->disconnect(this);
        progress->hide();
        progress->deleteLater();
    }
}

bool EngineLink::AskYesNo(const std::u16string& question) {
    return m_frame.DefaultPrompts().AskYesNo(question);
}

void EngineLink::ShowMessage(const std::u16string& text, MessageIcon icon) {
    if (icon == MessageIcon::None) {
        // "Pair failed!" comes with an OK button only: no icon, the program's title.
        QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Calvora"), QString::fromStdU16String(text),
                        QMessageBox::Ok, &m_frame);
        box.exec();
        return;
    }
    m_frame.DefaultPrompts().ShowMessage(text, icon);
}

// ---------------------------------------------------------------------------------------------------------
// Commands

std::optional<CommandState> EngineLink::QueryCommand(int id) const {
    switch (id) {
    case ID_PAIR:
        return CommandState{m_state->CanPair(), false};
    case ID_START_RECORDING:
        return CommandState{m_state->CanStartRecording(), false};
    case ID_STOP_RECORDING:
        return CommandState{m_state->CanStopRecording(), false};
    case ID_RESCAN:
    case ID_RECONNECT:
    case ID_COMPORT:
        return CommandState{true, false};
    default:
        return std::nullopt;
    }
}

bool EngineLink::ExecuteCommand(int id) {
    switch (id) {
    case ID_PAIR:
        m_state->Pair();
        return true;
    case ID_START_RECORDING:
        m_state->StartRecording();
        return true;
    case ID_STOP_RECORDING:
        m_state->StopRecording();
        return true;
    case ID_RESCAN:
        m_state->ScanReceivers();
        return true;
    case ID_RECONNECT:
        m_state->Reconnect();
        return true;
    case ID_COMPORT: {
        ComportDialog dialog(*this, &m_frame);
        dialog.SetValue(m_state->BeginComport());
        if (dialog.exec() == QDialog::Accepted) {
            m_state->ConfirmComport(dialog.Value());
        }
        return true;
    }
    default:
        return false;
    }
}

void EngineLink::OnTimer(int id) {
    // The state's timers fire once; it starts them again when it wants another tick.
    m_frame.StopTimer(id);
    m_state->OnTimer(id);
}

bool EngineLink::OnCloseRequest() {
    return m_state->OnMainWindowClosing();
}

bool EngineLink::OnDocumentClosing(RecordingDocument& document) {
    return m_state->OnDocumentClosing(document);
}

void EngineLink::OnDocumentDestroyed(RecordingDocument& document) {
    m_state->OnDocumentDestroyed(document);
}

void EngineLink::OnDocumentSaved(RecordingDocument& document) {
    // The saved live recording needs its crash journal no more.
    m_state->OnDocumentSaved(document);
}

// ---------------------------------------------------------------------------------------------------------

void EngineLink::OnTreeDoubleClicked(QTreeWidgetItem* item) {
    if (item != nullptr) {
        m_frame.InstrumentTree()->setCurrentItem(item);
        m_state->OnReceiverDoubleClicked(item->data(0, kItemIdRole).toInt());
        m_frame.UpdateCommandUI();
    }
}

void EngineLink::OnDeviceChange() {
    switch (m_monitor->Receive()) {
    case DeviceMonitor::Change::Arrived:
        m_state->OnDeviceArrived();
        break;
    case DeviceMonitor::Change::Removed:
        m_state->OnDeviceRemoved();
        break;
    case DeviceMonitor::Change::None:
        break;
    }
    m_frame.UpdateCommandUI();
}

void EngineLink::PollReader() {
    if (m_state->PollReaderEnd()) {
        m_frame.UpdateCommandUI();
    }
}

} // namespace calvora
