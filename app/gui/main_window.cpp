#include "app/gui/main_window.h"

#include "app/command_ids.h"
#include "app/gui/about_dialog.h"
#include "app/gui/document_window.h"
#include "app/gui/toolbar_images.h"
#include "app/help_path.h"
#include "recording/record_file.h"
#include "recording/recording_document.h"
#include "recording/recording_state.h"
#include "recording/save.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMdiArea>
#include <QMenuBar>
#include <QMimeData>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QSettings>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>
#include <QTreeWidget>
#include <QUrl>

namespace calvora {

namespace {

// The framework's settings key; the recent-file list lives under it.
QSettings AppSettings() {
    return QSettings(QStringLiteral("Local AppWizard-Generated Applications"), QStringLiteral("Calvora"));
}

const QString kRecentGroup = QStringLiteral("Recent File List");

std::filesystem::path ToPath(const QString& path) {
    return std::filesystem::path(path.toStdU16String());
}

QString FromPath(const std::filesystem::path& path) {
    return QString::fromStdU16String(path.u16string());
}

// X11 key-state bits of the lock keys (Scroll Lock has no standard modifier bit).
constexpr quint32 kX11LockMask = 0x2;
constexpr quint32 kX11NumLockMask = 0x10;

} // namespace

QStringList QtNameFilters(const QString& filter) {
    QStringList filters;
    const QStringList parts = filter.split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString text = parts[i];
        const QString patterns =
            parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts).join(QLatin1Char(' '));
        if (text.isEmpty() && patterns.isEmpty()) {
            continue;
        }
        // The text often repeats the patterns in parentheses; Qt reads the patterns from there,
        // blank-separated.
        const qsizetype open = text.lastIndexOf(QLatin1Char('('));
        if (text.endsWith(QLatin1Char(')')) && open >= 0) {
            text.truncate(open);
        } else if (!text.isEmpty()) {
            text += QLatin1Char(' ');
        }
        filters << QStringLiteral("%1(%2)").arg(text, patterns);
    }
    return filters;
}

QString WithSaveExtension(const QString& chosen) {
    const QString suffix = QFileInfo(chosen).suffix();
    if (suffix.compare(QStringLiteral("recorder"), Qt::CaseInsensitive) == 0 ||
        suffix.compare(QStringLiteral("xls"), Qt::CaseInsensitive) == 0) {
        return chosen;
    }
    return chosen + QStringLiteral(".recorder");
}

