// A plain-text summary of a document for the "Data Graph" tab of tab tables made without the chart view.
#pragma once

#include "app/gui/document_view.h"

class QPlainTextEdit;
class QTimer;

namespace calvora {

class TextDocumentView : public DocumentView {
    Q_OBJECT
public:
    TextDocumentView(std::shared_ptr<RecordingDocument> document, QWidget* parent);

    void OnInitialUpdate() override;
    // Coalesced: a live recording updates many times a second.
    void OnUpdate() override;
    QString text() const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QPlainTextEdit* text_;
    QTimer* refresh_;
};

QString DocumentSummaryText(const RecordingDocument& document);

} // namespace calvora
