#include "chart/gui/chart_document_view.h"

#include "app/gui/document_window.h"

#include <QTabBar>
#include <QVBoxLayout>

namespace calvora {

ChartDocumentView::ChartDocumentView(std::shared_ptr<RecordingDocument> document, ChartHooks hooks, QWidget* parent)
    : DocumentView(document, parent), m_chart(nullptr) {
    if (!hooks.showFrameBars) {
        hooks.showFrameBars = [this] {
            // Only after a print preview hid them: showing them lays the frame out again.
            DocumentWindowBase* frame = Frame();
            if (frame && frame->tabStrip() && frame->tabStrip()->TabBar()->isHidden())
                frame->ShowBars();
        };
    }
    if (!hooks.previewEnded) {
        hooks.previewEnded = [this] {
            if (DocumentWindowBase* frame = Frame())
                frame->RecalcLayout();
        };
    }
    m_chart = new ChartView(*document, std::move(hooks), this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_chart);
    setFocusProxy(m_chart);
}

DocumentWindowBase* ChartDocumentView::Frame() const {
    for (QObject* parent = this->parent(); parent != nullptr; parent = parent->parent()) {
        if (auto* frame = qobject_cast<DocumentWindowBase*>(parent))
            return frame;
    }
    return nullptr;
}

void ChartDocumentView::OnUpdate() {
    m_chart->RedrawChart();
}

void ChartDocumentView::AppendLiveSample() {
    m_chart->AppendLiveSample();
}

void ChartDocumentView::Print(QPrinter& printer) {
    m_chart->Print(printer);
}

void ChartDocumentView::PrintPreview(QPrinter& printer) {
    m_chart->PrintPreview(printer);
}

ViewFactory MakeChartViewFactory(std::function<ChartHooks()> hooks) {
    return [hooks = std::move(hooks)](const std::shared_ptr<RecordingDocument>& document,
                                      QWidget* parent) -> DocumentView* {
        if (!document)
            return nullptr;
        return new ChartDocumentView(document, hooks ? hooks() : ChartHooks{}, parent);
    };
}

} // namespace calvora
