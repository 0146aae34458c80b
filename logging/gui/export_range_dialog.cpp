#include "logging/gui/export_range_dialog.h"

#include "logging/log_document.h"
#include "logging/log_export.h"
#include "protocol/formatters.h"

#include <QDateTime>
#include <QDateTimeEdit>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace calvora {

namespace {

const QString kFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz");

QDateTimeEdit* TimeEdit(int64_t utcMs, int64_t first, int64_t last) {
    auto* edit = new QDateTimeEdit(QDateTime::fromMSecsSinceEpoch(utcMs));
    edit->setDisplayFormat(kFormat);
    edit->setDateTimeRange(QDateTime::fromMSecsSinceEpoch(first), QDateTime::fromMSecsSinceEpoch(last));
    edit->setCalendarPopup(true);
    return edit;
}

} // namespace

ExportRangeDialog::ExportRangeDialog(const LogDocument& log, const LogRange& proposed, QWidget* parent)
    : QDialog(parent), log_(log) {
    setObjectName(QStringLiteral("ExportRangeDialog"));
    setWindowTitle(QStringLiteral("Export Log as Recording"));
    const int64_t first = log.readingCount() > 0 ? log.firstTime() : 0;
    const int64_t last = log.readingCount() > 0 ? log.lastTime() : 0;
    const int64_t from = proposed.count() > 0 ? log.timeMs(proposed.first) : first;
    const int64_t to = proposed.count() > 0 ? log.timeMs(proposed.end - 1) : last;
    from_ = TimeEdit(from, first, last);
    to_ = TimeEdit(to, first, last);
    count_ = new QLabel;
    count_->setObjectName(QStringLiteral("exportCount"));
    count_->setWordWrap(true);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    ok_ = buttons->button(QDialogButtonBox::Ok);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(from_, &QDateTimeEdit::dateTimeChanged, this, &ExportRangeDialog::UpdateCount);
    connect(to_, &QDateTimeEdit::dateTimeChanged, this, &ExportRangeDialog::UpdateCount);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("&From:"), from_);
    form->addRow(QStringLiteral("&To:"), to_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(
        new QLabel(QStringLiteral("The readings from and to these times (local time) go into a new "
                                  "recording window, to be saved or exported like any recording.")));
    layout->addLayout(form);
    layout->addWidget(count_);
    layout->addWidget(buttons);
    UpdateCount();
}

LogRange ExportRangeDialog::range() const {
    return RangeOfTimes(log_, from_->dateTime().toMSecsSinceEpoch(), to_->dateTime().toMSecsSinceEpoch());
}

void ExportRangeDialog::UpdateCount() {
    const LogRange chosen = range();
    const bool tooMany = chosen.count() > kMaxExportReadings;
    if (tooMany)
        count_->setText(QString::fromStdU16String(RangeTooLongMessage(chosen.count())));
    else
        count_->setText(
            QStringLiteral("%1 readings").arg(QString::fromStdU16String(GroupedNumber(chosen.count()))));
    count_->setStyleSheet(tooMany ? QStringLiteral("color: #b00000") : QString());
    ok_->setEnabled(chosen.count() > 0 && !tooMany);
}

} // namespace calvora
