#include "chart/gui/chart_document_view.h"

#include "chart/gui/time_chart_document_view.h"
#include "recording/recording_document.h"

#include <QVBoxLayout>

namespace calvora {

ChartDocumentView::ChartDocumentView(std::shared_ptr<RecordingDocument> document, ChartHooks hooks,
                                     QWidget* parent)
    : DocumentView(document, parent), chart_(nullptr) {
    if (!hooks.showFrameBars)
        hooks.showFrameBars = [this] { Q_EMIT barsWanted(); };
    if (!hooks.previewEnded)
        hooks.previewEnded = [this] { Q_EMIT layoutWanted(); };
    chart_ = new ChartView(*document, std::move(hooks), this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(chart_);
    setFocusProxy(chart_);
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
        if (document->timeAxis)
            return new TimeChartDocumentView(document, parent);
        return new ChartDocumentView(document, hooks ? hooks() : ChartHooks{}, parent);
    };
}

} // namespace calvora
