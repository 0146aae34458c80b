#include "chart/gui/scale_format_dialog.h"

#include "chart/gui/chart_controls.h"
#include "protocol/number_fields.h"
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

ScaleFormatDialog::ScaleFormatDialog(RecordingDocument& document, UserPrompts* prompts,
                                     std::function<void()> applied, QWidget* parent)
    : QDialog(parent), document_(document), prompts_(prompts), applied_(std::move(applied)),
      minEdit_(new NumberEdit(this)), maxEdit_(new NumberEdit(this)),
      auto_(new QRadioButton(QStringLiteral("Auto scale"), this)),
      custom_(new QRadioButton(QStringLiteral("Custom scale"), this)) {
    setWindowTitle(QStringLiteral("Scale Format"));

    auto* group = new QGroupBox(QStringLiteral("Vertical Scale"), this);
    auto* grid = new QGridLayout(group);
    grid->addWidget(new QLabel(QStringLiteral("Minimum"), group), 0, 0);
    grid->addWidget(minEdit_, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Maximum"), group), 1, 0);
    grid->addWidget(maxEdit_, 1, 1);
    grid->addWidget(auto_, 0, 2);
    grid->addWidget(custom_, 1, 2);
    auto* modes = new QButtonGroup(this);
    modes->addButton(auto_, static_cast<int>(ScaleMode::Auto));
    modes->addButton(custom_, static_cast<int>(ScaleMode::Custom));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &ScaleFormatDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ScaleFormatDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addWidget(buttons);

    const ChartSettings& settings = document.settings;
    if (settings.scaleMode == ScaleMode::Unset) {
        minimum_ = settings.axisMin;
        maximum_ = settings.axisMax;
        auto_->setChecked(true);
    } else {
        minimum_ = settings.customMin;
        maximum_ = settings.customMax;
        (settings.scaleMode == ScaleMode::Custom ? custom_ : auto_)->setChecked(true);
    }
    minEdit_->setText(FiveDecimals(minimum_));
    maxEdit_->setText(FiveDecimals(maximum_));
    SetFieldsEnabled(settings.scaleMode != ScaleMode::Unset);

    connect(auto_, &QRadioButton::clicked, this, [this] { SetFieldsEnabled(false); });
    connect(custom_, &QRadioButton::clicked, this, [this] { SetFieldsEnabled(true); });
    connect(minEdit_, &QLineEdit::textChanged, this,
            [this](const QString& text) { minimum_ = LeadingNumber(text.toStdU16String()); });
    connect(maxEdit_, &QLineEdit::textChanged, this,
            [this](const QString& text) { maximum_ = LeadingNumber(text.toStdU16String()); });
}

void ScaleFormatDialog::SetFieldsEnabled(bool enabled) {
    minEdit_->setEnabled(enabled);
    maxEdit_->setEnabled(enabled);
}

void ScaleFormatDialog::accept() {
    const ScaleMode mode = custom_->isChecked() ? ScaleMode::Custom : ScaleMode::Auto;
    if (!ApplyScale(document_.settings, document_.layout, mode, static_cast<float>(minimum_),
                    static_cast<float>(maximum_))) {
        const std::u16string text(kScaleRefused);
        if (prompts_)
            prompts_->ShowMessage(text, MessageIcon::Exclamation);
        else
            QMessageBox::warning(this, windowTitle(), QString::fromStdU16String(text));
        return;
    }
    QDialog::accept();
    if (applied_)
        applied_();
}

} // namespace calvora
