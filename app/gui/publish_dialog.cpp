#include "app/gui/publish_dialog.h"

#include "protocol/text.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QVBoxLayout>

namespace calvora {

namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

} // namespace

PublishChoice LoadPublishChoice(QSettings& settings, const std::string& password) {
    PublishChoice choice;
    settings.beginGroup(QStringLiteral("Publish"));
    choice.enabled = settings.value(QStringLiteral("Enabled"), false).toBool();
    MqttTarget& t = choice.settings.target;
    t.host = settings.value(QStringLiteral("Host"), QStringLiteral("localhost")).toString().toStdString();
    t.port =
        static_cast<uint16_t>(std::clamp(settings.value(QStringLiteral("Port"), 1883).toInt(), 1, 65535));
    t.prefix = settings.value(QStringLiteral("Prefix"), QStringLiteral("calvora")).toString().toStdString();
    t.clientId = settings.value(QStringLiteral("ClientId")).toString().toStdString();
    t.user = settings.value(QStringLiteral("User")).toString().toStdString();
    t.password = password;
    t.tls = settings.value(QStringLiteral("Tls"), false).toBool();
    t.caFile = settings.value(QStringLiteral("CaFile")).toString().toStdString();
    choice.settings.qos = settings.value(QStringLiteral("Qos"), 1).toInt() == 0 ? 0 : 1;
    settings.endGroup();
    return choice;
}

void SavePublishChoice(QSettings& settings, const PublishChoice& choice) {
    const MqttTarget& t = choice.settings.target;
    settings.beginGroup(QStringLiteral("Publish"));
    settings.setValue(QStringLiteral("Enabled"), choice.enabled);
    settings.setValue(QStringLiteral("Host"), Q(t.host));
    settings.setValue(QStringLiteral("Port"), int(t.port));
    settings.setValue(QStringLiteral("Prefix"), Q(t.prefix));
    settings.setValue(QStringLiteral("ClientId"), Q(t.clientId));
    settings.setValue(QStringLiteral("User"), Q(t.user));
    settings.setValue(QStringLiteral("Tls"), t.tls);
    settings.setValue(QStringLiteral("CaFile"), Q(t.caFile));
    settings.setValue(QStringLiteral("Qos"), choice.settings.qos);
    settings.endGroup();
}

