#include "chart/gui/chart_doc_view.h"

#include "app/gui/tab_frame.h"

#include <QTabBar>
#include <QVBoxLayout>

namespace calvora {

CChartDocView::CChartDocView(std::shared_ptr<ZUrizivaRor> document, ChartHooks hooks, QWidget* parent)
    : CDocView(document, parent), m_chart(nullptr) {
    if (!hooks.showFrameBars) {
        hooks.showFrameBars = [this] {
            // Only after a print preview hid them: showing them lays the frame out again.
            CTabFrm* frame = Frame();
            if (frame && frame->TabStrip() && frame->TabStrip()->TabBar()->isHidden())
                frame->ShowBars();
        };
    }
    if (!hooks.previewEnded) {
        hooks.previewEnded = [this] {
            if (CTabFrm* frame = Frame())
                frame->RecalcLayout();
        };
    }
    m_chart = new VIrozuroRuvu(*document, std::move(hooks), this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_chart);
    setFocusProxy(m_chart);
}

CTabFrm* CChartDocView::Frame() const {
    for (QObject* parent = this->parent(); parent != nullptr; parent = parent->parent()) {
        if (auto* frame = qobject_cast<CTabFrm*>(parent))
            return frame;
    }
    return nullptr;
}

void CChartDocView::OnUpdate() {
    m_chart->RedrawChart();
}

void CChartDocView::AppendLiveSample() {
    m_chart->AppendLiveSample();
}

void CChartDocView::Print(QPrinter& printer) {
    m_chart->Print(printer);
}

void CChartDocView::PrintPreview(QPrinter& printer) {
    m_chart->PrintPreview(printer);
}

ViewFactory MakeChartViewFactory(std::function<ChartHooks()> hooks) {
    return [hooks = std::move(hooks)](const std::shared_ptr<ZUrizivaRor>& document,
                                      QWidget* parent) -> CDocView* {
        if (!document)
            return nullptr;
        return new CChartDocView(document, hooks ? hooks() : ChartHooks{}, parent);
    };
}

} // namespace calvora
