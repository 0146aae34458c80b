#include "app/command_ids.h"
#include "app/gui/calvora_application.h"
#include "app/gui/document_window.h"
#include "app/gui/engine_link.h"
#include "app/gui/main_window.h"
#include "chart/gui/chart_document_view.h"
#include "recording/byte_sink.h"
#include "recording/gui/data_list_view.h"
#include "recording/journal.h"
#include "recording/record_file.h"
#include "recording/recording_document.h"
#include "recording/recording_state.h"
#include "tests/support/shown_main_window.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPrinter>
#include <QSettings>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <QUrl>

#include <deque>
#include <filesystem>
#include <fstream>

namespace calvora {
namespace {

QStringList L(std::initializer_list<const char*> items) {
    QStringList list;
    for (const char* item : items) {
        list << QString::fromUtf8(item);
    }
    return list;
}

// Texts of a menu's items in order; separators as "-".
QStringList ItemTexts(const QMenu* menu) {
    QStringList texts;
    for (QAction* action : menu->actions()) {
        if (action->isSeparator()) {
            texts << QStringLiteral("-");
        } else if (action->isVisible()) {
            texts << action->text();
        }
    }
    return texts;
}

// A view that prints, to see Print and Print Preview come alive and the preview reach the view.
class PrintableView : public DocumentView {
public:
    using DocumentView::DocumentView;
    bool canPrint() const override { return true; }
    void PrintPreview(QPrinter&) override { ++previews; }
    int previews = 0;
};

// Writes a recording of `values` with the record writer.
QString WriteRecording(const QString& path, const std::vector<float>& values) {
    RecordingDocument document;
    document.SetChannelCount(1);
    document.FillRows(static_cast<uint32_t>(values.size()));
    for (uint32_t row = 0; row < values.size(); ++row) {
        document.SetValue(row, 0, values[row], 6.0f);
        document.SetTexts(row, u"VDC", u"DC", u"V", u" 12/08/26 10:00:00");
    }
    MemorySink sink;
    EXPECT_TRUE(WriteRecord(document, sink));
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(reinterpret_cast<const char*>(sink.bytes.data()), static_cast<qint64>(sink.bytes.size()));
    return path;
}

class MainWindowTest : public testing::ShownMainWindowTest {
protected:
    bool Enabled(int id) const { return frame->QueryCommandState(id).enabled; }
    bool Checked(int id) const { return frame->QueryCommandState(id).checked; }

    QTemporaryDir dir;
};

TEST_F(MainWindowTest, StartsWithoutDocumentOnMenu128) {
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Calvora"));
    EXPECT_TRUE(frame->mdiArea()->subWindowList().isEmpty());
    EXPECT_EQ(frame->currentMenuId(), 128);
    EXPECT_EQ(frame->messagePane()->text(), QStringLiteral("Ready"));
}

TEST_F(MainWindowTest, SaveAndPrintAppearOnlyWhileADocumentWindowIsOpen) {
    // The File menu the menu bar shows now.
    auto fileMenuHolds = [&](int id) {
        return frame->menuBar()->actions().constFirst()->menu()->actions().contains(frame->CommandAction(id));
    };
    const int documentOnly[] = {ID_SAVE_DATA, ID_FILE_PRINT, ID_FILE_PRINT_PREVIEW};
    EXPECT_TRUE(fileMenuHolds(ID_OPEN_DATA));
    for (int id : documentOnly) {
        EXPECT_FALSE(fileMenuHolds(id)) << id;
    }
    DocumentWindow* window = frame->NewDocument();
    ASSERT_NE(window, nullptr);
    for (int id : documentOnly) {
        EXPECT_TRUE(fileMenuHolds(id)) << id;
    }
    window->close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return frame->currentMenuId() == 128; }, 2000));
    for (int id : documentOnly) {
        EXPECT_FALSE(fileMenuHolds(id)) << id;
    }
}

