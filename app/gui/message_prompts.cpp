#include "app/gui/message_prompts.h"

#include <QMessageBox>

namespace calvora {

bool MessageBoxPrompts::AskYesNo(const std::u16string& question) {
    return QMessageBox::question(parent_, QStringLiteral("Calvora"), QString::fromStdU16String(question),
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) == QMessageBox::Yes;
}

void MessageBoxPrompts::ShowMessage(const std::u16string& text, MessageIcon icon) {
    // Without an icon ("Pair failed!") the box still carries the program's title and an OK button.
    QMessageBox box(icon == MessageIcon::Information   ? QMessageBox::Information
                    : icon == MessageIcon::Exclamation ? QMessageBox::Warning
                    : icon == MessageIcon::Question    ? QMessageBox::Question
                                                       : QMessageBox::NoIcon,
                    QStringLiteral("Calvora"), QString::fromStdU16String(text), QMessageBox::Ok, parent_);
    box.exec();
}

} // namespace calvora
