// Readings from a receiver on a pseudo-terminal reach a recording document through the reader thread, the
// hand-off to the user-interface thread and the chart, as in the program.
#include "app/gui/calvora_application.h"
#include "app/gui/document_window.h"
#include "app/gui/engine_link.h"
#include "app/gui/main_window.h"
#include "chart/gui/chart_document_view.h"
#include "link/receiver_inventory.h"
#include "link/settings_file.h"
#include "recording/recording_document.h"
#include "tools/sim/meter_frames.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

namespace calvora {
namespace {

class OneReceiver : public ReceiverInventory {
public:
    explicit OneReceiver(std::string path) : path_(std::move(path)) {}
    std::optional<std::vector<SerialPortInfo>> Enumerate() override {
        return std::vector<SerialPortInfo>{{kReceiverDescription, "COM1", path_}};
    }

private:
    std::string path_;
};

TEST(LiveRecording, ReadingsFromThePortFillTheRealTimePanel) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    OneReceiver inventory(ptsname(master));
    QTemporaryDir dir;
    SettingsFile settings(dir.filePath(QStringLiteral("ZAZEDOVADIZO.ini")).toStdString());

    {
        CalvoraApplication app;
        ASSERT_TRUE(app.Assemble({.inventory = inventory, .settings = settings}));
        MainWindow& frame = *app.mainWindow();
        EngineLink& link = *app.link();
        frame.show();
        link.Start();
        QTreeWidget* tree = frame.instrumentTree();
        ASSERT_EQ(tree->topLevelItemCount(), 1);
        Q_EMIT tree->itemDoubleClicked(tree->topLevelItem(0), 0);
        ASSERT_EQ(link.state().connectedLabel(), u"Multimeter");

        link.state().StartRecordingOf(3);
        RecordingDocument* document = frame.activeDocument();
        ASSERT_NE(document, nullptr);
        EXPECT_EQ(document->title, u"RealTime Panel");
        EXPECT_NE(qobject_cast<ChartDocumentView*>(frame.activeDocumentWindow()->activeView()), nullptr);

        sim::ReadingSettings reading;
        for (int32_t count : {1000, 2000, 3000, 4000}) {
            const sim::Bytes bytes = sim::BuildLiveFrame(reading, count);
            ASSERT_EQ(write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        }
        EXPECT_TRUE(QTest::qWaitFor([&] { return document->sampleCount() == 3; }, 5000));
        // The planned count ends the recording; the fourth reading is not stored.
        EXPECT_TRUE(QTest::qWaitFor([&] { return !link.state().documents().recording; }, 2000));
        EXPECT_EQ(document->sampleCount(), 3u);
        EXPECT_TRUE(frame.CommandAction(32775)->isEnabled());
    }
    close(master);
}

} // namespace
} // namespace calvora