TEST_F(MainWindowTest, EachAcceleratorRunsItsCommandAndTheUnhandledOnesNothing) {
    // Save and Print need a document; their dialogs (and Open's) are cancelled as they appear.
    ASSERT_NE(frame->NewDocument(), nullptr);
    QTimer cancel;
    QObject::connect(&cancel, &QTimer::timeout, [] {
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            dialog->reject();
        }
    });
    cancel.start(10);
    QSignalSpy executed(frame, &MainWindow::commandExecuted);
    struct Case {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        int command; // 0: nothing runs
    };
    const Case cases[] = {
        {Qt::Key_N, Qt::ControlModifier, ID_FILE_NEW},
        {Qt::Key_O, Qt::ControlModifier, ID_FILE_OPEN},
        {Qt::Key_S, Qt::ControlModifier, ID_FILE_SAVE},
        {Qt::Key_P, Qt::ControlModifier, ID_FILE_PRINT},
        {Qt::Key_Z, Qt::ControlModifier, 0},
        {Qt::Key_Backspace, Qt::AltModifier, 0},
        {Qt::Key_X, Qt::ControlModifier, 0},
        {Qt::Key_Delete, Qt::ShiftModifier, 0},
        {Qt::Key_C, Qt::ControlModifier, 0},
        {Qt::Key_Insert, Qt::ControlModifier, 0},
        {Qt::Key_V, Qt::ControlModifier, 0},
        {Qt::Key_Insert, Qt::ShiftModifier, 0},
        {Qt::Key_F6, Qt::NoModifier, 0},
        {Qt::Key_F6, Qt::ShiftModifier, 0},
    };
    for (const Case& c : cases) {
        const QString keys = QKeySequence(c.key | c.modifiers).toString();
        executed.clear();
        // Shortcuts reach the active window only; a cancelled dialog leaves none active here.
        frame->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(frame));
        QTest::keyClick(frame, c.key, c.modifiers);
        if (c.command == 0) {
            EXPECT_TRUE(executed.isEmpty()) << keys.toStdString();
        } else {
            ASSERT_EQ(executed.size(), 1) << keys.toStdString();
            EXPECT_EQ(executed[0][0].toInt(), c.command) << keys.toStdString();
        }
    }
}

TEST_F(MainWindowTest, CtrlNOpensAnEmptyDocumentWindowOnMenu129) {
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame));
    QTest::keyClick(frame, Qt::Key_N, Qt::ControlModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return frame->mdiArea()->subWindowList().size() == 1; }, 2000));
    DocumentWindow* window = frame->activeDocumentWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->document()->sampleCount(), 0u);
    EXPECT_EQ(window->document()->channelCount(), 0u);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Multimeter1"));
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Calvora - Multimeter1"));
    EXPECT_EQ(frame->currentMenuId(), 129);
}

TEST_F(MainWindowTest, EnableRulesFollowTheDocumentWindow) {
    const int always[] = {ID_FILE_NEW,        ID_OPEN_DATA,       ID_FILE_OPEN,   ID_FILE_PRINT_SETUP,
                          ID_APP_EXIT,        ID_APP_ABOUT,       ID_HELP_TOPICS, ID_VIEW_TOOLBAR,
                          ID_VIEW_STATUS_BAR, ID_VIEW_INSTRUMENT, ID_RESCAN,      ID_COMPORT,
                          ID_RECONNECT};
    const int withDocument[] = {ID_FILE_CLOSE,       ID_SAVE_DATA,  ID_FILE_SAVE,         ID_WINDOW_CASCADE,
                                ID_WINDOW_TILE_HORZ, ID_FILE_PRINT, ID_FILE_PRINT_PREVIEW};
    // The meter's commands wait for a receiver.
    const int connected[] = {ID_PAIR, ID_START_RECORDING, ID_STOP_RECORDING};
    for (int id : always) {
        EXPECT_TRUE(Enabled(id)) << id;
        EXPECT_TRUE(frame->CommandAction(id)->isEnabled()) << id;
    }
    for (int id : withDocument) {
        EXPECT_FALSE(Enabled(id)) << id;
    }
    for (int id : connected) {
        EXPECT_FALSE(Enabled(id)) << id;
        EXPECT_FALSE(frame->CommandAction(id)->isEnabled()) << id;
    }
    EXPECT_FALSE(Enabled(ID_FILE_MRU_FILE1));

    DocumentWindow* window = frame->NewDocument();
    ASSERT_NE(window, nullptr);
    for (int id : withDocument) {
        EXPECT_TRUE(Enabled(id)) << id;
        EXPECT_TRUE(frame->CommandAction(id)->isEnabled()) << id;
    }
    EXPECT_TRUE(frame->ExecuteCommand(ID_FILE_CLOSE));
    EXPECT_TRUE(QTest::qWaitFor([&] { return frame->currentMenuId() == 128; }, 2000));
    EXPECT_FALSE(Enabled(ID_FILE_CLOSE));
}

