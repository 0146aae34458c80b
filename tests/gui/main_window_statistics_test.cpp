// The measurement aids in the assembled program: View › Statistics follows the active document, Ctrl+C
// on the bar copies its figures (not the window's Copy command), and a new document takes the stored
// limits and is watched for alarms.
#include "app/command_ids.h"
#include "measure/gui/alarm_center.h"
#include "measure/gui/limits_dialog.h"
#include "measure/gui/statistics_page.h"
#include "recording/recording_document.h"
#include "tests/support/shown_main_window.h"

#include <QApplication>
#include <QClipboard>
#include <QMdiArea>
#include <QTreeWidget>

namespace calvora {
namespace {

class MainWindowStatisticsTest : public testing::ShownMainWindowTest {};

TEST_F(MainWindowStatisticsTest, TheBarFollowsTheActiveDocumentAndCtrlCCopiesItsFigures) {
    QSettings settings(QStringLiteral("Local AppWizard-Generated Applications"), QStringLiteral("Calvora"));
    LimitSettings stored;
    stored.high = 5;
    stored.low = 1;
    StoreDefaultLimits(settings, stored);
    settings.sync();

    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame));
    EXPECT_FALSE(Enabled(ID_LIMITS));
    QTest::keyClick(frame, Qt::Key_N, Qt::ControlModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return frame->mdiArea()->subWindowList().size() == 1; }, 2000));
    RecordingDocument* document = frame->activeDocument();
    ASSERT_NE(document, nullptr);
    EXPECT_EQ(document->limits, stored) << "a new document takes the limits kept for new documents";
    EXPECT_TRUE(app->alarms()->watching(*document));
    EXPECT_TRUE(Enabled(ID_LIMITS));

    EXPECT_FALSE(frame->QueryCommandState(ID_VIEW_STATISTICS).checked);
    frame->ExecuteCommand(ID_VIEW_STATISTICS);
    EXPECT_TRUE(frame->QueryCommandState(ID_VIEW_STATISTICS).checked);
    StatisticsPage* page = frame->statisticsPage();
    EXPECT_EQ(page->document(), document);

    uint32_t allocated = 0;
    document->BeginLiveStorage(10, allocated);
    for (float value : {2.0f, 4.0f})
        document->AppendSample(value, 600, -600, u"VDC", u"DC", u"V", u" 12/07/26 22:05:20");
    page->Refresh();
    page->table()->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return page->table()->hasFocus(); }, 2000));
    QApplication::clipboard()->setText(QStringLiteral("before"));
    QTest::keyClick(page->table(), Qt::Key_C, Qt::ControlModifier);
    const QString copied = QApplication::clipboard()->text();
    EXPECT_TRUE(copied.contains(QStringLiteral("\nVDC\tV\t2\t0\t2.0000\t1\t"))) << copied.toStdString();

    frame->ExecuteCommand(ID_VIEW_STATISTICS);
    EXPECT_FALSE(frame->QueryCommandState(ID_VIEW_STATISTICS).checked);
}

} // namespace
} // namespace calvora
