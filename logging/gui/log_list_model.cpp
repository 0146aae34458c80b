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

LogListModel::LogListModel(LogDocument& log, QObject* parent)
    : QAbstractTableModel(parent), log_(log),
      rows_(static_cast<int>(std::min<size_t>(log.readingCount(), INT_MAX))) {
    growth_.setSingleShot(true);
    growth_.setInterval(kGrowthMs);
    connect(&growth_, &QTimer::timeout, this, &LogListModel::CatchUp);
    subscription_ = log_.Subscribe(*this);
}

LogListModel::~LogListModel() = default;

int LogListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}

int LogListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kLogColumns;
}

QVariant LogListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rows_)
        return {};
    const auto row = static_cast<size_t>(index.row());
    if (role == Qt::DisplayRole)
        return QString::fromStdU16String(LogCellText(log_, row, index.column()));
    if (role == Qt::BackgroundRole && GapBefore(log_, row) != nullptr)
        return QColor(255, 244, 200);
    if (role == Qt::TextAlignmentRole && (index.column() == kLogNumber || index.column() == kLogValue))
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

QVariant LogListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= kLogColumns)
        return {};
    return QString::fromStdU16String(kHeaders[section]);
}

void LogListModel::CatchUp() {
    const int target = static_cast<int>(std::min<size_t>(log_.readingCount(), INT_MAX));
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
    rows_ = static_cast<int>(std::min<size_t>(log_.readingCount(), INT_MAX));
    endResetModel();
}

} // namespace calvora