// Stands in for the engine to check that commands are routed to it first.
class FakeTarget : public CommandTarget {
public:
    std::optional<CommandState> QueryCommand(int id) const override {
        if (id == ID_START_RECORDING) {
            return CommandState{connected, false};
        }
        return std::nullopt;
    }
    bool ExecuteCommand(int id) override {
        executed.push_back(id);
        return true;
    }
    void OnTimer(int id) override { timers.push_back(id); }
    bool OnCloseRequest() override { return allowClose; }
    bool OnDocumentClosing(RecordingDocument&) override { return allowClose; }
    void OnDocumentDestroyed(RecordingDocument& document) override { destroyed.push_back(&document); }
    bool connected = false;
    std::vector<RecordingDocument*> destroyed;
    bool allowClose = true;
    std::vector<int> executed;
    std::vector<int> timers;
};

TEST_F(MainWindowTest, CommandsAndTimersGoToTheTarget) {
    FakeTarget target;
    frame->Attach(target, documents(), prompts);
    EXPECT_FALSE(frame->ExecuteCommand(ID_START_RECORDING));
    target.connected = true;
    frame->UpdateCommandUI();
    EXPECT_TRUE(frame->CommandAction(ID_START_RECORDING)->isEnabled());
    frame->CommandAction(ID_START_RECORDING)->trigger();
    EXPECT_EQ(target.executed, std::vector<int>{ID_START_RECORDING});

    frame->StartTimer(3, 10);
    EXPECT_TRUE(frame->IsTimerRunning(3));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !target.timers.empty(); }, 2000));
    EXPECT_EQ(target.timers.front(), 3);
    frame->StopTimer(3);
    EXPECT_FALSE(frame->IsTimerRunning(3));

    // Closing asks the target, for the main window and for each document window.
    DocumentWindow* window = frame->NewDocument();
    RecordingDocument* document = window->document();
    target.allowClose = false;
    EXPECT_FALSE(frame->close());
    EXPECT_FALSE(window->close());
    EXPECT_TRUE(target.destroyed.empty());
    target.allowClose = true;
    EXPECT_TRUE(window->close());
    EXPECT_EQ(target.destroyed, std::vector<RecordingDocument*>{document});
    frame->Attach(*link, documents(), prompts);
}

TEST_F(MainWindowTest, ViewCheckMarksFollowTheBars) {
    for (int id : {ID_VIEW_TOOLBAR, ID_VIEW_STATUS_BAR, ID_VIEW_INSTRUMENT}) {
        EXPECT_TRUE(Checked(id)) << id;
        EXPECT_TRUE(frame->ExecuteCommand(id));
        EXPECT_FALSE(Checked(id)) << id;
        EXPECT_FALSE(frame->CommandAction(id)->isChecked()) << id;
        EXPECT_TRUE(frame->ExecuteCommand(id));
        EXPECT_TRUE(Checked(id)) << id;
    }
    EXPECT_FALSE(frame->toolBar()->isHidden());
    EXPECT_FALSE(frame->statusBar()->isHidden());

    // The bar's own close button clears the mark as well.
    DockPageBar* bar = frame->instrumentBar();
    QTest::mouseClick(bar->caption(), Qt::LeftButton, {}, bar->caption()->closeButtonRect().center());
    EXPECT_TRUE(bar->isHidden());
    EXPECT_FALSE(frame->CommandAction(ID_VIEW_INSTRUMENT)->isChecked());
}

