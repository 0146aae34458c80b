// The desktop program's main window as a user sees it: assembled with its engine, no receiver, an empty
// recent-file list, shown and exposed, its questions and messages going to scripted prompts.
#pragma once

#include "app/gui/document_window.h"
#include "app/gui/main_window.h"
#include "recording/recording_state.h"
#include "tests/support/window_with_engine.h"

#include <gtest/gtest.h>

#include <QSettings>
#include <QTest>

#include <string>
#include <vector>

namespace calvora::testing {

// Records every question and message; questions get `answer`.
class ScriptedPrompts : public UserPrompts {
public:
    bool AskYesNo(const std::u16string& question) override {
        questions.push_back(question);
        return answer;
    }
    void ShowMessage(const std::u16string& text, MessageIcon icon) override {
        messages.push_back(text);
        icons.push_back(icon);
    }
    bool answer = false;
    std::vector<std::u16string> questions;
    std::vector<std::u16string> messages;
    std::vector<MessageIcon> icons;
};

class ShownMainWindowTest : public WindowWithEngineTest {
protected:
    void SetUp() override {
        QSettings settings(QStringLiteral("Local AppWizard-Generated Applications"),
                           QStringLiteral("Calvora"));
        settings.remove(QStringLiteral("Recent File List"));
        settings.remove(QStringLiteral("Window"));
        Assemble(&prompts);
        ASSERT_FALSE(HasFatalFailure());
        link->Start();
        frame->resize(1000, 700);
        frame->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(frame));
    }

    ScriptedPrompts prompts;
};

} // namespace calvora::testing
