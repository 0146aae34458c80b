// File › Export... and Open of a csv export in the desktop program: the dialog's choices and how they are
// kept, the file the command writes, its failures, and the way back.
#include "app/command_ids.h"
#include "export/gui/export_dialog.h"
#include "protocol/text.h"
#include "recording/record_file.h"
#include "recording/recording_document.h"
#include "recording/recording_state.h"
#include "tests/export/export_documents.h"
#include "tests/support/shown_main_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMdiArea>
#include <QRadioButton>
#include <QSettings>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>

namespace calvora {
namespace {

// Answers the next modal dialog of type D: `answer` sets it up and accepts (true) or cancels (false).
template <typename D> void AnswerDialog(std::function<bool(D&)> answer) {
    auto* poll = new QTimer;
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, answer = std::move(answer)] {
        auto* dialog = qobject_cast<D*>(QApplication::activeModalWidget());
        if (dialog == nullptr || !dialog->isVisible()) {
            return;
        }
        poll->stop();
        poll->deleteLater();
        if (QWidget* focus = dialog->focusWidget()) {
            focus->clearFocus();
        }
        // QDialog's own accept(): a file dialog's would check the choice against its model first.
        if (answer(*dialog)) {
            dialog->QDialog::accept();
        } else {
            dialog->reject();
        }
    });
    poll->start();
}

QByteArray Contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void SelectData(QComboBox* box, int data) {
    box->setCurrentIndex(box->findData(data));
}

TEST(ExportDialog, ShowsTheChoicesItIsGivenAndKeepsThemInTheSettings) {
    QTemporaryDir dir;
    QSettings settings(dir.filePath(QStringLiteral("choices.ini")), QSettings::IniFormat);
    const ExportChoices defaults = ExportChoices::Load(settings);
    EXPECT_EQ(defaults.format, ExportFormat::Csv) << "the format spreadsheets open comes first";
    EXPECT_EQ(defaults.range, ExportRange::Whole);
    EXPECT_EQ(defaults.csv, CsvOptions{});

    ExportChoices chosen;
    chosen.format = ExportFormat::Csv;
    chosen.range = ExportRange::Numbers;
    chosen.first = 3;
    chosen.last = 7;
    chosen.csv = {';', true};
    chosen.folder = dir.path();
    {
        ExportDialog dialog(chosen, 10, {2, 5});
        EXPECT_EQ(dialog.choices(), chosen);
        EXPECT_TRUE(dialog.rangeButton(ExportRange::Numbers)->isChecked());
        EXPECT_EQ(dialog.firstBox()->value(), 3);
        EXPECT_EQ(dialog.lastBox()->value(), 7);
        EXPECT_TRUE(dialog.decimalCommaBox()->isChecked());
        const ExportOptions options = dialog.options();
        EXPECT_EQ(options.range, (SampleNumbers{3, 7}));
        dialog.rangeButton(ExportRange::Shown)->setChecked(true);
        EXPECT_EQ(dialog.options().range, (SampleNumbers{2, 5}));
        dialog.rangeButton(ExportRange::Whole)->setChecked(true);
        EXPECT_FALSE(dialog.options().range.has_value());

        // Each choice of the dialog goes to the settings and comes back.
        SelectData(dialog.formatBox(), static_cast<int>(ExportFormat::Xlsx));
        dialog.rangeButton(ExportRange::Numbers)->setChecked(true);
        dialog.lastBox()->setValue(9);
        EXPECT_FALSE(dialog.delimiterBox()->isEnabled()) << "csv options only for csv";
        dialog.choices().Store(settings);
    }
    const ExportChoices loaded = ExportChoices::Load(settings);
    EXPECT_EQ(loaded.format, ExportFormat::Xlsx);
    EXPECT_EQ(loaded.range, ExportRange::Numbers);
    EXPECT_EQ(loaded.first, 3u);
    EXPECT_EQ(loaded.last, 9u);
    EXPECT_EQ(loaded.csv, (CsvOptions{';', true}));
    EXPECT_EQ(loaded.folder, dir.path());

    // Numbers that do not fit another document give way to all of it; no shown range, no such choice.
    chosen.range = ExportRange::Shown;
    ExportDialog small(chosen, 4, {1, 0});
    EXPECT_EQ(small.firstBox()->value(), 1);
    EXPECT_EQ(small.lastBox()->value(), 4);
    EXPECT_FALSE(small.rangeButton(ExportRange::Shown)->isEnabled());
    EXPECT_TRUE(small.rangeButton(ExportRange::Whole)->isChecked());
}

