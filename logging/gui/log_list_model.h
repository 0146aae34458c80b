// The "Data List" of a log: every reading as a row, formatted only when shown, so millions of rows cost no
// more than the few on the screen. Rows appear at most once a second while the log grows.
#pragma once

#include "logging/log_document.h"

#include <QAbstractTableModel>
#include <QTimer>

#include <string>

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
    kLogColumns
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
    ~LogListModel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Rows the list shows now (it catches up with the log once a second).
    int shownRows() const { return rows_; }
    // Catches up with the log at once.
    void CatchUp();

private:
    void OnReadingsAppended(LogDocument& log, uint64_t first, uint64_t count) override;
    void OnGapsChanged(LogDocument& log) override;
    void OnLogReset(LogDocument& log) override;

    LogDocument& log_;
    int rows_ = 0;
    QTimer growth_;
    LogSubscription subscription_;
};

} // namespace calvora
