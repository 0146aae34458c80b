// The main window's menus, accelerators, toolbar and command table: which commands are enabled and checked,
// and where each one runs (the engine first, then the window's own handlers).
#include "app/gui/main_window.h"

#include "app/command_ids.h"
#include "app/gui/about_dialog.h"
#include "app/gui/help_window.h"
#include "app/gui/toolbar_images.h"
#include "app/help_path.h"
#include "recording/recording_document.h"

#include <QAction>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QStatusBar>
#include <QToolBar>
#include <QUrl>

namespace calvora {

namespace {

// The Open dialog's second filter: continuous logs.
const QString kLogFilter = QStringLiteral("Continuous Logs (*.calvlog)|*.calvlog|");
// Open also reads back what File › Export... wrote as csv.
const QString kCsvExportFilter = QStringLiteral("CSV exports(*.csv)|*.csv|");

} // namespace

// ---------------------------------------------------------------------------------------------------------
// Menus, accelerators and the toolbar

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
    QAction* exportCommand =
        MakeCommand({ID_EXPORT, QStringLiteral("&Export..."),
                     QStringLiteral("Export the active document as csv, JSON lines or a workbook\nExport")});
    QAction* print = MakeCommand({ID_FILE_PRINT, QStringLiteral("&Print...\tCtrl+P"),
                                  QStringLiteral("Print the active document\nPrint"), kImagePrint});
    QAction* preview = MakeCommand({ID_FILE_PRINT_PREVIEW, QStringLiteral("Print Pre&view"), QString()});
    QAction* exportChart =
        MakeCommand({ID_EXPORT_CHART, QStringLiteral("Export C&hart..."),
                     QStringLiteral("Save the chart as a PNG, SVG or PDF picture\nExport Chart")});
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
    QAction* statistics =
        MakeCommand({ID_VIEW_STATISTICS, QStringLiteral("S&tatistics"),
                     QStringLiteral("Show or hide the Statistics bar\nToggle Statistics bar")});
    for (QAction* checkable : {toolbar, statusBarItem, instrument, statistics}) {
        checkable->setCheckable(true);
    }
    QAction* pair =
        MakeCommand({ID_PAIR, QStringLiteral("Pair"), QStringLiteral("Pair with the new wirless device.")});
    QAction* record =
        MakeCommand({ID_START_RECORDING, QStringLiteral("Real Time Chart Recording"),
                     QStringLiteral("Real Time Chart Recording.\nReal Time Chart Recording."), kImageRecord});
    QAction* stop = MakeCommand({ID_STOP_RECORDING, QStringLiteral("Stop Recording"),
                                 QStringLiteral("Stop Recording.\nStop Recording."), kImageStop});
    QAction* limits = MakeCommand(
        {ID_LIMITS, QStringLiteral("&Limits..."),
         QStringLiteral("Set the limits of the active document and what their alarms do\nLimits")});
    QAction* trigger = MakeCommand({ID_TRIGGER, QStringLiteral("T&rigger..."),
                                    QStringLiteral("Choose how the next recording starts\nTrigger")});
    QAction* logging =
        MakeCommand({ID_CONTINUOUS_LOGGING, QStringLiteral("Continuous &Logging...\tCtrl+L"),
                     QStringLiteral("Log every reading to a file until stopped\nContinuous Logging")});
    logging->setIcon(LoggingIcon());
    logging->setIconVisibleInMenu(false);
    QAction* timeAxis =
        MakeCommand({ID_VIEW_TIME_AXIS, QStringLiteral("Time &Axis"),
                     QStringLiteral("Chart the recording over the times of its samples\nTime Axis")});
    timeAxis->setCheckable(true);
    QAction* exportLog =
        MakeCommand({ID_EXPORT_LOG_RANGE, QStringLiteral("Export Log to &Recording..."),
                     QStringLiteral("Copy a span of the log into a new recording\nExport Log to Recording")});
    QAction* publish =
        MakeCommand({ID_PUBLISH_READINGS, QStringLiteral("&Publish Readings..."),
                     QStringLiteral("Publish the live readings to an MQTT broker\nPublish Readings")});
    QAction* reconnect = MakeCommand(
        {ID_RECONNECT, QStringLiteral("&Reconnect"), QStringLiteral("Reconnect the meter\nReconnect")});
    QAction* disconnect = MakeCommand({ID_DISCONNECT, QStringLiteral("&Disconnect"),
                                       QStringLiteral("Close the active receiver\nDisconnect")});
    QAction* rename =
        MakeCommand({ID_RENAME_RECEIVER, QStringLiteral("Rena&me Receiver..."),
                     QStringLiteral("Give the active receiver a name of its own\nRename Receiver")});
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
    for (QAction* action : {open, close, save, exportCommand, print, preview, exportChart, printSetup}) {
        file129->addAction(action);
    }
    file129->addAction(exportLog);
    file129->addSeparator();
    addRecent(file129);
    file129->addSeparator();
    file129->addAction(exit);

