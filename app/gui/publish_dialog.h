// Settings › Publish Readings...: the broker the live readings go to, remembered in the Qt settings (all but
// the password, which stays in memory for the session).
#pragma once

#include "publish/mqtt_publisher.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QSettings;
class QSpinBox;

namespace calvora {

struct PublishChoice {
    bool enabled = false;
    PublishSettings settings;
};

// The choice kept in `settings` under [Publish]; `password` is the one given earlier in the session.
PublishChoice LoadPublishChoice(QSettings& settings, const std::string& password);
void SavePublishChoice(QSettings& settings, const PublishChoice& choice);

class PublishDialog : public QDialog {
    Q_OBJECT
public:
    PublishDialog(const PublishChoice& choice, QWidget* parent = nullptr);

    // Valid once the dialog was accepted.
    const PublishChoice& choice() const { return choice_; }

    void accept() override;

private:
    void UpdateEnabled();

    PublishChoice choice_;
    QCheckBox* enabled_ = nullptr;
    QLineEdit* host_ = nullptr;
    QSpinBox* port_ = nullptr;
    QLineEdit* prefix_ = nullptr;
    QLineEdit* clientId_ = nullptr;
    QLineEdit* user_ = nullptr;
    QLineEdit* password_ = nullptr;
    QCheckBox* tls_ = nullptr;
    QLineEdit* caFile_ = nullptr;
    QComboBox* qos_ = nullptr;
    QLabel* error_ = nullptr;
};

} // namespace calvora
