// A recording's "Data Graph" on a wall-clock axis (View > Time Axis): the time chart over the times its
// samples carry, following a live recording as it grows.
#pragma once

#include "chart/gui/time_chart_view.h"
#include "chart/time_series.h"
#include "recording/document_listeners.h"
#include "recording/gui/document_view.h"

#include <QTimer>

#include <memory>

namespace calvora {

class TimeChartDocumentView : public DocumentView, private DocumentListener {
    Q_OBJECT
public:
    TimeChartDocumentView(std::shared_ptr<RecordingDocument> document, QWidget* parent);
    ~TimeChartDocumentView() override;

    TimeChartView& chart() const { return *chart_; }

    bool canPrint() const override { return true; }
    void Print(QPrinter& printer) override;
    void PrintPreview(QPrinter& printer) override;

private:
    void OnSamplesAppended(RecordingDocument& document, uint32_t first, uint32_t count) override;
    void OnDocumentReset(RecordingDocument& document) override;
    void OnSettingsChanged(RecordingDocument& document) override;
    // The samples' times are read again (samples sharing a second move as the second fills).
    void Rebuild();

    TimeChartView* chart_;
    std::unique_ptr<VectorTimeSeries> series_;
    QTimer rebuild_;
    DocumentSubscription subscription_;
};

} // namespace calvora