    auto* view = new QMenu(QStringLiteral("&View"), this);
    view->setObjectName(QStringLiteral("view"));
    view->addActions({toolbar, statusBarItem, instrument, statistics});
    view->addSeparator();
    view->addAction(timeAxis);
    auto* instrumentMenu = new QMenu(QStringLiteral("&Instrument"), this);
    instrumentMenu->setObjectName(QStringLiteral("instrument"));
    instrumentMenu->addActions({pair, record, stop, logging});
    instrumentMenu->addSeparator();
    instrumentMenu->addActions({limits, trigger});
    instrumentMenu->addSeparator();
    instrumentMenu->addActions({reconnect, disconnect, rename, comport, rescan});
    auto* window = new QMenu(QStringLiteral("&Window"), this);
    window->setObjectName(QStringLiteral("window"));
    window->addActions({cascade, tile});
    auto* settingsMenu = new QMenu(QStringLiteral("&Settings"), this);
    settingsMenu->setObjectName(QStringLiteral("settings"));
    settingsMenu->addAction(publish);
    auto* helpMenu = new QMenu(QStringLiteral("&Help"), this);
    helpMenu->setObjectName(QStringLiteral("help"));
    helpMenu->addActions({about, help});

    windowMenu_ = window;
    connect(window, &QMenu::aboutToShow, this, &MainWindow::FillWindowList);
    menus128_ = {file128, view, instrumentMenu, window, settingsMenu, helpMenu};
    menus129_ = {file129, view, instrumentMenu, window, settingsMenu, helpMenu};
    for (QMenu* menu : {file128, file129, view, instrumentMenu, window, settingsMenu, helpMenu}) {
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
    AddAccelerator(QKeySequence(Qt::CTRL | Qt::Key_L), ID_CONTINUOUS_LOGGING);
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
    toolBar_->addAction(commands_.at(ID_CONTINUOUS_LOGGING));
    toolBar_->addSeparator();
    toolBar_->addAction(commands_.at(ID_HELP_TOPICS));
    addToolBar(Qt::TopToolBarArea, toolBar_);
    connect(toolBar_, &QToolBar::visibilityChanged, this, [this](bool) { UpdateCommandUI(); });
    return true;
}

QList<QMenu*> MainWindow::Menus(int menuId) const {
    return menuId == kMenuWithDocument ? menus129_ : menus128_;
}

QAction* MainWindow::CommandAction(int id) const {
    const auto it = commands_.find(id);
    return it == commands_.end() ? nullptr : it->second;
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

// ---------------------------------------------------------------------------------------------------------
// Command table

std::optional<CommandState> MainWindow::ShellCommandState(int id) const {
    if (const std::optional<CommandState> log = LogCommandState(id))
        return log;
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
    case ID_PUBLISH_READINGS:
        return CommandState{true, false};
    case ID_FILE_CLOSE:
    case ID_SAVE_DATA:
    case ID_FILE_SAVE:
    case ID_EXPORT:
    case ID_WINDOW_CASCADE:
    case ID_WINDOW_TILE_HORZ:
        return CommandState{hasDocument, false};
    case ID_FILE_PRINT:
    case ID_FILE_PRINT_PREVIEW:
        return CommandState{canPrint, false};
    case ID_EXPORT_CHART:
        return CommandState{activeDocument() != nullptr && activeDocument()->sampleCount() > 0, false};
    case ID_FILE_MRU_FILE1:
        // The placeholder item stays grey; the file entries replace it once a file has been used.
        return CommandState{false, false};
    case ID_VIEW_TOOLBAR:
        return CommandState{true, toolBar_ != nullptr && !toolBar_->isHidden()};
    case ID_VIEW_STATUS_BAR:
        return CommandState{true, !statusBar()->isHidden()};
    case ID_VIEW_INSTRUMENT:
        return CommandState{instrumentBar_ != nullptr, isInstrumentBarShown()};
    case ID_VIEW_STATISTICS:
        return CommandState{statisticsBar_ != nullptr, isStatisticsBarShown()};
    case ID_LIMITS:
        return CommandState{hasDocument, false};
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
        OnFileOpen(QtNameFilters(QStringLiteral("MultiMeter Files(*.recorder)|*.recorder|") + kLogFilter +
                                 kCsvExportFilter));
        return true;
    case ID_FILE_OPEN:
        OnFileOpen(QtNameFilters(QStringLiteral("Multimeter Files (*.recorder)|*.recorder|") + kLogFilter +
                                 kCsvExportFilter));
        return true;
    case ID_EXPORT_LOG_RANGE:
        ExportLogRange();
        return true;
    case ID_PUBLISH_READINGS:
        Q_EMIT publishReadingsRequested();
        return true;
    case ID_VIEW_TIME_AXIS:
        ToggleTimeAxis();
        return true;
    case ID_FILE_CLOSE:
        if (QMdiSubWindow* window = mdiArea()->currentSubWindow()) {
            window->close();
        }
        return true;
    case ID_SAVE_DATA:
        OnFileSave();
        return true;
    case ID_EXPORT:
        if (RecordingDocument* document = activeDocument()) {
            ExportWithDialogs(*document);
        }
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
    case ID_EXPORT_CHART:
        OnExportChart();
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
    case ID_VIEW_STATISTICS:
        ToggleStatisticsBar();
        return true;
    case ID_LIMITS:
        EditDocumentLimits(*activeDocument());
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
    ShowMenu(activeDocumentWindow() != nullptr || activeLogWindow() != nullptr ? kMenuWithDocument
                                                                               : kMenuWithoutDocument);
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

void MainWindow::SetHelpSource(const QString& manual, std::function<bool()> hasBrowser) {
    helpManual_ = manual;
    hasBrowser_ = std::move(hasBrowser);
}

void MainWindow::OnHelp() {
    QString path = helpManual_;
    if (path.isEmpty()) {
        const std::u16string program = QCoreApplication::applicationFilePath().toStdU16String();
        path = QString::fromStdU16String(InstalledHelpFilePath(program));
        if (!QFileInfo::exists(path))
            path = QString::fromStdU16String(HelpFilePath(program));
    }
    path = QFileInfo(path).absoluteFilePath();
    if (!QFileInfo::exists(path)) {
        statusBar()->showMessage(QStringLiteral("The manual is missing: %1").arg(path));
        return;
    }
    const bool hasBrowser = hasBrowser_ ? hasBrowser_() : DesktopHasBrowser();
    if (hasBrowser && QDesktopServices::openUrl(QUrl::fromLocalFile(path))) {
        return;
    }
    // No browser to show it: the program's own window does.
    if (helpWindow_ == nullptr) {
        helpWindow_ = new HelpWindow(path, this);
    }
    helpWindow_->show();
    helpWindow_->raise();
    helpWindow_->activateWindow();
}

void MainWindow::OnAbout() {
    AboutDialog dialog(this);
    dialog.exec();
}

} // namespace calvora
