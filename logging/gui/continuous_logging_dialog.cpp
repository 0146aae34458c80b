#include "logging/gui/continuous_logging_dialog.h"

#include "logging/log_file.h"
#include "recording/recording_state.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <climits>

namespace calvora {

namespace {

// The duration's units, in seconds.
constexpr double kUnitSeconds[] = {1, 60, 3600, 86400};

} // namespace

ContinuousLoggingDialog::ContinuousLoggingDialog(const std::filesystem::path& folder, const QString& name,
                                                 UserPrompts& prompts, QWidget* parent)
    : QDialog(parent), prompts_(prompts), file_(new QLineEdit),
      noStop_(new QRadioButton(QStringLiteral("&Until stopped"))),
      byTime_(new QRadioButton(QStringLiteral("After a &duration of"))),
      byReadings_(new QRadioButton(QStringLiteral("After &N readings"))), duration_(new QDoubleSpinBox),
      unit_(new QComboBox), readings_(new QSpinBox),
      receiverBox_(new QGroupBox(QStringLiteral("Receivers"))) {
    setObjectName(QStringLiteral("ContinuousLoggingDialog"));
    setWindowTitle(QStringLiteral("Continuous Logging"));
    file_->setObjectName(QStringLiteral("logFile"));
    file_->setMinimumWidth(420);
    file_->setText(QString::fromStdU16String((folder / (name.toStdU16String() + u".calvlog")).u16string()));
    auto* browse = new QPushButton(QStringLiteral("&Browse..."));
    connect(browse, &QPushButton::clicked, this, &ContinuousLoggingDialog::Browse);
    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(file_, 1);
    fileRow->addWidget(browse);

    duration_->setRange(0.001, 1e6);
    duration_->setDecimals(3);
    duration_->setValue(24);
    unit_->addItems({QStringLiteral("seconds"), QStringLiteral("minutes"), QStringLiteral("hours"),
                     QStringLiteral("days")});
    unit_->setCurrentIndex(2);
    readings_->setRange(1, INT_MAX);
    readings_->setValue(100000);
    readings_->setGroupSeparatorShown(true);

    auto* stops = new QButtonGroup(this);
    for (QRadioButton* button : {noStop_, byTime_, byReadings_})
        stops->addButton(button);
    noStop_->setChecked(true);
    connect(stops, &QButtonGroup::buttonToggled, this, &ContinuousLoggingDialog::UpdateEnabled);

    auto* stopBox = new QGroupBox(QStringLiteral("Stop"));
    auto* stopLayout = new QFormLayout(stopBox);
    stopLayout->addRow(noStop_);
    auto* timeRow = new QHBoxLayout;
    timeRow->addWidget(duration_);
    timeRow->addWidget(unit_);
    stopLayout->addRow(byTime_, timeRow);
    stopLayout->addRow(byReadings_, readings_);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Start"));
    connect(buttons, &QDialogButtonBox::accepted, this, &ContinuousLoggingDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ContinuousLoggingDialog::reject);

    auto* layout = new QVBoxLayout(this);
    auto* fileForm = new QFormLayout;
    // The label's mnemonic needs a widget to go to; the row itself is a layout.
    auto* fileLabel = new QLabel(QStringLiteral("Log &file:"));
    fileLabel->setBuddy(file_);
    fileForm->addRow(fileLabel, fileRow);
    layout->addLayout(fileForm);
    new QVBoxLayout(receiverBox_);
    receiverBox_->hide();
    layout->addWidget(receiverBox_);
    layout->addWidget(stopBox);
    layout->addWidget(buttons);
    UpdateEnabled();
}

void ContinuousLoggingDialog::OfferReceivers(const QStringList& names) {
    for (QCheckBox* box : receivers_)
        delete box;
    receivers_.clear();
    receiverBox_->setVisible(names.size() > 1);
    if (names.size() < 2)
        return;
    for (const QString& name : names) {
        auto* box = new QCheckBox(name);
        box->setChecked(true);
        receiverBox_->layout()->addWidget(box);
        receivers_.push_back(box);
    }
}

std::vector<size_t> ContinuousLoggingDialog::chosenReceivers() const {
    if (receivers_.empty())
        return {0};
    std::vector<size_t> chosen;
    for (size_t k = 0; k < receivers_.size(); ++k) {
        if (receivers_[k]->isChecked())
            chosen.push_back(k);
    }
    return chosen;
}

void ContinuousLoggingDialog::UpdateEnabled() {
    duration_->setEnabled(byTime_->isChecked());
    unit_->setEnabled(byTime_->isChecked());
    readings_->setEnabled(byReadings_->isChecked());
}

void ContinuousLoggingDialog::Browse() {
    QFileDialog dialog(this, QStringLiteral("Log File"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters({QStringLiteral("Continuous Logs (*.calvlog)")});
    dialog.setDefaultSuffix(QStringLiteral("calvlog"));
    dialog.setOption(QFileDialog::DontConfirmOverwrite); // OK asks, for the file actually written
    const QFileInfo current(file_->text());
    dialog.setDirectory(current.absolutePath());
    dialog.selectFile(current.fileName());
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        file_->setText(dialog.selectedFiles().constFirst());
}

std::filesystem::path ContinuousLoggingDialog::path() const {
    QString text = file_->text().trimmed();
    if (!text.endsWith(QStringLiteral(".calvlog"), Qt::CaseInsensitive))
        text += QStringLiteral(".calvlog");
    return std::filesystem::path(text.toStdU16String());
}

LogStopCondition ContinuousLoggingDialog::stopCondition() const {
    LogStopCondition stop;
    if (byTime_->isChecked()) {
        stop.kind = LogStopCondition::Kind::Duration;
        stop.durationMs =
            static_cast<int64_t>(duration_->value() * kUnitSeconds[unit_->currentIndex()] * 1000);
    } else if (byReadings_->isChecked()) {
        stop.kind = LogStopCondition::Kind::Readings;
        stop.readings = static_cast<uint64_t>(readings_->value());
    }
    return stop;
}

void ContinuousLoggingDialog::accept() {
    if (file_->text().trimmed().isEmpty()) {
        prompts_.ShowMessage(u"Choose a file for the log.", MessageIcon::Exclamation);
        return;
    }
    if (chosenReceivers().empty()) {
        prompts_.ShowMessage(u"Choose at least one receiver for the log.", MessageIcon::Exclamation);
        return;
    }
    const std::filesystem::path chosen = path();
    std::error_code error;
    if (std::filesystem::exists(chosen, error)) {
        if (!prompts_.AskYesNo(chosen.filename().u16string() +
                               u" already exists.\nDo you want to replace it?"))
            return;
        for (const char* suffix : {"", "-wal", "-shm"})
            std::filesystem::remove(chosen.string() + suffix, error);
        if (std::filesystem::exists(chosen, error)) {
            prompts_.ShowMessage(u"Cannot replace " + chosen.filename().u16string() + u": " +
                                     std::u16string(QString::fromStdString(error.message()).toStdU16String()),
                                 MessageIcon::Exclamation);
            return;
        }
    }
    QDialog::accept();
}

} // namespace calvora
