// The chart view as the "Data Graph" tab of a document window: a CDocView filled by VIrozuroRuvu, and the
// view factory for the tab table.
#pragma once

#include "app/gui/doc_view.h"
#include "chart/gui/chart_view.h"

#include <functional>
#include <memory>

namespace calvora {

class CTabFrm;

class CChartDocView : public CDocView {
    Q_OBJECT
public:
    // Empty showFrameBars and previewEnded hooks are filled in with the view's own tabbed frame.
    CChartDocView(std::shared_ptr<ZUrizivaRor> document, ChartHooks hooks, QWidget* parent);

    VIrozuroRuvu& Chart() const { return *m_chart; }

    // The document changed as a whole (new scale, a download filled it): full repaint.
    void OnUpdate() override;
    // One more live sample: the chart's cheap path.
    void AppendLiveSample();
    bool CanPrint() const override { return true; }
    void Print(QPrinter& printer) override;
    void PrintPreview(QPrinter& printer) override;

private:
    CTabFrm* Frame() const;

    VIrozuroRuvu* m_chart;
};

// The "Data Graph" factory: `hooks` is asked for the program's hooks each time a chart view is made.
ViewFactory MakeChartViewFactory(std::function<ChartHooks()> hooks);

} // namespace calvora
