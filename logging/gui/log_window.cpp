#include "logging/gui/log_window.h"

#include "chart/gui/time_chart_view.h"
#include "logging/gui/log_list_model.h"
#include "logging/log_export.h"
#include "logging/log_file.h"
#include "logging/log_loader.h"
#include "protocol/formatters.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

namespace calvora {

namespace {

QString LocalSeconds(int64_t utcMs) {
    // The list's text without its milliseconds.
    return QString::fromStdU16String(LocalTimeText(utcMs)).left(19);
}

LogSet SetOf(std::shared_ptr<LogDocument> log) {
    LogSet set;
    set.meta = log->meta();
    set.meters.push_back({{}, std::move(log)});
    return set;
}

} // namespace

LogWindow::LogWindow(std::shared_ptr<LogDocument> log, QWidget* parent)
    : LogWindow(SetOf(std::move(log)), true, parent) {
}

LogWindow::LogWindow(LogSet set, QWidget* parent) : LogWindow(std::move(set), true, parent) {
}

LogWindow::LogWindow(LogSet set, bool writtenHere, QWidget* parent)
    : QMdiSubWindow(parent), set_(std::move(set)), log_(set_.meters.front().log), writtenHere_(writtenHere),
      tabs_(new QTabWidget), chart_(new TimeChartView), list_(new QTableView),
      model_(new LogListModel(set_, this)), status_(new QLabel), meterBox_(new QComboBox) {
    setAttribute(Qt::WA_DeleteOnClose);
    // A log of several meters is named by its file; one meter's by its document's title.
    setWindowTitle(
        QString::fromStdU16String(set_.several() && !set_.title.empty() ? set_.title : log_->title));
    auto* client = new QWidget;
    auto* layout = new QVBoxLayout(client);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(4);
    tabs_->setObjectName(QStringLiteral("logTabs"));
    tabs_->addTab(chart_, QStringLiteral("Data Graph"));
    tabs_->addTab(list_, QStringLiteral("Data List"));
    layout->addWidget(tabs_, 1);
    status_->setObjectName(QStringLiteral("logStatus"));
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    status_->setWordWrap(true);
    auto* statusRow = new QHBoxLayout;
    statusRow->addWidget(status_, 1);
    meterBox_->setObjectName(QStringLiteral("logMeter"));
    meterBox_->setToolTip(QStringLiteral("The meter that Export and Statistics take"));
    for (const LogMeter& meter : set_.meters)
        meterBox_->addItem(QString::fromStdString(meter.facts.name));
    meterBox_->setVisible(set_.several());
    connect(meterBox_, &QComboBox::currentIndexChanged, this,
            [this](int index) { SetCurrentMeter(static_cast<size_t>(std::max(index, 0))); });
    statusRow->addWidget(meterBox_);
    layout->addLayout(statusRow);
    setWidget(client);

    list_->setModel(model_);
    list_->verticalHeader()->hide();
    list_->verticalHeader()->setDefaultSectionSize(list_->fontMetrics().height() + 4);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setAlternatingRowColors(true);
    list_->horizontalHeader()->setStretchLastSection(true);
    const int widths[kLogColumns + 1] = {80, 190, 90, 80, 100, 60, 130, 200, 160};
    for (int c = 0; c < model_->columnCount(); ++c)
        list_->setColumnWidth(c, widths[c]);
    // A log of several meters names each reading's meter beside its number.
    if (set_.several())
        list_->horizontalHeader()->moveSection(kLogMeterColumn, kLogTime);

    chart_->SetEmptyText(writtenHere_ ? QStringLiteral("Waiting for the first reading...") : QString());
    ShowSeries();
    for (const LogMeter& meter : set_.meters)
        subscriptions_.push_back(meter.log->Subscribe(*this));
    followTimer_.setInterval(kFollowMs);
    connect(&followTimer_, &QTimer::timeout, this, &LogWindow::Follow);
    // The elapsed time and size move on between readings too.
    statusTimer_.setInterval(1000);
    connect(&statusTimer_, &QTimer::timeout, this, &LogWindow::UpdateStatus);
    statusTimer_.start();
    UpdateStatus();
}

LogWindow::~LogWindow() {
    // The loading thread is stopped before the window it reports to goes.
    loader_.reset();
}

LogWindow::LogWindow(std::unique_ptr<LogLoader> loader, const QString& path, QWidget* parent)
    : LogWindow(loader->set(), false, parent) {
    pathName_ = path;
    loader_ = std::move(loader);
    // The loading thread reports through a queued call; the window stops it before it goes.
    loader_->Start([target = QPointer<LogWindow>(this)] {
        QMetaObject::invokeMethod(target.data(), &LogWindow::OnLoaded, Qt::QueuedConnection);
    });
    chart_->SetEmptyText(QStringLiteral("The log holds no readings yet."));
    UpdateStatus();
}

void LogWindow::OnLoaded() {
    if (!loader_)
        return;
    const Outcome<void> finished = loader_->Finish();
    const uint64_t loadedTo = loader_->lastSample();
    loader_.reset();
    if (!finished)
        problem_ = QString::fromStdU16String(finished.reason());
    else if (!log_->meta().count("stopped_utc") && !pathName_.isEmpty()) {
        // Another program (or another Calvora) still writes it: follow what it commits.
        follower_ =
            std::make_unique<LogFollower>(std::filesystem::path(pathName_.toStdU16String()), loadedTo);
        followTimer_.start();
        Follow();
    }
    UpdateStatus();
    Q_EMIT loaded();
}

void LogWindow::Follow() {
    if (!follower_)
        return;
    const auto polled = follower_->Poll(set_);
    if (!polled) {
        problem_ =
            QStringLiteral("The file can no longer be read: ") + QString::fromStdU16String(polled.reason());
        follower_.reset();
        followTimer_.stop();
    } else if (log_->meta().count("stopped_utc")) {
        follower_.reset();
        followTimer_.stop();
    }
    UpdateStatus();
}

std::vector<TimeChartTrace> LogWindow::Traces() const {
    std::vector<TimeChartTrace> traces;
    for (const LogMeter& meter : set_.meters) {
        const LogDocument& log = *meter.log;
        QString unit;
        if (log.loaded() && log.readingCount() > 0)
            unit = QString::fromStdU16String(log.state(log.readingCount() - 1).unit);
        traces.push_back({&log.series(), QString::fromStdString(meter.facts.name), unit});
    }
    return traces;
}

// One trace per meter, each on a scale and axis of its own; a zoom the user chose stays.
void LogWindow::ShowSeries() {
    const TimeWindow shown = chart_->window();
    chart_->SetTraces(Traces());
    if (shown.zoomed)
        chart_->SetWindow(shown);
}

void LogWindow::SetCurrentMeter(size_t index) {
    if (index >= set_.meters.size() || set_.meters[index].log == log_)
        return;
    log_ = set_.meters[index].log;
    if (meterBox_->currentIndex() != static_cast<int>(index))
        meterBox_->setCurrentIndex(static_cast<int>(index));
    UpdateStatus();
}

void LogWindow::OnReadingsAppended(LogDocument&, uint64_t first, uint64_t) {
    // A meter's first reading gives its trace a unit and a scale.
    if (first == 0)
        ShowSeries();
    chart_->SeriesChanged();
}

void LogWindow::OnGapsChanged(LogDocument&) {
    chart_->SeriesChanged();
    UpdateStatus();
}

void LogWindow::OnLogReset(LogDocument&) {
    ShowSeries();
    UpdateStatus();
}

LogRange LogWindow::ShownRange() const {
    if (!log_->loaded() || !chart_->window().zoomed)
        return {0, log_->readingCount()};
    return RangeOfTimes(*log_, chart_->window().startMs, chart_->window().endMs);
}

void LogWindow::UpdateStatus() {
    const auto gapText = [](size_t gaps) {
        return gaps == 1 ? QStringLiteral(", 1 gap") : QStringLiteral(", %1 gaps").arg(gaps);
    };
    QString text;
    if (!set_.several()) {
        const uint64_t count = log_->expectedCount();
        text = QStringLiteral("%1 readings").arg(QString::fromStdU16String(GroupedNumber(count)));
        const TimeSeries& series = log_->series();
        if (series.readingCount() > 0)
            text += QStringLiteral(" from %1 to %2")
                        .arg(LocalSeconds(series.firstTime()), LocalSeconds(series.lastTime()));
        text += gapText(log_->gaps().size());
    } else {
        // "Supply: 1,204 readings, 1 gap; Load: 3,010 readings, 0 gaps (no signal since ...)".
        for (const LogMeter& meter : set_.meters) {
            const LogDocument& log = *meter.log;
            if (!text.isEmpty())
                text += QStringLiteral("; ");
            text += QStringLiteral("%1: %2 readings")
                        .arg(QString::fromStdString(meter.facts.name),
                             QString::fromStdU16String(GroupedNumber(log.expectedCount())));
            text += gapText(log.gaps().size());
            if (log.gapOpen())
                text += QStringLiteral(" (no signal since %1)").arg(LocalSeconds(log.gaps().back().startMs));
        }
    }
    if (!problem_.isEmpty())
        text += QStringLiteral(" - ") + problem_;
    else if (loader_)
        text += QStringLiteral(" - loading the readings...");
    else if (follower_)
        text += QStringLiteral(" - following: another program is writing this log");
    else if (writtenHere_ && !log_->meta().count("stopped_utc"))
        text += QStringLiteral(" - logging");
    if (!set_.several() && log_->gapOpen())
        text += QStringLiteral(" (no signal since %1)").arg(LocalSeconds(log_->gaps().back().startMs));
    status_->setText(text);
}

void LogWindow::Print(QPrinter& printer) {
    chart_->Print(printer);
}

void LogWindow::PrintPreview(QPrinter& printer) {
    QPrintPreviewDialog preview(&printer, this);
    connect(&preview, &QPrintPreviewDialog::paintRequested, this,
            [this](QPrinter* target) { Print(*target); });
    preview.exec();
}

void LogWindow::closeEvent(QCloseEvent* event) {
    bool accept = true;
    Q_EMIT closeRequested(this, accept);
    if (!accept) {
        event->ignore();
        return;
    }
    Q_EMIT aboutToClose(this);
    QMdiSubWindow::closeEvent(event);
}

} // namespace calvora
