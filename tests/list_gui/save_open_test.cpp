// Save and Open from the window, through their dialogs: the names the two files get, the document's title,
// and the files that are refused on every way of opening.
#include "app/command_ids.h"
#include "app/gui/calvora_application.h"
#include "app/gui/document_window.h"
#include "app/gui/main_window.h"
#include "recording/byte_sink.h"
#include "recording/record_file.h"
#include "recording/recording_document.h"
#include "recording/recording_state.h"
#include "tests/support/shown_main_window.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMdiArea>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>

namespace calvora {
namespace {

// Answers the next modal file dialog: `answer` looks at it and picks a file (true) or cancels (false).
void AnswerFileDialog(std::function<bool(QFileDialog&)> answer) {
    auto* poll = new QTimer;
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, answer = std::move(answer)] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr || !dialog->isVisible()) {
            return;
        }
        poll->stop();
        poll->deleteLater();
        // selectFile() leaves the name field alone while that field has the keyboard focus (someone may be
        // typing in it), and the focus arrives with the window's activation, sooner or later: take it away
        // so that the answer's choice is what the dialog returns.
        if (QWidget* focus = dialog->focusWidget()) {
            focus->clearFocus();
        }
        // QDialog's own accept(), not QFileDialog's: that one checks the choice against the dialog's file
        // model and may open a message box of its own, which nothing here would answer. What the program
        // does with the chosen name is what these tests look at.
        if (answer(*dialog)) {
            dialog->QDialog::accept();
        } else {
            dialog->reject();
        }
    });
    poll->start();
}

void WriteBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray RecordBytes(uint32_t samples) {
    RecordingDocument document;
    document.SetChannelCount(1);
    document.FillRows(samples);
    for (uint32_t row = 0; row < samples; ++row) {
        document.SetValue(row, 0, 1.0f, 6.0f);
        document.SetTexts(row, u"VDC", u"DC", u"V", u" 12/08/26 10:00:00");
    }
    MemorySink sink;
    EXPECT_TRUE(WriteRecord(document, sink));
    return QByteArray(reinterpret_cast<const char*>(sink.bytes.data()),
                      static_cast<qsizetype>(sink.bytes.size()));
}

TEST(SaveNames, FiltersAndExtensions) {
    EXPECT_EQ(QtNameFilters(QStringLiteral("MultiMeter Files(*.recorder;*.xls)|*.recorder;*.xls|")),
              QStringList{QStringLiteral("MultiMeter Files(*.recorder *.xls)")});
    EXPECT_EQ(
        QtNameFilters(QStringLiteral("Multimeter Files (*.recorder)|*.recorder|All Files (*.*)|*.*||")),
        (QStringList{QStringLiteral("Multimeter Files (*.recorder)"), QStringLiteral("All Files (*.*)")}));
    EXPECT_EQ(QtNameFilters(QStringLiteral("Records|*.recorder|")),
              QStringList{QStringLiteral("Records (*.recorder)")});

    const std::pair<const char*, const char*> names[] = {
        {"/d/data.xls", "/d/data.xls"},
        {"/d/run.1.recorder", "/d/run.1.recorder"},
        {"/d/RUN.Recorder", "/d/RUN.Recorder"},
        {"/d/Multimeter 26-12-07  22.05.20", "/d/Multimeter 26-12-07  22.05.20.recorder"},
        {"/d/v2.5", "/d/v2.5.recorder"},
        {"/d/plain", "/d/plain.recorder"},
    };
    for (const auto& [chosen, written] : names) {
        EXPECT_EQ(WithSaveExtension(QString::fromUtf8(chosen)), QString::fromUtf8(written)) << chosen;
    }
}

class SaveOpenTest : public testing::ShownMainWindowTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(home.isValid());
        oldHome_ = qgetenv("HOME");
        // The documents folder lies under the home folder: keep the tests' files out of the user's.
        qputenv("HOME", home.path().toLocal8Bit());
        ASSERT_TRUE(QDir(home.path()).mkdir(QStringLiteral("Documents")));
        ShownMainWindowTest::SetUp();
    }
    void TearDown() override {
        ShownMainWindowTest::TearDown();
        qputenv("HOME", oldHome_);
    }
    QString SaveFolder() const { return QDir(home.path()).filePath(QStringLiteral("Documents/Multimeter")); }

    QTemporaryDir home;

private:
    QByteArray oldHome_;
};

