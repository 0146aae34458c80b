// The desktop program's main frame on the document tab table, with its engine link, the settings file in a
// scratch folder and receivers named by the test. Device monitoring stays off; tests start the link.
#pragma once

#include "app/gui/calvora_application.h"
#include "app/gui/document_window.h"
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
    void SetUp() override {
        table = MakeDocumentTabTable();
        settings =
            std::make_unique<SettingsFile>(dir.filePath(QStringLiteral("ZAZEDOVADIZO.ini")).toStdString());
        frame = std::make_unique<MainWindow>(table);
        ASSERT_TRUE(frame->Create());
        link = std::make_unique<EngineLink>(*frame, inventory, *settings, false);
    }
    void TearDown() override {
        if (link) {
            link->Stop();
        }
        frame.reset();
        link.reset();
    }
    bool Enabled(int id) const { return frame->QueryCommandState(id).enabled; }

    QTemporaryDir dir;
    TabTable table;
    ListedInventory inventory;
    std::unique_ptr<SettingsFile> settings;
    std::unique_ptr<MainWindow> frame;
    std::unique_ptr<EngineLink> link;
};

} // namespace calvora::testing
