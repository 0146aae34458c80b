#include "logging/gui/log_list_model.h"

#include "chart/time_axis.h"
#include "protocol/formatters.h"
#include "protocol/text.h"

#include <QColor>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>

namespace calvora {

namespace {

constexpr const char16_t* kHeaders[kLogColumns] = {u"No.",        u"Time", u"Function", u"Mode",
                                                   u"Data Value", u"Unit", u"Flags",    u"Gap before"};

const LogGap* GapBefore(const LogDocument& log, size_t row) {
    const auto& gaps = log.gaps();
    const auto found =
        std::find_if(gaps.begin(), gaps.end(), [row](const LogGap& gap) { return gap.before == row; });
    return found == gaps.end() ? nullptr : &*found;
}

std::u16string Seconds(int64_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(ms) / 1000);
    return fromAscii(text);
}

} // namespace

std::u16string LocalTimeText(int64_t utcMs) {
    const int32_t offset = SystemLocalOffset()(utcMs);
    const int64_t local = utcMs + int64_t{offset} * 1000;
    const CivilDate date = CivilFromDays(FloorDiv(local, 86'400'000));
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %s", date.year, date.month, date.day,
                  FormatTimeLabel(utcMs, TimeLabelStyle::Milliseconds, offset).c_str());
    return fromAscii(text);
}

std::u16string LogCellText(const LogDocument& log, size_t row, int column) {
    if (row >= log.readingCount())
        return {};
    const LogState& state = log.state(row);
    switch (column) {
    case kLogNumber:
        return fromAscii(std::to_string(row + 1));
    case kLogTime:
        return LocalTimeText(log.timeMs(row));
    case kLogFunction:
        return state.functionName;
    case kLogMode:
        return state.mode;
    case kLogValue:
        if ((state.flags & kLogOverload) != 0)
            return u"OL";
        if ((state.flags & kLogUnderload) != 0)
            return u"-OL";
        return FormatStoredValue(log.value(row), state.fullScale, static_cast<int32_t>(state.lowLimit));
    case kLogUnit:
        return state.unit;
    case kLogFlags: {
        std::u16string flags;
        for (const auto& [bit, name] :
             {std::pair{kLogHold, u"HOLD"}, std::pair{kLogPeak, u"PEAK"}, std::pair{kLogAutoRange, u"AUTO"},
              std::pair{kLogAcPlusDc, u"AC+DC"}}) {
            if ((state.flags & bit) != 0)
                flags += (flags.empty() ? u"" : u" ") + std::u16string(name);
        }
        return flags;
    }
    case kLogGap:
        if (const LogGap* gap = GapBefore(log, row))
            return Seconds(gap->endMs.value_or(gap->startMs) - gap->startMs) + u": " + gap->reason;
        return {};
    default:
        return {};
    }
}

namespace {

constexpr int kMeterShift = 56;
constexpr uint64_t kReadingMask = (uint64_t{1} << kMeterShift) - 1;

LogSet BorrowedSet(LogDocument& log) {
    LogSet set;
    // The caller owns the log: the model only borrows it.
    set.meters.push_back({{}, std::shared_ptr<LogDocument>(std::shared_ptr<LogDocument>(), &log)});
    return set;
}

} // namespace

LogListModel::LogListModel(LogDocument& log, QObject* parent) : LogListModel(BorrowedSet(log), parent) {
}

LogListModel::LogListModel(const LogSet& set, QObject* parent)
    : QAbstractTableModel(parent), meters_(set.meters), listed_(set.meters.size(), 0) {
    growth_.setSingleShot(true);
    growth_.setInterval(kGrowthMs);
    connect(&growth_, &QTimer::timeout, this, &LogListModel::CatchUp);
    for (const LogMeter& meter : meters_)
        subscriptions_.push_back(meter.log->Subscribe(*this));
    Merge();
    rows_ = static_cast<int>(std::min<size_t>(TotalReadings(), INT_MAX));
}

LogListModel::~LogListModel() = default;

size_t LogListModel::TotalReadings() const {
    if (meters_.size() == 1)
        return meters_.front().log->readingCount();
    return order_.size();
}

void LogListModel::Merge() {
    if (meters_.size() < 2)
        return;
    // The readings each meter holds beyond those listed, taken earliest first.
    for (;;) {
        size_t next = meters_.size();
        int64_t nextMs = INT64_MAX;
        for (size_t m = 0; m < meters_.size(); ++m) {
            const LogDocument& log = *meters_[m].log;
            if (listed_[m] < log.readingCount() && log.timeMs(listed_[m]) < nextMs) {
                next = m;
                nextMs = log.timeMs(listed_[m]);
            }
        }
        if (next == meters_.size())
            return;
        order_.push_back(uint64_t{next} << kMeterShift | listed_[next]++);
    }
}

std::pair<size_t, size_t> LogListModel::ReadingAt(size_t row) const {
    if (meters_.size() == 1)
        return {0, row};
    const uint64_t entry = row < order_.size() ? order_[row] : 0;
    return {static_cast<size_t>(entry >> kMeterShift), static_cast<size_t>(entry & kReadingMask)};
}

int LogListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}

int LogListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kLogColumns + (meters_.size() > 1 ? 1 : 0);
}

QVariant LogListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rows_)
        return {};
    const auto row = static_cast<size_t>(index.row());
    const auto [meter, reading] = ReadingAt(row);
    const LogDocument& log = *meters_[meter].log;
    if (role == Qt::DisplayRole) {
        if (index.column() == kLogMeterColumn)
            return QString::fromStdString(meters_[meter].facts.name);
        if (index.column() == kLogNumber)
            return QString::number(row + 1);
        return QString::fromStdU16String(LogCellText(log, reading, index.column()));
    }
    if (role == Qt::BackgroundRole && GapBefore(log, reading) != nullptr)
        return QColor(255, 244, 200);
    if (role == Qt::TextAlignmentRole && (index.column() == kLogNumber || index.column() == kLogValue))
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

QVariant LogListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= columnCount())
        return {};
    if (section == kLogMeterColumn)
        return QStringLiteral("Meter");
    return QString::fromStdU16String(kHeaders[section]);
}

void LogListModel::CatchUp() {
    Merge();
    const int target = static_cast<int>(std::min<size_t>(TotalReadings(), INT_MAX));
    if (target > rows_) {
        beginInsertRows(QModelIndex(), rows_, target - 1);
        rows_ = target;
        endInsertRows();
    }
}

void LogListModel::OnReadingsAppended(LogDocument&, uint64_t, uint64_t) {
    if (!growth_.isActive())
        growth_.start();
}

void LogListModel::OnGapsChanged(LogDocument&) {
    if (rows_ > 0)
        Q_EMIT dataChanged(index(0, kLogGap), index(rows_ - 1, kLogGap));
}

void LogListModel::OnLogReset(LogDocument&) {
    beginResetModel();
    order_.clear();
    std::fill(listed_.begin(), listed_.end(), 0);
    Merge();
    rows_ = static_cast<int>(std::min<size_t>(TotalReadings(), INT_MAX));
    endResetModel();
}

} // namespace calvora
