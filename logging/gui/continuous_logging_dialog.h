// Instrument > Continuous Logging...: the log file (by default in the recordings folder, the Save command's
// default name with ".calvlog") and the stop condition: none, after a duration, or after a number of
// readings. With several receivers connected, also which of them the one log takes.
#pragma once

#include "logging/continuous_log.h"

#include <QDialog>

#include <QStringList>

#include <filesystem>
#include <vector>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QGroupBox;
class QLineEdit;
class QRadioButton;
class QSpinBox;

namespace calvora {

class UserPrompts;

class ContinuousLoggingDialog : public QDialog {
    Q_OBJECT
public:
    // `folder` and `name` give the proposed file; questions (replace an existing file?) go to `prompts`.
    ContinuousLoggingDialog(const std::filesystem::path& folder, const QString& name, UserPrompts& prompts,
                            QWidget* parent = nullptr);

    std::filesystem::path path() const;
    LogStopCondition stopCondition() const;

    // Offers the connected receivers by name, each checked (the log takes them all unless the user
    // unchecks some); with fewer than two the dialog asks nothing about receivers.
    void OfferReceivers(const QStringList& names);
    // The indexes into the offered names that stay checked; {0} when none were offered.
    std::vector<size_t> chosenReceivers() const;
    const std::vector<QCheckBox*>& receiverBoxes() const { return receivers_; }

    QLineEdit* fileEdit() const { return file_; }
    QRadioButton* noStop() const { return noStop_; }
    QRadioButton* stopAfterTime() const { return byTime_; }
    QRadioButton* stopAfterReadings() const { return byReadings_; }
    QDoubleSpinBox* duration() const { return duration_; }
    QComboBox* durationUnit() const { return unit_; }
    QSpinBox* readings() const { return readings_; }

    // OK: a name is needed; an existing file is replaced only when the user says so (it is removed then,
    // with its write-ahead files), else the dialog stays.
    void accept() override;

private:
    void Browse();
    void UpdateEnabled();

    UserPrompts& prompts_;
    QLineEdit* file_;
    QRadioButton* noStop_;
    QRadioButton* byTime_;
    QRadioButton* byReadings_;
    QDoubleSpinBox* duration_;
    QComboBox* unit_;
    QSpinBox* readings_;
    QGroupBox* receiverBox_;
    std::vector<QCheckBox*> receivers_;
};

} // namespace calvora
