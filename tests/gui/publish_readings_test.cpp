// Settings › Publish Readings...: the live readings of the connected receiver and its alarms reach a real
// broker, the status bar shows the broker's state, and the dialog refuses settings that cannot work.
#include "app/command_ids.h"
#include "app/gui/calvora_application.h"
#include "app/gui/engine_link.h"
#include "app/gui/main_window.h"
#include "app/gui/publish_dialog.h"
#include "link/receiver_inventory.h"
#include "link/settings_file.h"
#include "measure/gui/alarm_center.h"
#include "tests/support/fake_receiver.h"
#include "tests/support/mqtt_broker.h"
#include "tools/sim/meter_frames.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

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

TEST(PublishReadings, LiveReadingsAndAlarmsReachTheBrokerAndTheStatusBarSaysItsState) {
    if (!testing::MosquittoInstalled())
        GTEST_SKIP() << "mosquitto is not installed (scripts/install-deps.sh installs it)";
    QTemporaryDir dir;
    testing::Broker broker(dir.filePath(QStringLiteral("broker")).toStdString());
    ASSERT_TRUE(broker.Start());
    testing::Subscriber subscriber(broker.port(), "desk/#");
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    OneReceiver inventory(ptsname(master));
    SettingsFile settings(dir.filePath(QStringLiteral("ZAZEDOVADIZO.ini")).toStdString());
    {
        CalvoraApplication app;
        ASSERT_TRUE(app.Assemble({.inventory = inventory, .settings = settings}));
        MainWindow& frame = *app.mainWindow();
        frame.show();
        app.link()->Start();
        QTreeWidget* tree = frame.instrumentTree();
        Q_EMIT tree->itemDoubleClicked(tree->topLevelItem(0), 0);

        PublishChoice choice;
        choice.enabled = true;
        choice.settings.target =
            ParseMqttUrl("mqtt://127.0.0.1:" + std::to_string(broker.port()) + "/desk").value();
        choice.settings.spoolFolder = dir.filePath(QStringLiteral("spool")).toStdString();
        ASSERT_TRUE(app.ApplyPublishing(choice));
        ASSERT_NE(app.publisher(), nullptr);
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return frame.brokerPane()->text() == QStringLiteral("MQTT: connected"); }, 5000))
            << frame.brokerPane()->text().toStdString();
        EXPECT_TRUE(frame.brokerPane()->isVisible());

        sim::ReadingSettings reading;
        for (int32_t count : {1000, 2000, 3000}) {
            const sim::Bytes bytes = sim::BuildLiveFrame(reading, count);
            ASSERT_EQ(write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        }
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return subscriber.payloads("desk/Multimeter/reading").size() == 3; }, 5000));
        const std::vector<std::string> readings = subscriber.payloads("desk/Multimeter/reading");
        for (size_t i = 0; i < readings.size(); ++i)
            EXPECT_EQ(nlohmann::json::parse(readings[i])["seq"], i + 1);

        // The alarm center tells the publisher of every event of every watched document.
        AlarmNotice notice;
        notice.event.kind = AlarmEvent::Kind::Ended;
        notice.valueText = u"0.3000";
        app.alarms()->Event(notice);
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return subscriber.payloads("desk/Multimeter/alarm").size() == 1; }, 5000));

        broker.Stop();
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return frame.brokerPane()->text().startsWith(QStringLiteral("MQTT: cannot reach")); },
            5000))
            << frame.brokerPane()->text().toStdString();

        // Turned off: no publisher, no pane.
        ASSERT_TRUE(app.ApplyPublishing(PublishChoice{}));
        EXPECT_EQ(app.publisher(), nullptr);
        EXPECT_FALSE(frame.brokerPane()->isVisible());
    }
    close(master);
}

