#include "app/gui/text_document_view.h"

#include "recording/recording_document.h"

#include <QPlainTextEdit>
#include <QTimer>

#include <algorithm>

namespace calvora {

namespace {

QString Q(std::u16string_view text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

QString DocumentSummaryText(const RecordingDocument& document) {
    QString text = Q(document.title) + QLatin1Char('\n');
    text += QStringLiteral("Samples: %1\nChannels: %2\n")
                .arg(document.sampleCount())
                .arg(document.channelCount());
    if (document.sampleCount() > 0 && document.channelCount() > 0) {
        float low = document.value(0, 0);
        float high = low;
        for (uint32_t row = 1; row < document.sampleCount(); ++row) {
            low = std::min(low, document.value(row, 0));
            high = std::max(high, document.value(row, 0));
        }
        text += QStringLiteral("Lowest: %1 %3\nHighest: %2 %3\nFirst sample:%4\nLast sample:%5\n")
                    .arg(double(low))
                    .arg(double(high))
                    .arg(Q(document.unit(0)), Q(document.timeText(0)),
                         Q(document.timeText(document.sampleCount() - 1)));
    }
    return text;
}

TextDocumentView::TextDocumentView(std::shared_ptr<RecordingDocument> document, QWidget* parent)
    : DocumentView(std::move(document), parent), text_(new QPlainTextEdit(this)) {
    text_->setReadOnly(true);
    text_->setLineWrapMode(QPlainTextEdit::NoWrap);
    refresh_ = new QTimer(this);
    refresh_->setSingleShot(true);
    refresh_->setInterval(250);
    connect(refresh_, &QTimer::timeout, this, &TextDocumentView::OnInitialUpdate);
}

void TextDocumentView::OnUpdate() {
    if (!refresh_->isActive()) {
        refresh_->start();
    }
}

void TextDocumentView::OnInitialUpdate() {
    text_->setPlainText(DocumentSummaryText(document()));
}

QString TextDocumentView::text() const {
    return text_->toPlainText();
}

void TextDocumentView::resizeEvent(QResizeEvent*) {
    text_->setGeometry(rect());
}

} // namespace calvora