MainWindow::MainWindow(const TabTable& documentTabs, QWidget* parent)
    : QMainWindow(parent), mdiArea_(new QMdiArea(this)), autoHide_(new AutoHideStrips(*this)),
      documentTabs_(documentTabs) {
    setCentralWidget(mdiArea_);
    // No menu of toolbars and bars on a right click, as on the original frame.
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

// ---------------------------------------------------------------------------------------------------------
// Menus, toolbar, status bar, Instrument bar

QAction* MainWindow::MakeCommand(const CommandInfo& info) {
    auto* action = new QAction(info.menuText, this);
    action->setObjectName(QStringLiteral("command%1").arg(info.id));
    action->setData(info.id);
    const qsizetype newline = info.prompt.indexOf(QLatin1Char('\n'));
    action->setStatusTip(newline < 0 ? info.prompt : info.prompt.left(newline));
    if (newline >= 0) {
        action->setToolTip(info.prompt.mid(newline + 1));
    }
    if (info.image >= 0) {
        action->setIcon(ToolbarIcon(info.image));
        action->setIconVisibleInMenu(false);
    }
    // The shortcut shown after the tab in a menu text belongs to the accelerator table, not to the item.
    action->setShortcutContext(Qt::WidgetShortcut);
    connect(action, &QAction::triggered, this, [this, id = info.id] { ExecuteCommand(id); });
    commands_[info.id] = action;
    return action;
}

void MainWindow::AddAccelerator(const QKeySequence& keys, int id) {
    auto* action = new QAction(this);
    action->setObjectName(QStringLiteral("accelerator%1").arg(id));
    action->setShortcut(keys);
    action->setShortcutContext(Qt::WindowShortcut);
    action->setData(id);
    connect(action, &QAction::triggered, this, [this, id] { ExecuteCommand(id); });
    addAction(action);
    accelerators_.emplace_back(action, id);
}

void MainWindow::CreateMenus() {
    // Prompts of the framework's own commands are its standard texts.
    QAction* open = MakeCommand({ID_OPEN_DATA, QStringLiteral("&Open...\tCtrl+O"),
                                 QStringLiteral("Open an existing document\nOpen"), kImageOpen});
    QAction* close = MakeCommand(
        {ID_FILE_CLOSE, QStringLiteral("&Close"), QStringLiteral("Close the active document\nClose")});
    QAction* save = MakeCommand({ID_SAVE_DATA, QStringLiteral("&Save\tCtrl+S"),
                                 QStringLiteral("Save the active document\nSave"), kImageSave});
    QAction* print = MakeCommand({ID_FILE_PRINT, QStringLiteral("&Print...\tCtrl+P"),
                                  QStringLiteral("Print the active document\nPrint"), kImagePrint});
    QAction* preview = MakeCommand({ID_FILE_PRINT_PREVIEW, QStringLiteral("Print Pre&view"), QString()});
    QAction* printSetup =
        MakeCommand({ID_FILE_PRINT_SETUP, QStringLiteral("P&rint Setup..."),
                     QStringLiteral("Change the printer and printing options\nPage Setup")});
    recentPlaceholder_ = MakeCommand({ID_FILE_MRU_FILE1, QStringLiteral("Recent File"), QString()});
    for (int i = 0; i < 4; ++i) {
        auto* entry = new QAction(this);
        entry->setObjectName(QStringLiteral("recent%1").arg(i + 1));
        entry->setStatusTip(QStringLiteral("Open this document"));
        entry->setVisible(false);
        connect(entry, &QAction::triggered, this, [this, i] { OpenRecent(i); });
        recentActions_.push_back(entry);
    }
    QAction* exit = MakeCommand({ID_APP_EXIT, QStringLiteral("E&xit"),
                                 QStringLiteral("Quit the application; prompts to save documents\nExit")});
    QAction* toolbar = MakeCommand({ID_VIEW_TOOLBAR, QStringLiteral("&Toolbar"),
                                    QStringLiteral("Show or hide the toolbar\nToggle ToolBar")});
    QAction* statusBarItem = MakeCommand({ID_VIEW_STATUS_BAR, QStringLiteral("&Status Bar"),
                                          QStringLiteral("Show or hide the status bar\nToggle StatusBar")});
    QAction* instrument =
        MakeCommand({ID_VIEW_INSTRUMENT, QStringLiteral("&Instrument"),
                     QStringLiteral("Show or hide the Instrument bar\nToggle Instrument bar")});
    for (QAction* checkable : {toolbar, statusBarItem, instrument}) {
        checkable->setCheckable(true);
    }
    QAction* pair =
        MakeCommand({ID_PAIR, QStringLiteral("Pair"), QStringLiteral("Pair with the new wirless device.")});
    QAction* record =
        MakeCommand({ID_START_RECORDING, QStringLiteral("Real Time Chart Recording"),
                     QStringLiteral("Real Time Chart Recording.\nReal Time Chart Recording."), kImageRecord});
    QAction* stop = MakeCommand({ID_STOP_RECORDING, QStringLiteral("Stop Recording"),
                                 QStringLiteral("Stop Recording.\nStop Recording."), kImageStop});
    QAction* reconnect = MakeCommand(
        {ID_RECONNECT, QStringLiteral("&Reconnect"), QStringLiteral("Reconnect the meter\nReconnect")});
    QAction* comport = MakeCommand({ID_COMPORT, QStringLiteral("&Comport..."),
                                    QStringLiteral("Open the receiver on a port number you type\nComport")});
    QAction* rescan = MakeCommand(
        {ID_RESCAN, QStringLiteral("R&escan Receivers"), QStringLiteral("Look for receivers again\nRescan")});
    QAction* cascade = MakeCommand({ID_WINDOW_CASCADE, QStringLiteral("&Cascade"),
                                    QStringLiteral("Arrange windows so they overlap\nCascade Windows")});
    QAction* tile = MakeCommand({ID_WINDOW_TILE_HORZ, QStringLiteral("&Tile"),
                                 QStringLiteral("Arrange windows as non-overlapping tiles\nTile Windows")});
    QAction* about =
        MakeCommand({ID_APP_ABOUT, QStringLiteral("&About Calvora..."),
                     QStringLiteral("Display program information, version number and copyright\nAbout")});
    QAction* help = MakeCommand(
        {ID_HELP_TOPICS, QStringLiteral("&Help topics"), QStringLiteral("Help\nHelp"), kImageHelp});
    // Commands with no menu item of their own.
    MakeCommand({ID_FILE_NEW, QString(), QStringLiteral("Create a new document\nNew")});
    MakeCommand({ID_FILE_OPEN, QString(), QStringLiteral("Open an existing document\nOpen")});
    MakeCommand({ID_FILE_SAVE, QString(), QStringLiteral("Save the active document\nSave")});

    auto addRecent = [this](QMenu* menu) {
        menu->addAction(recentPlaceholder_);
        for (QAction* entry : recentActions_) {
            menu->addAction(entry);
        }
    };
    auto* file128 = new QMenu(QStringLiteral("&File"), this);
    file128->setObjectName(QStringLiteral("file128"));
    file128->addAction(open);
    file128->addSeparator();
    file128->addAction(printSetup);
    file128->addSeparator();
    addRecent(file128);
    file128->addSeparator();
    file128->addAction(close);
    file128->addAction(exit);

    auto* file129 = new QMenu(QStringLiteral("&File"), this);
    file129->setObjectName(QStringLiteral("file129"));
    for (QAction* action : {open, close, save, print, preview, printSetup}) {
        file129->addAction(action);
    }
    file129->addSeparator();
    addRecent(file129);
    file129->addSeparator();
    file129->addAction(exit);

    auto* view = new QMenu(QStringLiteral("&View"), this);
    view->setObjectName(QStringLiteral("view"));
    view->addActions({toolbar, statusBarItem, instrument});
    auto* instrumentMenu = new QMenu(QStringLiteral("&Instrument"), this);
    instrumentMenu->setObjectName(QStringLiteral("instrument"));
    instrumentMenu->addActions({pair, record, stop});
    instrumentMenu->addSeparator();
    instrumentMenu->addActions({reconnect, comport, rescan});
    auto* window = new QMenu(QStringLiteral("&Window"), this);
    window->setObjectName(QStringLiteral("window"));
    window->addActions({cascade, tile});
    auto* helpMenu = new QMenu(QStringLiteral("&Help"), this);
    helpMenu->setObjectName(QStringLiteral("help"));
    helpMenu->addActions({about, help});

    windowMenu_ = window;
    connect(window, &QMenu::aboutToShow, this, &MainWindow::FillWindowList);
    menus128_ = {file128, view, instrumentMenu, window, helpMenu};
    menus129_ = {file129, view, instrumentMenu, window, helpMenu};
    for (QMenu* menu : {file128, file129, view, instrumentMenu, window, helpMenu}) {
        connect(menu, &QMenu::aboutToShow, this, &MainWindow::UpdateCommandUI);
    }

    AddAccelerator(QKeySequence(Qt::CTRL | Qt::Key_N), ID_FILE_NEW);
    AddAccelerator(QKeySequence(Qt::CTRL | Qt::Key_O), ID_FILE_OPEN);
    AddAccelerator(QKeySequence(Qt::CTRL | Qt::Key_S), ID_FILE_SAVE);
    AddAccelerator(QKeySequence(Qt::CTRL | Qt::Key_P), ID_FILE_PRINT);
    AddAccelerator(QKeySequence(Qt::CTRL | Qt::Key_Z), ID_EDIT_UNDO);
    AddAccelerator(QKeySequence(Qt::ALT | Qt::Key_Backspace), ID_EDIT_UNDO);
    AddAccelerator(QKeySequence(Qt::CTRL | Qt::Key_X), ID_EDIT_CUT);
    AddAccelerator(QKeySequence(Qt::SHIFT | Qt::Key_Delete), ID_EDIT_CUT);
    AddAccelerator(QKeySequence(Qt::CTRL | Qt::Key_C), ID_EDIT_COPY);
    AddAccelerator(QKeySequence(Qt::CTRL | Qt::Key_Insert), ID_EDIT_COPY);
    AddAccelerator(QKeySequence(Qt::CTRL | Qt::Key_V), ID_EDIT_PASTE);
    AddAccelerator(QKeySequence(Qt::SHIFT | Qt::Key_Insert), ID_EDIT_PASTE);
    AddAccelerator(QKeySequence(Qt::Key_F6), ID_NEXT_PANE);
    AddAccelerator(QKeySequence(Qt::SHIFT | Qt::Key_F6), ID_PREV_PANE);
}

bool MainWindow::CreateToolBar() {
    toolBar_ = new QToolBar(QStringLiteral("Toolbar"), this);
    toolBar_->setObjectName(QStringLiteral("ToolBar128"));
    toolBar_->setIconSize(QSize(kToolbarImageSize, kToolbarImageSize));
    toolBar_->setAllowedAreas(Qt::AllToolBarAreas);
    toolBar_->addAction(commands_.at(ID_SAVE_DATA));
    toolBar_->addAction(commands_.at(ID_OPEN_DATA));
    toolBar_->addAction(commands_.at(ID_FILE_PRINT));
    toolBar_->addSeparator();
    toolBar_->addAction(commands_.at(ID_START_RECORDING));
    toolBar_->addAction(commands_.at(ID_STOP_RECORDING));
    toolBar_->addSeparator();
    toolBar_->addAction(commands_.at(ID_HELP_TOPICS));
    addToolBar(Qt::TopToolBarArea, toolBar_);
    connect(toolBar_, &QToolBar::visibilityChanged, this, [this](bool) { UpdateCommandUI(); });
    return true;
}

bool MainWindow::CreateStatusBar() {
    QStatusBar* bar = statusBar();
    messagePane_ = new QLabel(QStringLiteral("Ready"), bar);
    messagePane_->setObjectName(QStringLiteral("messagePane"));
    bar->addWidget(messagePane_, 1);
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

bool MainWindow::CreateInstrumentBar() {
    instrumentBar_ = new DockPageBar(this);
    if (!instrumentBar_->Create(QStringLiteral("DockPageBar1"), this, QSize(320, 260), true,
                                kInstrumentBarId)) {
        return false;
    }
    instrumentBar_->EnableDocking(Qt::AllDockWidgetAreas);
    instrumentBar_->DockAt(Qt::LeftDockWidgetArea);
    autoHide_->AttachPageBar(instrumentBar_);
    connect(instrumentBar_, &QDockWidget::visibilityChanged, this, [this](bool) { UpdateCommandUI(); });

    instrumentTree_ = new QTreeWidget;
    instrumentTree_->setObjectName(QStringLiteral("InstrumentTree%1").arg(kInstrumentTreeId));
    instrumentTree_->setHeaderHidden(true);
    instrumentTree_->setRootIsDecorated(true);
    instrumentTree_->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    return instrumentBar_->AddPage(instrumentTree_, QStringLiteral("Instrument"), InstrumentPageIcon());
}

// ---------------------------------------------------------------------------------------------------------
// Command table

std::optional<CommandState> MainWindow::ShellCommandState(int id) const {
    const bool hasDocument = activeDocumentWindow() != nullptr;
    DocumentView* view = hasDocument ? activeDocumentWindow()->activeView() : nullptr;
    const bool canPrint = view != nullptr && view->canPrint();
    switch (id) {
    case ID_FILE_NEW:
    case ID_FILE_OPEN:
    case ID_OPEN_DATA:
    case ID_FILE_PRINT_SETUP:
    case ID_APP_EXIT:
    case ID_APP_ABOUT:
    case ID_HELP_TOPICS:
        return CommandState{true, false};
    case ID_FILE_CLOSE:
    case ID_SAVE_DATA:
    case ID_FILE_SAVE:
    case ID_WINDOW_CASCADE:
    case ID_WINDOW_TILE_HORZ:
        return CommandState{hasDocument, false};
    case ID_FILE_PRINT:
    case ID_FILE_PRINT_PREVIEW:
        return CommandState{canPrint, false};
    case ID_FILE_MRU_FILE1:
        // The placeholder item stays grey; the file entries replace it once a file has been used.
        return CommandState{false, false};
    case ID_VIEW_TOOLBAR:
        return CommandState{true, toolBar_ != nullptr && !toolBar_->isHidden()};
    case ID_VIEW_STATUS_BAR:
        return CommandState{true, !statusBar()->isHidden()};
    case ID_VIEW_INSTRUMENT:
        return CommandState{instrumentBar_ != nullptr, isInstrumentBarShown()};
    default:
        // Undo, cut, copy, paste, the pane keys and the meter's commands have no handler in the shell.
        return std::nullopt;
    }
}

CommandState MainWindow::QueryCommandState(int id) const {
    if (target_ != nullptr) {
        if (const std::optional<CommandState> state = target_->QueryCommand(id)) {
            return *state;
        }
    }
    return ShellCommandState(id).value_or(CommandState{});
}

bool MainWindow::ExecuteCommand(int id) {
    if (!QueryCommandState(id).enabled) {
        return false;
    }
    bool handled = false;
    if (target_ != nullptr && target_->QueryCommand(id).has_value()) {
        handled = target_->ExecuteCommand(id);
    }
    if (!handled) {
        handled = RunShellCommand(id);
    }
    UpdateCommandUI();
    if (handled) {
        Q_EMIT commandExecuted(id);
    }
    return handled;
}

bool MainWindow::RunShellCommand(int id) {
    switch (id) {
    case ID_FILE_NEW:
        NewDocument();
        return true;
    case ID_OPEN_DATA:
        OnFileOpen(QtNameFilters(QStringLiteral("MultiMeter Files(*.recorder)|*.recorder|")));
        return true;
    case ID_FILE_OPEN:
        OnFileOpen(QtNameFilters(QStringLiteral("Multimeter Files (*.recorder)|*.recorder|")));
        return true;
    case ID_FILE_CLOSE:
        if (QMdiSubWindow* window = mdiArea()->currentSubWindow()) {
            window->close();
        }
        return true;
    case ID_SAVE_DATA:
        OnFileSave();
        return true;
    case ID_FILE_SAVE:
        OnFileSaveFramework();
        return true;
    case ID_FILE_PRINT:
        OnPrint();
        return true;
    case ID_FILE_PRINT_PREVIEW:
        OnPrintPreview();
        return true;
    case ID_FILE_PRINT_SETUP:
        OnPrintSetup();
        return true;
    case ID_APP_EXIT:
        close();
        return true;
    case ID_VIEW_TOOLBAR:
        toolBar_->setVisible(toolBar_->isHidden());
        return true;
    case ID_VIEW_STATUS_BAR:
        statusBar()->setVisible(statusBar()->isHidden());
        return true;
    case ID_VIEW_INSTRUMENT:
        ToggleInstrumentBar();
        return true;
    case ID_WINDOW_CASCADE:
        mdiArea()->cascadeSubWindows();
        return true;
    case ID_WINDOW_TILE_HORZ:
        mdiArea()->tileSubWindows();
        return true;
    case ID_APP_ABOUT:
        OnAbout();
        return true;
    case ID_HELP_TOPICS:
        OnHelp();
        return true;
    default:
        return false;
    }
}

void MainWindow::UpdateCommandUI() {
    for (const auto& [id, action] : commands_) {
        const CommandState state = QueryCommandState(id);
        action->setEnabled(state.enabled);
        if (action->isCheckable()) {
            action->setChecked(state.checked);
        }
    }
    for (const auto& [action, id] : accelerators_) {
        action->setEnabled(QueryCommandState(id).enabled);
    }
    const std::vector<std::u16string>& entries = recent_.entries();
    recentPlaceholder_->setVisible(entries.empty());
    for (size_t i = 0; i < recentActions_.size(); ++i) {
        QAction* entry = recentActions_[i];
        entry->setVisible(i < entries.size());
        if (i < entries.size()) {
            entry->setText(QString::fromStdU16String(recent_.MenuText(i)));
            entry->setToolTip(QString::fromStdU16String(entries[i]));
        }
    }
    ShowMenu(activeDocumentWindow() != nullptr ? kMenuWithDocument : kMenuWithoutDocument);
    UpdateTitle();
}

void MainWindow::ShowMenu(int menuId) {
    if (menuId == currentMenu_) {
        return;
    }
    currentMenu_ = menuId;
    menuBar()->clear();
    for (QMenu* menu : Menus(menuId)) {
        menuBar()->addMenu(menu);
    }
}

void MainWindow::FillWindowList() {
    for (QAction* action : windowList_) {
        windowMenu_->removeAction(action);
        action->deleteLater();
    }
    windowList_.clear();
    const QList<DocumentWindow*> frames = documentWindows();
    if (frames.isEmpty()) {
        return;
    }
    windowList_.push_back(windowMenu_->addSeparator());
    for (int i = 0; i < frames.size(); ++i) {
        DocumentWindow* frame = frames[i];
        QString title = frame->windowTitle();
        title.replace(QLatin1Char('&'), QStringLiteral("&&"));
        QAction* action = windowMenu_->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(title));
        action->setCheckable(true);
        action->setChecked(frame == activeDocumentWindow());
        QPointer<DocumentWindow> target = frame;
        connect(action, &QAction::triggered, this, [this, target] {
            if (target != nullptr) {
                mdiArea()->setActiveSubWindow(target);
            }
        });
        windowList_.push_back(action);
    }
}

QList<QMenu*> MainWindow::Menus(int menuId) const {
    return menuId == kMenuWithDocument ? menus129_ : menus128_;
}

QAction* MainWindow::CommandAction(int id) const {
    const auto it = commands_.find(id);
    return it == commands_.end() ? nullptr : it->second;
}

void MainWindow::UpdateTitle() {
    RecordingDocument* document = activeDocument();
    // The framework's caption: the application title, then " - " and the active document's title.
    setWindowTitle(document != nullptr
                       ? QStringLiteral("Calvora - %1").arg(QString::fromStdU16String(document->title))
                       : QStringLiteral("Calvora"));
}

// ---------------------------------------------------------------------------------------------------------
// Instrument bar

bool MainWindow::isInstrumentBarShown() const {
    return instrumentBar_ != nullptr && (!instrumentBar_->isHidden() || autoHide_->IsPinned(instrumentBar_));
}

void MainWindow::ToggleInstrumentBar() {
    if (instrumentBar_ == nullptr) {
        return;
    }
    if (autoHide_->IsPinned(instrumentBar_)) {
        autoHide_->UnpinBar(instrumentBar_, false);
    } else {
        instrumentBar_->setVisible(instrumentBar_->isHidden());
    }
    UpdateCommandUI();
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
// Documents

DocumentWindow* MainWindow::CreateDocumentWindow(std::shared_ptr<RecordingDocument> document) {
    if (document == nullptr) {
        return nullptr;
    }
    auto* frame = new DocumentWindow(documentTabs_);
    if (!frame->CreateClient(document)) {
        delete frame;
        return nullptr;
    }
    connect(frame, &DocumentWindow::closeRequested, this, &MainWindow::OnDocumentClosing);
    connect(frame, &DocumentWindow::aboutToClose, this,
            [this](DocumentWindow* closing) { OnDocumentDestroyed(closing->document()); });
    connect(frame, &DocumentWindow::viewChanged, this, [this](DocumentView*) { UpdateCommandUI(); });
    connect(
        frame, &QObject::destroyed, this, [this] { UpdateCommandUI(); }, Qt::QueuedConnection);
    mdiArea()->addSubWindow(frame);
    frame->setWindowIcon(ApplicationIcon());
    // New child windows open at the framework's default: most of the MDI area, each one a caption lower and
    // further right than the one before, starting again at the corner when the next would leave the area.
    const QSize area = mdiArea()->viewport()->size();
    const QSize size(std::max(400, area.width() * 3 / 4), std::max(300, area.height() * 3 / 4));
    const int step = style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, frame);
    const int room = std::max(0, std::min(area.width() - size.width(), area.height() - size.height()));
    const int windows = static_cast<int>(mdiArea()->subWindowList().size()) - 1;
    const int offset = room >= step ? (windows * step) % (room - room % step + step) : 0;
    frame->resize(size);
    frame->move(offset, offset);
    frame->show();
    mdiArea()->setActiveSubWindow(frame);
    UpdateCommandUI();
    return frame;
}

DocumentWindow* MainWindow::NewDocument() {
    auto document = std::make_shared<RecordingDocument>();
    // The framework numbers new documents after the template's new-file name.
    document->title = u"Multimeter" + QString::number(++untitledCount_).toStdU16String();
    return CreateDocumentWindow(std::move(document));
}

DocumentWindow* MainWindow::OpenDocumentFile(const QString& path) {
    const QString absolute = QFileInfo(path).absoluteFilePath();
    for (DocumentWindow* frame : documentWindows()) {
        if (frame->pathName() == absolute) {
            mdiArea()->setActiveSubWindow(frame);
            return frame;
        }
    }
    auto document = std::make_shared<RecordingDocument>();
    const ReadResult result = OpenRecordFile(ToPath(absolute), *document, *state_, *prompts_);
    if (!result.ok()) {
        // The reader has told the user; no empty document is left behind, whichever path opened the file.
        if (result.status == ReadStatus::CannotOpen) {
            recent_.Remove(absolute.toStdU16String());
            StoreRecent();
            UpdateCommandUI();
        }
        return nullptr;
    }
    document->title = QFileInfo(absolute).fileName().toStdU16String();
    DocumentWindow* frame = CreateDocumentWindow(std::move(document));
    if (frame != nullptr) {
        frame->SetPathName(absolute);
        AddRecent(absolute);
    }
    return frame;
}

DocumentWindow* MainWindow::activeDocumentWindow() const {
    return qobject_cast<DocumentWindow*>(mdiArea()->currentSubWindow());
}

RecordingDocument* MainWindow::activeDocument() const {
    DocumentWindow* frame = activeDocumentWindow();
    return frame != nullptr ? frame->document() : nullptr;
}

QList<DocumentWindow*> MainWindow::documentWindows() const {
    QList<DocumentWindow*> frames;
    for (QMdiSubWindow* window : mdiArea()->subWindowList()) {
        if (auto* frame = qobject_cast<DocumentWindow*>(window)) {
            frames.append(frame);
        }
    }
    return frames;
}

void MainWindow::OnDocumentClosing(DocumentWindow* frame, bool& accept) {
    accept = true;
    RecordingDocument* document = frame->document();
    if (document == nullptr) {
        return;
    }
    accept = target_->OnDocumentClosing(*document);
}

void MainWindow::OnDocumentDestroyed(RecordingDocument* document) {
    if (document == nullptr) {
        return;
    }
    target_->OnDocumentDestroyed(*document);
}

DocumentWindow* MainWindow::WindowOf(const RecordingDocument* document) const {
    for (DocumentWindow* frame : documentWindows()) {
        if (frame->document() == document) {
            return frame;
        }
    }
    return nullptr;
}

void MainWindow::UpdateViews(RecordingDocument& document) {
    if (DocumentWindow* frame = WindowOf(&document)) {
        frame->UpdateTitle();
        if (frame->activeView() != nullptr) {
            frame->activeView()->OnUpdate();
        }
    }
    UpdateTitle();
}

bool MainWindow::SaveDocumentAs(RecordingDocument& document, const QString& chosenPath) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const SaveResult result = SaveDocument(document, ToPath(chosenPath), *state_);
    QApplication::restoreOverrideCursor();
    if (!result.ok) {
        // A failed save is reported: silence would let the user believe the data is on disk.
        prompts_->ShowMessage(result.message(), MessageIcon::Exclamation);
    } else if (target_ != nullptr) {
        target_->OnDocumentSaved(document);
    }
    return result.ok;
}

