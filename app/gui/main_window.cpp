// The main window's construction, its toolbar and status bar, its timers and its window events. The menus and
// the command table, the document commands and the Instrument bar have files of their own beside this one.
#include "app/gui/main_window.h"

#include "app/gui/toolbar_images.h"
#include "logging/gui/log_window.h"
#include "recording/recording_document.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QLabel>
#include <QLocale>
#include <QMdiArea>
#include <QMimeData>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QUrl>

namespace calvora {

namespace {

// X11 key-state bits of the lock keys (Scroll Lock has no standard modifier bit).
constexpr quint32 kX11LockMask = 0x2;
constexpr quint32 kX11NumLockMask = 0x10;

} // namespace

MainWindow::MainWindow(const TabTable& documentTabs, QWidget* parent)
    : QMainWindow(parent), mdiArea_(new QMdiArea(this)), autoHide_(new AutoHideStrips(*this)),
      documentTabs_(documentTabs) {
    setCentralWidget(mdiArea_);
    // A right click on the bars offers no menu of toolbars and bars.
    setContextMenuPolicy(Qt::PreventContextMenu);
    setWindowTitle(QStringLiteral("Calvora"));
    setWindowIcon(ApplicationIcon());
    setAcceptDrops(true);
    connect(mdiArea(), &QMdiArea::subWindowActivated, this, [this](QMdiSubWindow*) { UpdateCommandUI(); });
    connect(autoHide_, &AutoHideStrips::pinStateChanged, this, [this](DockPageBar*) { UpdateCommandUI(); });
    qApp->installEventFilter(this);
}

MainWindow::~MainWindow() {
    qApp->removeEventFilter(this);
    // Children still emit while QWidget's destructor deletes them; by then this is no MainWindow any more.
    for (QObject* child : findChildren<QObject*>()) {
        disconnect(child, nullptr, this, nullptr);
    }
}

bool MainWindow::Create() {
    CreateMenus();
    if (!CreateToolBar() || !CreateStatusBar()) {
        return false;
    }
    autoHide_->EnableDocking(Qt::AllDockWidgetAreas);
    if (!CreateInstrumentBar() || !CreateStatisticsBar()) {
        return false;
    }
    LoadRecent();
    UpdateCommandUI();
    return true;
}

void MainWindow::Attach(CommandTarget& target, RecordingState& documents, UserPrompts& prompts) {
    target_ = &target;
    state_ = &documents;
    prompts_ = &prompts;
    UpdateCommandUI();
}

bool MainWindow::CreateStatusBar() {
    QStatusBar* bar = statusBar();
    messagePane_ = new QLabel(QStringLiteral("Ready"), bar);
    messagePane_->setObjectName(QStringLiteral("messagePane"));
    bar->addWidget(messagePane_, 1);
    recordingPane_ = new QLabel(bar);
    recordingPane_->setObjectName(QStringLiteral("recordingPane"));
    recordingPane_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    bar->addPermanentWidget(recordingPane_);
    recordingPane_->hide();
    logPane_ = new QLabel(bar);
    logPane_->setObjectName(QStringLiteral("logPane"));
    logPane_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    logPane_->hide();
    bar->addPermanentWidget(logPane_);
    brokerPane_ = new QLabel(bar);
    brokerPane_->setObjectName(QStringLiteral("brokerPane"));
    brokerPane_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    brokerPane_->hide();
    bar->addPermanentWidget(brokerPane_);
    for (const QString& indicator : {QStringLiteral("CAP"), QStringLiteral("NUM"), QStringLiteral("SCRL")}) {
        auto* pane = new QLabel(bar);
        pane->setObjectName(indicator);
        pane->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        pane->setAlignment(Qt::AlignCenter);
        pane->setMinimumWidth(pane->fontMetrics().horizontalAdvance(indicator) + 10);
        bar->addPermanentWidget(pane);
        lockPanes_.push_back(pane);
    }
    return true;
}

void MainWindow::ShowStatus(const QString& text) {
    statusBar()->showMessage(text);
}

void MainWindow::ShowBrokerState(const QString& text, bool connected) {
    brokerPane_->setVisible(!text.isEmpty());
    // The pane holds the state; the tool tip all of it (the address, the spool's counts).
    const QString state = text.section(QStringLiteral(": "), 1).section(QStringLiteral(" ("), 0, 0);
    brokerPane_->setText(QStringLiteral("MQTT: ") + state.section(QStringLiteral(" to "), 0, 0));
    brokerPane_->setToolTip(text);
    brokerPane_->setStyleSheet(connected ? QString() : QStringLiteral("color: #b00020"));
}

void MainWindow::ShowRecordingProgress(uint32_t recorded, uint32_t planned) {
    if (planned == 0) {
        recordingPane_->hide();
        return;
    }
    const QLocale grouped(QLocale::English, QLocale::UnitedStates);
    recordingPane_->setText(
        QStringLiteral("Recording %1 of %2").arg(grouped.toString(recorded), grouped.toString(planned)));
    recordingPane_->show();
}

void MainWindow::UpdateTitle() {
    const DocumentWindow* frame = activeDocumentWindow();
    const RecordingDocument* document = frame != nullptr ? frame->document() : nullptr;
    // The framework's caption: the application title, then " - " and the active document's title, in
    // brackets while the document window is maximised. Qt's own rule would add the bracketed name to a
    // caption that already names the document; it leaves one that holds it alone.
    const LogWindow* log = document == nullptr ? activeLogWindow() : nullptr;
    QString title = QStringLiteral("Calvora");
    if (document != nullptr || log != nullptr) {
        const QString name =
            document != nullptr ? QString::fromStdU16String(document->title) : log->windowTitle();
        const bool maximized = document != nullptr ? frame->isMaximized() : log->isMaximized();
        title += maximized ? QStringLiteral(" - [%1]").arg(name) : QStringLiteral(" - %1").arg(name);
    }
    setWindowTitle(title);
}

void MainWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    // A maximised document window rewrites the caption by its own rule; the one rule above wins.
    if (event->type() == QEvent::WindowTitleChange) {
        UpdateTitle();
    }
}

