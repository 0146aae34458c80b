// The two small dialogs that ask for one integer: "Sampling Setup" (how many samples to record) and
// "Comport" (the receiver's port number).
#pragma once

#include <QDialog>

class QLineEdit;

namespace calvora {

class UserPrompts;

// Shared behaviour: OK checks the field and keeps the dialog open, with the focus on the field, when the
// text is no integer or out of range. Escape or the close box cancels.
class IntegerFieldDialog : public QDialog {
    Q_OBJECT
public:
    int value() const { return value_; }
    void SetValue(int value);
    QLineEdit* field() const { return field_; }
    // Dialog units to pixels with the dialog's font.
    QRect DialogRect(int x, int y, int width, int height) const;

public Q_SLOTS:
    void accept() override;

protected:
    IntegerFieldDialog(int minimum, int maximum, int initial, UserPrompts& prompts, QWidget* parent);
    void showEvent(QShowEvent* event) override;

    QLineEdit* field_;

private:
    int minimum_;
    int maximum_;
    int value_;
    UserPrompts& prompts_;
};

// "Sampling Setup": 1 to 20000 samples, 10000 to begin with.
class SamplingSetupDialog : public IntegerFieldDialog {
    Q_OBJECT
public:
    static constexpr int kSamplesEditId = 1012;
    SamplingSetupDialog(UserPrompts& prompts, QWidget* parent = nullptr);
};

// "Comport": a port number from 1 to 255, 3 to begin with.
class ComportDialog : public IntegerFieldDialog {
    Q_OBJECT
public:
    static constexpr int kPortEditId = 1007;
    ComportDialog(UserPrompts& prompts, QWidget* parent = nullptr);
};

} // namespace calvora
