// "Scale Format": the vertical scale of the full view, automatic or typed.
#pragma once

#include <QDialog>

#include <functional>

class QRadioButton;

namespace calvora {

class NumberEdit;
class UserPrompts;
class RecordingDocument;

inline constexpr char16_t kScaleRefused[] =
    u"The maximum vertical scale must be larger than the minimum vertical scale!";

class ScaleFormatDialog : public QDialog {
    Q_OBJECT
public:
    // `applied` runs after OK has changed the scale (every view of the document repaints). `prompts` shows
    // the refusal; null uses a message box.
    ScaleFormatDialog(RecordingDocument& document, UserPrompts* prompts, std::function<void()> applied,
                      QWidget* parent = nullptr);

    NumberEdit* minimumEdit() const { return minEdit_; }
    NumberEdit* maximumEdit() const { return maxEdit_; }
    QRadioButton* autoButton() const { return auto_; }
    QRadioButton* customButton() const { return custom_; }
    double minimum() const { return minimum_; }
    double maximum() const { return maximum_; }

    // OK: refuses a custom maximum at or below the minimum and stays open.
    void accept() override;

private:
    void SetFieldsEnabled(bool enabled);

    RecordingDocument& document_;
    UserPrompts* prompts_;
    std::function<void()> applied_;
    NumberEdit* minEdit_;
    NumberEdit* maxEdit_;
    QRadioButton* auto_;
    QRadioButton* custom_;
    double minimum_ = 0;
    double maximum_ = 0;
};

} // namespace calvora