// ---------------------------------------------------------------------------------------------------------
// The window's place, its bars and the document windows' state between runs

namespace {
const QString kWindowGroup = QStringLiteral("Window");
} // namespace

void MainWindow::RestoreWindowState() {
    QSettings settings = ApplicationSettings();
    settings.beginGroup(kWindowGroup);
    documentsMaximized_ = settings.value(QStringLiteral("DocumentsMaximized"), true).toBool();
    statusBar()->setVisible(settings.value(QStringLiteral("StatusBar"), true).toBool());
    if (!restoreGeometry(settings.value(QStringLiteral("Geometry")).toByteArray())) {
        // First start: most of the screen, centred, whatever its size.
        const QScreen* screen = this->screen() != nullptr ? this->screen() : QGuiApplication::primaryScreen();
        const QRect available = screen != nullptr ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
        const QSize size = (available.size() * 0.85).expandedTo(QSize(800, 600)).boundedTo(available.size());
        setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size, available));
    }
    restoreState(settings.value(QStringLiteral("State")).toByteArray());
    if (settings.value(QStringLiteral("InstrumentPinned"), false).toBool() && instrumentBar_ != nullptr &&
        !autoHide_->IsPinned(instrumentBar_)) {
        autoHide_->PinBar(instrumentBar_);
    }
    UpdateCommandUI();
}

void MainWindow::SaveWindowState() {
    QSettings settings = ApplicationSettings();
    settings.beginGroup(kWindowGroup);
    settings.setValue(QStringLiteral("Geometry"), saveGeometry());
    settings.setValue(QStringLiteral("State"), saveState());
    settings.setValue(QStringLiteral("StatusBar"), !statusBar()->isHidden());
    settings.setValue(QStringLiteral("InstrumentPinned"),
                      instrumentBar_ != nullptr && autoHide_->IsPinned(instrumentBar_));
    settings.setValue(QStringLiteral("DocumentsMaximized"), documentsMaximized_);
}

// ---------------------------------------------------------------------------------------------------------
// Timers

void MainWindow::StartTimer(int id, int periodMs) {
    QTimer*& timer = timers_[id];
    if (timer == nullptr) {
        timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, [this, id] { OnTimer(id); });
    }
    timer->start(periodMs);
}

void MainWindow::StopTimer(int id) {
    const auto it = timers_.find(id);
    if (it != timers_.end()) {
        it->second->stop();
    }
}

bool MainWindow::IsTimerRunning(int id) const {
    const auto it = timers_.find(id);
    return it != timers_.end() && it->second->isActive();
}

void MainWindow::OnTimer(int id) {
    if (target_ != nullptr) {
        target_->OnTimer(id);
    }
    UpdateCommandUI();
}

// ---------------------------------------------------------------------------------------------------------
// Window events

void MainWindow::closeEvent(QCloseEvent* event) {
    if (target_ != nullptr && !target_->OnCloseRequest()) {
        event->ignore();
        return;
    }
    // Before the document windows close, while their state is still the user's.
    SaveWindowState();
    mdiArea()->closeAllSubWindows();
    if (!mdiArea()->subWindowList().isEmpty()) {
        event->ignore();
        return;
    }
    event->accept();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (std::any_of(urls.begin(), urls.end(), [](const QUrl& url) { return url.isLocalFile(); })) {
        event->acceptProposedAction();
    }
}

void MainWindow::dropEvent(QDropEvent* event) {
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile()) {
            OpenDocumentFile(url.toLocalFile());
        }
    }
    event->acceptProposedAction();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
        UpdateLockIndicators(static_cast<QKeyEvent*>(event)->nativeModifiers());
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::UpdateLockIndicators(quint32 nativeModifiers) {
    // Only the X11 key state carries the lock keys; other platforms leave the panes empty.
    if (QGuiApplication::platformName() != QStringLiteral("xcb")) {
        return;
    }
    lockPanes_[0]->setText((nativeModifiers & kX11LockMask) != 0 ? QStringLiteral("CAP") : QString());
    lockPanes_[1]->setText((nativeModifiers & kX11NumLockMask) != 0 ? QStringLiteral("NUM") : QString());
}

} // namespace calvora
