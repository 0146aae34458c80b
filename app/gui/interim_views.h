// Plain-text views of a document for the two tabs, used until the chart view and the list view are plugged
// into the tab table.
#pragma once

#include "app/gui/doc_view.h"

class QPlainTextEdit;
class QTimer;

namespace calvora {

class CDocTextView : public CDocView {
    Q_OBJECT
public:
    enum class Content { Summary, Rows };
    CDocTextView(std::shared_ptr<ZUrizivaRor> document, Content content, QWidget* parent);

    void OnInitialUpdate() override;
    // Coalesced: a live recording updates many times a second.
    void OnUpdate() override;
    QString Text() const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    Content m_content;
    QPlainTextEdit* m_text;
    QTimer* m_refresh;
};

// The text of each interim view.
QString DocumentSummaryText(const ZUrizivaRor& document);
QString DocumentRowsText(const ZUrizivaRor& document);

} // namespace calvora