TEST_F(MainWindowTest, InstrumentBarIsDockedLeftWithTheInstrumentPage) {
    DockPageBar* bar = frame->instrumentBar();
    EXPECT_EQ(bar->objectName(), QStringLiteral("DockPageBar1"));
    EXPECT_EQ(bar->controlId(), 123);
    EXPECT_EQ(bar->dockSide(), Qt::LeftDockWidgetArea);
    EXPECT_EQ(bar->width(), 320);
    ASSERT_EQ(bar->pageCount(), 1);
    EXPECT_EQ(bar->captionText(), QStringLiteral("Instrument"));
    EXPECT_FALSE(bar->page(0).icon.isNull());
    EXPECT_EQ(bar->page(0).window.data(), static_cast<QWidget*>(frame->instrumentTree()));
}

TEST_F(MainWindowTest, PinnedBarKeepsTheCheckMarkAndTheMenuTakesItBack) {
    DockPageBar* bar = frame->instrumentBar();
    frame->autoHide().PinBar(bar);
    EXPECT_TRUE(bar->isHidden());
    EXPECT_TRUE(frame->CommandAction(ID_VIEW_INSTRUMENT)->isChecked());
    EXPECT_TRUE(frame->ExecuteCommand(ID_VIEW_INSTRUMENT));
    EXPECT_FALSE(frame->autoHide().IsPinned(bar));
    EXPECT_FALSE(frame->CommandAction(ID_VIEW_INSTRUMENT)->isChecked());
    EXPECT_TRUE(frame->ExecuteCommand(ID_VIEW_INSTRUMENT));
    EXPECT_FALSE(bar->isHidden());
    EXPECT_EQ(bar->pageCount(), 1);
}

TEST_F(MainWindowTest, TabSwitchingReplacesTheViewOnTheSameDocument) {
    const QString path = WriteRecording(dir.filePath(QStringLiteral("run.recorder")), {1.5f, 2.5f, 3.5f});
    DocumentWindow* window = frame->OpenDocumentFile(path);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("run.recorder"));
    EXPECT_EQ(window->currentTab(), 0);
    QTabBar* tabs = window->tabStrip()->tabBar();
    ASSERT_EQ(tabs->count(), 2);
    EXPECT_EQ(tabs->tabText(0), QStringLiteral("Data Graph"));
    EXPECT_EQ(tabs->tabText(1), QStringLiteral("Data List"));
    EXPECT_EQ(window->tabFont().weight(), QFont::Medium);

    RecordingDocument* document = window->document();
    QPointer<DocumentView> graph = window->activeView();
    tabs->setCurrentIndex(1);
    EXPECT_TRUE(graph.isNull());
    EXPECT_EQ(window->document(), document);
    EXPECT_EQ(document->activeTab, 1);
    EXPECT_EQ(document->sampleCount(), 3u);
    EXPECT_FLOAT_EQ(document->value(2, 0), 3.5f);
    EXPECT_EQ(&window->activeView()->document(), document);

    QPointer<DocumentView> list = window->activeView();
    tabs->setCurrentIndex(0);
    EXPECT_TRUE(list.isNull());
    EXPECT_EQ(document->activeTab, 0);
    EXPECT_NE(window->activeView(), nullptr);
}

