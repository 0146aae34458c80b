// The user's answers through Qt message boxes titled with the program's name.
#pragma once

#include "recording/recording_state.h"

class QWidget;

namespace calvora {

class MessageBoxPrompts final : public UserPrompts {
public:
    explicit MessageBoxPrompts(QWidget* parent) : parent_(parent) {}
    bool AskYesNo(const std::u16string& question) override;
    void ShowMessage(const std::u16string& text, MessageIcon icon) override;

private:
    QWidget* parent_;
};

} // namespace calvora