void MainWindow::OnFileSave() {
    if (RecordingDocument* document = activeDocument()) {
        SaveWithDialog(*document);
    }
}

bool MainWindow::SaveWithDialog(RecordingDocument& document) {
    const QString path = AskSavePath();
    return !path.isEmpty() && SaveDocumentAs(document, path);
}

QString MainWindow::AskSavePath() {
    const std::filesystem::path folder = PrepareSaveFolder();
    QFileDialog dialog(this, QStringLiteral("Save As"));
    dialog.setObjectName(QStringLiteral("SaveDataDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters(
        QtNameFilters(QStringLiteral("MultiMeter Files(*.recorder;*.xls)|*.recorder;*.xls|")));
    dialog.setDefaultSuffix(QStringLiteral("recorder"));
    dialog.setDirectory(FromPath(folder));
    // The default name holds dots ("… 22.05.20"), so the dialog would take its seconds for an extension and
    // add none; with the extension in place the seconds stay and the overwrite question asks about the file
    // that will really be written.
    dialog.selectFile(QString::fromStdU16String(DefaultFileNameNow()) + QStringLiteral(".recorder"));
    for (;;) {
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
            return {};
        }
        const QString chosen = dialog.selectedFiles().constFirst();
        const QString path = WithSaveExtension(chosen);
        if (path == chosen || !QFileInfo::exists(path) ||
            prompts_->AskYesNo(QStringLiteral("%1 already exists.\nDo you want to replace it?")
                                   .arg(QFileInfo(path).fileName())
                                   .toStdU16String())) {
            return path;
        }
    }
}

