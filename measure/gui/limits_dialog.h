// "Limits": the high and low limit of a document, each switched on by the channel's "Alarm High" or "Alarm
// Low" flag, the hysteresis and hold time of its alarms and what an alarm does. OK applies them to the
// document (its chart draws them) and keeps them as the limits of new documents.
#pragma once

#include "chart/model/limits.h"

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QSettings;

namespace calvora {

class RecordingDocument;
class UserPrompts;

// The limits new documents take, kept in the program's settings under [Limits].
LimitSettings LoadDefaultLimits(QSettings& settings);
void StoreDefaultLimits(QSettings& settings, const LimitSettings& limits);

class LimitsDialog : public QDialog {
    Q_OBJECT
public:
    // `highOn` and `lowOn` are the channel's alarm flags. `prompts` shows a refusal; null uses a message box.
    LimitsDialog(const LimitSettings& limits, bool highOn, bool lowOn, UserPrompts* prompts,
                 QWidget* parent = nullptr);

    LimitSettings limits() const { return limits_; }
    bool highOn() const;
    bool lowOn() const;

    QCheckBox* highBox() const { return highBox_; }
    QCheckBox* lowBox() const { return lowBox_; }
    QLineEdit* highEdit() const { return high_; }
    QLineEdit* lowEdit() const { return low_; }
    QLineEdit* hysteresisEdit() const { return hysteresis_; }
    QLineEdit* holdEdit() const { return hold_; }
    QCheckBox* soundBox() const { return sound_; }
    QCheckBox* notifyBox() const { return notify_; }
    QCheckBox* listBox() const { return list_; }
    QCheckBox* commandBox() const { return commandBox_; }
    QLineEdit* commandEdit() const { return command_; }
    QCheckBox* stopBox() const { return stop_; }

    // OK: refuses what cannot be limits (with the reason) and stays open.
    void accept() override;

private:
    void Refuse(const std::u16string& reason);

    UserPrompts* prompts_;
    LimitSettings limits_;
    QCheckBox* highBox_;
    QLineEdit* high_;
    QCheckBox* lowBox_;
    QLineEdit* low_;
    QLineEdit* hysteresis_;
    QLineEdit* hold_;
    QCheckBox* sound_;
    QCheckBox* notify_;
    QCheckBox* list_;
    QCheckBox* commandBox_;
    QLineEdit* command_;
    QCheckBox* stop_;
};

// The dialog for `document`. On OK: its limits and channel 0's alarm flags change, every view hears of it,
// and the limits become those of new documents. True on OK.
bool EditLimits(RecordingDocument& document, QSettings& settings, UserPrompts* prompts, QWidget* parent);

} // namespace calvora
