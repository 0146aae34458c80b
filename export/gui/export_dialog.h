// File › Export...: the format, which samples (the whole document, the range the chart shows, or sample
// numbers) and the csv options. The choices are kept in the program's settings for the next export.
#pragma once

#include "export/export_file.h"

#include <QDialog>
#include <QString>

class QCheckBox;
class QComboBox;
class QLabel;
class QRadioButton;
class QSettings;
class QSpinBox;

namespace calvora {

enum class ExportRange { Whole, Shown, Numbers };

struct ExportChoices {
    ExportFormat format = ExportFormat::Csv;
    ExportRange range = ExportRange::Whole;
    uint64_t first = 1; // for ExportRange::Numbers
    uint64_t last = 0;
    CsvOptions csv;
    QString folder; // where the last export went

    // From and to the settings group "Export"; what is missing or unreadable keeps its default.
    static ExportChoices Load(QSettings& settings);
    void Store(QSettings& settings) const;
    bool operator==(const ExportChoices&) const = default;
};

class ExportDialog : public QDialog {
    Q_OBJECT
public:
    // `shown`: the samples the chart shows now (empty when none); the sample numbers are kept within
    // 1..sampleCount.
    ExportDialog(const ExportChoices& initial, uint64_t sampleCount, SampleNumbers shown,
                 QWidget* parent = nullptr);

    // What the dialog shows now (the folder is the initial one).
    ExportChoices choices() const;
    // The options of an export of these choices (the range resolved against the document).
    ExportOptions options() const;

    QComboBox* formatBox() const { return format_; }
    QComboBox* delimiterBox() const { return delimiter_; }
    QCheckBox* decimalCommaBox() const { return decimalComma_; }
    QRadioButton* rangeButton(ExportRange range) const;
    QSpinBox* firstBox() const { return first_; }
    QSpinBox* lastBox() const { return last_; }

private:
    void UpdateEnabled();

    ExportChoices initial_;
    uint64_t sampleCount_;
    SampleNumbers shown_;
    QComboBox* format_;
    QRadioButton* whole_;
    QRadioButton* shownButton_;
    QRadioButton* numbers_;
    QSpinBox* first_;
    QSpinBox* last_;
    QComboBox* delimiter_;
    QCheckBox* decimalComma_;
    QLabel* csvNote_;
};

} // namespace calvora
