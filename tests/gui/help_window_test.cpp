// Help on a desktop without a web browser: the manual opens in the program's own window.
#include "app/command_ids.h"
#include "app/gui/help_window.h"
#include "app/gui/main_window.h"
#include "tests/support/shown_main_window.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTextBrowser>

namespace calvora {
namespace {

class HelpWindowTest : public testing::ShownMainWindowTest {
protected:
    QString WriteManual() {
        QFile file(pages.filePath(QStringLiteral("calvora-help.html")));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("<html><head><title>Calvora manual</title></head><body><h1>Calvora</h1>"
                   "<p><a href=\"#saving\">Saving</a></p><h2 id=\"saving\">Saving</h2></body></html>");
        return file.fileName();
    }
    QTemporaryDir pages;
};

TEST_F(HelpWindowTest, WithoutABrowserTheManualOpensInAWindowOfItsOwn) {
    frame->SetHelpSource(WriteManual(), [] { return false; });
    ASSERT_TRUE(frame->ExecuteCommand(ID_HELP_TOPICS));
    auto* window = qobject_cast<HelpWindow*>(frame->helpWindow());
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->isWindow());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Calvora Help - Calvora manual"));
    EXPECT_TRUE(window->browser()->toPlainText().contains(QStringLiteral("Saving")));
    // Help again brings the same window forward.
    ASSERT_TRUE(frame->ExecuteCommand(ID_HELP_TOPICS));
    EXPECT_EQ(frame->helpWindow(), window);
}

TEST_F(HelpWindowTest, AMissingManualIsSaidInTheStatusBar) {
    const QString missing = pages.filePath(QStringLiteral("nothing-here.html"));
    frame->SetHelpSource(missing, [] { return false; });
    ASSERT_TRUE(frame->ExecuteCommand(ID_HELP_TOPICS));
    EXPECT_EQ(frame->helpWindow(), nullptr);
    EXPECT_EQ(frame->statusBar()->currentMessage(), QStringLiteral("The manual is missing: %1").arg(missing));
}

} // namespace
} // namespace calvora
