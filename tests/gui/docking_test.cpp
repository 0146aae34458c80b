#include "docking/gui/auto_hide.h"
#include "docking/gui/dock_page_bar.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QTest>

namespace calvora {
namespace {

// One "character" per 10 pixels keeps the truncation arithmetic readable.
int TenPerChar(const QString& text) {
    return static_cast<int>(text.size()) * 10;
}

TEST(CaptionTruncation, FollowsTheDropTwoRule) {
    struct Case {
        QString title;
        int stripWidth;
        QString shown;
    };
    const Case cases[] = {
        {QStringLiteral("Instrument"), 130, QStringLiteral("Instrument")}, // exactly fits 100
        {QStringLiteral("Instrument"), 129, QStringLiteral("Instru...")},  // drops 2, then 2 more
        {QStringLiteral("Instrument"), 100, QStringLiteral("Inst...")},    // drops 4, then 2 more
        {QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ"), 30,
         QStringLiteral("ABCD...")}, // stops after ten drops
        {QStringLiteral(""), 10, QStringLiteral("")},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TruncateCaption(c.title, c.stripWidth, TenPerChar), c.shown) << c.title.toStdString();
    }
}

TEST(CaptionTruncation, StopsAfterTenDrops) {
    const QString title(40, QLatin1Char('x'));
    // Ten drops of two leave 20 characters, then two more go: 18 characters and "...".
    EXPECT_EQ(TruncateCaption(title, 40, TenPerChar), QString(18, QLatin1Char('x')) + QStringLiteral("..."));
}

TEST(PageTab, WidthAddsNineAndEighteenForAnIcon) {
    EXPECT_EQ(PageTabWidth(50, false), 59);
    EXPECT_EQ(PageTabWidth(50, true), 77);
}

TEST(SizingEdge, IsTheEdgeFacingTheCentre) {
    EXPECT_EQ(SizingEdgeForSide(Qt::TopDockWidgetArea), unsigned(kEdgeBottom));
    EXPECT_EQ(SizingEdgeForSide(Qt::LeftDockWidgetArea), unsigned(kEdgeRight));
    EXPECT_EQ(SizingEdgeForSide(Qt::RightDockWidgetArea), unsigned(kEdgeLeft));
    EXPECT_EQ(SizingEdgeForSide(Qt::BottomDockWidgetArea), unsigned(kEdgeTop));
    EXPECT_EQ(SizingEdgeForSide(Qt::NoDockWidgetArea), 0u);
}

TEST(AutoHideStrip, IdsAndThicknessPerSide) {
    EXPECT_EQ(AutoHideBarIdForSide(Qt::TopDockWidgetArea), 59435);
    EXPECT_EQ(AutoHideBarIdForSide(Qt::BottomDockWidgetArea), 59436);
    EXPECT_EQ(AutoHideBarIdForSide(Qt::LeftDockWidgetArea), 59437);
    EXPECT_EQ(AutoHideBarIdForSide(Qt::RightDockWidgetArea), 59438);
    EXPECT_EQ(AutoHideBarThickness(Qt::LeftDockWidgetArea), 24);
    EXPECT_EQ(AutoHideBarThickness(Qt::BottomDockWidgetArea), 22);
}

TEST(AutoHideStrip, ActiveItemShowsItsTitle) {
    EXPECT_EQ(StripItemLengths({40, 60, 10}, -1), (std::vector<int>{21, 21, 21}));
    EXPECT_EQ(StripItemLengths({40, 60, 10}, 1), (std::vector<int>{21, 45 + 60 + 24, 21}));
}

// A frame with one page bar docked at the left, as the program has it.
class DockingTest : public ::testing::Test {
protected:
    void SetUp() override {
        frame = std::make_unique<QMainWindow>();
        frame->resize(900, 600);
        centre = new QWidget;
        centre->setFocusPolicy(Qt::StrongFocus);
        frame->setCentralWidget(centre);
        strips = new AutoHideStrips(*frame);
        strips->EnableDocking(Qt::AllDockWidgetAreas);
        bar = new DockPageBar(frame.get());
        ASSERT_TRUE(bar->Create(QStringLiteral("DockPageBar1"), frame.get(), QSize(320, 260), true, 123));
        bar->EnableDocking(Qt::AllDockWidgetAreas);
        bar->DockAt(Qt::LeftDockWidgetArea);
        strips->AttachPageBar(bar);
        frame->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
    }

