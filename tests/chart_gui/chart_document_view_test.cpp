#include "app/gui/document_window.h"
#include "chart/gui/chart_document_view.h"
#include "tests/chart_gui/chart_test_documents.h"

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
    DocumentWindow::InstallTabTable(&table);

    std::shared_ptr<RecordingDocument> document = testing::MakeDocument({1, 2, 3});
    {
        DocumentWindow frame;
        frame.resize(900, 700);
        ASSERT_TRUE(frame.CreateClient(document));
        frame.show();
        QCoreApplication::processEvents();
        auto* view = qobject_cast<ChartDocumentView*>(frame.ActiveView());
        ASSERT_NE(view, nullptr);
        EXPECT_EQ(hookCalls, 1);
        EXPECT_TRUE(view->CanPrint());
        EXPECT_EQ(view->Chart().size(), view->size());

        frame.tabStrip()->TabBar()->hide(); // as the print preview leaves it
        frame.DialogBar()->hide();
        view->Chart().grab();
        EXPECT_FALSE(frame.tabStrip()->TabBar()->isHidden());
        EXPECT_FALSE(frame.DialogBar()->isHidden());
    }
    DocumentWindow::InstallTabTable(nullptr);
}

} // namespace
} // namespace calvora
