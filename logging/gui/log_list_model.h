// The "Data List" of a log: every reading as a row, formatted only when shown, so millions of rows cost no
// more than the few on the screen. Rows appear at most once a second while the log grows. A log of several
// meters lists every meter's readings in time order, with a last column naming the meter.
#pragma once

#include "logging/log_document.h"
#include "logging/log_set.h"

#include <QAbstractTableModel>
#include <QTimer>

#include <string>
#include <vector>

namespace calvora {

enum LogListColumn {
    kLogNumber,
    kLogTime,
    kLogFunction,
    kLogMode,
    kLogValue,
    kLogUnit,
    kLogFlags,
    kLogGap,
    kLogColumns,
    kLogMeterColumn = kLogColumns // only in the list of a log of several meters
};

// The text of one cell of reading `row`.
std::u16string LogCellText(const LogDocument& log, size_t row, int column);
// "2026-12-09 09:15:02.125" in local time.
std::u16string LocalTimeText(int64_t utcMs);

class LogListModel : public QAbstractTableModel, private LogListener {
    Q_OBJECT
public:
    static constexpr int kGrowthMs = 1000;

    explicit LogListModel(LogDocument& log, QObject* parent = nullptr);
    // Every meter of `set`; the meter column only when it has several.
    explicit LogListModel(const LogSet& set, QObject* parent = nullptr);
    ~LogListModel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Rows the list shows now (it catches up with the log once a second).
    int shownRows() const { return rows_; }
    // Catches up with the log at once.
    void CatchUp();

    // The meter and the meter's reading shown in `row`.
    std::pair<size_t, size_t> ReadingAt(size_t row) const;

private:
    void OnReadingsAppended(LogDocument& log, uint64_t first, uint64_t count) override;
    void OnGapsChanged(LogDocument& log) override;
    void OnLogReset(LogDocument& log) override;
    // Lists the readings of several meters not listed yet, in time order.
    void Merge();
    size_t TotalReadings() const;

    std::vector<LogMeter> meters_;
    int rows_ = 0;
    // With several meters: each row's meter (top byte) and reading; each meter's readings listed so far.
    std::vector<uint64_t> order_;
    std::vector<size_t> listed_;
    QTimer growth_;
    std::vector<LogSubscription> subscriptions_;
};

} // namespace calvora