PublishDialog::PublishDialog(const PublishChoice& choice, QWidget* parent)
    : QDialog(parent), choice_(choice) {
    setWindowTitle(QStringLiteral("Publish Readings"));
    const MqttTarget& t = choice.settings.target;
    enabled_ = new QCheckBox(QStringLiteral("&Publish the live readings to an MQTT broker"), this);
    enabled_->setChecked(choice.enabled);
    host_ = new QLineEdit(Q(t.host), this);
    port_ = new QSpinBox(this);
    port_->setRange(1, 65535);
    port_->setValue(t.port);
    prefix_ = new QLineEdit(Q(t.prefix), this);
    clientId_ = new QLineEdit(Q(t.clientId), this);
    clientId_->setPlaceholderText(QStringLiteral("made of this computer's name"));
    user_ = new QLineEdit(Q(t.user), this);
    password_ = new QLineEdit(Q(t.password), this);
    password_->setEchoMode(QLineEdit::Password);
    password_->setPlaceholderText(QStringLiteral("kept until the program ends"));
    tls_ = new QCheckBox(QStringLiteral("Use &TLS"), this);
    tls_->setChecked(t.tls);
    caFile_ = new QLineEdit(Q(t.caFile), this);
    caFile_->setPlaceholderText(QStringLiteral("the system's certificate authorities"));
    auto* browse = new QPushButton(QStringLiteral("&Browse..."), this);
    auto* caRow = new QHBoxLayout;
    caRow->addWidget(caFile_, 1);
    caRow->addWidget(browse);
    qos_ = new QComboBox(this);
    qos_->addItem(QStringLiteral("0 - at most once"));
    qos_->addItem(QStringLiteral("1 - at least once (nothing lost)"));
    qos_->setCurrentIndex(choice.settings.qos);
    for (auto [field, name] :
         {std::pair{host_, "host"}, std::pair{prefix_, "prefix"}, std::pair{clientId_, "clientId"},
          std::pair{user_, "user"}, std::pair{password_, "password"}, std::pair{caFile_, "caFile"}})
        field->setObjectName(QString::fromLatin1(name));
    error_ = new QLabel(this);
    error_->setObjectName(QStringLiteral("publishError"));
    error_->setStyleSheet(QStringLiteral("color: #b00020"));
    error_->setWordWrap(true);
    error_->hide();

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Broker &host:"), host_);
    form->addRow(QStringLiteral("P&ort:"), port_);
    form->addRow(QStringLiteral("Topic p&refix:"), prefix_);
    form->addRow(QStringLiteral("&Client id:"), clientId_);
    form->addRow(QStringLiteral("&User:"), user_);
    form->addRow(QStringLiteral("Pass&word:"), password_);
    form->addRow(QString(), tls_);
    form->addRow(QStringLiteral("CA file:"), caRow);
    form->addRow(QStringLiteral("&QoS:"), qos_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(enabled_);
    layout->addLayout(form);
    layout->addWidget(new QLabel(
        QStringLiteral("Readings go to PREFIX/&lt;meter&gt;/reading, alarms to PREFIX/&lt;meter&gt;/alarm; "
                       "PREFIX/&lt;meter&gt;/status says online or offline."),
        this));
    layout->addWidget(error_);
    layout->addWidget(buttons);

    connect(buttons, &QDialogButtonBox::accepted, this, &PublishDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &PublishDialog::reject);
    connect(enabled_, &QCheckBox::toggled, this, &PublishDialog::UpdateEnabled);
    connect(tls_, &QCheckBox::toggled, this, [this](bool on) {
        // The usual ports follow the TLS choice unless another was set.
        if (on && port_->value() == 1883)
            port_->setValue(8883);
        else if (!on && port_->value() == 8883)
            port_->setValue(1883);
        UpdateEnabled();
    });
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString file =
            QFileDialog::getOpenFileName(this, QStringLiteral("Certificate Authority"), caFile_->text(),
                                         QStringLiteral("Certificates (*.crt *.pem);;All files (*)"));
        if (!file.isEmpty())
            caFile_->setText(file);
    });
    UpdateEnabled();
}

void PublishDialog::UpdateEnabled() {
    const bool on = enabled_->isChecked();
    for (QWidget* field :
         std::initializer_list<QWidget*>{host_, port_, prefix_, clientId_, user_, password_, tls_, qos_})
        field->setEnabled(on);
    caFile_->setEnabled(on && tls_->isChecked());
}

void PublishDialog::accept() {
    PublishChoice choice;
    choice.enabled = enabled_->isChecked();
    MqttTarget& t = choice.settings.target;
    t.host = host_->text().trimmed().toStdString();
    t.port = static_cast<uint16_t>(port_->value());
    t.prefix = prefix_->text().trimmed().toStdString();
    t.clientId = clientId_->text().trimmed().toStdString();
    t.user = user_->text().trimmed().toStdString();
    t.password = password_->text().toStdString();
    t.tls = tls_->isChecked();
    t.caFile = caFile_->text().trimmed().toStdString();
    choice.settings.qos = qos_->currentIndex();
    if (choice.enabled) {
        // The host and prefix are held to the same rules as a broker's URL.
        const Outcome<MqttTarget> parsed = ParseMqttUrl("mqtt://" + t.host + "/" + t.prefix);
        QString problem;
        if (t.host.empty() || t.host.find_first_of("/@ ") != std::string::npos)
            problem = QStringLiteral("Enter the broker's host name or address.");
        else if (t.prefix.empty())
            problem = QStringLiteral("Enter a topic prefix.");
        else if (!parsed)
            problem = QString::fromStdU16String(parsed.reason());
        else if (!t.password.empty() && t.user.empty())
            problem = QStringLiteral("A password needs a user.");
        if (!problem.isEmpty()) {
            error_->setText(problem);
            error_->show();
            return;
        }
    }
    choice_ = choice;
    QDialog::accept();
}

} // namespace calvora
