// The desktop side of the measurement aids: the Statistics page (whole and selected figures, live
// updates, the copied text), the alarm actions carried out by the AlarmCenter (the list, a notification
// delivered to a notification service on a private session bus, the end of the recording), and the
// refusals and remembered values of the Limits and Trigger dialogs.
#include "measure/gui/alarm_center.h"
#include "measure/gui/alarm_list.h"
#include "measure/gui/desktop_notifier.h"
#include "measure/gui/limits_dialog.h"
#include "measure/gui/statistics_page.h"
#include "measure/gui/trigger_dialog.h"
#include "recording/recording_document.h"
#include "recording/recording_state.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QProcess>
#include <QRadioButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeEdit>
#include <QTreeWidget>

#include <vector>

namespace calvora {
namespace {

constexpr char16_t kTime[] = u" 12/07/26 22:05:20";

void Append(RecordingDocument& document, float value, std::u16string_view function = u"VDC",
            std::u16string_view unit = u"V") {
    document.AppendSample(value, 600, -600, function, u"DC", unit, kTime);
}

// A live document holding `values` (700 is an overload: beyond the full scale of 600).
std::unique_ptr<RecordingDocument> LiveDocument(const std::vector<float>& values) {
    auto document = std::make_unique<RecordingDocument>();
    document->title = u"Bench supply";
    uint32_t allocated = 0;
    document->BeginLiveStorage(1000, allocated);
    document->liveActive = true;
    for (float value : values)
        Append(*document, value);
    return document;
}

// The texts of the "Whole document" and second column of the row named `figure` under `group`.
std::pair<QString, QString> Row(const QTreeWidget& table, const QString& group, const QString& figure) {
    bool inGroup = group.isEmpty();
    for (int i = 0; i < table.topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = table.topLevelItem(i);
        const QString name = item->text(0).trimmed();
        if (!item->text(0).startsWith(QLatin1Char(' ')))
            inGroup = group.isEmpty() || name == group;
        if (inGroup && name == figure)
            return {item->text(1), item->text(2)};
    }
    ADD_FAILURE() << "no row " << figure.toStdString() << " under " << group.toStdString();
    return {};
}

TEST(StatisticsPage, WholeAndSelectedFiguresPerGroupKeptCurrentAndCopiedAsText) {
    auto document = LiveDocument({1, 3, 2, 700, 4});
    Append(*document, 100, u"OHM", u"\u03a9");
    document->layout.selection = {2, 3};
    double now = 0;
    // The page sits in a window whose own Ctrl+C (the main window's Copy) must not take the key from it.
    QWidget window;
    auto* windowCopy = new QAction(&window);
    windowCopy->setShortcut(QKeySequence::Copy);
    windowCopy->setShortcutContext(Qt::WindowShortcut);
    window.addAction(windowCopy);
    QSignalSpy windowCopied(windowCopy, &QAction::triggered);
    auto* pagePointer = new StatisticsPage(&window);
    StatisticsPage& page = *pagePointer;
    page.SetClock([&now] { return now; });
    page.SetDocument(document.get());
    const QTreeWidget& table = *page.table();
    const QString volts = QStringLiteral("VDC  V");
    EXPECT_EQ(table.headerItem()->text(2), QStringLiteral("Selection"));
    EXPECT_EQ(Row(table, {}, QStringLiteral("Samples")),
              std::pair(QStringLiteral("1 to 6"), QStringLiteral("2 to 3")));
    EXPECT_EQ(Row(table, volts, QStringLiteral("Count")).first, QStringLiteral("4"));
    EXPECT_EQ(Row(table, volts, QStringLiteral("Overloads")).first, QStringLiteral("1"));
    EXPECT_EQ(Row(table, volts, QStringLiteral("Mean")),
              std::pair(QStringLiteral("2.5"), QStringLiteral("2.5")));
    const auto [wholeMax, selectedMax] = Row(table, volts, QStringLiteral("Maximum"));
    EXPECT_TRUE(wholeMax.contains(QStringLiteral("(No. 5, 12/07/26 22:05:20)"))) << wholeMax.toStdString();
    EXPECT_TRUE(selectedMax.contains(QStringLiteral("(No. 2,"))) << selectedMax.toStdString();
    // A group with no reading in the selection shows dashes beside its whole figures.
    EXPECT_EQ(Row(table, QStringLiteral("OHM  \u03a9"), QStringLiteral("Count")),
              std::pair(QStringLiteral("1"), QStringLiteral("\u2013")));

    // New readings are counted by the next refresh; no selection: the second column is what is visible.
    document->layout.selection = {};
    document->layout.shown = {1, 8};
    now = 1;
    Append(*document, 0.5f);
    now = 2;
    Append(*document, 9);
    page.Refresh();
    EXPECT_EQ(table.headerItem()->text(2), QStringLiteral("Visible"));
    EXPECT_EQ(Row(table, volts, QStringLiteral("Count")),
              std::pair(QStringLiteral("6"), QStringLiteral("6")));
    EXPECT_TRUE(Row(table, volts, QStringLiteral("Minimum")).first.contains(QStringLiteral("(No. 7,")));
    EXPECT_EQ(Row(table, {}, QStringLiteral("Reading rate")).first, QStringLiteral("1.00 /s"));

    // Ctrl+C on the bar copies the figures as tab-separated text.
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    page.table()->setFocus();
    QApplication::clipboard()->clear();
    QTest::keyClick(page.table(), Qt::Key_C, Qt::ControlModifier);
    const QString copied = QApplication::clipboard()->text();
    EXPECT_EQ(copied, page.Text());
    EXPECT_EQ(windowCopied.count(), 0);
    EXPECT_TRUE(copied.startsWith(QStringLiteral("Bench supply\nWhole document: samples 1 to 8\nFunction\t")))
        << copied.toStdString();
    EXPECT_TRUE(copied.contains(QStringLiteral("\nVDC\tV\t6\t1\t0.5000\t7\t12/07/26 22:05:20\t")))
        << copied.toStdString();
    EXPECT_TRUE(copied.contains(QStringLiteral("\nVisible: samples 1 to 8\n"))) << copied.toStdString();

    page.Forget(document.get());
    EXPECT_EQ(page.document(), nullptr);
    EXPECT_EQ(table.topLevelItemCount(), 0);
}

// A session bus of the test's own with a notification service that keeps what it is sent.
class NotificationService : public QDBusVirtualObject {
public:
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.member() != QStringLiteral("Notify"))
            return false;
        calls.push_back(message.arguments());
        connection.send(message.createReply(QVariant::fromValue(static_cast<uint>(calls.size()))));
        return true;
    }
    std::vector<QList<QVariant>> calls;
};

class AlarmCenterTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
            GTEST_SKIP() << "dbus-daemon is not installed (scripts/install-deps.sh installs it)";
        daemon_.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                                      QStringLiteral("--print-address=1")});
        ASSERT_TRUE(daemon_.waitForStarted(5000));
        QDeadlineTimer deadline(10000);
        while (!daemon_.canReadLine() && !deadline.hasExpired())
            daemon_.waitForReadyRead(100);
        const QString address = QString::fromUtf8(daemon_.readLine()).trimmed();
        ASSERT_FALSE(address.isEmpty()) << "the bus gave no address";
        serviceBus_ = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(address, QStringLiteral("measure-test-service")));
        clientBus_ = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(address, QStringLiteral("measure-test-client")));
        ASSERT_TRUE(serviceBus_->isConnected() && clientBus_->isConnected());
        ASSERT_TRUE(serviceBus_->registerService(QString::fromLatin1(DesktopNotifier::kService)));
        ASSERT_TRUE(
            serviceBus_->registerVirtualObject(QString::fromLatin1(DesktopNotifier::kPath), &service_));
        notifier_ = std::make_unique<DesktopNotifier>(*clientBus_);
    }
    void TearDown() override {
        notifier_.reset();
        if (serviceBus_) {
            serviceBus_->unregisterObject(QString::fromLatin1(DesktopNotifier::kPath));
            serviceBus_.reset();
            clientBus_.reset();
            QDBusConnection::disconnectFromBus(QStringLiteral("measure-test-service"));
            QDBusConnection::disconnectFromBus(QStringLiteral("measure-test-client"));
        }
        if (daemon_.state() != QProcess::NotRunning) {
            daemon_.kill();
            daemon_.waitForFinished(5000);
        }
    }

    QProcess daemon_;
    NotificationService service_;
    std::unique_ptr<QDBusConnection> serviceBus_;
    std::unique_ptr<QDBusConnection> clientBus_;
    std::unique_ptr<DesktopNotifier> notifier_;
};

