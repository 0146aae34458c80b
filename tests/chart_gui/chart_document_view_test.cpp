#include "app/gui/document_window.h"
#include "chart/gui/chart_document_view.h"
#include "tests/chart/chart_test_documents.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTabBar>

namespace calvora {
namespace {

TEST(ChartDocView, DataGraphTabShowsTheChartAndRestoresTheBarsAfterAPreview) {
    TabTable table;
    TabGroup group;
    group.tabTitles = {QStringLiteral("Data Graph")};
    int hookCalls = 0;
    group.views = {MakeChartViewFactory([&] {
        ++hookCalls;
        return ChartHooks{};
    })};
    table.groups.push_back(group);

    std::shared_ptr<RecordingDocument> document = testing::MakeDocument({1, 2, 3});
    {
        DocumentWindow frame(table);
        frame.resize(900, 700);
        ASSERT_TRUE(frame.CreateClient(document));
        frame.show();
        QCoreApplication::processEvents();
        auto* view = qobject_cast<ChartDocumentView*>(frame.activeView());
        ASSERT_NE(view, nullptr);
        EXPECT_EQ(hookCalls, 1);
        EXPECT_TRUE(view->canPrint());
        EXPECT_EQ(view->chart().size(), view->size());

        frame.tabStrip()->tabBar()->hide(); // as the print preview leaves it
        frame.dialogBar()->hide();
        view->chart().grab();
        EXPECT_FALSE(frame.tabStrip()->tabBar()->isHidden());
        EXPECT_FALSE(frame.dialogBar()->isHidden());
    }
}

} // namespace
} // namespace calvora