TEST(ExportDialog, ADecimalCommaAndTheCommaDelimiterExcludeEachOther) {
    ExportDialog dialog(ExportChoices{}, 10, {1, 10});
    EXPECT_EQ(dialog.delimiterBox()->currentData().toInt(), ',');
    dialog.decimalCommaBox()->setChecked(true);
    EXPECT_EQ(dialog.choices().csv, (CsvOptions{';', true}));
    SelectData(dialog.delimiterBox(), '\t');
    EXPECT_EQ(dialog.choices().csv, (CsvOptions{'\t', true}));
    SelectData(dialog.delimiterBox(), ',');
    EXPECT_EQ(dialog.choices().csv, (CsvOptions{',', false}));
    // The range's ends keep their order.
    dialog.rangeButton(ExportRange::Numbers)->setChecked(true);
    dialog.lastBox()->setValue(4);
    dialog.firstBox()->setValue(6);
    EXPECT_EQ(dialog.lastBox()->value(), 6);
    // A file with a broken pair in it is read as the defaults.
    QTemporaryDir dir;
    QSettings settings(dir.filePath(QStringLiteral("choices.ini")), QSettings::IniFormat);
    settings.setValue(QStringLiteral("Export/delimiter"), QStringLiteral(","));
    settings.setValue(QStringLiteral("Export/decimalComma"), true);
    settings.setValue(QStringLiteral("Export/format"), QStringLiteral("ods"));
    const ExportChoices loaded = ExportChoices::Load(settings);
    EXPECT_EQ(loaded.csv, CsvOptions{});
    EXPECT_EQ(loaded.format, ExportFormat::Csv);
}

class ExportCommandTest : public testing::ShownMainWindowTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(home.isValid());
        oldHome_ = qgetenv("HOME");
        qputenv("HOME", home.path().toLocal8Bit());
        ASSERT_TRUE(QDir(home.path()).mkdir(QStringLiteral("Documents")));
        QSettings(QStringLiteral("Local AppWizard-Generated Applications"), QStringLiteral("Calvora"))
            .remove(QStringLiteral("Export"));
        ShownMainWindowTest::SetUp();
    }
    void TearDown() override {
        ShownMainWindowTest::TearDown();
        qputenv("HOME", oldHome_);
    }
    // The golden document, opened from a record file.
    RecordingDocument* OpenGolden() {
        const QString path = QDir(home.path()).filePath(QStringLiteral("run.recorder"));
        MemorySink sink;
        EXPECT_TRUE(WriteRecord(test::DocumentOf(test::GoldenRows()), sink));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(reinterpret_cast<const char*>(sink.bytes.data()),
                   static_cast<qsizetype>(sink.bytes.size()));
        file.close();
        return frame->OpenDocumentFile(path) != nullptr ? frame->activeDocument() : nullptr;
    }

    QTemporaryDir home;

private:
    QByteArray oldHome_;
};

TEST_F(ExportCommandTest, WritesTheChosenSamplesAndOffersTheSameChoicesNextTime) {
    ASSERT_FALSE(Enabled(ID_EXPORT)) << "nothing to export without a document";
    RecordingDocument* document = OpenGolden();
    ASSERT_NE(document, nullptr);
    ASSERT_TRUE(Enabled(ID_EXPORT));
    const QString target = QDir(home.path()).filePath(QStringLiteral("part.csv"));

    AnswerDialog<ExportDialog>([](ExportDialog& dialog) {
        SelectData(dialog.formatBox(), static_cast<int>(ExportFormat::Csv));
        dialog.rangeButton(ExportRange::Numbers)->setChecked(true);
        dialog.firstBox()->setValue(2);
        dialog.lastBox()->setValue(3);
        dialog.decimalCommaBox()->setChecked(true);
        AnswerDialog<QFileDialog>([](QFileDialog& files) {
            EXPECT_EQ(files.nameFilters(), QStringList{QStringLiteral("CSV files (*.csv)")});
            EXPECT_EQ(QFileInfo(files.selectedFiles().value(0)).fileName(), QStringLiteral("run.csv"));
            return true;
        });
        return true;
    });
    // The first export takes the name and folder offered: the document's name in the recordings' folder.
    EXPECT_TRUE(frame->ExecuteCommand(ID_EXPORT));
    const QString offered = QDir(QDir(home.path()).filePath(QStringLiteral("Documents/Multimeter")))
                                .filePath(QStringLiteral("run.csv"));
    EXPECT_EQ(Contents(offered), QByteArray("sample;time;function;mode;value;unit\r\n"
                                            "2;2026-12-07T22:05:21;RDBC;R;OL;KΩ\r\n"
                                            "3;2026-12-07T22:05:22;Temp;TK;-OL;°C\r\n"));
    EXPECT_TRUE(prompts.messages.empty());

    // The next export starts from the same choices and in the same folder.
    AnswerDialog<ExportDialog>([&](ExportDialog& dialog) {
        EXPECT_EQ(dialog.choices().format, ExportFormat::Csv);
        EXPECT_TRUE(dialog.rangeButton(ExportRange::Numbers)->isChecked());
        EXPECT_EQ(dialog.firstBox()->value(), 2);
        EXPECT_EQ(dialog.lastBox()->value(), 3);
        EXPECT_EQ(dialog.choices().csv, (CsvOptions{';', true}));
        AnswerDialog<QFileDialog>([&](QFileDialog& files) {
            EXPECT_EQ(QDir(files.directory()).canonicalPath(), QFileInfo(offered).canonicalPath());
            files.selectFile(target);
            return true;
        });
        return true;
    });
    EXPECT_TRUE(frame->ExecuteCommand(ID_EXPORT));
    EXPECT_EQ(Contents(target), Contents(offered));

    // Cancelled: nothing written.
    AnswerDialog<ExportDialog>([](ExportDialog&) { return false; });
    EXPECT_TRUE(frame->ExecuteCommand(ID_EXPORT));
    EXPECT_EQ(QDir(home.path()).entryList({QStringLiteral("*.csv")}, QDir::Files).size(), 1);
}

