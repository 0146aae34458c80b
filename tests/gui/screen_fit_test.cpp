// The main window on today's screens: its first size, what it keeps between runs, the first document window
// maximised and the caption that names it once.
#include "app/gui/main_window.h"
#include "recording/recording_document.h"
#include "tests/support/shown_main_window.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QGuiApplication>
#include <QLabel>
#include <QMdiArea>
#include <QScreen>
#include <QStatusBar>
#include <QToolBar>

namespace calvora {
namespace {

class ScreenFitTest : public testing::ShownMainWindowTest {
protected:
    // The program's next run: a new window reads what this one kept.
    void Restart() {
        frame->close();
        app.reset();
        Assemble(&prompts);
        ASSERT_FALSE(HasFatalFailure());
        frame->RestoreWindowState();
        frame->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(frame));
    }
};

TEST_F(ScreenFitTest, FirstStartTakesMostOfTheScreenAndTheNextRunComesBackAsLeft) {
    frame->hide();
    frame->RestoreWindowState();
    frame->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame));
    const QRect available = frame->screen()->availableGeometry();
    EXPECT_TRUE(available.contains(frame->geometry()));
    EXPECT_GE(frame->width(), available.width() * 8 / 10);
    EXPECT_GE(frame->height(), available.height() * 8 / 10);
    EXPECT_TRUE(frame->documentsMaximized());

    // The user moves things about: a smaller window, no toolbar or status bar, the Instrument bar pinned
    // away, document windows restored.
    frame->setGeometry(available.left() + 30, available.top() + 40, 640, 480);
    frame->toolBar()->hide();
    frame->statusBar()->hide();
    frame->autoHide().PinBar(frame->instrumentBar());
    DocumentWindow* window = frame->NewDocument();
    ASSERT_TRUE(window->isMaximized());
    window->showNormal();
    EXPECT_FALSE(frame->documentsMaximized());

    Restart();
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(frame->size(), QSize(640, 480));
    EXPECT_TRUE(frame->toolBar()->isHidden());
    EXPECT_TRUE(frame->statusBar()->isHidden());
    EXPECT_TRUE(frame->autoHide().IsPinned(frame->instrumentBar()));
    EXPECT_FALSE(frame->documentsMaximized());
    EXPECT_FALSE(frame->NewDocument()->isMaximized());
}

TEST_F(ScreenFitTest, CaptionNamesTheMaximisedDocumentOnceInBrackets) {
    DocumentWindow* first = frame->NewDocument();
    ASSERT_TRUE(first->isMaximized());
    first->document()->title = u"RealTime Panel";
    first->UpdateTitle();
    frame->UpdateCommandUI();
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Calvora - [RealTime Panel]"));

    // A second window opens as the first is (maximised) and takes the caption.
    DocumentWindow* second = frame->NewDocument();
    EXPECT_TRUE(second->isMaximized());
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Calvora - [Multimeter2]"));
    frame->mdiArea()->setActiveSubWindow(first);
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Calvora - [RealTime Panel]"));

    first->showNormal();
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Calvora - RealTime Panel"));
    first->showMaximized();
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Calvora - [RealTime Panel]"));
    frame->mdiArea()->closeAllSubWindows();
    QCoreApplication::processEvents();
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Calvora"));
}

TEST_F(ScreenFitTest, DisabledToolbarButtonsLookDisabledAndPromptsClearWhenThePointerLeaves) {
    QToolBar* bar = frame->toolBar();
    // Without a receiver, recording cannot start: its button shows the disabled image, greyer than the
    // normal one.
    QAction* record = frame->CommandAction(32775);
    ASSERT_FALSE(record->isEnabled());
    const QSize size = bar->iconSize();
    const QImage normal = record->icon().pixmap(size, QIcon::Normal).toImage();
    const QImage disabled = record->icon().pixmap(size, QIcon::Disabled).toImage();
    ASSERT_EQ(normal.size(), disabled.size());
    auto colourfulness = [](const QImage& image) {
        qint64 sum = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor colour = image.pixelColor(x, y);
                sum += colour.alpha() > 0 ? colour.hsvSaturation() : 0;
            }
        }
        return sum;
    };
    EXPECT_LT(colourfulness(disabled), colourfulness(normal) / 2);

    // Each button's prompt shows while the pointer rests on it and goes when the pointer leaves, enabled or
    // not.
    for (QAction* action : bar->actions()) {
        QWidget* button = bar->widgetForAction(action);
        if (action->isSeparator() || button == nullptr) {
            continue;
        }
        QTest::mouseMove(button, QPoint(4, 4));
        EXPECT_EQ(frame->statusBar()->currentMessage(), action->statusTip())
            << action->toolTip().toStdString();
        QTest::mouseMove(frame->mdiArea(), QPoint(40, 40));
        EXPECT_EQ(frame->statusBar()->currentMessage(), QString()) << action->toolTip().toStdString();
        EXPECT_TRUE(frame->messagePane()->isVisible());
    }
}

} // namespace
} // namespace calvora
