// The "Data List" tab: the samples of one document as a virtual table that fills the tab, formats only the
// cells it is asked for, grows once a second during a live recording, and prints 75 rows a page.
#pragma once

#include "recording/document_listeners.h"
#include "recording/gui/document_view.h"

#include <QAbstractTableModel>
#include <QFont>
#include <QTimer>

#include <array>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>

class QPainter;
class QPaintDevice;
class QTableView;

namespace calvora {

struct DataListColumn {
    std::u16string_view header;
    int width; // pixels
};

inline constexpr std::array<DataListColumn, 6> kLogListColumns{{
    {u"No.", 50},
    {u"Channel", 120},
    {u" Function", 120},
    {u"Data Value", 120},
    {u"Unit", 60},
    {u"Time", 150},
}};

inline constexpr int kLogListRowsPerPage = 75;

// The text of one cell; empty for rows at or past the sample count (the item count may still be
// the one of a recording that has just been reset) and for unknown columns.
std::u16string LogListCellText(const RecordingDocument& document, uint32_t row, int column);
int LogListPageCount(uint32_t sampleCount);
// "%d/%m/%y  page%d" (two blanks).
std::u16string LogListFooter(const std::tm& date, int page);

// The list's rows: as many as the item count says, each formatted from the store when shown.
class DataListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit DataListModel(const RecordingDocument& document, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // The list's item count; the cells are asked for again when they are next drawn.
    void SetItemCount(int count);
    // Every shown cell is asked for again (the document's rows were replaced).
    void Refresh();

private:
    const RecordingDocument& document_;
    int itemCount_ = 0;
};

// Listens to its document: a live sample marks the list for its next timer tick, anything else refreshes it.
class DataListView : public DocumentView, private DocumentListener {
    Q_OBJECT
public:
    static constexpr int kListId = 159;
    static constexpr int kTimerId = 1;
    static constexpr int kTimerPeriodMs = 1000;

    DataListView(std::shared_ptr<RecordingDocument> document, QWidget* parent);
    ~DataListView() override;

    bool canPrint() const override { return true; }
    void Print(QPrinter& printer) override;
    void PrintPreview(QPrinter& printer) override;
    // One printed page on `painter`, whose device is `pageSize` device pixels with the origin at the
    // top left; `page` counts from 1.
    void PrintPage(QPainter& painter, const QSize& pageSize, int page, const std::tm& date) const;

    QTableView* list() const { return list_; }
    DataListModel* model() const { return model_; }
    const QTimer& timer() const { return timer_; }
    // Local time source for the printed date (tests pin it).
    void SetClock(std::function<std::time_t()> clock) { clock_ = std::move(clock); }

protected:
    // The item count and the list's place change on the document's news and the timer, never during a
    // paint: a list moved or grown while the window paints can leave rows drawn outside it.
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // The document changed as a whole: the model reads it again.
    void Refresh();
    // The list's rows: as many as the document holds.
    void SetItemCount();
    void OnSamplesAppended(RecordingDocument& document, uint32_t first, uint32_t count) override;
    void OnDocumentReset(RecordingDocument& document) override;
    void OnSettingsChanged(RecordingDocument& document) override;

    void CreateList();
    void OnTimer();
    void ShowLastItem();

    QTableView* list_ = nullptr;
    DataListModel* model_ = nullptr;
    QFont listFont_;
    QTimer timer_;
    std::function<std::time_t()> clock_;
    DocumentSubscription subscription_;
};

// The "Data List" factory for the tab table.
ViewFactory MakeLogListViewFactory();

} // namespace calvora
