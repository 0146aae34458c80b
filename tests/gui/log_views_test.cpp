// The log window's parts on a log made in memory: the Data List's rows and cells, and the range export's
// dialog with the recording's limit.
#include "logging/gui/continuous_logging_dialog.h"
#include "logging/gui/export_range_dialog.h"
#include "logging/gui/log_list_model.h"
#include "logging/log_document.h"
#include "tests/logging/log_test_support.h"
#include "tests/support/shown_main_window.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDateTimeEdit>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

#include <filesystem>
#include <fstream>

namespace calvora {
namespace {

constexpr int64_t kStart = 1'796'000'000'000;

void Add(LogDocument& log, const MeterReading& reading, int64_t timeMs) {
    const LogEntry entry = LogEntryOf(reading);
    const std::optional<uint16_t> state = log.InternState(entry.state);
    ASSERT_TRUE(state);
    ASSERT_TRUE(log.Append(timeMs, entry.value(), *state));
}

TEST(LogList, RowsFollowTheLogAndCellsSayWhatTheMeterShowed) {
    LogDocument log;
    LogListModel model(log);
    Add(log, testing::Reading(12345), kStart);
    // A negative reading, then an overload after six silent seconds.
    Add(log, testing::Reading(-500), kStart + 20);
    ASSERT_TRUE(log.OpenGap(kStart + 20, u"no signal"));
    log.CloseGap(kStart + 6020);
    Add(log, testing::Reading(40001), kStart + 6020); // above 4 V

    model.CatchUp();
    ASSERT_EQ(model.rowCount(), 3);
    EXPECT_EQ(model.columnCount(), kLogColumns);
    auto cell = [&](int row, int column) {
        return model.data(model.index(row, column), Qt::DisplayRole).toString();
    };
    EXPECT_EQ(cell(0, kLogNumber), QStringLiteral("1"));
    EXPECT_EQ(cell(0, kLogFunction), QString::fromStdU16String(log.state(0).functionName));
    EXPECT_EQ(cell(0, kLogUnit), QStringLiteral("V"));
    EXPECT_TRUE(cell(0, kLogValue).contains(QStringLiteral("2345"))) << cell(0, kLogValue).toStdString();
    EXPECT_TRUE(cell(1, kLogValue).startsWith(QLatin1Char('-'))) << cell(1, kLogValue).toStdString();
    EXPECT_TRUE(cell(0, kLogGap).isEmpty());
    EXPECT_EQ(cell(2, kLogGap), QStringLiteral("6.0 s: no signal"));
    EXPECT_EQ(cell(2, kLogValue), QStringLiteral("OL"));
    // The time to the millisecond, the date first.
    EXPECT_TRUE(cell(1, kLogTime).endsWith(QStringLiteral(".020"))) << cell(1, kLogTime).toStdString();
    EXPECT_EQ(cell(1, kLogTime).size(), 23);
    EXPECT_TRUE(cell(3, kLogTime).isEmpty());
}

TEST(ExportRange, ASpanLongerThanARecordingIsRefusedAndAShorterOneTaken) {
    LogDocument log;
    constexpr int kReadings = 180'001;
    for (int i = 0; i < kReadings; ++i)
        Add(log, testing::Reading(1000 + i % 500), kStart + 20LL * i);

    ExportRangeDialog dialog(log, {0, static_cast<uint64_t>(kReadings)});
    EXPECT_EQ(dialog.range().count(), static_cast<uint64_t>(kReadings));
    EXPECT_FALSE(dialog.okButton()->isEnabled());
    EXPECT_EQ(dialog.countLabel()->text(),
              QStringLiteral("The range holds 180,001 readings; a recording holds at most 180,000. Choose a "
                             "shorter range."));

    // One reading less is exactly what a recording holds.
    dialog.fromEdit()->setDateTime(QDateTime::fromMSecsSinceEpoch(kStart + 20));
    EXPECT_EQ(dialog.range().first, 1u);
    EXPECT_EQ(dialog.range().count(), 180'000u);
    EXPECT_TRUE(dialog.okButton()->isEnabled());
    EXPECT_EQ(dialog.countLabel()->text(), QStringLiteral("180,000 readings"));

    // Both ends are taken to the millisecond and included.
    dialog.toEdit()->setDateTime(QDateTime::fromMSecsSinceEpoch(kStart + 20 * 100));
    EXPECT_EQ(dialog.range().first, 1u);
    EXPECT_EQ(dialog.range().end, 101u);
}

// OK needs a name, adds the log's extension, and replaces an existing file (with its write-ahead files) only
// when the user says so.
TEST(ContinuousLoggingDialogTest, AnExistingFileIsReplacedOnlyWhenTheUserSaysSo) {
    testing::ScriptedPrompts prompts;
    QTemporaryDir dir;
    const std::filesystem::path folder(dir.path().toStdU16String());
    ContinuousLoggingDialog dialog(folder, QStringLiteral("Multimeter 26-12-09  08.15.02"), prompts);
    EXPECT_EQ(dialog.path(), folder / "Multimeter 26-12-09  08.15.02.calvlog");

    dialog.fileEdit()->setText(QStringLiteral("  "));
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0], u"Choose a file for the log.");

    const std::filesystem::path existing = folder / "fridge.calvlog";
    for (const char* suffix : {"", "-wal"})
        std::ofstream(existing.string() + suffix) << "kept";
    dialog.fileEdit()->setText(QString::fromStdU16String((folder / "fridge").u16string()));
    EXPECT_EQ(dialog.path(), existing);
    prompts.answer = false;
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    ASSERT_EQ(prompts.questions.size(), 1u);
    EXPECT_EQ(prompts.questions[0], u"fridge.calvlog already exists.\nDo you want to replace it?");
    EXPECT_TRUE(std::filesystem::exists(existing));

    prompts.answer = true;
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_FALSE(std::filesystem::exists(existing));
    EXPECT_FALSE(std::filesystem::exists(existing.string() + "-wal"));

    dialog.stopAfterTime()->setChecked(true);
    dialog.duration()->setValue(1.5);
    dialog.durationUnit()->setCurrentIndex(2); // hours
    EXPECT_EQ(dialog.stopCondition().kind, LogStopCondition::Kind::Duration);
    EXPECT_EQ(dialog.stopCondition().durationMs, 5'400'000);
}

} // namespace
} // namespace calvora
