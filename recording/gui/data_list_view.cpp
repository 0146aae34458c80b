#include "recording/gui/data_list_view.h"

#include "protocol/formatters.h"
#include "recording/recording_document.h"

#include <QHeaderView>
#include <QPainter>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QTableView>

#include <algorithm>
#include <cstdio>

namespace calvora {

namespace {

QString Q(std::u16string_view text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

// The font of a positive height: the size of the whole character cell, leading included.
QFont CellHeightFont(QFont font, int cellHeight, const QPaintDevice* device) {
    font.setPixelSize(std::max(1, cellHeight));
    const int measured = QFontMetrics(font, device).height();
    if (measured > 0 && measured != cellHeight) {
        font.setPixelSize(std::max(1, cellHeight * cellHeight / measured));
    }
    return font;
}

QFont ListFont() {
    // "black Arial" names no installed face; the font system substitutes a swiss one. Without Arial or its
    // metric twin, a condensed face keeps the time texts inside their 150-pixel column.
    QFont font;
    font.setFamilies({QStringLiteral("black Arial"), QStringLiteral("Arial"),
                      QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans Condensed")});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(15);
    font.setWeight(QFont::Thin);
    return font;
}

} // namespace

std::u16string LogListCellText(const RecordingDocument& document, uint32_t row, int column) {
    if (row >= document.sampleCount()) {
        return {};
    }
    switch (column) {
    case 0: {
        char number[16];
        std::snprintf(number, sizeof number, "%u", row + 1);
        return std::u16string(number, number + std::char_traits<char>::length(number));
    }
    case 1:
        return std::u16string(document.functionName(row));
    case 2:
        return std::u16string(document.mode(row));
    case 3:
        return FormatStoredValue(document.value(row, 0), document.fullScale(row, 0), document.lowLimit(row));
    case 4:
        return std::u16string(document.unit(row));
    case 5:
        return std::u16string(document.timeText(row));
    default:
        return {};
    }
}

int LogListPageCount(uint32_t sampleCount) {
    return static_cast<int>((sampleCount + kLogListRowsPerPage - 1) / kLogListRowsPerPage);
}

std::u16string LogListFooter(const std::tm& date, int page) {
    char text[64];
    const size_t length = std::strftime(text, sizeof text, "%d/%m/%y", &date);
    std::snprintf(text + length, sizeof text - length, "  page%d", page);
    return std::u16string(text, text + std::char_traits<char>::length(text));
}

// ---------------------------------------------------------------------------------------------------------

DataListModel::DataListModel(const RecordingDocument& document, QObject* parent)
    : QAbstractTableModel(parent), document_(document) {
}

int DataListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : itemCount_;
}

int DataListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(kLogListColumns.size());
}

QVariant DataListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) {
        return {};
    }
    if (role == Qt::TextAlignmentRole) {
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    }
    if (role != Qt::DisplayRole) {
        return {};
    }
    return QString::fromStdU16String(
        LogListCellText(document_, static_cast<uint32_t>(index.row()), index.column()));
}

QVariant DataListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= columnCount()) {
        return {};
    }
    if (role == Qt::DisplayRole) {
        return Q(kLogListColumns[static_cast<size_t>(section)].header);
    }
    if (role == Qt::TextAlignmentRole) {
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    }
    return {};
}

void DataListModel::SetItemCount(int count) {
    count = std::max(0, count);
    if (count > itemCount_) {
        beginInsertRows(QModelIndex(), itemCount_, count - 1);
        itemCount_ = count;
        endInsertRows();
    } else if (count < itemCount_) {
        beginRemoveRows(QModelIndex(), count, itemCount_ - 1);
        itemCount_ = count;
        endRemoveRows();
    }
}

void DataListModel::Refresh() {
    if (itemCount_ > 0) {
        Q_EMIT dataChanged(index(0, 0), index(itemCount_ - 1, columnCount() - 1), {Qt::DisplayRole});
    }
}

// ---------------------------------------------------------------------------------------------------------

DataListView::DataListView(std::shared_ptr<RecordingDocument> document, QWidget* parent)
    : DocumentView(std::move(document), parent) {
    timer_.setInterval(kTimerPeriodMs);
    connect(&timer_, &QTimer::timeout, this, &DataListView::OnTimer);
    CreateList();
    SetItemCount();
    subscription_ = this->document().Subscribe(*this);
}

DataListView::~DataListView() {
    // The timer goes with this view: the next list view of the document must start its own.
    document().listTimerStarted = false;
    // The model reads the document, which may go with this view's reference before QWidget deletes children.
    delete list_;
}

void DataListView::CreateList() {
    list_ = new QTableView(this);
    list_->setObjectName(QStringLiteral("LogList%1").arg(kListId));
    list_->setGeometry(rect());
    list_->setFrameStyle(QFrame::Box | QFrame::Plain);
    list_->setShowGrid(true);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setWordWrap(false);
    list_->setCornerButtonEnabled(false);
    list_->verticalHeader()->hide();
    if (listFont_ == QFont()) {
        listFont_ = ListFont();
    }
    list_->setFont(listFont_);
    // Every row is one line high, so a long list is laid out without measuring its cells.
    QHeaderView* rows = list_->verticalHeader();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(QFontMetrics(listFont_).height() + 4);
    model_ = new DataListModel(document(), list_);
    list_->setModel(model_);
    QHeaderView* columns = list_->horizontalHeader();
    columns->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    columns->setSectionResizeMode(QHeaderView::Interactive);
    columns->setStretchLastSection(false);
    columns->setHighlightSections(false);
    for (size_t i = 0; i < kLogListColumns.size(); ++i) {
        columns->resizeSection(static_cast<int>(i), kLogListColumns[i].width);
    }
    list_->show();
}