TEST_F(MainWindowTest, ViewIsFiveWiderAndTwentyShorterThanTheDisplayArea) {
    DocumentWindow* window = frame->NewDocument();
    ASSERT_NE(window, nullptr);
    for (const QSize size : {QSize(500, 400), QSize(640, 300), QSize(300, 500)}) {
        window->resize(size);
        QCoreApplication::processEvents();
        const QRect display = window->tabStrip()->displayArea().translated(window->tabStrip()->pos());
        const QRect view = window->activeView()->geometry();
        EXPECT_EQ(view.topLeft(), display.topLeft());
        EXPECT_EQ(view.width(), display.width() + 5);
        EXPECT_EQ(view.height(), display.height() - 20);
        EXPECT_GE(view.top(), window->tabStrip()->tabBar()->geometry().bottom());
    }
}

TEST(DocumentWindow, PrintPreviewHidesTheTabsAndTheDialogBarUntilShowBars) {
    const TabTable printable = MakeDocumentTabTable(
        [](const std::shared_ptr<RecordingDocument>& document, QWidget* parent) -> DocumentView* {
            return new PrintableView(document, parent);
        },
        MakeLogListViewFactory());
    DocumentWindow window(printable);
    ASSERT_TRUE(window.CreateClient(std::make_shared<RecordingDocument>()));
    window.show();
    QPrinter printer;
    window.PrintPreview(printer);
    EXPECT_TRUE(window.tabStrip()->tabBar()->isHidden());
    EXPECT_TRUE(window.dialogBar()->isHidden());
    EXPECT_EQ(static_cast<PrintableView*>(window.activeView())->previews, 1);
    window.ShowBars();
    EXPECT_FALSE(window.tabStrip()->tabBar()->isHidden());
    EXPECT_FALSE(window.dialogBar()->isHidden());
}

TEST_F(MainWindowTest, ForeignFileLeavesNoWindow) {
    QFile file(dir.filePath(QStringLiteral("other.recorder")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("\x0bQM999/QM999 and more bytes");
    file.close();
    EXPECT_EQ(frame->OpenDocumentFile(file.fileName()), nullptr);
    EXPECT_TRUE(frame->mdiArea()->subWindowList().isEmpty());
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0], u"Invalid Format!");
    EXPECT_TRUE(documents().loadRejected);
}

TEST_F(MainWindowTest, RecentFilesKeepFourNewestFirst) {
    QStringList paths;
    for (int i = 0; i < 5; ++i) {
        paths << WriteRecording(dir.filePath(QStringLiteral("r%1.recorder").arg(i)), {float(i)});
        ASSERT_NE(frame->OpenDocumentFile(paths.last()), nullptr);
    }
    const std::vector<std::u16string>& entries = frame->recentFiles().entries();
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(QString::fromStdU16String(entries[0]), paths[4]);
    EXPECT_EQ(QString::fromStdU16String(entries[3]), paths[1]);
    EXPECT_EQ(ItemTexts(frame->Menus(129)[0]).mid(8, 4),
              L({"&1 r4.recorder", "&2 r3.recorder", "&3 r2.recorder", "&4 r1.recorder"}));

    // A second frame reads the same list back from the settings.
    const TabTable tabs;
    MainWindow other(tabs);
    ASSERT_TRUE(other.Create());
    EXPECT_EQ(other.recentFiles().entries(), entries);
    // Opening a file that is already open activates its window.
    const int windows = static_cast<int>(frame->mdiArea()->subWindowList().size());
    frame->OpenDocumentFile(paths[2]);
    EXPECT_EQ(frame->mdiArea()->subWindowList().size(), windows);
}

TEST_F(MainWindowTest, ClosingTheLiveDocumentAsksOnceWhenUnsaved) {
    DocumentWindow* window = frame->NewDocument();
    RecordingState& state = documents();
    state.recordingDocument = window->document();
    state.dataSaved = false;
    window->document()->SetChannelCount(1);
    uint32_t rows = 0;
    window->document()->BeginLiveStorage(5, rows);
    window->document()->AppendSample(1.0f, 6.0f, -6, u"VDC", u"DC", u"V", u" 12/08/26 10:00:00");
    window->close();
    ASSERT_EQ(prompts.questions.size(), 1u);
    EXPECT_EQ(prompts.questions[0], u"Do you want to save the data before closing?");
    EXPECT_EQ(state.recordingDocument, nullptr);
}