bool MainWindow::SaveRecordOnly(DocumentWindow& frame, const QString& path) {
    RecordingDocument* document = frame.document();
    if (document == nullptr) {
        return false;
    }
    const SaveResult result = WriteFileAtomically(
        ToPath(path), [document](ByteSink& sink) { return WriteRecord(*document, sink); });
    if (!result.ok) {
        prompts_->ShowMessage(result.message(), MessageIcon::Exclamation);
        return false;
    }
    const QString absolute = QFileInfo(path).absoluteFilePath();
    frame.SetPathName(absolute);
    document->title = QFileInfo(absolute).fileName().toStdU16String();
    frame.UpdateTitle();
    AddRecent(absolute);
    UpdateCommandUI();
    return true;
}

void MainWindow::OnFileSaveFramework() {
    DocumentWindow* frame = activeDocumentWindow();
    if (frame == nullptr) {
        return;
    }
    QString path = frame->pathName();
    if (path.isEmpty()) {
        QFileDialog dialog(this, QStringLiteral("Save As"));
        dialog.setObjectName(QStringLiteral("SaveAsDialog"));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setNameFilters(QtNameFilters(QStringLiteral("Multimeter Files (*.recorder)|*.recorder|")));
        dialog.setDefaultSuffix(QStringLiteral("recorder"));
        if (frame->document() != nullptr) {
            dialog.selectFile(QString::fromStdU16String(frame->document()->title));
        }
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
            return;
        }
        path = dialog.selectedFiles().constFirst();
    }
    SaveRecordOnly(*frame, path);
}

