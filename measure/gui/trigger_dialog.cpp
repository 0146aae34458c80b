#include "measure/gui/trigger_dialog.h"

#include "recording/recording_state.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QRadioButton>
#include <QSpinBox>
#include <QTime>
#include <QTimeEdit>
#include <QVBoxLayout>

#include <cmath>

namespace calvora {

TriggerDialog::TriggerDialog(const TriggerSettings& trigger, UserPrompts* prompts, QWidget* parent)
    : QDialog(parent), prompts_(prompts), trigger_(trigger),
      immediate_(new QRadioButton(QStringLiteral("Start &at once"))),
      levelButton_(new QRadioButton(QStringLiteral("When the reading &crosses"))),
      timeButton_(new QRadioButton(QStringLiteral("At the &time of day"))),
      level_(new QLineEdit(QString::number(trigger.level, 'g', 12))), edge_(new QComboBox),
      time_(new QTimeEdit(QTime(0, 0).addSecs(trigger.secondOfDay))), preTrigger_(new QSpinBox) {
    setWindowTitle(QStringLiteral("Trigger"));
    edge_->addItems({QStringLiteral("rising"), QStringLiteral("falling"), QStringLiteral("either way")});
    edge_->setCurrentIndex(static_cast<int>(trigger.edge));
    time_->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    preTrigger_->setRange(0, static_cast<int>(kMaxPreTrigger));
    preTrigger_->setValue(static_cast<int>(trigger.preTrigger));
    switch (trigger.kind) {
    case TriggerKind::Immediate:
        immediate_->setChecked(true);
        break;
    case TriggerKind::Level:
        levelButton_->setChecked(true);
        break;
    case TriggerKind::TimeOfDay:
        timeButton_->setChecked(true);
        break;
    }

    auto* grid = new QGridLayout;
    grid->addWidget(immediate_, 0, 0, 1, 3);
    grid->addWidget(levelButton_, 1, 0);
    grid->addWidget(level_, 1, 1);
    grid->addWidget(edge_, 1, 2);
    grid->addWidget(timeButton_, 2, 0);
    grid->addWidget(time_, 2, 1);
    auto* preLabel = new QLabel(QStringLiteral("Readings kept from &before the trigger"));
    preLabel->setBuddy(preTrigger_);
    grid->addWidget(preLabel, 3, 0);
    grid->addWidget(preTrigger_, 3, 1);
    for (QRadioButton* button : {immediate_, levelButton_, timeButton_})
        connect(button, &QRadioButton::toggled, this, &TriggerDialog::UpdateEnabled);

    auto* note =
        new QLabel(QStringLiteral("The choice applies to the next recording; Real Time Chart Recording "
                                  "still asks for the number of samples, which the kept readings are "
                                  "part of."));
    note->setWordWrap(true);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &TriggerDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &TriggerDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(note);
    layout->addWidget(buttons);
    UpdateEnabled();
}

void TriggerDialog::UpdateEnabled() {
    level_->setEnabled(levelButton_->isChecked());
    edge_->setEnabled(levelButton_->isChecked());
    time_->setEnabled(timeButton_->isChecked());
    preTrigger_->setEnabled(!immediate_->isChecked());
}

void TriggerDialog::accept() {
    TriggerSettings chosen = trigger_;
    chosen.kind = levelButton_->isChecked()  ? TriggerKind::Level
                  : timeButton_->isChecked() ? TriggerKind::TimeOfDay
                                             : TriggerKind::Immediate;
    bool ok = false;
    const double level = QLocale::c().toDouble(level_->text().trimmed(), &ok);
    if (chosen.kind == TriggerKind::Level && (!ok || !std::isfinite(level))) {
        const std::u16string reason = u"The level must be a number.";
        if (prompts_)
            prompts_->ShowMessage(reason, MessageIcon::Exclamation);
        else
            QMessageBox::warning(this, windowTitle(), QString::fromStdU16String(reason));
        level_->setFocus();
        return;
    }
    if (ok && std::isfinite(level))
        chosen.level = level;
    chosen.edge = static_cast<TriggerEdge>(edge_->currentIndex());
    chosen.secondOfDay = QTime(0, 0).secsTo(time_->time());
    chosen.preTrigger = static_cast<uint32_t>(preTrigger_->value());
    trigger_ = chosen;
    QDialog::accept();
}

} // namespace calvora
