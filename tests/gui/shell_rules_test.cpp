#include "app/gui/about_dialog.h"
#include "app/gui/toolbar_images.h"
#include "app/help_path.h"
#include "app/recent_files.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>

namespace calvora {
namespace {

TEST(HelpPath, ManualLiesBesideTheProgram) {
    const std::pair<std::u16string, std::u16string> cases[] = {
        {u"/usr/bin/calvora", u"/usr/bin/calvora-help.html"},
        {u"/calvora", u"/calvora-help.html"},
        {u"/opt/calvora dir/calvora", u"/opt/calvora dir/calvora-help.html"},
        {u"calvora", u"calvora-help.html"},
    };
    for (const auto& [program, help] : cases) {
        EXPECT_EQ(HelpFilePath(program), help);
    }
}

TEST(HelpPath, InstalledManualLiesInTheSharedDocumentationFolder) {
    EXPECT_EQ(InstalledHelpFilePath(u"/usr/bin/calvora"), u"/usr/bin/../share/doc/calvora/calvora-help.html");
    EXPECT_EQ(InstalledHelpFilePath(u"/usr/local/bin/calvora"),
              u"/usr/local/bin/../share/doc/calvora/calvora-help.html");
    EXPECT_EQ(InstalledHelpFilePath(u"calvora"), u"./../share/doc/calvora/calvora-help.html");
}

TEST(RecentFileList, NewestFirstWithoutDuplicatesUpToFour) {
    RecentFileList list(4);
    for (const char16_t* path : {u"/a", u"/b", u"/c", u"/d", u"/e", u"/c"}) {
        list.Add(path);
    }
    EXPECT_EQ(list.entries(), (std::vector<std::u16string>{u"/c", u"/e", u"/d", u"/b"}));
    list.Remove(u"/e");
    EXPECT_EQ(list.entries(), (std::vector<std::u16string>{u"/c", u"/d", u"/b"}));
    list.Add(u"");
    EXPECT_EQ(list.entries().size(), 3u);
    list.Assign({u"/x/1", u"/x/2", u"/x/3", u"/x/4", u"/x/5"});
    EXPECT_EQ(list.entries(), (std::vector<std::u16string>{u"/x/1", u"/x/2", u"/x/3", u"/x/4"}));
}

TEST(RecentFileList, MenuTextNumbersTheFileNameAndEscapesAmpersands) {
    RecentFileList list(4);
    list.Add(u"/data/R&D run.recorder");
    list.Add(u"/data/first.recorder");
    EXPECT_EQ(list.MenuText(0), u"&1 first.recorder");
    EXPECT_EQ(list.MenuText(1), u"&2 R&&D run.recorder");
    EXPECT_EQ(list.MenuText(2), u"");
}

TEST(ToolbarImages, SevenImagesWithTheFirstPixelAsMask) {
    for (bool hot : {false, true}) {
        const QImage strip = DrawToolbarStrip(hot);
        EXPECT_EQ(strip.size(), QSize(196, 28));
        EXPECT_EQ(strip.format(), QImage::Format_RGB888);
        for (int i = 0; i < kToolbarImageCount; ++i) {
            const QImage image = CutMaskedImage(strip, i).toImage().convertToFormat(QImage::Format_ARGB32);
            int opaque = 0;
            for (int y = 0; y < image.height(); ++y) {
                for (int x = 0; x < image.width(); ++x) {
                    opaque += qAlpha(image.pixel(x, y)) != 0;
                }
            }
            // Something is drawn, and the mask-coloured background is see-through.
            EXPECT_GT(opaque, 40) << i;
            EXPECT_LT(opaque, 28 * 28) << i;
        }
    }
    // The hot images differ from the normal ones.
    EXPECT_NE(DrawToolbarStrip(false), DrawToolbarStrip(true));
}

TEST(AboutBox, TitleTextAndDefaultOk) {
    AboutDialog dialog;
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("About Calvora"));
    auto* version = dialog.findChild<QLabel*>(QStringLiteral("version"));
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version->text(), QStringLiteral("Calvora V2.1.0"));
    auto* icon = dialog.findChild<QLabel*>(QStringLiteral("icon"));
    ASSERT_NE(icon, nullptr);
    EXPECT_FALSE(icon->pixmap().isNull());
    auto* ok = dialog.findChild<QPushButton*>();
    ASSERT_NE(ok, nullptr);
    EXPECT_TRUE(ok->isDefault());
    EXPECT_EQ(ok->geometry(), dialog.DialogRect(189, 7, 50, 16));
}

} // namespace
} // namespace calvora
