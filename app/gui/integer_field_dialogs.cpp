#include "app/gui/integer_field_dialogs.h"

#include "app/int_field.h"
#include "recording/recording_state.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>

namespace calvora {

IntegerFieldDialog::IntegerFieldDialog(int minimum, int maximum, int initial, UserPrompts& prompts, QWidget* parent)
    : QDialog(parent), m_field(new QLineEdit(this)), m_minimum(minimum), m_maximum(maximum), m_value(initial),
      m_prompts(prompts) {
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    m_field->setText(QString::number(initial));
}

void IntegerFieldDialog::SetValue(int value) {
    m_value = value;
    m_field->setText(QString::number(value));
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
    m_field->setFocus();
    m_field->selectAll();
}

void IntegerFieldDialog::accept() {
    const IntFieldResult result = ParseIntField(m_field->text().toStdU16String(), m_minimum, m_maximum);
    if (!result.ok) {
        m_prompts.ShowMessage(result.message, MessageIcon::Exclamation);
        m_field->setFocus();
        m_field->selectAll();
        return;
    }
    m_value = result.value;
    QDialog::accept();
}

SamplingSetupDialog::SamplingSetupDialog(UserPrompts& prompts, QWidget* parent) : IntegerFieldDialog(1, 20000, 10000, prompts, parent) {
    setWindowTitle(QStringLiteral("Sampling Setup"));
    setFixedSize(DialogRect(0, 0, 162, 78).size());
    auto* label = new QLabel(QStringLiteral("Samples"), this);
    // Right-aligned so that a wider font grows the text away from the edit field.
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setGeometry(
        QRect(DialogRect(3, 18, 0, 0).topLeft(), DialogRect(0, 0, 50, 8).size()).adjusted(0, -2, 0, 2));
    m_field->setObjectName(QStringLiteral("edit%1").arg(kSamplesEditId));
    m_field->setGeometry(DialogRect(55, 15, 62, 14));
    auto* range = new QLabel(QStringLiteral("From 1 to 20000"), this);
    range->setEnabled(false);
    range->setGeometry(DialogRect(57, 36, 54, 8).adjusted(0, -2, 20, 2));
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setDefault(true);
    ok->setGeometry(DialogRect(57, 52, 50, 14));
    connect(ok, &QPushButton::clicked, this, &IntegerFieldDialog::accept);
}

ComportDialog::ComportDialog(UserPrompts& prompts, QWidget* parent) : IntegerFieldDialog(1, 255, 3, prompts, parent) {
    setWindowTitle(QStringLiteral("Comport"));
    setFixedSize(DialogRect(0, 0, 219, 73).size());
    auto* label = new QLabel(QStringLiteral("Comport"), this);
    label->move(DialogRect(49, 20, 0, 0).topLeft());
    m_field->setObjectName(QStringLiteral("edit%1").arg(kPortEditId));
    m_field->setGeometry(DialogRect(87, 17, 64, 14));
    // A number-only field: digits are all it takes.
    m_field->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), m_field));
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setDefault(true);
    ok->setGeometry(DialogRect(48, 51, 50, 14));
    connect(ok, &QPushButton::clicked, this, &IntegerFieldDialog::accept);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setGeometry(DialogRect(118, 50, 50, 14));
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

} // namespace calvora