TEST_F(AlarmCenterTest, ARaisedAlarmNotifiesTheDesktopListsItselfAndStopsTheRecording) {
    auto document = LiveDocument({});
    document->limits.high = 5;
    document->limits.low = 1;
    document->limits.actions.stopRecording = true;
    AlarmList list;
    int stops = 0;
    AlarmCenter center(notifier_.get(), &list, [&stops] { ++stops; });
    center.SetClock([] { return 0.0; });
    center.Watch(*document);
    EXPECT_TRUE(center.watching(*document));
    QSignalSpy answered(notifier_.get(), &DesktopNotifier::answered);

    Append(*document, 3);
    Append(*document, 5.5f);
    ASSERT_TRUE(answered.wait(10000)) << "the notification service never answered";
    EXPECT_EQ(answered.at(0).at(0).toUInt(), 1u);
    ASSERT_EQ(service_.calls.size(), 1u);
    const QList<QVariant>& call = service_.calls[0];
    ASSERT_EQ(call.size(), 8);
    EXPECT_EQ(call[0].toString(), QStringLiteral("Calvora"));
    EXPECT_EQ(call[3].toString(), QStringLiteral("High limit 5 V exceeded"));
    EXPECT_EQ(call[4].toString(),
              QStringLiteral("Reading 5.5000 V at 12/07/26 22:05:20, sample 2 of Bench supply"));
    EXPECT_EQ(call[7].toInt(), -1);
    EXPECT_EQ(stops, 1);
    ASSERT_EQ(list.topLevelItemCount(), 1);
    const QTreeWidgetItem* line = list.topLevelItem(0);
    EXPECT_EQ(line->text(AlarmList::kRaised), QStringLiteral("12/07/26 22:05:20"));
    EXPECT_EQ(line->text(AlarmList::kEnded), QString());
    EXPECT_EQ(line->text(AlarmList::kReading), QStringLiteral("5.5000 V"));
    EXPECT_EQ(line->text(AlarmList::kSource), QStringLiteral("Bench supply, sample 2"));

    Append(*document, 4); // back inside: the line gets its end, nothing else happens
    Append(*document, 0.5f);
    ASSERT_TRUE(answered.wait(10000));
    EXPECT_EQ(line->text(AlarmList::kEnded), QStringLiteral("12/07/26 22:05:20"));
    ASSERT_EQ(list.topLevelItemCount(), 2);
    EXPECT_EQ(list.topLevelItem(0)->text(AlarmList::kAlarm), QStringLiteral("Low limit 1 V undershot"));
    EXPECT_EQ(service_.calls.size(), 2u);
    EXPECT_EQ(stops, 2);

    center.Forget(*document);
    Append(*document, 9);
    EXPECT_EQ(list.topLevelItemCount(), 2) << "a forgotten document raises nothing";
}

TEST(DesktopNotifier, WithoutASessionBusANotificationIsDroppedQuietly) {
    DesktopNotifier notifier(QDBusConnection(QStringLiteral("no such bus")));
    EXPECT_FALSE(notifier.Notify(QStringLiteral("t"), QStringLiteral("x")));
}

class FakePrompts final : public UserPrompts {
public:
    bool AskYesNo(const std::u16string&) override { return true; }
    void ShowMessage(const std::u16string& text, MessageIcon) override { messages.push_back(text); }
    std::vector<std::u16string> messages;
};

