#include "chart/gui/time_chart_document_view.h"

#include "chart/recording_times.h"
#include "recording/recording_document.h"

#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QVBoxLayout>

namespace calvora {

TimeChartDocumentView::TimeChartDocumentView(std::shared_ptr<RecordingDocument> document, QWidget* parent)
    : DocumentView(document, parent), chart_(new TimeChartView(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(chart_);
    setFocusProxy(chart_);
    chart_->SetEmptyText(QStringLiteral("The samples carry no times to chart."));
    rebuild_.setSingleShot(true);
    rebuild_.setInterval(TimeChartView::kRefreshMs);
    connect(&rebuild_, &QTimer::timeout, this, &TimeChartDocumentView::Rebuild);
    subscription_ = document->Subscribe(*this);
    Rebuild();
}

TimeChartDocumentView::~TimeChartDocumentView() = default;

void TimeChartDocumentView::Rebuild() {
    const RecordingDocument& recording = document();
    const bool whole = !chart_->window().zoomed;
    series_ = RecordingTimeSeries(recording);
    const TimeWindow shown = chart_->window();
    chart_->SetSeries(series_.get());
    if (!whole && series_)
        chart_->SetWindow(shown);
    chart_->SetUnit(recording.sampleCount() > 0 ? QString::fromStdU16String(std::u16string(
                                                      recording.unit(recording.sampleCount() - 1)))
                                                : QString());
}

void TimeChartDocumentView::OnSamplesAppended(RecordingDocument&, uint32_t, uint32_t) {
    if (!rebuild_.isActive())
        rebuild_.start();
}

void TimeChartDocumentView::OnDocumentReset(RecordingDocument&) {
    Rebuild();
}

void TimeChartDocumentView::OnSettingsChanged(RecordingDocument&) {
    chart_->Redraw();
}

void TimeChartDocumentView::Print(QPrinter& printer) {
    chart_->Print(printer);
}

void TimeChartDocumentView::PrintPreview(QPrinter& printer) {
    QPrintPreviewDialog preview(&printer, this);
    connect(&preview, &QPrintPreviewDialog::paintRequested, this,
            [this](QPrinter* target) { Print(*target); });
    preview.exec();
}

} // namespace calvora
