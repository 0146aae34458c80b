#include "measure/gui/statistics_page.h"

#include "measure/statistics_tracker.h"
#include "recording/recording_document.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QKeyEvent>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <chrono>

namespace calvora {

namespace {

double SteadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

QString Q(const std::u16string& text) {
    return QString::fromStdU16String(text);
}

QString GroupName(const GroupStatistics& group) {
    return group.unit.empty() ? Q(group.functionName) : Q(group.functionName + u"  " + group.unit);
}

// "1.2345 (No. 17, 12/07/26 22:05:20)".
QString Extreme(double value, uint64_t number, const SampleSource& source) {
    QString time = Q(std::u16string(source.Sample(number - 1).timeText)).trimmed();
    return QStringLiteral("%1 (No. %2%3)")
        .arg(Q(StoredValueText(value)), QString::number(number),
             time.isEmpty() ? QString() : QStringLiteral(", ") + time);
}

// The rows of one group, as (figure, text).
std::vector<std::pair<QString, QString>> GroupRows(const GroupStatistics* group, const SampleSource& source) {
    const auto none = QStringLiteral("\u2013");
    if (group == nullptr)
        return {{QStringLiteral("Count"), none},   {QStringLiteral("Overloads"), none},
                {QStringLiteral("Minimum"), none}, {QStringLiteral("Maximum"), none},
                {QStringLiteral("Mean"), none},    {QStringLiteral("Std. dev."), none}};
    const bool any = group->count > 0;
    return {{QStringLiteral("Count"), QString::number(group->count)},
            {QStringLiteral("Overloads"), QString::number(group->overloads)},
            {QStringLiteral("Minimum"), any ? Extreme(group->min, group->minAt, source) : none},
            {QStringLiteral("Maximum"), any ? Extreme(group->max, group->maxAt, source) : none},
            {QStringLiteral("Mean"), any ? Q(FigureText(group->mean)) : none},
            {QStringLiteral("Std. dev."), any ? Q(FigureText(group->stddev)) : none}};
}

const GroupStatistics* Find(const RangeStatistics& statistics, const GroupStatistics& like) {
    for (const GroupStatistics& group : statistics.groups) {
        if (group.functionName == like.functionName && group.unit == like.unit)
            return &group;
    }
    return nullptr;
}

QString Samples(SampleRange range) {
    return range.count() == 0 ? QStringLiteral("none")
                              : QStringLiteral("%1 to %2").arg(range.first).arg(range.last);
}

} // namespace

StatisticsPage::StatisticsPage(QWidget* parent)
    : QWidget(parent), table_(new QTreeWidget(this)), clock_(&SteadySeconds) {
    setObjectName(QStringLiteral("StatisticsPage"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(table_);
    table_->setColumnCount(3);
    table_->setHeaderLabels({QString(), QStringLiteral("Whole document"), QStringLiteral("Visible")});
    table_->setRootIsDecorated(false);
    table_->setSelectionMode(QAbstractItemView::NoSelection);
    table_->setFocusPolicy(Qt::StrongFocus);
    table_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table_->setContextMenuPolicy(Qt::ActionsContextMenu);

    // The key itself is taken by the table (eventFilter): a shortcut would be ambiguous with the main
    // window's own Ctrl+C, and Qt then runs neither.
    auto* copy = new QAction(QStringLiteral("&Copy Statistics\tCtrl+C"), this);
    connect(copy, &QAction::triggered, this, &StatisticsPage::CopyToClipboard);
    table_->addAction(copy);
    table_->installEventFilter(this);

    connect(&timer_, &QTimer::timeout, this, &StatisticsPage::Refresh);
    timer_.start(kRefreshMs);
}

StatisticsPage::~StatisticsPage() = default;

StatisticsTracker* StatisticsPage::TrackerOf(RecordingDocument* document) {
    auto& tracker = trackers_[document];
    if (!tracker)
        tracker = std::make_unique<StatisticsTracker>(*document, [this] { return clock_(); });
    return tracker.get();
}

void StatisticsPage::SetDocument(RecordingDocument* document) {
    if (document == document_)
        return;
    document_ = document;
    if (document_)
        TrackerOf(document_);
    Refresh();
}

void StatisticsPage::Forget(RecordingDocument* document) {
    if (document == document_) {
        document_ = nullptr;
        Refresh();
    }
    trackers_.erase(document);
}

std::pair<SampleRange, QString> StatisticsPage::SecondRange() const {
    const auto count = static_cast<int32_t>(document_->sampleCount());
    const auto clamp = [count](SampleRange range) {
        range.last = std::min(range.last, count);
        return range;
    };
    const SampleRange selection = clamp(document_->layout.selection);
    if (selection.count() > 0)
        return {selection, QStringLiteral("Selection")};
    const SampleRange shown = clamp(document_->layout.shown);
    return {shown.count() > 0 ? shown : SampleRange{1, count}, QStringLiteral("Visible")};
}

void StatisticsPage::Refresh() {
    Shown now;
    if (document_) {
        now.document = document_;
        now.revision = TrackerOf(document_)->revision();
        now.range = SecondRange().first;
        now.live = document_->liveActive;
    }
    // A live document's rate moves with the clock: it is shown again on every tick.
    if (shown_ && *shown_ == now && !now.live)
        return;
    shown_ = now;
    Fill();
}

void StatisticsPage::Fill() {
    table_->setUpdatesEnabled(false);
    table_->clear();
    if (!document_) {
        range_ = {};
        table_->setHeaderLabels({QString(), QStringLiteral("Whole document"), QStringLiteral("Visible")});
        table_->setUpdatesEnabled(true);
        return;
    }
    StatisticsTracker& tracker = *TrackerOf(document_);
    const DocumentSamples source(*document_);
    std::tie(range_, rangeName_) = SecondRange();
    const RangeStatistics whole = tracker.Whole();
    const RangeStatistics part = tracker.Range(static_cast<uint64_t>(std::max(range_.first, 1)),
                                               static_cast<uint64_t>(std::max(range_.last, 0)));
    table_->setHeaderLabels({QString(), QStringLiteral("Whole document"), rangeName_});

    const auto add = [this](QTreeWidgetItem* parent, const QString& figure, const QString& a,
                            const QString& b) {
        auto* item = parent ? new QTreeWidgetItem(parent, {figure, a, b})
                            : new QTreeWidgetItem(table_, {figure, a, b});
        return item;
    };
    add(nullptr, QStringLiteral("Samples"), Samples({1, static_cast<int32_t>(document_->sampleCount())}),
        Samples(range_));
    if (const std::optional<double> rate = tracker.readingRate())
        add(nullptr, QStringLiteral("Reading rate"), QStringLiteral("%1 /s").arg(*rate, 0, 'f', 2),
            QString());
    for (const GroupStatistics& group : whole.groups) {
        QTreeWidgetItem* heading = add(nullptr, GroupName(group), QString(), QString());
        QFont bold = heading->font(0);
        bold.setBold(true);
        heading->setFont(0, bold);
        const auto wholeRows = GroupRows(&group, source);
        const auto partRows = GroupRows(Find(part, group), source);
        for (size_t r = 0; r < wholeRows.size(); ++r)
            add(nullptr, QStringLiteral("    ") + wholeRows[r].first, wholeRows[r].second,
                partRows[r].second);
    }
    table_->setUpdatesEnabled(true);
}

QString StatisticsPage::Text() const {
    if (!document_)
        return {};
    const auto it = trackers_.find(document_);
    if (it == trackers_.end())
        return {};
    const DocumentSamples source(*document_);
    const auto section = [&](const QString& name, const RangeStatistics& statistics) {
        return QStringLiteral("%1: samples %2\n%3")
            .arg(name, Samples({static_cast<int32_t>(statistics.from), static_cast<int32_t>(statistics.to)}),
                 Q(TabSeparated(StatisticsRows(statistics, &source))));
    };
    QString text = QStringLiteral("%1\n").arg(Q(document_->title));
    text += section(QStringLiteral("Whole document"), it->second->Whole());
    if (const std::optional<double> rate = it->second->readingRate())
        text += QStringLiteral("Reading rate\t%1 /s\n").arg(*rate, 0, 'f', 2);
    text += QLatin1Char('\n');
    const auto [range, name] = SecondRange();
    text += section(name, it->second->Range(static_cast<uint64_t>(std::max(range.first, 1)),
                                            static_cast<uint64_t>(std::max(range.last, 0))));
    return text;
}

bool StatisticsPage::eventFilter(QObject* watched, QEvent* event) {
    const bool key = event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress;
    if (watched == table_ && key && static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
        // Accepting the override sends the key to the table instead of to any shortcut.
        if (event->type() == QEvent::KeyPress)
            CopyToClipboard();
        event->accept();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void StatisticsPage::CopyToClipboard() const {
    if (document_)
        QApplication::clipboard()->setText(Text());
}

} // namespace calvora