TEST_F(SaveOpenTest, SaveDialogAndTheTwoFilesItWrites) {
    struct Case {
        const char* typed; // null: the default name as offered
        const char* record;
        const char* text;
    };
    const Case cases[] = {
        {"run.1.recorder", "run.1.recorder", "run.1.csv"},
        {"data.xls", "data.recorder", "data.csv"},
        {"plain", "plain.recorder", "plain.csv"},
        {"v2.5", "v2.5.recorder", "v2.5.csv"},
        {nullptr, nullptr, nullptr},
    };
    DocumentWindow* window = frame->NewDocument();
    RecordingDocument* document = window->document();
    documents().recordingDocument = document;
    const QRegularExpression defaultName(
        QStringLiteral("^Multimeter \\d\\d-\\d\\d-\\d\\d  \\d\\d\\.\\d\\d\\.\\d\\d\\.recorder$"));
    for (const Case& c : cases) {
        documents().dataSaved = false;
        QString offered;
        AnswerFileDialog([&](QFileDialog& dialog) {
            EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptSave);
            EXPECT_EQ(dialog.nameFilters(),
                      QStringList{QStringLiteral("MultiMeter Files(*.recorder *.xls)")});
            EXPECT_EQ(dialog.defaultSuffix(), QStringLiteral("recorder"));
            EXPECT_FALSE(dialog.testOption(QFileDialog::DontConfirmOverwrite));
            EXPECT_EQ(QDir(dialog.directory()).canonicalPath(), QDir(SaveFolder()).canonicalPath());
            offered = dialog.selectedFiles().value(0);
            if (c.typed != nullptr) {
                dialog.selectFile(QDir(SaveFolder()).filePath(QString::fromUtf8(c.typed)));
            }
            return true;
        });
        EXPECT_TRUE(frame->ExecuteCommand(ID_SAVE_DATA));
        EXPECT_TRUE(QDir(SaveFolder()).exists()) << "made when missing";
        EXPECT_TRUE(defaultName.match(QFileInfo(offered).fileName()).hasMatch()) << offered.toStdString();
        QString record = c.record != nullptr ? QString::fromUtf8(c.record) : QFileInfo(offered).fileName();
        QString text = c.text != nullptr ? QString::fromUtf8(c.text)
                                         : QFileInfo(offered).completeBaseName() + QStringLiteral(".csv");
        EXPECT_TRUE(QFile::exists(QDir(SaveFolder()).filePath(record))) << record.toStdString();
        EXPECT_TRUE(QFile::exists(QDir(SaveFolder()).filePath(text))) << text.toStdString();
        EXPECT_TRUE(documents().dataSaved);
        // The window is named after the record file; it keeps no file of its own for the framework's save.
        EXPECT_EQ(window->windowTitle(), record);
        EXPECT_EQ(document->title, record.toStdU16String());
        EXPECT_TRUE(window->pathName().isEmpty());
    }
    EXPECT_FALSE(QFile::exists(QDir(SaveFolder()).filePath(QStringLiteral("data.xls"))));
    EXPECT_TRUE(prompts.messages.empty());

    // Cancel writes nothing and leaves dataSaved alone.
    const QStringList before = QDir(SaveFolder()).entryList(QDir::Files);
    documents().dataSaved = false;
    AnswerFileDialog([](QFileDialog&) { return false; });
    EXPECT_TRUE(frame->ExecuteCommand(ID_SAVE_DATA));
    EXPECT_EQ(QDir(SaveFolder()).entryList(QDir::Files), before);
    EXPECT_FALSE(documents().dataSaved);
}

TEST_F(SaveOpenTest, AddedExtensionAsksBeforeReplacingAFile) {
    DocumentWindow* window = frame->NewDocument();
    ASSERT_TRUE(QDir().mkpath(SaveFolder()));
    const QString existing = QDir(SaveFolder()).filePath(QStringLiteral("v2.5.recorder"));
    WriteBytes(existing, "old");
    // No: back to the dialog, which is cancelled; the old file stays.
    AnswerFileDialog([&](QFileDialog& dialog) {
        dialog.selectFile(QDir(SaveFolder()).filePath(QStringLiteral("v2.5")));
        AnswerFileDialog([](QFileDialog&) { return false; });
        return true;
    });
    EXPECT_FALSE(frame->SaveWithDialog(*window->document()));
    ASSERT_EQ(prompts.questions.size(), 1u);
    EXPECT_EQ(prompts.questions[0], u"v2.5.recorder already exists.\nDo you want to replace it?");
    QFile file(existing);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("old"));
    file.close();
    // Yes: replaced.
    prompts.answer = true;
    AnswerFileDialog([&](QFileDialog& dialog) {
        dialog.selectFile(QDir(SaveFolder()).filePath(QStringLiteral("v2.5")));
        return true;
    });
    EXPECT_TRUE(frame->SaveWithDialog(*window->document()));
    EXPECT_GT(QFileInfo(existing).size(), 3);
}

