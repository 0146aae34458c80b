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

    NumberEdit* MinimumEdit() const { return m_minEdit; }
    NumberEdit* MaximumEdit() const { return m_maxEdit; }
    QRadioButton* AutoButton() const { return m_auto; }
    QRadioButton* CustomButton() const { return m_custom; }
    double Minimum() const { return m_minimum; }
    double Maximum() const { return m_maximum; }

    // OK: refuses a custom maximum at or below the minimum and stays open.
    void accept() override;

private:
    void SetFieldsEnabled(bool enabled);

    RecordingDocument& m_document;
    UserPrompts* m_prompts;
    std::function<void()> m_applied;
    NumberEdit* m_minEdit;
    NumberEdit* m_maxEdit;
    QRadioButton* m_auto;
    QRadioButton* m_custom;
    double m_minimum = 0;
    double m_maximum = 0;
};

} // namespace calvora
