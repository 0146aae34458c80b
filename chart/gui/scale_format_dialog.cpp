#include "chart/gui/scale_format_dialog.h"

#include "chart/chart_interaction.h"
#include "chart/gui/chart_controls.h"
#include "recording/recording_document.h"
#include "recording/recording_state.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace calvora {

namespace {
QString FiveDecimals(double value) {
    return QString::asprintf("%.5f", value);
}
} // namespace

ScaleFormatDialog::ScaleFormatDialog(RecordingDocument& document, UserPrompts* prompts, std::function<void()> applied,
                                 QWidget* parent)
    : QDialog(parent), m_document(document), m_prompts(prompts), m_applied(std::move(applied)),
      m_minEdit(new NumberEdit(this)), m_maxEdit(new NumberEdit(this)),
      m_auto(new QRadioButton(QStringLiteral("Auto scale"), this)),
      m_custom(new QRadioButton(QStringLiteral("Custom scale"), this)) {
    setWindowTitle(QStringLiteral("Scale Format"));

    auto* group = new QGroupBox(QStringLiteral("Vertical Scale"), this);
    auto* grid = new QGridLayout(group);
    grid->addWidget(new QLabel(QStringLiteral("Minimum"), group), 0, 0);
    grid->addWidget(m_minEdit, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Maximum"), group), 1, 0);
    grid->addWidget(m_maxEdit, 1, 1);
    grid->addWidget(m_auto, 0, 2);
    grid->addWidget(m_custom, 1, 2);
    auto* modes = new QButtonGroup(this);
    modes->addButton(m_auto, static_cast<int>(ScaleMode::Auto));
    modes->addButton(m_custom, static_cast<int>(ScaleMode::Custom));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &ScaleFormatDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ScaleFormatDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addWidget(buttons);

    const ChartSettings& settings = document.settings;
    if (settings.scaleMode == ScaleMode::Unset) {
        m_minimum = settings.axisMin;
        m_maximum = settings.axisMax;
        m_auto->setChecked(true);
    } else {
        m_minimum = settings.customMin;
        m_maximum = settings.customMax;
        (settings.scaleMode == ScaleMode::Custom ? m_custom : m_auto)->setChecked(true);
    }
    m_minEdit->setText(FiveDecimals(m_minimum));
    m_maxEdit->setText(FiveDecimals(m_maximum));
    SetFieldsEnabled(settings.scaleMode != ScaleMode::Unset);

    connect(m_auto, &QRadioButton::clicked, this, [this] { SetFieldsEnabled(false); });
    connect(m_custom, &QRadioButton::clicked, this, [this] { SetFieldsEnabled(true); });
    connect(m_minEdit, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_minimum = LeadingNumber(text.toStdU16String()); });
    connect(m_maxEdit, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_maximum = LeadingNumber(text.toStdU16String()); });
}

void ScaleFormatDialog::SetFieldsEnabled(bool enabled) {
    m_minEdit->setEnabled(enabled);
    m_maxEdit->setEnabled(enabled);
}

void ScaleFormatDialog::accept() {
    const ScaleMode mode = m_custom->isChecked() ? ScaleMode::Custom : ScaleMode::Auto;
    if (!ApplyScale(m_document.settings, m_document.layout, mode, static_cast<float>(m_minimum),
                    static_cast<float>(m_maximum))) {
        const std::u16string text(kScaleRefused);
        if (m_prompts)
            m_prompts->ShowMessage(text, MessageIcon::Exclamation);
        else
            QMessageBox::warning(this, windowTitle(), QString::fromStdU16String(text));
        return;
    }
    QDialog::accept();
    if (m_applied)
        m_applied();
}

} // namespace calvora
