// File › Export Chart... from the window: the command's state, its two dialogs and the file it writes.
#include "app/command_ids.h"
#include "app/gui/main_window.h"
#include "app/gui/picture_size_dialog.h"
#include "chart/chart_layout.h"
#include "recording/recording_document.h"
#include "tests/support/shown_main_window.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QImage>
#include <QMenu>
#include <QSpinBox>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>

namespace calvora {
namespace {

// Answers the next modal dialog of type D: `answer` fills it in and accepts (true) or cancels (false).
template <typename D> void AnswerDialog(std::function<bool(D&)> answer) {
    auto* poll = new QTimer;
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, answer = std::move(answer)] {
        auto* dialog = qobject_cast<D*>(QApplication::activeModalWidget());
        if (dialog == nullptr || !dialog->isVisible())
            return;
        poll->stop();
        poll->deleteLater();
        if (QWidget* focus = dialog->focusWidget())
            focus->clearFocus();
        // QDialog's own accept(): the file dialog's would look the name up in its model first.
        if (answer(*dialog))
            dialog->QDialog::accept();
        else
            dialog->reject();
    });
    poll->start();
}

class ExportChartTest : public testing::ShownMainWindowTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(home.isValid());
        oldHome_ = qgetenv("HOME");
        qputenv("HOME", home.path().toLocal8Bit());
        ShownMainWindowTest::SetUp();
    }
    void TearDown() override {
        ShownMainWindowTest::TearDown();
        qputenv("HOME", oldHome_);
    }
    RecordingDocument& DocumentWithSamples(uint32_t count) {
        RecordingDocument* document = frame->NewDocument()->document();
        document->FillRows(count);
        for (uint32_t row = 0; row < count; ++row) {
            document->SetValue(row, 0, static_cast<float>(row % 7), 10.0f);
            document->SetTexts(row, u"VDC", u"DC", u"V", u" 12/08/26 10:00:00");
        }
        PrepareOpenedDocument(*document);
        document->AnnounceReset();
        frame->UpdateCommandUI();
        return *document;
    }

    QTemporaryDir home;

private:
    QByteArray oldHome_;
};

TEST_F(ExportChartTest, TheCommandWaitsForAChartWithSamples) {
    QAction* action = frame->CommandAction(ID_EXPORT_CHART);
    ASSERT_NE(action, nullptr);
    EXPECT_EQ(action->text(), QStringLiteral("Export C&hart..."));
    auto* menu = frame->findChild<QMenu*>(QStringLiteral("file129"));
    ASSERT_NE(menu, nullptr);
    EXPECT_TRUE(menu->actions().contains(action));
    EXPECT_FALSE(action->isEnabled());
    frame->NewDocument();
    frame->UpdateCommandUI();
    EXPECT_FALSE(action->isEnabled()) << "an empty document has no chart to export";
    DocumentWithSamples(3);
    EXPECT_TRUE(action->isEnabled());
}

TEST_F(ExportChartTest, APngAtTheChosenSizeAndTheStatusBarSaysWhere) {
    RecordingDocument& document = DocumentWithSamples(50);
    document.title = u"run";
    const QString path = QDir(home.path()).filePath(QStringLiteral("picture"));
    AnswerDialog<QFileDialog>([&](QFileDialog& dialog) {
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Export Chart"));
        EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptSave);
        EXPECT_EQ(dialog.nameFilters().size(), 3);
        dialog.selectFile(path); // no extension: the selected type's is added
        AnswerDialog<PictureSizeDialog>([](PictureSizeDialog& size) {
            EXPECT_EQ(size.pictureSize(), QSize(1920, 1080));
            size.widthBox()->setValue(1200);
            size.heightBox()->setValue(700);
            return true;
        });
        return true;
    });
    ASSERT_TRUE(frame->ExecuteCommand(ID_EXPORT_CHART));
    const QImage image(path + QStringLiteral(".png"));
    EXPECT_EQ(image.size(), QSize(1200, 700));
    EXPECT_EQ(frame->statusBar()->currentMessage(), QStringLiteral("Exported the chart to picture.png"));
    EXPECT_TRUE(prompts.messages.empty());

    // An SVG asks no size; a file that cannot be written is said in a message and nothing else changes.
    AnswerDialog<QFileDialog>([&](QFileDialog& dialog) {
        dialog.selectFile(QDir(home.path()).filePath(QStringLiteral("no/such/folder/chart.svg")));
        return true;
    });
    ASSERT_TRUE(frame->ExecuteCommand(ID_EXPORT_CHART));
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_TRUE(QString::fromStdU16String(prompts.messages[0]).startsWith(QStringLiteral("Can't write ")));
    EXPECT_EQ(prompts.icons[0], MessageIcon::Exclamation);
}

} // namespace
} // namespace calvora
