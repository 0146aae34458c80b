// The desktop program as CalvoraApplication assembles it, on receivers named by the test and the settings
// file in a scratch folder, without device monitoring. Tests start the link (the first receiver scan)
// themselves.
#pragma once

#include "app/gui/calvora_application.h"
#include "app/gui/engine_link.h"
#include "app/gui/main_window.h"
#include "link/settings_file.h"
#include "tests/support/fake_receiver.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <memory>

namespace calvora::testing {

class WindowWithEngineTest : public ::testing::Test {
protected:
    void SetUp() override { Assemble(nullptr); }
    void TearDown() override { app.reset(); }

    // Questions and messages go to `prompts`, or to message boxes when null.
    void Assemble(UserPrompts* prompts) {
        settings =
            std::make_unique<SettingsFile>(dir.filePath(QStringLiteral("ZAZEDOVADIZO.ini")).toStdString());
        app = std::make_unique<CalvoraApplication>();
        ASSERT_TRUE(app->Assemble({.inventory = inventory, .settings = *settings, .prompts = prompts}));
        frame = app->mainWindow();
        link = app->link();
    }
    bool Enabled(int id) const { return frame->QueryCommandState(id).enabled; }
    RecordingState& documents() const { return app->engine()->documents(); }

    QTemporaryDir dir;
    ListedInventory inventory;
    std::unique_ptr<SettingsFile> settings;
    std::unique_ptr<CalvoraApplication> app;
    MainWindow* frame = nullptr;
    EngineLink* link = nullptr;
};

} // namespace calvora::testing