TEST_F(MainWindowTest, WindowMenuListsTheDocumentWindows) {
    QMenu* window = frame->Menus(129)[3];
    frame->NewDocument();
    frame->NewDocument();
    Q_EMIT window->aboutToShow();
    EXPECT_EQ(ItemTexts(window), L({"&Cascade", "&Tile", "-", "&1 Multimeter1", "&2 Multimeter2"}));
    EXPECT_TRUE(window->actions().last()->isChecked());
    window->actions()[3]->trigger();
    EXPECT_EQ(frame->activeDocument()->title, u"Multimeter1");
}

TEST_F(MainWindowTest, NewWindowsCascadeInsideTheArea) {
    const QRect area = frame->mdiArea()->viewport()->rect();
    QPoint previous(-1, -1);
    for (int i = 0; i < 8; ++i) {
        DocumentWindow* window = frame->NewDocument();
        ASSERT_NE(window, nullptr);
        EXPECT_TRUE(area.contains(window->geometry())) << i;
        EXPECT_NE(window->pos(), previous) << i;
        previous = window->pos();
    }
    EXPECT_EQ(frame->documentWindows()[0]->pos(), QPoint(0, 0));
}

TEST_F(MainWindowTest, DroppedFilesOpen) {
    const QString path = WriteRecording(dir.filePath(QStringLiteral("dropped.recorder")), {1.0f});
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(path)});
    const QPoint centre = frame->rect().center();
    QDragEnterEvent enter(centre, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(frame, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(centre), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(frame, &drop);
    ASSERT_NE(frame->activeDocument(), nullptr);
    EXPECT_EQ(frame->activeDocument()->title, u"dropped.recorder");
}

TEST_F(MainWindowTest, SaveWritesTheRecordAndTheTextExportBesideIt) {
    DocumentWindow* window = frame->NewDocument();
    RecordingDocument* document = window->document();
    documents().recordingDocument = document;
    documents().dataSaved = false;
    ASSERT_TRUE(frame->SaveDocumentAs(*document, dir.filePath(QStringLiteral("data.xls"))));
    EXPECT_TRUE(QFile::exists(dir.filePath(QStringLiteral("data.recorder"))));
    EXPECT_TRUE(QFile::exists(dir.filePath(QStringLiteral("data.csv"))));
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("data.xls"))));
    EXPECT_TRUE(documents().dataSaved);
    // The window keeps its name: this save is an export, not a rename.
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Multimeter1"));
    EXPECT_TRUE(window->pathName().isEmpty());
    EXPECT_TRUE(frame->recentFiles().entries().empty());
}

TEST_F(MainWindowTest, FailedSaveIsReported) {
    DocumentWindow* window = frame->NewDocument();
    EXPECT_FALSE(
        frame->SaveDocumentAs(*window->document(), dir.filePath(QStringLiteral("missing/run.recorder"))));
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].rfind(u"Cannot save", 0), 0u);
}

