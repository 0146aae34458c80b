#include "export/gui/export_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>

namespace calvora {

namespace {

const QString kGroup = QStringLiteral("Export");

QString FormatLabel(ExportFormat format) {
    switch (format) {
    case ExportFormat::RecorderText:
        return QStringLiteral("Text table as Save writes it (.csv, UTF-16, tab-separated)");
    case ExportFormat::Csv:
        return QStringLiteral("CSV for spreadsheets, Python and R (.csv, UTF-8)");
    case ExportFormat::JsonLines:
        return QStringLiteral("JSON lines (.jsonl)");
    case ExportFormat::Xlsx:
        return QStringLiteral("Excel workbook with a chart (.xlsx)");
    }
    return {};
}

QString RangeName(ExportRange range) {
    switch (range) {
    case ExportRange::Whole:
        return QStringLiteral("whole");
    case ExportRange::Shown:
        return QStringLiteral("shown");
    case ExportRange::Numbers:
        return QStringLiteral("numbers");
    }
    return {};
}

int ClampedInt(uint64_t value) {
    return static_cast<int>(std::min<uint64_t>(value, INT_MAX));
}

} // namespace

ExportChoices ExportChoices::Load(QSettings& settings) {
    ExportChoices choices;
    settings.beginGroup(kGroup);
    const std::string format = settings.value(QStringLiteral("format")).toString().toStdString();
    choices.format = ExportFormatNamed(format).value_or(choices.format);
    const QString range = settings.value(QStringLiteral("range")).toString();
    for (const ExportRange candidate : {ExportRange::Whole, ExportRange::Shown, ExportRange::Numbers}) {
        if (range == RangeName(candidate))
            choices.range = candidate;
    }
    choices.first = settings.value(QStringLiteral("first"), 1).toULongLong();
    choices.last = settings.value(QStringLiteral("last"), 0).toULongLong();
    const QString delimiter = settings.value(QStringLiteral("delimiter")).toString();
    if (delimiter == QStringLiteral("tab"))
        choices.csv.delimiter = '\t';
    else if (delimiter == QStringLiteral(";"))
        choices.csv.delimiter = ';';
    choices.csv.decimalComma = settings.value(QStringLiteral("decimalComma"), false).toBool();
    if (!choices.csv.valid())
        choices.csv = {};
    choices.folder = settings.value(QStringLiteral("folder")).toString();
    settings.endGroup();
    return choices;
}

void ExportChoices::Store(QSettings& settings) const {
    settings.beginGroup(kGroup);
    settings.setValue(QStringLiteral("format"),
                      QString::fromUtf8(ExportFormatName(format).data(),
                                        static_cast<qsizetype>(ExportFormatName(format).size())));
    settings.setValue(QStringLiteral("range"), RangeName(range));
    settings.setValue(QStringLiteral("first"), static_cast<qulonglong>(first));
    settings.setValue(QStringLiteral("last"), static_cast<qulonglong>(last));
    settings.setValue(QStringLiteral("delimiter"),
                      csv.delimiter == '\t' ? QStringLiteral("tab") : QString(QLatin1Char(csv.delimiter)));
    settings.setValue(QStringLiteral("decimalComma"), csv.decimalComma);
    settings.setValue(QStringLiteral("folder"), folder);
    settings.endGroup();
}

ExportDialog::ExportDialog(const ExportChoices& initial, uint64_t sampleCount, SampleNumbers shown,
                           QWidget* parent)
    : QDialog(parent), initial_(initial), sampleCount_(sampleCount), shown_(shown) {
    setWindowTitle(QStringLiteral("Export"));
    setObjectName(QStringLiteral("ExportDialog"));

    format_ = new QComboBox(this);
    format_->setObjectName(QStringLiteral("format"));
    for (const ExportFormat format : kExportFormats)
        format_->addItem(FormatLabel(format), static_cast<int>(format));
    format_->setCurrentIndex(format_->findData(static_cast<int>(initial.format)));

    auto* rangeBox = new QGroupBox(QStringLiteral("Samples"), this);
    whole_ = new QRadioButton(QStringLiteral("&Whole document (%1 samples)").arg(sampleCount), rangeBox);
    shownButton_ = new QRadioButton(
        shown.count() > 0
            ? QStringLiteral("Range the &chart shows (%1 to %2)").arg(shown.first).arg(shown.last)
            : QStringLiteral("Range the &chart shows (none)"),
        rangeBox);
    numbers_ = new QRadioButton(QStringLiteral("Sample &numbers"), rangeBox);
    whole_->setObjectName(QStringLiteral("whole"));
    shownButton_->setObjectName(QStringLiteral("shown"));
    numbers_->setObjectName(QStringLiteral("numbers"));
    auto* group = new QButtonGroup(rangeBox);
    for (QRadioButton* button : {whole_, shownButton_, numbers_})
        group->addButton(button);
    shownButton_->setEnabled(shown.count() > 0);
    first_ = new QSpinBox(rangeBox);
    last_ = new QSpinBox(rangeBox);
    first_->setObjectName(QStringLiteral("first"));
    last_->setObjectName(QStringLiteral("last"));
    const int count = ClampedInt(sampleCount);
    first_->setRange(std::min(1, count), count);
    last_->setRange(std::min(1, count), count);
    // Remembered numbers that no longer fit this document give way to the whole of it.
    const bool numbersFit =
        initial.first >= 1 && initial.first <= initial.last && initial.last <= sampleCount;
    first_->setValue(numbersFit ? ClampedInt(initial.first) : std::min(1, count));
    last_->setValue(numbersFit ? ClampedInt(initial.last) : count);
    rangeButton(initial.range == ExportRange::Shown && shown.count() == 0 ? ExportRange::Whole
                                                                          : initial.range)
        ->setChecked(true);
    if (sampleCount == 0)
        numbers_->setEnabled(false);
    auto* numbersRow = new QHBoxLayout;
    numbersRow->addWidget(numbers_);
    numbersRow->addWidget(first_);
    numbersRow->addWidget(new QLabel(QStringLiteral("to"), rangeBox));
    numbersRow->addWidget(last_);
    numbersRow->addStretch();
    auto* rangeLayout = new QVBoxLayout(rangeBox);
    rangeLayout->addWidget(whole_);
    rangeLayout->addWidget(shownButton_);
    rangeLayout->addLayout(numbersRow);

    auto* csvBox = new QGroupBox(QStringLiteral("CSV"), this);
    delimiter_ = new QComboBox(csvBox);
    delimiter_->setObjectName(QStringLiteral("delimiter"));
    delimiter_->addItem(QStringLiteral("Comma ( , )"), QVariant(static_cast<int>(',')));
    delimiter_->addItem(QStringLiteral("Semicolon ( ; )"), QVariant(static_cast<int>(';')));
    delimiter_->addItem(QStringLiteral("Tab"), QVariant(static_cast<int>('\t')));
    delimiter_->setCurrentIndex(delimiter_->findData(static_cast<int>(initial.csv.delimiter)));
    decimalComma_ = new QCheckBox(QStringLiteral("Decimal co&mma in the values"), csvBox);
    decimalComma_->setObjectName(QStringLiteral("decimalComma"));
    decimalComma_->setChecked(initial.csv.decimalComma);
    csvNote_ = new QLabel(
        QStringLiteral("A decimal comma needs the semicolon or the tab between the fields."), csvBox);
    csvNote_->setWordWrap(true);
    csvNote_->setEnabled(false);
    auto* csvLayout = new QFormLayout(csvBox);
    csvLayout->addRow(QStringLiteral("&Delimiter:"), delimiter_);
    csvLayout->addRow(decimalComma_);
    csvLayout->addRow(csvNote_);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Export..."));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* formatRow = new QFormLayout;
    formatRow->addRow(QStringLiteral("&Format:"), format_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(formatRow);
    layout->addWidget(rangeBox);
    layout->addWidget(csvBox);
    layout->addWidget(buttons);

    // A decimal comma and the comma delimiter exclude each other: choosing one gives way on the other.
    connect(decimalComma_, &QCheckBox::toggled, this, [this](bool on) {
        if (on && delimiter_->currentData().toInt() == ',')
            delimiter_->setCurrentIndex(delimiter_->findData(static_cast<int>(';')));
    });
    connect(delimiter_, &QComboBox::currentIndexChanged, this, [this] {
        if (delimiter_->currentData().toInt() == ',')
            decimalComma_->setChecked(false);
    });
    connect(first_, &QSpinBox::valueChanged, this, [this](int value) {
        if (last_->value() < value)
            last_->setValue(value);
    });
    connect(last_, &QSpinBox::valueChanged, this, [this](int value) {
        if (first_->value() > value)
            first_->setValue(value);
    });
    connect(format_, &QComboBox::currentIndexChanged, this, &ExportDialog::UpdateEnabled);
    connect(group, &QButtonGroup::buttonToggled, this, &ExportDialog::UpdateEnabled);
    UpdateEnabled();
}

QRadioButton* ExportDialog::rangeButton(ExportRange range) const {
    switch (range) {
    case ExportRange::Whole:
        return whole_;
    case ExportRange::Shown:
        return shownButton_;
    case ExportRange::Numbers:
        return numbers_;
    }
    return whole_;
}

void ExportDialog::UpdateEnabled() {
    const bool csv = static_cast<ExportFormat>(format_->currentData().toInt()) == ExportFormat::Csv;
    delimiter_->setEnabled(csv);
    decimalComma_->setEnabled(csv);
    first_->setEnabled(numbers_->isChecked());
    last_->setEnabled(numbers_->isChecked());
}

ExportChoices ExportDialog::choices() const {
    ExportChoices choices;
    choices.format = static_cast<ExportFormat>(format_->currentData().toInt());
    choices.range = numbers_->isChecked()       ? ExportRange::Numbers
                    : shownButton_->isChecked() ? ExportRange::Shown
                                                : ExportRange::Whole;
    choices.first = static_cast<uint64_t>(first_->value());
    choices.last = static_cast<uint64_t>(last_->value());
    choices.csv.delimiter = static_cast<char>(delimiter_->currentData().toInt());
    choices.csv.decimalComma = decimalComma_->isChecked();
    choices.folder = initial_.folder;
    return choices;
}

ExportOptions ExportDialog::options() const {
    const ExportChoices chosen = choices();
    ExportOptions options;
    options.format = chosen.format;
    options.csv = chosen.csv;
    if (chosen.range == ExportRange::Shown)
        options.range = shown_;
    else if (chosen.range == ExportRange::Numbers)
        options.range = SampleNumbers{chosen.first, chosen.last};
    return options;
}

} // namespace calvora