    QLabel* AddLabelPage(const QString& title) {
        auto* page = new QLabel(title);
        pages.push_back(page);
        EXPECT_TRUE(bar->AddPage(page, title));
        return page;
    }

    std::unique_ptr<QMainWindow> frame;
    QWidget* centre = nullptr;
    AutoHideStrips* strips = nullptr;
    DockPageBar* bar = nullptr;
    std::vector<QPointer<QLabel>> pages;
};

TEST_F(DockingTest, FirstPageIsShownWithItsTitle) {
    QLabel* first = AddLabelPage(QStringLiteral("Instrument"));
    EXPECT_EQ(bar->activePageIndex(), 0);
    EXPECT_EQ(bar->captionText(), QStringLiteral("Instrument"));
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(first->parentWidget(), bar->pageArea());
    EXPECT_FALSE(bar->tabs()->isVisible());

    QLabel* second = AddLabelPage(QStringLiteral("Second"));
    // Adding does not activate while a page is active; the tab row appears.
    EXPECT_EQ(bar->activePageIndex(), 0);
    EXPECT_FALSE(second->isVisible());
    EXPECT_TRUE(bar->tabs()->isVisible());
}

TEST_F(DockingTest, ActivateIgnoresSameAndOutOfRange) {
    AddLabelPage(QStringLiteral("One"));
    QLabel* two = AddLabelPage(QStringLiteral("Two"));
    for (int index : {0, -1, 2}) {
        bar->ActivatePage(index);
        EXPECT_EQ(bar->activePageIndex(), 0);
    }
    bar->ActivatePage(1);
    EXPECT_EQ(bar->activePageIndex(), 1);
    EXPECT_EQ(bar->captionText(), QStringLiteral("Two"));
    EXPECT_TRUE(two->isVisible());
    EXPECT_FALSE(pages[0]->isVisible());
}

TEST_F(DockingTest, ClickingATabActivatesItsPage) {
    AddLabelPage(QStringLiteral("One"));
    AddLabelPage(QStringLiteral("Two"));
    QTest::mouseClick(bar->tabs(), Qt::LeftButton, {}, bar->tabs()->TabRect(1).center());
    EXPECT_EQ(bar->activePageIndex(), 1);
}

TEST_F(DockingTest, RemovingPagesKeepsTheirWindows) {
    AddLabelPage(QStringLiteral("One"));
    AddLabelPage(QStringLiteral("Two"));
    bar->ActivatePage(1);
    std::unique_ptr<DockPage> item = bar->RemoveActivePage();
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->title, QStringLiteral("Two"));
    EXPECT_FALSE(pages[1].isNull());
    EXPECT_FALSE(pages[1]->isVisible());
    // The remaining page becomes active again and the tab row goes.
    EXPECT_EQ(bar->activePageIndex(), 0);
    EXPECT_EQ(bar->captionText(), QStringLiteral("One"));
    EXPECT_FALSE(bar->tabs()->isVisible());

    ASSERT_NE(bar->RemoveActivePage(), nullptr);
    EXPECT_EQ(bar->activePageIndex(), -1);
    EXPECT_EQ(bar->pageCount(), 0);
    EXPECT_TRUE(bar->captionText().isEmpty());
    EXPECT_EQ(bar->RemoveActivePage(), nullptr);

    // A page added to the empty bar is shown.
    QLabel* again = AddLabelPage(QStringLiteral("Again"));
    EXPECT_EQ(bar->activePageIndex(), 0);
    EXPECT_TRUE(again->isVisible());
    for (auto& page : pages) {
        delete page.data();
    }
}

