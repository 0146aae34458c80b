// The chart view as the "Data Graph" tab of a document window: a DocumentView filled by ChartView, and the
// view factory for the tab table.
#pragma once

#include "chart/gui/chart_view.h"
#include "recording/gui/document_view.h"

#include <functional>
#include <memory>

namespace calvora {

class ChartDocumentView : public DocumentView {
    Q_OBJECT
public:
    // Empty showFrameBars and previewEnded hooks become the view's barsWanted and layoutWanted signals.
    ChartDocumentView(std::shared_ptr<RecordingDocument> document, ChartHooks hooks, QWidget* parent);

    ChartView& chart() const { return *chart_; }

    bool canPrint() const override { return true; }
    void Print(QPrinter& printer) override;
    void PrintPreview(QPrinter& printer) override;

private:
    ChartView* chart_;
};

// The "Data Graph" factory: `hooks` is asked for the program's hooks each time a chart view is made.
ViewFactory MakeChartViewFactory(std::function<ChartHooks()> hooks);

} // namespace calvora
