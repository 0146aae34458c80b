// "Scale Format": the vertical scale of the full view, automatic or typed.
#pragma once

#include <QDialog>

#include <functional>

class QRadioButton;

namespace calvora {

class CNumEdit;
class UserPrompts;
class ZUrizivaRor;

inline constexpr char16_t kScaleRefused[] =
    u"The maximum vertical scale must be larger than the minimum vertical scale!";

class CScaleFormatDlg : public QDialog {
    Q_OBJECT
public:
    // `applied` runs after OK has changed the scale (every view of the document repaints). `prompts` shows
    // the refusal; null uses a message box.
    CScaleFormatDlg(ZUrizivaRor& document, UserPrompts* prompts, std::function<void()> applied,
                    QWidget* parent = nullptr);

    CNumEdit* MinimumEdit() const { return m_minEdit; }
    CNumEdit* MaximumEdit() const { return m_maxEdit; }
    QRadioButton* AutoButton() const { return m_auto; }
    QRadioButton* CustomButton() const { return m_custom; }
    double Minimum() const { return m_minimum; }
    double Maximum() const { return m_maximum; }

    // OK: refuses a custom maximum at or below the minimum and stays open.
    void accept() override;

private:
    void SetFieldsEnabled(bool enabled);

    ZUrizivaRor& m_document;
    UserPrompts* m_prompts;
    std::function<void()> m_applied;
    CNumEdit* m_minEdit;
    CNumEdit* m_maxEdit;
    QRadioButton* m_auto;
    QRadioButton* m_custom;
    double m_minimum = 0;
    double m_maximum = 0;
};

} // namespace calvora