TEST_F(DockingTest, MinimumSizeFollowsThePlacement) {
    EXPECT_EQ(bar->dockSide(), Qt::LeftDockWidgetArea);
    EXPECT_EQ(bar->sizingEdgeMask(), unsigned(kEdgeRight));
    EXPECT_EQ(bar->width(), 320);
    frame->resizeDocks({bar}, {10}, Qt::Horizontal);
    EXPECT_TRUE(QTest::qWaitFor([&] { return bar->width() != 320; }, 1000));
    EXPECT_EQ(bar->width(), 60);

    bar->DockAt(Qt::TopDockWidgetArea);
    EXPECT_EQ(bar->sizingEdgeMask(), unsigned(kEdgeBottom));
    EXPECT_EQ(bar->minimumSize(), QSize(50, 50));
    bar->setFloating(true);
    EXPECT_EQ(bar->minimumSize(), QSize(150, 150));
}

TEST_F(DockingTest, CloseButtonHidesTheBar) {
    AddLabelPage(QStringLiteral("Instrument"));
    DockPageCaption* caption = bar->caption();
    QTest::mouseClick(caption, Qt::LeftButton, {}, caption->closeButtonRect().center());
    EXPECT_TRUE(bar->isHidden());
}

TEST_F(DockingTest, CaptionIsActiveWhileTheFocusIsInside) {
    auto* edit = new QLineEdit;
    bar->AddPage(edit, QStringLiteral("Edit"));
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
    edit->setFocus();
    EXPECT_TRUE(QTest::qWaitFor([&] { return bar->isActive(); }, 2000));
    centre->setFocus();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !bar->isActive(); }, 2000));
}

// Drives the float window's leave poll from a scripted pointer.
struct ScriptedPointer {
    QPoint position;
    bool dragging = false;
    bool captured = false;
    PointerProbe Probe() {
        return {[this] { return position; }, [this] { return dragging; }, [this] { return captured; }};
    }
};

TEST_F(DockingTest, PinSendsThePagesToTheStripOfItsSide) {
    QLabel* one = AddLabelPage(QStringLiteral("One"));
    AddLabelPage(QStringLiteral("Two"));
    AutoHideStrip* strip = strips->Strip(Qt::LeftDockWidgetArea);
    ASSERT_NE(strip, nullptr);
    EXPECT_FALSE(strip->isVisible());

    QTest::mouseClick(bar->caption(), Qt::LeftButton, {}, bar->caption()->pinButtonRect().center());
    EXPECT_TRUE(strips->IsPinned(bar));
    EXPECT_TRUE(bar->isHidden());
    EXPECT_EQ(bar->pageCount(), 0);
    EXPECT_TRUE(strip->isVisible());
    ASSERT_EQ(strip->itemCount(), 2);
    EXPECT_EQ(strip->ItemPage(0).title, QStringLiteral("One"));
    EXPECT_EQ(strip->ItemPage(1).title, QStringLiteral("Two"));
    EXPECT_EQ(strip->ItemRect(1), QRect(0, 21, 24, 21));
    EXPECT_FALSE(one->isVisible());
}