TEST(LimitsDialog, RefusesWhatCannotBeLimitsAndTakesTheRest) {
    LimitSettings start;
    start.high = 5;
    FakePrompts prompts;
    LimitsDialog dialog(start, true, false, &prompts);
    EXPECT_EQ(dialog.highEdit()->text(), QStringLiteral("5"));
    EXPECT_FALSE(dialog.commandEdit()->isEnabled());

    const struct {
        const char* high;
        const char* low;
        const char* hold;
        std::u16string reason;
    } refused[] = {
        {"5,5", "", "", u"\"5,5\" is no number."},
        {"2", "3", "", u"The high limit must be above the low limit."},
        {"5", "1", "-1", u"The hold time cannot be negative."},
        {"inf", "", "", u"\"inf\" is no number."},
    };
    for (const auto& entry : refused) {
        SCOPED_TRACE(entry.high);
        prompts.messages.clear();
        dialog.highEdit()->setText(QString::fromLatin1(entry.high));
        dialog.lowEdit()->setText(QString::fromLatin1(entry.low));
        dialog.holdEdit()->setText(QString::fromLatin1(entry.hold));
        dialog.accept();
        EXPECT_NE(dialog.result(), QDialog::Accepted);
        ASSERT_EQ(prompts.messages.size(), 1u);
        EXPECT_EQ(prompts.messages[0], entry.reason);
    }

    dialog.highEdit()->setText(QStringLiteral(" 5.25 "));
    dialog.lowEdit()->setText(QStringLiteral("-1"));
    dialog.holdEdit()->setText(QStringLiteral("2"));
    dialog.hysteresisEdit()->setText(QString());
    dialog.lowBox()->setChecked(true);
    dialog.commandBox()->setChecked(true);
    dialog.commandEdit()->setText(QStringLiteral("  notify-me \"$CALVORA_VALUE\" "));
    dialog.stopBox()->setChecked(true);
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    const LimitSettings taken = dialog.limits();
    EXPECT_EQ(taken.high, 5.25);
    EXPECT_EQ(taken.low, -1.0);
    EXPECT_FALSE(taken.hysteresis.has_value()) << "empty stays the default";
    EXPECT_EQ(taken.holdSeconds, 2.0);
    EXPECT_EQ(taken.actions.command, u"notify-me \"$CALVORA_VALUE\"");
    EXPECT_TRUE(taken.actions.stopRecording);
    EXPECT_TRUE(dialog.highOn() && dialog.lowOn());
}

TEST(LimitsDialog, NewDocumentsTakeTheStoredLimitsUnlessTheyWereSpoiledByHand) {
    QTemporaryDir folder;
    QSettings settings(folder.filePath(QStringLiteral("limits.ini")), QSettings::IniFormat);
    EXPECT_EQ(LoadDefaultLimits(settings), LimitSettings{}) << "nothing stored: no limits";

    LimitSettings limits;
    limits.high = 12.5;
    limits.low = -0.001;
    limits.hysteresis = 0.25;
    limits.holdSeconds = 3;
    limits.actions = {true, false, true, true, u"logger \"$CALVORA_ALARM\""};
    StoreDefaultLimits(settings, limits);
    settings.sync();
    QSettings again(folder.filePath(QStringLiteral("limits.ini")), QSettings::IniFormat);
    EXPECT_EQ(LoadDefaultLimits(again), limits);

    again.setValue(QStringLiteral("Limits/Low"), QStringLiteral("20"));
    EXPECT_EQ(LoadDefaultLimits(again), LimitSettings{}) << "a low limit above the high one is not taken";
}

TEST(TriggerDialog, RefusesALevelThatIsNoNumberAndTakesTheChoice) {
    FakePrompts prompts;
    TriggerDialog dialog(TriggerSettings{}, &prompts);
    EXPECT_TRUE(dialog.immediateButton()->isChecked());
    EXPECT_FALSE(dialog.levelEdit()->isEnabled());

    dialog.levelButton()->setChecked(true);
    EXPECT_TRUE(dialog.levelEdit()->isEnabled());
    dialog.levelEdit()->setText(QStringLiteral("one volt"));
    dialog.accept();
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0], u"The level must be a number.");

    dialog.levelEdit()->setText(QStringLiteral("-2.5"));
    dialog.edgeBox()->setCurrentIndex(static_cast<int>(TriggerEdge::Falling));
    dialog.preTriggerBox()->setValue(50);
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    const TriggerSettings chosen = dialog.trigger();
    EXPECT_EQ(chosen.kind, TriggerKind::Level);
    EXPECT_EQ(chosen.level, -2.5);
    EXPECT_EQ(chosen.edge, TriggerEdge::Falling);
    EXPECT_EQ(chosen.preTrigger, 50u);
}

} // namespace
} // namespace calvora