// Both save paths write the file a link names and keep the link (it was replaced by a plain file).
TEST_F(MainWindowTest, SavingOntoALinkWritesItsFileAndKeepsTheLink) {
    DocumentWindow* window = frame->NewDocument();
    const std::filesystem::path folder = dir.path().toStdString();
    for (const char* name : {"pair", "record"}) {
        std::ofstream(folder / (std::string(name) + "-real.recorder")) << "old";
        std::filesystem::create_symlink(std::string(name) + "-real.recorder",
                                        folder / (std::string(name) + ".recorder"));
    }
    ASSERT_TRUE(frame->SaveDocumentAs(*window->document(), dir.filePath(QStringLiteral("pair.recorder"))));
    ASSERT_TRUE(frame->SaveRecordOnly(*window, dir.filePath(QStringLiteral("record.recorder"))));
    for (const char* name : {"pair", "record"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(std::filesystem::is_symlink(folder / (std::string(name) + ".recorder")));
        RecordingDocument reopened;
        EXPECT_TRUE(ReadRecordFile(folder / (std::string(name) + "-real.recorder"), reopened));
    }
}

TEST_F(MainWindowTest, FrameworkSaveWritesOnlyTheRecordAndNamesTheWindow) {
    DocumentWindow* window = frame->NewDocument();
    const QString path = dir.filePath(QStringLiteral("named.recorder"));
    ASSERT_TRUE(frame->SaveRecordOnly(*window, path));
    EXPECT_TRUE(QFile::exists(path));
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("named.csv"))));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("named.recorder"));
    EXPECT_EQ(window->pathName(), path);
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Calvora - named.recorder"));
    ASSERT_EQ(frame->recentFiles().entries().size(), 1u);
    // Ctrl+S saves to the window's file without asking again.
    QFile::remove(path);
    EXPECT_TRUE(frame->ExecuteCommand(ID_FILE_SAVE));
    EXPECT_TRUE(QFile::exists(path));
    // The saved file opens again with the same samples.
    window->close();
    DocumentWindow* reopened = frame->OpenDocumentFile(path);
    ASSERT_NE(reopened, nullptr);
    EXPECT_EQ(reopened->document()->sampleCount(), 0u);
}

TEST_F(MainWindowTest, AVanishedRecentFileLeavesTheList) {
    const QString path = WriteRecording(dir.filePath(QStringLiteral("gone.recorder")), {1.0f});
    ASSERT_NE(frame->OpenDocumentFile(path), nullptr);
    frame->activeDocumentWindow()->close();
    QFile::remove(path);
    ASSERT_EQ(frame->recentFiles().entries().size(), 1u);
    EXPECT_EQ(frame->OpenDocumentFile(path), nullptr);
    EXPECT_TRUE(frame->recentFiles().entries().empty());
    EXPECT_EQ(prompts.messages.size(), 1u);
    EXPECT_TRUE(frame->mdiArea()->subWindowList().isEmpty());
}

TEST(DocumentWindow, ATableWithoutUsableTabsMakesNoWindow) {
    const ViewFactory list = MakeLogListViewFactory();
    TabTable noGroup;
    TabTable badDefault = MakeDocumentTabTable({}, list);
    badDefault.defaultGroup = 1;
    TabTable missingView = MakeDocumentTabTable({}, list);
    missingView.groups[0].views.pop_back();
    TabTable noTabs;
    noTabs.groups.emplace_back();
    const auto document = std::make_shared<RecordingDocument>();
    for (const TabTable* table : {&noGroup, &badDefault, &missingView, &noTabs}) {
        DocumentWindow window(*table);
        EXPECT_FALSE(window.CreateClient(document));
        EXPECT_EQ(window.activeView(), nullptr);
    }
}

TEST(CalvoraApplication, OpensTheCommandLineFile) {
    QTemporaryDir dir;
    const QString path = WriteRecording(dir.filePath(QStringLiteral("cli.recorder")), {4.0f, 5.0f});
    CalvoraApplication app;
    StartupOptions options;
    options.files << path;
    options.ports << QStringLiteral("/dev/pts/7");
    ASSERT_TRUE(app.InitInstance(options));
    MainWindow* frame = app.mainWindow();
    ASSERT_EQ(frame->documentWindows().size(), 1);
    EXPECT_EQ(frame->activeDocument()->sampleCount(), 2u);
    EXPECT_EQ(frame->documentWindows()[0]->currentTab(), 0);
    EXPECT_NE(qobject_cast<ChartDocumentView*>(frame->documentWindows()[0]->activeView()), nullptr);
    EXPECT_EQ(app.receiverPaths(), QStringList{QStringLiteral("/dev/pts/7")});
}