TEST_F(DockingTest, HoverOrClickSlidesOutInSixStepsAndLeavingSlidesBack) {
    AddLabelPage(QStringLiteral("Instrument"));
    strips->PinBar(bar);
    AutoHideStrip* strip = strips->Strip(Qt::LeftDockWidgetArea);
    AutoHideFlyout* window = strip->floatWindow();
    ScriptedPointer pointer;
    window->SetPointerProbe(pointer.Probe());

    // Moving arms the 400 ms hover; the timer's work is run here directly.
    QTest::mouseMove(strip, strip->ItemRect(0).center());
    EXPECT_TRUE(QTest::qWaitFor([&] { return strip->isHoverArmed() || window->isVisible(); }, 1000));
    strip->HoverTimeout();
    EXPECT_EQ(strip->activeItem(), 0);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->IsTimerRunning(AutoHideFlyout::kSlideTimerOut));
    EXPECT_TRUE(window->IsTimerRunning(AutoHideFlyout::kLeaveTimer));
    EXPECT_EQ(window->slideSteps(), 6);
    const QRect target = window->targetRect();
    EXPECT_EQ(window->width(), target.width() / 6);

    std::vector<int> widths;
    for (int tick = 0; tick < 6; ++tick) {
        window->SlideOutStep();
        widths.push_back(window->width());
    }
    EXPECT_FALSE(window->IsTimerRunning(AutoHideFlyout::kSlideTimerOut));
    EXPECT_FALSE(window->isSliding());
    EXPECT_EQ(window->geometry(), target);
    EXPECT_TRUE(std::is_sorted(widths.begin(), widths.end()));
    EXPECT_EQ(window->page()->window->parentWidget(), window->panel());

    // Inside, dragging or captured: it stays out.
    pointer.position = window->mapToGlobal(window->rect().center());
    window->LeavePoll();
    pointer.position = window->mapToGlobal(QPoint(-50, -50));
    pointer.dragging = true;
    window->LeavePoll();
    pointer.dragging = false;
    pointer.captured = true;
    window->LeavePoll();
    EXPECT_TRUE(window->IsTimerRunning(AutoHideFlyout::kLeaveTimer));
    EXPECT_FALSE(window->IsTimerRunning(AutoHideFlyout::kSlideTimerIn));

    // Outside and free: the poll stops and the window slides in over six ticks.
    pointer.captured = false;
    window->LeavePoll();
    EXPECT_FALSE(window->IsTimerRunning(AutoHideFlyout::kLeaveTimer));
    EXPECT_TRUE(window->IsTimerRunning(AutoHideFlyout::kSlideTimerIn));
    for (int tick = 0; tick < 5; ++tick) {
        window->SlideInStep();
        EXPECT_TRUE(window->isVisible()) << tick;
    }
    window->SlideInStep();
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(window->IsTimerRunning(AutoHideFlyout::kSlideTimerIn));
    EXPECT_EQ(window->slidePosition(), 5);

    // A click slides it out again at once.
    QTest::mouseClick(strip, Qt::LeftButton, {}, strip->ItemRect(0).center());
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->IsTimerRunning(AutoHideFlyout::kSlideTimerOut));
}

TEST_F(DockingTest, RealTimersFinishTheSlideWithinTheirPeriods) {
    AddLabelPage(QStringLiteral("Instrument"));
    strips->PinBar(bar);
    AutoHideStrip* strip = strips->Strip(Qt::LeftDockWidgetArea);
    AutoHideFlyout* window = strip->floatWindow();
    ScriptedPointer pointer;
    window->SetPointerProbe(pointer.Probe());
    strip->ShowItem(0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window->isSliding(); }, 2000));
    EXPECT_EQ(window->geometry(), window->targetRect());
    pointer.position = QPoint(-1000, -1000);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window->isVisible(); }, 3000));
}

TEST_F(DockingTest, FloatWindowPinDocksAgainAndCloseHides) {
    QLabel* page = AddLabelPage(QStringLiteral("Instrument"));
    strips->PinBar(bar);
    AutoHideStrip* strip = strips->Strip(Qt::LeftDockWidgetArea);
    AutoHideFlyout* window = strip->floatWindow();
    strip->ShowItem(0);
    QTest::mouseClick(window->panel(), Qt::LeftButton, {}, window->pinButtonRect().center());
    EXPECT_FALSE(strips->IsPinned(bar));
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(strip->isVisible());
    EXPECT_FALSE(bar->isHidden());
    EXPECT_EQ(bar->dockSide(), Qt::LeftDockWidgetArea);
    EXPECT_EQ(bar->pageCount(), 1);
    EXPECT_EQ(page->parentWidget(), bar->pageArea());

    strips->PinBar(bar);
    strip->ShowItem(0);
    QTest::mouseClick(window->panel(), Qt::LeftButton, {}, window->closeButtonRect().center());
    EXPECT_FALSE(strips->IsPinned(bar));
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(bar->isHidden());
    EXPECT_EQ(bar->pageCount(), 1);
}

TEST_F(DockingTest, ABarDockedAtTheTopPinsToTheTopStrip) {
    AddLabelPage(QStringLiteral("Instrument"));
    bar->DockAt(Qt::TopDockWidgetArea);
    strips->PinBar(bar);
    EXPECT_EQ(strips->Strip(Qt::TopDockWidgetArea)->itemCount(), 1);
    EXPECT_EQ(strips->Strip(Qt::LeftDockWidgetArea)->itemCount(), 0);
    EXPECT_EQ(strips->Strip(Qt::TopDockWidgetArea)->height(), 24);
}

} // namespace
} // namespace calvora
