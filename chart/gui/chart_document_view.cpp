#include "chart/gui/chart_document_view.h"

#include "app/gui/document_window.h"

#include <QTabBar>
#include <QVBoxLayout>

namespace calvora {

ChartDocumentView::ChartDocumentView(std::shared_ptr<RecordingDocument> document, ChartHooks hooks,
                                     QWidget* parent)
    : DocumentView(document, parent), chart_(nullptr) {
    if (!hooks.showFrameBars) {
        hooks.showFrameBars = [this] {
            // Only after a print preview hid them: showing them lays the frame out again.
            DocumentWindow* frame = documentWindow();
            if (frame && frame->tabStrip() && frame->tabStrip()->tabBar()->isHidden())
                frame->ShowBars();
        };
    }
    if (!hooks.previewEnded) {
        hooks.previewEnded = [this] {
            if (DocumentWindow* frame = documentWindow())
                frame->RecalcLayout();
        };
    }
    chart_ = new ChartView(*document, std::move(hooks), this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(chart_);
    setFocusProxy(chart_);
}

DocumentWindow* ChartDocumentView::documentWindow() const {
    for (QObject* parent = this->parent(); parent != nullptr; parent = parent->parent()) {
        if (auto* frame = qobject_cast<DocumentWindow*>(parent))
            return frame;
    }
    return nullptr;
}

void ChartDocumentView::Print(QPrinter& printer) {
    chart_->Print(printer);
}

void ChartDocumentView::PrintPreview(QPrinter& printer) {
    chart_->PrintPreview(printer);
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