// A journal as a killed session leaves it: samples recorded, never saved or removed.
void LeaveJournal(int samples) {
    RecordingDocument document;
    uint32_t allocated = 0;
    document.BeginLiveStorage(static_cast<uint32_t>(samples), allocated);
    Journal journal;
    for (int row = 0; row < samples; ++row) {
        document.AppendSample(1.5f + row, 4.0f, -4, u"VDC", u"DC", u"V", u" 12/08/26 10:00:00");
        journal.Record(document, static_cast<uint32_t>(row));
    }
    journal.Sync();
}

// Answers the next modal question with the button whose text is `answer`.
void AnswerNextQuestion(const QString& answer) {
    QTimer::singleShot(0, [answer] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        for (QAbstractButton* button : box->buttons()) {
            if (button->text() == answer) {
                button->click();
                return;
            }
        }
        FAIL() << "no button " << answer.toStdString();
    });
}

TEST(CalvoraApplication, OffersToRecoverALeftJournalAsAnUnsavedLiveRecording) {
    LeaveJournal(3);
    ASSERT_TRUE(FindLeftJournal());
    {
        CalvoraApplication app;
        AnswerNextQuestion(QStringLiteral("Recover"));
        ASSERT_TRUE(app.InitInstance(StartupOptions{}));
        MainWindow* frame = app.mainWindow();
        ASSERT_EQ(frame->documentWindows().size(), 1);
        RecordingDocument* recovered = frame->activeDocument();
        ASSERT_NE(recovered, nullptr);
        EXPECT_EQ(recovered->sampleCount(), 3u);
        EXPECT_FLOAT_EQ(recovered->value(2, 0), 3.5f);
        EXPECT_EQ(recovered->title, u"RealTime Panel");
        EXPECT_EQ(app.engine()->documents().recordingDocument, recovered);
        EXPECT_FALSE(app.engine()->documents().dataSaved);
        app.link()->Stop();
    }
    // Not saved and not discarded: still offered next time, then discarded.
    ASSERT_TRUE(FindLeftJournal());
    CalvoraApplication again;
    AnswerNextQuestion(QStringLiteral("Discard"));
    ASSERT_TRUE(again.InitInstance(StartupOptions{}));
    EXPECT_TRUE(again.mainWindow()->documentWindows().isEmpty());
    EXPECT_FALSE(FindLeftJournal());
}

TEST(CommandLine, OptionsAndOutcomes) {
    struct Case {
        std::initializer_list<const char*> arguments;
        ParseOutcome outcome;
        std::initializer_list<const char*> files;
        std::initializer_list<const char*> ports;
    };
    const Case cases[] = {
        {{"calvora"}, ParseOutcome::Run, {}, {}},
        {{"calvora", "a.recorder"}, ParseOutcome::Run, {"a.recorder"}, {}},
        {{"calvora", "--port", "/dev/pts/3", "--port", "/dev/ttyUSB0"},
         ParseOutcome::Run,
         {},
         {"/dev/pts/3", "/dev/ttyUSB0"}},
        {{"calvora", "--help"}, ParseOutcome::ShowHelp, {}, {}},
        {{"calvora", "--help-all"}, ParseOutcome::ShowHelp, {}, {}},
        {{"calvora", "--version"}, ParseOutcome::ShowVersion, {}, {}},
        {{"calvora", "--port"}, ParseOutcome::Error, {}, {}},
        {{"calvora", "--colour"}, ParseOutcome::Error, {}, {}},
    };
    for (const Case& c : cases) {
        const ParsedCommandLine parsed = ParseCommandLine(L(c.arguments));
        EXPECT_EQ(parsed.outcome, c.outcome) << L(c.arguments).join(QLatin1Char(' ')).toStdString();
        EXPECT_EQ(parsed.options.files, L(c.files));
        EXPECT_EQ(parsed.options.ports, L(c.ports));
    }
    EXPECT_TRUE(ParseCommandLine(L({"calvora", "--version"})).text.contains(QStringLiteral("2.1.0")));
    EXPECT_TRUE(ParseCommandLine(L({"calvora", "--help"})).text.contains(QStringLiteral("--port")));
}

} // namespace
} // namespace calvora
