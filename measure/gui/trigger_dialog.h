// "Trigger": how the next recording starts: at once, when the reading crosses a level, or at a time of day,
// with how many readings from before the trigger open it. The Sampling Setup dialog still asks for the
// number of samples when the recording is started.
#pragma once

#include "measure/trigger.h"

#include <QDialog>

class QComboBox;
class QLineEdit;
class QRadioButton;
class QSpinBox;
class QTimeEdit;

namespace calvora {

class UserPrompts;

class TriggerDialog : public QDialog {
    Q_OBJECT
public:
    TriggerDialog(const TriggerSettings& trigger, UserPrompts* prompts, QWidget* parent = nullptr);

    TriggerSettings trigger() const { return trigger_; }

    QRadioButton* immediateButton() const { return immediate_; }
    QRadioButton* levelButton() const { return levelButton_; }
    QRadioButton* timeButton() const { return timeButton_; }
    QLineEdit* levelEdit() const { return level_; }
    QComboBox* edgeBox() const { return edge_; }
    QTimeEdit* timeEdit() const { return time_; }
    QSpinBox* preTriggerBox() const { return preTrigger_; }

    // OK: refuses a level that is no number and stays open.
    void accept() override;

private:
    void UpdateEnabled();

    UserPrompts* prompts_;
    TriggerSettings trigger_;
    QRadioButton* immediate_;
    QRadioButton* levelButton_;
    QRadioButton* timeButton_;
    QLineEdit* level_;
    QComboBox* edge_;
    QTimeEdit* time_;
    QSpinBox* preTrigger_;
};

} // namespace calvora