void DataListView::SetItemCount() {
    model_->SetItemCount(static_cast<int>(std::min<uint32_t>(document().sampleCount(), INT32_MAX)));
}

void DataListView::showEvent(QShowEvent* event) {
    DocumentView::showEvent(event);
    RecordingDocument& document = this->document();
    if (!document.listTimerStarted) {
        document.listTimerStarted = true;
        timer_.start();
    }
    if (document.liveActive) {
        ShowLastItem();
    }
}

void DataListView::resizeEvent(QResizeEvent* event) {
    DocumentView::resizeEvent(event);
    // The list fills its tab, so its scroll bars and every column stay inside the window.
    list_->setGeometry(rect());
    if (document().liveActive) {
        ShowLastItem();
    }
}

void DataListView::Refresh() {
    // A refilled document may keep its count but not its texts.
    SetItemCount();
    model_->Refresh();
}

void DataListView::OnSamplesAppended(RecordingDocument& document, uint32_t, uint32_t) {
    // The list grows at most once a second, at the timer's tick.
    document.listDirty = true;
}

void DataListView::OnDocumentReset(RecordingDocument&) {
    Refresh();
}

void DataListView::OnSettingsChanged(RecordingDocument&) {
    // A new scale repaints every view of the document; the list catches up with the samples.
    Refresh();
}

void DataListView::OnTimer() {
    RecordingDocument& document = this->document();
    if (!document.liveActive || !document.listDirty) {
        return;
    }
    document.listDirty = false;
    SetItemCount();
    ShowLastItem();
}

void DataListView::ShowLastItem() {
    const int count = model_->rowCount();
    if (count > 0) {
        // The rows just added are laid out later; the scroll range must know them now.
        list_->doItemsLayout();
        list_->scrollTo(model_->index(count - 1, 0), QAbstractItemView::EnsureVisible);
    }
}

// ---------------------------------------------------------------------------------------------------------
// Printing

void DataListView::PrintPage(QPainter& painter, const QSize& pageSize, int page, const std::tm& date) const {
    const int height = pageSize.height();
    const int width = pageSize.width();
    const int line = height / 80;
    const int charWidth = height / 84;
    QFont font;
    font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setWeight(QFont::ExtraLight);
    font = CellHeightFont(font, line, painter.device());
    painter.setFont(font);
    painter.setPen(Qt::black);
    const int ascent = QFontMetrics(font, painter.device()).ascent();
    auto draw = [&](int x, int top, const QString& text) { painter.drawText(QPoint(x, top + ascent), text); };

    // Columns in the list's order; the x advance comes from the header texts, not from the cells.
    std::array<int, kLogListColumns.size()> order{};
    std::array<int, kLogListColumns.size()> xs{};
    int x = 0;
    for (size_t visual = 0; visual < order.size(); ++visual) {
        const int column = list_ != nullptr
                               ? list_->horizontalHeader()->logicalIndex(static_cast<int>(visual))
                               : static_cast<int>(visual);
        order[visual] = column;
        xs[visual] = x;
        const std::u16string_view header = kLogListColumns[static_cast<size_t>(column)].header;
        draw(x, line, Q(header));
        x += static_cast<int>(header.size()) * charWidth;
    }

    const RecordingDocument& document = this->document();
    const int64_t first = int64_t{page - 1} * kLogListRowsPerPage;
    for (int64_t row = first; row < first + kLogListRowsPerPage && row < int64_t{document.sampleCount()};
         ++row) {
        const int top = static_cast<int>(row - first + 2) * line;
        for (size_t visual = 0; visual < order.size(); ++visual) {
            draw(xs[visual], top,
                 QString::fromStdU16String(
                     LogListCellText(document, static_cast<uint32_t>(row), order[visual])));
        }
    }
    draw(width / 2 - 5 * charWidth, height - line, QString::fromStdU16String(LogListFooter(date, page)));
}

void DataListView::Print(QPrinter& printer) {
    const int pages = LogListPageCount(document().sampleCount());
    int first = 1;
    int last = pages;
    if (printer.printRange() == QPrinter::PageRange && printer.fromPage() > 0) {
        first = printer.fromPage();
        last = std::min(pages, printer.toPage() > 0 ? printer.toPage() : pages);
    }
    if (first > last) {
        return;
    }
    const std::time_t now = clock_ ? clock_() : std::time(nullptr);
    std::tm date{};
    localtime_r(&now, &date);
    QPainter painter;
    if (!painter.begin(&printer)) {
        return;
    }
    for (int page = first; page <= last; ++page) {
        if (page > first) {
            printer.newPage();
        }
        PrintPage(painter, QSize(printer.width(), printer.height()), page, date);
    }
}

void DataListView::PrintPreview(QPrinter& printer) {
    QPrintPreviewDialog preview(&printer, this);
    connect(&preview, &QPrintPreviewDialog::paintRequested, this,
            [this](QPrinter* target) { Print(*target); });
    preview.exec();
    // The window hid its tabs for the preview; the list has no paint of its own that brings them back.
    Q_EMIT barsWanted();
}

ViewFactory MakeLogListViewFactory() {
    return [](const std::shared_ptr<RecordingDocument>& document, QWidget* parent) -> DocumentView* {
        if (!document) {
            return nullptr;
        }
        return new DataListView(document, parent);
    };
}

} // namespace calvora
