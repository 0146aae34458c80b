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
#include <QMdiArea>
#include <QMimeData>
#include <QStatusBar>
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
    if (!CreateInstrumentBar()) {
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
    logPane_ = new QLabel(bar);
    logPane_->setObjectName(QStringLiteral("logPane"));
    logPane_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    logPane_->hide();
    bar->addPermanentWidget(logPane_);
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

void MainWindow::UpdateTitle() {
    RecordingDocument* document = activeDocument();
    LogWindow* log = document == nullptr ? activeLogWindow() : nullptr;
    // The framework's caption: the application title, then " - " and the active document's title.
    setWindowTitle(document != nullptr
                       ? QStringLiteral("Calvora - %1").arg(QString::fromStdU16String(document->title))
                   : log != nullptr ? QStringLiteral("Calvora - %1").arg(log->windowTitle())
                                    : QStringLiteral("Calvora"));
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