TEST(PublishReadings, EveryConnectedReceiverPublishesUnderItsOwnNameWithItsOwnCount) {
    if (!testing::MosquittoInstalled())
        GTEST_SKIP() << "mosquitto is not installed (scripts/install-deps.sh installs it)";
    QTemporaryDir dir;
    testing::Broker broker(dir.filePath(QStringLiteral("broker")).toStdString());
    ASSERT_TRUE(broker.Start());
    testing::Subscriber subscriber(broker.port(), "bench/#");
    testing::MeterLine first;
    testing::MeterLine second;
    testing::ListedInventory inventory;
    inventory.ports = {{kReceiverDescription, "COM1", first.path()},
                       {kReceiverDescription, "COM2", second.path()}};
    SettingsFile settings(dir.filePath(QStringLiteral("ZAZEDOVADIZO.ini")).toStdString());
    ASSERT_TRUE(settings.WriteReceiverName(second.path(), "Load"));
    {
        CalvoraApplication app;
        ASSERT_TRUE(app.Assemble({.inventory = inventory, .settings = settings}));
        MainWindow& frame = *app.mainWindow();
        frame.show();
        app.link()->Start();
        QTreeWidget* tree = frame.instrumentTree();
        Q_EMIT tree->itemDoubleClicked(tree->topLevelItem(0), 0);
        Q_EMIT tree->itemDoubleClicked(tree->topLevelItem(1), 0);
        ASSERT_EQ(app.link()->extraSessionCount(), 1u);
        MeterEngine& load = app.link()->extraSession(0);

        PublishChoice choice;
        choice.enabled = true;
        choice.settings.target =
            ParseMqttUrl("mqtt://127.0.0.1:" + std::to_string(broker.port()) + "/bench").value();
        choice.settings.spoolFolder = dir.filePath(QStringLiteral("spool")).toStdString();
        ASSERT_TRUE(app.ApplyPublishing(choice));
        ASSERT_NE(app.publisherOf(load), nullptr);
        EXPECT_NE(app.publisherOf(load), app.publisher());
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return frame.brokerPane()->text() == QStringLiteral("MQTT: connected"); }, 5000))
            << frame.brokerPane()->text().toStdString();

        sim::ReadingSettings reading;
        for (int k = 0; k < 3; ++k) {
            ASSERT_TRUE(first.Send(sim::BuildLiveFrame(reading, 1000)));
            ASSERT_TRUE(second.Send(sim::BuildLiveFrame(reading, 2500)));
        }
        ASSERT_TRUE(second.Send(sim::BuildLiveFrame(reading, 2500)));
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                return subscriber.payloads("bench/Multimeter/reading").size() == 3 &&
                       subscriber.payloads("bench/Load/reading").size() == 4;
            },
            5000));
        struct Expected {
            std::string meter;
            size_t count;
        };
        std::vector<nlohmann::json> values;
        for (const Expected& meter : {Expected{"Multimeter", 3}, Expected{"Load", 4}}) {
            SCOPED_TRACE(meter.meter);
            const std::vector<std::string> readings =
                subscriber.payloads("bench/" + meter.meter + "/reading");
            ASSERT_EQ(readings.size(), meter.count);
            for (size_t i = 0; i < readings.size(); ++i) {
                const nlohmann::json message = nlohmann::json::parse(readings[i]);
                EXPECT_EQ(message["seq"], i + 1) << "each receiver counts its own readings";
                EXPECT_EQ(message["value"], nlohmann::json::parse(readings[0])["value"])
                    << "a reading crossed to the other receiver's topic";
            }
            values.push_back(nlohmann::json::parse(readings[0])["value"]);
            EXPECT_EQ(subscriber.payloads("bench/" + meter.meter + "/status").back(), "online");
        }
        EXPECT_NE(values[0], values[1]);

        // Disconnecting the active receiver ends its publishing; the first one's goes on.
        app.link()->Activate(load);
        ASSERT_TRUE(frame.ExecuteCommand(ID_DISCONNECT));
        EXPECT_EQ(app.publisherOf(load), nullptr);
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return subscriber.payloads("bench/Load/status").back() == "offline"; }, 5000));
        ASSERT_NE(app.publisher(), nullptr);
        EXPECT_EQ(subscriber.payloads("bench/Multimeter/status").back(), "online");
    }
}

TEST(PublishReadings, TheSettingsMenuOffersItAndTheDialogRefusesWhatCannotWork) {
    QTemporaryDir dir;
    OneReceiver inventory("/dev/null");
    SettingsFile settings(dir.filePath(QStringLiteral("ZAZEDOVADIZO.ini")).toStdString());
    CalvoraApplication app;
    ASSERT_TRUE(app.Assemble({.inventory = inventory, .settings = settings}));
    QStringList titles;
    for (QAction* menu : app.mainWindow()->menuBar()->actions())
        titles << menu->text();
    EXPECT_TRUE(titles.contains(QStringLiteral("&Settings"))) << titles.join(u',').toStdString();
    EXPECT_NE(app.mainWindow()->CommandAction(ID_PUBLISH_READINGS), nullptr);

    struct Case {
        const char* host;
        const char* prefix;
        const char* user;
        const char* password;
        const char* error; // empty: accepted
    };
    const Case cases[] = {
        {"", "lab", "", "", "Enter the broker's host name or address."},
        {"broker", "", "", "", "Enter a topic prefix."},
        {"broker", "lab/#", "", "", "The topic prefix cannot hold '+' or '#'."},
        {"broker", "lab", "", "secret", "A password needs a user."},
        {"broker", "lab/bench", "ann", "secret", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host + std::string(" ") + c.prefix);
        PublishChoice choice;
        choice.enabled = true;
        PublishDialog dialog(choice);
        dialog.findChild<QLineEdit*>(QStringLiteral("host"))->setText(QString::fromUtf8(c.host));
        dialog.findChild<QLineEdit*>(QStringLiteral("prefix"))->setText(QString::fromUtf8(c.prefix));
        dialog.findChild<QLineEdit*>(QStringLiteral("user"))->setText(QString::fromUtf8(c.user));
        dialog.findChild<QLineEdit*>(QStringLiteral("password"))->setText(QString::fromUtf8(c.password));
        dialog.accept();
        const bool accepted = dialog.result() == QDialog::Accepted;
        EXPECT_EQ(accepted, std::string(c.error).empty());
        if (!accepted)
            EXPECT_EQ(dialog.findChild<QLabel*>(QStringLiteral("publishError"))->text().toStdString(),
                      c.error);
        else
            EXPECT_EQ(dialog.choice().settings.target.prefix, "lab/bench");
    }
}

} // namespace
} // namespace calvora