TEST_F(SaveOpenTest, FrameworkSaveAsWritesOnlyTheRecordAndNamesTheWindow) {
    DocumentWindow* window = frame->NewDocument();
    documents().recordingDocument = window->document();
    documents().dataSaved = false;
    const QString folder = home.path();
    AnswerFileDialog([&](QFileDialog& dialog) {
        EXPECT_EQ(dialog.nameFilters(), QStringList{QStringLiteral("Multimeter Files (*.recorder)")});
        EXPECT_EQ(QFileInfo(dialog.selectedFiles().value(0)).fileName(),
                  QStringLiteral("Multimeter1.recorder"));
        dialog.selectFile(QDir(folder).filePath(QStringLiteral("kept")));
        return true;
    });
    EXPECT_TRUE(frame->ExecuteCommand(ID_FILE_SAVE));
    EXPECT_TRUE(QFile::exists(QDir(folder).filePath(QStringLiteral("kept.recorder"))));
    EXPECT_FALSE(QFile::exists(QDir(folder).filePath(QStringLiteral("kept.csv"))));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("kept.recorder"));
    EXPECT_FALSE(documents().dataSaved);
}

TEST_F(SaveOpenTest, EveryWayOfOpeningRefusesAForeignFileAndLeavesNoWindow) {
    const QString good = QDir(home.path()).filePath(QStringLiteral("good.recorder"));
    const QString foreign = QDir(home.path()).filePath(QStringLiteral("foreign.recorder"));
    WriteBytes(good, RecordBytes(3));
    WriteBytes(foreign, QByteArray("\x0bQM999/QM999 and more bytes"));

    struct Way {
        const char* name;
        std::function<void(const QString&)> open;
    };
    auto byDialog = [this](int command, const QString& filter) {
        return [this, command, filter](const QString& path) {
            AnswerFileDialog([path, filter](QFileDialog& dialog) {
                EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptOpen);
                // The record files first, then continuous logs; csv exports are read back too.
                EXPECT_EQ(dialog.nameFilters(),
                          (QStringList{filter, QStringLiteral("Continuous Logs (*.calvlog)"),
                                       QStringLiteral("CSV exports(*.csv)")}));
                EXPECT_EQ(dialog.defaultSuffix(), QStringLiteral("recorder"));
                dialog.selectFile(path);
                return true;
            });
            EXPECT_TRUE(frame->ExecuteCommand(command));
        };
    };
    const Way ways[] = {
        {"Open (32789)", byDialog(ID_OPEN_DATA, QStringLiteral("MultiMeter Files(*.recorder)"))},
        {"Ctrl+O (57601)", byDialog(ID_FILE_OPEN, QStringLiteral("Multimeter Files (*.recorder)"))},
        {"recent file",
         [this, good, foreign](const QString&) {
             // The file was good when it went on the list.
             const QString path = QDir(home.path()).filePath(QStringLiteral("recent.recorder"));
             QFile::remove(path);
             ASSERT_TRUE(QFile::copy(good, path));
             ASSERT_NE(frame->OpenDocumentFile(path), nullptr);
             frame->activeDocumentWindow()->close();
             ASSERT_TRUE(QTest::qWaitFor([&] { return frame->mdiArea()->subWindowList().isEmpty(); }, 2000));
             ASSERT_TRUE(QFile::remove(path));
             ASSERT_TRUE(QFile::copy(foreign, path));
             QAction* first = frame->findChild<QAction*>(QStringLiteral("recent1"));
             ASSERT_NE(first, nullptr);
             first->trigger();
         }},
        {"dropped or command line", [this](const QString& path) { frame->OpenDocumentFile(path); }},
    };
    for (const Way& way : ways) {
        prompts.messages.clear();
        prompts.icons.clear();
        documents().loadRejected = false;
        way.open(foreign);
        EXPECT_TRUE(frame->mdiArea()->subWindowList().isEmpty()) << way.name;
        ASSERT_EQ(prompts.messages.size(), 1u) << way.name;
        EXPECT_EQ(prompts.messages[0], u"Invalid Format!") << way.name;
        EXPECT_EQ(prompts.icons[0], MessageIcon::Exclamation) << way.name;
        EXPECT_TRUE(documents().loadRejected) << way.name;
    }

    // A good file opens in a window titled with its name, and clears the rejection.
    byDialog(ID_OPEN_DATA, QStringLiteral("MultiMeter Files(*.recorder)"))(good);
    ASSERT_NE(frame->activeDocument(), nullptr);
    EXPECT_EQ(frame->activeDocument()->title, u"good.recorder");
    EXPECT_EQ(frame->activeDocument()->sampleCount(), 3u);
    EXPECT_FALSE(documents().loadRejected);
}

} // namespace
} // namespace calvora