void MainWindow::OnFileOpen(const QStringList& filters) {
    QFileDialog dialog(this, QStringLiteral("Open"));
    dialog.setObjectName(QStringLiteral("OpenDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(filters);
    dialog.setDefaultSuffix(QStringLiteral("recorder"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return;
    }
    OpenDocumentFile(dialog.selectedFiles().constFirst());
}

void MainWindow::OnPrint() {
    DocumentWindow* frame = activeDocumentWindow();
    if (frame == nullptr || frame->activeView() == nullptr) {
        return;
    }
    QPrintDialog dialog(&printer_, this);
    if (dialog.exec() == QDialog::Accepted) {
        frame->activeView()->Print(printer_);
    }
}

void MainWindow::OnPrintPreview() {
    if (DocumentWindow* frame = activeDocumentWindow()) {
        frame->PrintPreview(printer_);
    }
}

void MainWindow::OnPrintSetup() {
    QPageSetupDialog dialog(&printer_, this);
    dialog.exec();
}

void MainWindow::OnHelp() {
    // Opening can fail (no manual, no viewer); as on the original, that is not reported.
    const std::u16string program = QCoreApplication::applicationFilePath().toStdU16String();
    QString path = QString::fromStdU16String(InstalledHelpFilePath(program));
    if (!QFileInfo::exists(path))
        path = QString::fromStdU16String(HelpFilePath(program));
    QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()));
}

void MainWindow::OnAbout() {
    AboutDialog dialog(this);
    dialog.exec();
}

// ---------------------------------------------------------------------------------------------------------
// Recent files

void MainWindow::LoadRecent() {
    QSettings settings = AppSettings();
    settings.beginGroup(kRecentGroup);
    std::vector<std::u16string> paths;
    for (size_t i = 1; i <= recent_.capacity(); ++i) {
        const QString path = settings.value(QStringLiteral("File%1").arg(i)).toString();
        if (!path.isEmpty()) {
            paths.push_back(path.toStdU16String());
        }
    }
    recent_.Assign(paths);
}

void MainWindow::StoreRecent() {
    QSettings settings = AppSettings();
    settings.remove(kRecentGroup);
    settings.beginGroup(kRecentGroup);
    const std::vector<std::u16string>& entries = recent_.entries();
    for (size_t i = 0; i < entries.size(); ++i) {
        settings.setValue(QStringLiteral("File%1").arg(i + 1), QString::fromStdU16String(entries[i]));
    }
}

void MainWindow::AddRecent(const QString& path) {
    recent_.Add(path.toStdU16String());
    StoreRecent();
    UpdateCommandUI();
}

void MainWindow::OpenRecent(int index) {
    const std::vector<std::u16string>& entries = recent_.entries();
    if (index < 0 || static_cast<size_t>(index) >= entries.size()) {
        return;
    }
    OpenDocumentFile(QString::fromStdU16String(entries[static_cast<size_t>(index)]));
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
