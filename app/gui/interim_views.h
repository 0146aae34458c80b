// Plain-text views of a document for the two tabs, used until the chart view and the list view are plugged
// into the tab table.
#pragma once

#include "app/gui/doc_view.h"

class QPlainTextEdit;

namespace calvora {

class CDocTextView : public CDocView {
    Q_OBJECT
public:
    enum class Content { Summary, Rows };
    CDocTextView(std::shared_ptr<ZUrizivaRor> document, Content content, QWidget* parent);

    void OnInitialUpdate() override;
    QString Text() const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    Content m_content;
    QPlainTextEdit* m_text;
};

// The text of each interim view.
QString DocumentSummaryText(const ZUrizivaRor& document);
QString DocumentRowsText(const ZUrizivaRor& document);

} // namespace calvora
