#include "app/gui/integer_field_dialogs.h"

#include "protocol/number_fields.h"
#include "recording/recording_state.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>

namespace calvora {

IntegerFieldDialog::IntegerFieldDialog(int minimum, int maximum, int initial, UserPrompts& prompts,
                                       QWidget* parent)
    : QDialog(parent), field_(new QLineEdit(this)), minimum_(minimum), maximum_(maximum), value_(initial),
      prompts_(prompts) {
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    field_->setText(QString::number(initial));
}

void IntegerFieldDialog::SetValue(int value) {
    value_ = value;
    field_->setText(QString::number(value));
}

QRect IntegerFieldDialog::DialogRect(int x, int y, int width, int height) const {
    const QFontMetrics metrics(font());
    const int baseX = metrics.averageCharWidth();
    const int baseY = metrics.height();
    return {x * baseX / 4, y * baseY / 8, width * baseX / 4, height * baseY / 8};
}

void IntegerFieldDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // The field opens focused with its number selected, so typing replaces it.
    field_->setFocus();
    field_->selectAll();
}

void IntegerFieldDialog::accept() {
    const Outcome<int32_t> parsed = ParseIntField(field_->text().toStdU16String(), minimum_, maximum_);
    if (!parsed) {
        prompts_.ShowMessage(parsed.reason(), MessageIcon::Exclamation);
        field_->setFocus();
        field_->selectAll();
        return;
    }
    value_ = parsed.value();
    QDialog::accept();
}

SamplingSetupDialog::SamplingSetupDialog(UserPrompts& prompts, QWidget* parent)
    : IntegerFieldDialog(1, 20000, 10000, prompts, parent) {
    setWindowTitle(QStringLiteral("Sampling Setup"));
    setFixedSize(DialogRect(0, 0, 162, 78).size());
    auto* label = new QLabel(QStringLiteral("Samples"), this);
    // Right-aligned so that a wider font grows the text away from the edit field.
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setGeometry(
        QRect(DialogRect(3, 18, 0, 0).topLeft(), DialogRect(0, 0, 50, 8).size()).adjusted(0, -2, 0, 2));
    field_->setObjectName(QStringLiteral("edit%1").arg(kSamplesEditId));
    field_->setGeometry(DialogRect(55, 15, 62, 14));
    auto* range = new QLabel(QStringLiteral("From 1 to 20000"), this);
    range->setEnabled(false);
    range->setGeometry(DialogRect(57, 36, 54, 8).adjusted(0, -2, 20, 2));
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setDefault(true);
    ok->setGeometry(DialogRect(57, 52, 50, 14));
    connect(ok, &QPushButton::clicked, this, &IntegerFieldDialog::accept);
}

ComportDialog::ComportDialog(UserPrompts& prompts, QWidget* parent)
    : IntegerFieldDialog(1, 255, 3, prompts, parent) {
    setWindowTitle(QStringLiteral("Comport"));
    setFixedSize(DialogRect(0, 0, 219, 73).size());
    auto* label = new QLabel(QStringLiteral("Comport"), this);
    label->move(DialogRect(49, 20, 0, 0).topLeft());
    field_->setObjectName(QStringLiteral("edit%1").arg(kPortEditId));
    field_->setGeometry(DialogRect(87, 17, 64, 14));
    // A number-only field: digits are all it takes.
    field_->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), field_));
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setDefault(true);
    ok->setGeometry(DialogRect(48, 51, 50, 14));
    connect(ok, &QPushButton::clicked, this, &IntegerFieldDialog::accept);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setGeometry(DialogRect(118, 50, 50, 14));
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

} // namespace calvora
