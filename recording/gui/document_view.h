// The views a document window shows on its tabs. The chart view and the list view derive from DocumentView
// and reach the document window through a view factory in the tab table.
#pragma once

#include <QWidget>

#include <functional>
#include <memory>

class QPrinter;

namespace calvora {

class RecordingDocument;

class DocumentView : public QWidget {
    Q_OBJECT
public:
    DocumentView(std::shared_ptr<RecordingDocument> document, QWidget* parent)
        : QWidget(parent), document_(std::move(document)) {}

    RecordingDocument& document() const { return *document_; }
    const std::shared_ptr<RecordingDocument>& documentPtr() const { return document_; }

    // Runs once the view is in place, before it is shown.
    virtual void OnInitialUpdate() {}
    // Printing: views that print say so; File › Print and Print Preview stay disabled for the others.
    virtual bool canPrint() const { return false; }
    virtual void Print(QPrinter& printer) { (void)printer; }
    virtual void PrintPreview(QPrinter& printer) { (void)printer; }

Q_SIGNALS:
    // A print preview hid the window's tab strip and dialog bar: the view is on the screen again and wants
    // them back.
    void barsWanted();
    // A print preview ended: the window lays out its strip and the view again.
    void layoutWanted();

private:
    std::shared_ptr<RecordingDocument> document_;
};

// Makes the view of one tab on a document; null when it cannot.
using ViewFactory =
    std::function<DocumentView*(const std::shared_ptr<RecordingDocument>& document, QWidget* parent)>;

} // namespace calvora
