#include "measure/gui/limits_dialog.h"

#include "recording/recording_document.h"
#include "recording/recording_state.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QSettings>
#include <QVBoxLayout>

#include <cmath>

namespace calvora {

namespace {

const QString kGroup = QStringLiteral("Limits");

QString NumberText(const std::optional<double>& value) {
    return value ? QString::number(*value, 'g', 12) : QString();
}

// Empty text is no number; anything else must read as one whole (a decimal point, not a comma).
std::optional<std::optional<double>> ParseNumber(const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return std::optional<double>();
    bool ok = false;
    const double value = QLocale::c().toDouble(trimmed, &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return std::optional<double>(value);
}

} // namespace

LimitSettings LoadDefaultLimits(QSettings& settings) {
    LimitSettings limits;
    settings.beginGroup(kGroup);
    const auto number = [&](const QString& key) -> std::optional<double> {
        const std::optional<std::optional<double>> parsed = ParseNumber(settings.value(key).toString());
        return parsed ? *parsed : std::nullopt;
    };
    limits.high = number(QStringLiteral("High"));
    limits.low = number(QStringLiteral("Low"));
    limits.hysteresis = number(QStringLiteral("Hysteresis"));
    limits.holdSeconds = number(QStringLiteral("HoldSeconds")).value_or(0);
    limits.actions.sound = settings.value(QStringLiteral("Sound"), limits.actions.sound).toBool();
    limits.actions.notify = settings.value(QStringLiteral("Notify"), limits.actions.notify).toBool();
    limits.actions.list = settings.value(QStringLiteral("List"), limits.actions.list).toBool();
    limits.actions.stopRecording =
        settings.value(QStringLiteral("StopRecording"), limits.actions.stopRecording).toBool();
    limits.actions.command = settings.value(QStringLiteral("Command")).toString().toStdU16String();
    settings.endGroup();
    // Settings edited by hand that cannot be limits are not taken.
    return CheckLimits(limits).empty() ? limits : LimitSettings{};
}

void StoreDefaultLimits(QSettings& settings, const LimitSettings& limits) {
    settings.beginGroup(kGroup);
    settings.setValue(QStringLiteral("High"), NumberText(limits.high));
    settings.setValue(QStringLiteral("Low"), NumberText(limits.low));
    settings.setValue(QStringLiteral("Hysteresis"), NumberText(limits.hysteresis));
    settings.setValue(QStringLiteral("HoldSeconds"), NumberText(limits.holdSeconds));
    settings.setValue(QStringLiteral("Sound"), limits.actions.sound);
    settings.setValue(QStringLiteral("Notify"), limits.actions.notify);
    settings.setValue(QStringLiteral("List"), limits.actions.list);
    settings.setValue(QStringLiteral("StopRecording"), limits.actions.stopRecording);
    settings.setValue(QStringLiteral("Command"), QString::fromStdU16String(limits.actions.command));
    settings.endGroup();
}

LimitsDialog::LimitsDialog(const LimitSettings& limits, bool highOn, bool lowOn, UserPrompts* prompts,
                           QWidget* parent)
    : QDialog(parent), prompts_(prompts), limits_(limits),
      highBox_(new QCheckBox(QStringLiteral("&High limit"))), high_(new QLineEdit(NumberText(limits.high))),
      lowBox_(new QCheckBox(QStringLiteral("&Low limit"))), low_(new QLineEdit(NumberText(limits.low))),
      hysteresis_(new QLineEdit(NumberText(limits.hysteresis))),
      hold_(new QLineEdit(NumberText(limits.holdSeconds))), sound_(new QCheckBox(QStringLiteral("&Sound"))),
      notify_(new QCheckBox(QStringLiteral("Desktop &notification"))),
      list_(new QCheckBox(QStringLiteral("Line in the &alarm list"))),
      commandBox_(new QCheckBox(QStringLiteral("&Run command:"))),
      command_(new QLineEdit(QString::fromStdU16String(limits.actions.command))),
      stop_(new QCheckBox(QStringLiteral("S&top the recording"))) {
    setWindowTitle(QStringLiteral("Limits"));
    highBox_->setChecked(highOn);
    lowBox_->setChecked(lowOn);
    hysteresis_->setPlaceholderText(QStringLiteral("1 % of the span"));
    sound_->setChecked(limits.actions.sound);
    notify_->setChecked(limits.actions.notify);
    list_->setChecked(limits.actions.list);
    commandBox_->setChecked(!limits.actions.command.empty());
    command_->setEnabled(commandBox_->isChecked());
    command_->setPlaceholderText(QStringLiteral("e.g. echo \"$CALVORA_VALUE\" >> alarms.log"));
    connect(commandBox_, &QCheckBox::toggled, command_, &QLineEdit::setEnabled);
    stop_->setChecked(limits.actions.stopRecording);

    auto* band = new QGroupBox(QStringLiteral("Limits"));
    auto* form = new QFormLayout(band);
    form->addRow(highBox_, high_);
    form->addRow(lowBox_, low_);
    form->addRow(QStringLiteral("H&ysteresis"), hysteresis_);
    auto* holdRow = new QHBoxLayout;
    holdRow->addWidget(hold_);
    holdRow->addWidget(new QLabel(QStringLiteral("seconds")));
    // A row that holds a layout gets a plain label: its mnemonic needs the edit as its buddy.
    auto* holdLabel = new QLabel(QStringLiteral("Hold &time"));
    holdLabel->setBuddy(hold_);
    form->addRow(holdLabel, holdRow);

    auto* actions = new QGroupBox(QStringLiteral("When an alarm is raised"));
    auto* column = new QVBoxLayout(actions);
    for (QWidget* box :
         {static_cast<QWidget*>(sound_), static_cast<QWidget*>(notify_), static_cast<QWidget*>(list_)})
        column->addWidget(box);
    auto* commandRow = new QHBoxLayout;
    commandRow->addWidget(commandBox_);
    commandRow->addWidget(command_, 1);
    column->addLayout(commandRow);
    column->addWidget(stop_);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &LimitsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &LimitsDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(band);
    layout->addWidget(actions);
    layout->addWidget(buttons);
}

bool LimitsDialog::highOn() const {
    return highBox_->isChecked();
}

bool LimitsDialog::lowOn() const {
    return lowBox_->isChecked();
}

void LimitsDialog::Refuse(const std::u16string& reason) {
    if (prompts_)
        prompts_->ShowMessage(reason, MessageIcon::Exclamation);
    else
        QMessageBox::warning(this, windowTitle(), QString::fromStdU16String(reason));
}

void LimitsDialog::accept() {
    LimitSettings typed;
    const struct {
        QLineEdit* edit;
        std::optional<double>* target;
    } fields[] = {{high_, &typed.high}, {low_, &typed.low}, {hysteresis_, &typed.hysteresis}};
    for (const auto& field : fields) {
        const auto parsed = ParseNumber(field.edit->text());
        if (!parsed) {
            Refuse(u"\"" + field.edit->text().toStdU16String() + u"\" is no number.");
            field.edit->setFocus();
            return;
        }
        *field.target = *parsed;
    }
    const auto hold = ParseNumber(hold_->text());
    if (!hold) {
        Refuse(u"\"" + hold_->text().toStdU16String() + u"\" is no number.");
        hold_->setFocus();
        return;
    }
    typed.holdSeconds = hold->value_or(0);
    typed.actions.sound = sound_->isChecked();
    typed.actions.notify = notify_->isChecked();
    typed.actions.list = list_->isChecked();
    typed.actions.stopRecording = stop_->isChecked();
    typed.actions.command =
        commandBox_->isChecked() ? command_->text().trimmed().toStdU16String() : std::u16string();
    if (const std::u16string reason = CheckLimits(typed); !reason.empty()) {
        Refuse(reason);
        return;
    }
    limits_ = typed;
    QDialog::accept();
}

bool EditLimits(RecordingDocument& document, QSettings& settings, UserPrompts* prompts, QWidget* parent) {
    LimitsDialog dialog(document.limits, document.settings.alarmHigh[0] != 0,
                        document.settings.alarmLow[0] != 0, prompts, parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    document.limits = dialog.limits();
    document.settings.alarmHigh[0] = dialog.highOn() ? 1 : 0;
    document.settings.alarmLow[0] = dialog.lowOn() ? 1 : 0;
    StoreDefaultLimits(settings, document.limits);
    document.AnnounceSettingsChanged();
    return true;
}

} // namespace calvora