TEST_F(ExportCommandTest, AFailedExportIsToldAndLeavesNothingBehind) {
    RecordingDocument* document = OpenGolden();
    ASSERT_NE(document, nullptr);
    // Root writes into any folder; a file where the folder should be stops everyone.
    const QString notAFolder = QDir(home.path()).filePath(QStringLiteral("file"));
    QFile file(notAFolder);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    for (const ExportFormat format : kExportFormats) {
        prompts.messages.clear();
        ExportOptions options;
        options.format = format;
        const QString target = notAFolder + QStringLiteral("/run.out");
        EXPECT_FALSE(frame->ExportDocumentTo(*document, options, target));
        ASSERT_EQ(prompts.messages.size(), 1u);
        EXPECT_EQ(prompts.icons.back(), MessageIcon::Exclamation);
        EXPECT_EQ(toUtf8(prompts.messages[0]), "Cannot save " + target.toStdString() + ": Not a directory");
    }
    EXPECT_EQ(QDir(home.path()).entryList(QDir::Files | QDir::NoDotAndDotDot),
              (QStringList{QStringLiteral("file"), QStringLiteral("run.recorder")}));
}

TEST_F(ExportCommandTest, OpenReadsACsvExportBackAndRefusesOtherCsvFiles) {
    RecordingDocument* original = OpenGolden();
    ASSERT_NE(original, nullptr);
    const QString exported = QDir(home.path()).filePath(QStringLiteral("golden.csv"));
    ASSERT_TRUE(frame->ExportDocumentTo(*original, {ExportFormat::Csv, {}, {'\t', true}}, exported));

    DocumentWindow* window = frame->OpenDocumentFile(exported);
    ASSERT_NE(window, nullptr);
    RecordingDocument* reopened = window->document();
    EXPECT_EQ(reopened->title, u"golden.csv");
    EXPECT_EQ(reopened->sampleCount(), original->sampleCount());
    EXPECT_FALSE(documents().loadRejected);
    const QString again = QDir(home.path()).filePath(QStringLiteral("again.csv"));
    ASSERT_TRUE(frame->ExportDocumentTo(*reopened, {ExportFormat::Csv, {}, {'\t', true}}, again));
    EXPECT_EQ(Contents(again), Contents(exported));

    const QString other = QDir(home.path()).filePath(QStringLiteral("other.csv"));
    QFile file(other);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("sample,time,function,mode,value,unit\r\n1,t,VDC,DC,1.5,V\r\n2,t,VDC,DC,high,V\r\n");
    file.close();
    const int windows = static_cast<int>(frame->mdiArea()->subWindowList().size());
    EXPECT_EQ(frame->OpenDocumentFile(other), nullptr);
    EXPECT_EQ(frame->mdiArea()->subWindowList().size(), windows) << "no empty window is left";
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(toUtf8(prompts.messages[0]), other.toStdString() +
                                               ": line 3 does not fit a csv export: the value \"high\" is "
                                               "neither a number nor OL or -OL");
    EXPECT_TRUE(documents().loadRejected);
}

} // namespace
} // namespace calvora
