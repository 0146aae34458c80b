#include "recording/gui/data_list_view.h"

#include "app/gui/document_window.h"
#include "protocol/formatters.h"
#include "recording/recording_document.h"

#include <QGuiApplication>
#include <QHeaderView>
#include <QPainter>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QScreen>
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
    : QAbstractTableModel(parent), m_document(document) {
}

int DataListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_itemCount;
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
        LogListCellText(m_document, static_cast<uint32_t>(index.row()), index.column()));
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
    if (count > m_itemCount) {
        beginInsertRows(QModelIndex(), m_itemCount, count - 1);
        m_itemCount = count;
        endInsertRows();
    } else if (count < m_itemCount) {
        beginRemoveRows(QModelIndex(), count, m_itemCount - 1);
        m_itemCount = count;
        endRemoveRows();
    }
}

void DataListModel::Refresh() {
    if (m_itemCount > 0) {
        Q_EMIT dataChanged(index(0, 0), index(m_itemCount - 1, columnCount() - 1), {Qt::DisplayRole});
    }
}

// ---------------------------------------------------------------------------------------------------------

DataListView::DataListView(std::shared_ptr<RecordingDocument> document, QWidget* parent)
    : DocumentView(std::move(document), parent) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSize screenSize = screen != nullptr ? screen->geometry().size() : QSize(1024, 768);
    m_listWidth = static_cast<int>(screenSize.width() * 0.625);
    m_listHeight = static_cast<int>(screenSize.height() * 0.76171875);
    m_timer.setInterval(kTimerPeriodMs);
    connect(&m_timer, &QTimer::timeout, this, &DataListView::OnTimer);
}

DataListView::~DataListView() {
    // The timer goes with this view: the next list view of the document must start its own.
    Document().listTimerStarted = 0;
    // The model reads the document, which may go with this view's reference before QWidget deletes children.
    delete m_list;
}

void DataListView::CreateList() {
    m_list = new QTableView(this);
    m_list->setObjectName(QStringLiteral("LogList%1").arg(kListId));
    m_list->setGeometry(rect());
    m_list->setFrameStyle(QFrame::Box | QFrame::Plain);
    // Opaque, so that the list's own updates never repaint the view beneath it (whose paint sets the list).
    m_list->setAutoFillBackground(true);
    m_list->setShowGrid(true);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setWordWrap(false);
    m_list->setCornerButtonEnabled(false);
    m_list->verticalHeader()->hide();
    if (m_listFont == QFont()) {
        m_listFont = ListFont();
    }
    m_list->setFont(m_listFont);
    // Every row is one line high, so a long list is laid out without measuring its cells.
    QHeaderView* rows = m_list->verticalHeader();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(QFontMetrics(m_listFont).height() + 4);
    m_model = new DataListModel(Document(), m_list);
    m_list->setModel(m_model);
    QHeaderView* columns = m_list->horizontalHeader();
    columns->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    columns->setSectionResizeMode(QHeaderView::Interactive);
    columns->setStretchLastSection(false);
    columns->setHighlightSections(false);
    for (size_t i = 0; i < kLogListColumns.size(); ++i) {
        columns->resizeSection(static_cast<int>(i), kLogListColumns[i].width);
    }
    m_list->show();
}

void DataListView::paintEvent(QPaintEvent*) {
    if (m_list == nullptr) {
        CreateList();
    }
    RecordingDocument& document = Document();
    m_model->SetItemCount(static_cast<int>(std::min<uint32_t>(document.sampleCount(), INT32_MAX)));
    m_list->setGeometry(kListMargin, kListMargin, m_listWidth, m_listHeight);
    if (document.listTimerStarted == 0) {
        document.listTimerStarted = 1;
        m_timer.start();
    }
    if (document.liveActive == 1) {
        ShowLastItem();
    }
}

void DataListView::resizeEvent(QResizeEvent* event) {
    DocumentView::resizeEvent(event);
    if (m_list != nullptr) {
        m_list->setGeometry(kListMargin, kListMargin, m_listWidth, m_listHeight);
    }
}

void DataListView::OnUpdate() {
    // A refilled document may keep its count but not its texts.
    if (m_model != nullptr) {
        m_model->Refresh();
    }
    update();
}

void DataListView::OnTimer() {
    RecordingDocument& document = Document();
    if (document.liveActive != 1 || m_list == nullptr || document.listDirty != 1) {
        return;
    }
    document.listDirty = 0;
    m_model->SetItemCount(static_cast<int>(std::min<uint32_t>(document.sampleCount(), INT32_MAX)));
    ShowLastItem();
}

void DataListView::ShowLastItem() {
    const int count = m_model->rowCount();
    if (count > 0) {
        // The rows just added are laid out later; the scroll range must know them now.
        m_list->doItemsLayout();
        m_list->scrollTo(m_model->index(count - 1, 0), QAbstractItemView::EnsureVisible);
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
        const int column = m_list != nullptr
                               ? m_list->horizontalHeader()->logicalIndex(static_cast<int>(visual))
                               : static_cast<int>(visual);
        order[visual] = column;
        xs[visual] = x;
        const std::u16string_view header = kLogListColumns[static_cast<size_t>(column)].header;
        draw(x, line, Q(header));
        x += static_cast<int>(header.size()) * charWidth;
    }

    const RecordingDocument& document = Document();
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
    const int pages = LogListPageCount(Document().sampleCount());
    int first = 1;
    int last = pages;
    if (printer.printRange() == QPrinter::PageRange && printer.fromPage() > 0) {
        first = printer.fromPage();
        last = std::min(pages, printer.toPage() > 0 ? printer.toPage() : pages);
    }
    if (first > last) {
        return;
    }
    const std::time_t now = m_clock ? m_clock() : std::time(nullptr);
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
    // The frame hid its tabs for the preview; the list has no paint of its own that brings them back.
    for (QObject* ancestor = parent(); ancestor != nullptr; ancestor = ancestor->parent()) {
        if (auto* frame = qobject_cast<DocumentWindowBase*>(ancestor)) {
            frame->ShowBars();
            break;
        }
    }
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
