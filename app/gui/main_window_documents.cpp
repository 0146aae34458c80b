// The main window's document commands: document windows, open, save, print and the recent-file list.
#include "app/gui/main_window.h"

#include "app/gui/toolbar_images.h"
#include "chart/chart_layout.h"
#include "export/csv_import.h"
#include "logging/gui/log_window.h"
#include "recording/record_file.h"
#include "recording/recording_document.h"
#include "recording/recording_state.h"
#include "recording/save.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMdiArea>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QSettings>
#include <QStyle>

namespace calvora {

namespace {

const QString kRecentGroup = QStringLiteral("Recent File List");

std::filesystem::path ToPath(const QString& path) {
    return std::filesystem::path(path.toStdU16String());
}

QString FromPath(const std::filesystem::path& path) {
    return QString::fromStdU16String(path.u16string());
}

} // namespace

QSettings ApplicationSettings() {
    return QSettings(QStringLiteral("Local AppWizard-Generated Applications"), QStringLiteral("Calvora"));
}

QStringList QtNameFilters(const QString& filter) {
    QStringList filters;
    const QStringList parts = filter.split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString text = parts[i];
        const QString patterns =
            parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts).join(QLatin1Char(' '));
        if (text.isEmpty() && patterns.isEmpty()) {
            continue;
        }
        // The text often repeats the patterns in parentheses; Qt reads the patterns from there,
        // blank-separated.
        const qsizetype open = text.lastIndexOf(QLatin1Char('('));
        if (text.endsWith(QLatin1Char(')')) && open >= 0) {
            text.truncate(open);
        } else if (!text.isEmpty()) {
            text += QLatin1Char(' ');
        }
        filters << QStringLiteral("%1(%2)").arg(text, patterns);
    }
    return filters;
}

QString WithSaveExtension(const QString& chosen) {
    const QString suffix = QFileInfo(chosen).suffix();
    if (suffix.compare(QStringLiteral("recorder"), Qt::CaseInsensitive) == 0 ||
        suffix.compare(QStringLiteral("xls"), Qt::CaseInsensitive) == 0) {
        return chosen;
    }
    return chosen + QStringLiteral(".recorder");
}

// ---------------------------------------------------------------------------------------------------------
// Document windows

DocumentWindow* MainWindow::CreateDocumentWindow(std::shared_ptr<RecordingDocument> document) {
    if (document == nullptr) {
        return nullptr;
    }
    auto* frame = new DocumentWindow(documentTabs_);
    if (!frame->CreateClient(document)) {
        delete frame;
        return nullptr;
    }
    connect(frame, &DocumentWindow::closeRequested, this, &MainWindow::OnDocumentClosing);
    connect(frame, &DocumentWindow::aboutToClose, this,
            [this](DocumentWindow* closing) { OnDocumentDestroyed(closing->document()); });
    connect(frame, &DocumentWindow::viewChanged, this, [this](DocumentView*) { UpdateCommandUI(); });
    connect(
        frame, &QObject::destroyed, this, [this] { UpdateCommandUI(); }, Qt::QueuedConnection);
    Q_EMIT documentOpened(document.get());
    connect(frame, &QMdiSubWindow::windowStateChanged, this,
            [this, frame](Qt::WindowStates, Qt::WindowStates now) {
                // The user's choice, kept for the next document and the next run; a minimised window says
                // nothing.
                if (frame == activeDocumentWindow() && !(now & Qt::WindowMinimized)) {
                    documentsMaximized_ = (now & Qt::WindowMaximized) != 0;
                }
                UpdateCommandUI();
            });
    const QMdiSubWindow* previous = mdiArea()->currentSubWindow();
    const bool maximise = previous != nullptr ? previous->isMaximized() : documentsMaximized_;
    mdiArea()->addSubWindow(frame);
    frame->setWindowIcon(ApplicationIcon());
    // New child windows open at the framework's default: most of the MDI area, each one a caption lower and
    // further right than the one before, starting again at the corner when the next would leave the area.
    const QSize area = mdiArea()->viewport()->size();
    const QSize size(std::max(400, area.width() * 3 / 4), std::max(300, area.height() * 3 / 4));
    const int step = style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, frame);
    const int room = std::max(0, std::min(area.width() - size.width(), area.height() - size.height()));
    const int windows = static_cast<int>(mdiArea()->subWindowList().size()) - 1;
    const int offset = room >= step ? (windows * step) % (room - room % step + step) : 0;
    frame->resize(size);
    frame->move(offset, offset);
    // The first document fills the workspace (the chart's fixed margins leave little of a smaller window);
    // later ones follow the window before them.
    if (maximise) {
        frame->showMaximized();
    } else {
        frame->show();
    }
    mdiArea()->setActiveSubWindow(frame);
    UpdateCommandUI();
    return frame;
}

DocumentWindow* MainWindow::NewDocument() {
    auto document = std::make_shared<RecordingDocument>();
    // The framework numbers new documents after the template's new-file name.
    document->title = u"Multimeter" + QString::number(++untitledCount_).toStdU16String();
    return CreateDocumentWindow(std::move(document));
}

DocumentWindow* MainWindow::OpenDocumentFile(const QString& path) {
    const QString absolute = QFileInfo(path).absoluteFilePath();
    if (IsLogFile(absolute)) {
        // A log opens in a window of its own kind, not as a recording.
        OpenLogFile(absolute);
        return nullptr;
    }
    for (DocumentWindow* frame : documentWindows()) {
        if (frame->pathName() == absolute) {
            mdiArea()->setActiveSubWindow(frame);
            return frame;
        }
    }
    auto document = std::make_shared<RecordingDocument>();
    const std::filesystem::path file = ToPath(absolute);
    Outcome<void, ReadFailure> read = Outcome<void, ReadFailure>();
    if (IsCsvFile(file)) {
        // A csv export read back: refused ones are told like any file the reader refuses.
        read = ReadCsvExportFile(file, *document);
        state_->loadRejected = !read && read.kind() != ReadFailure::CannotOpen;
        if (!read) {
            prompts_->ShowMessage(read.reason(), MessageIcon::Exclamation);
        }
    } else {
        read = OpenRecordFile(file, *document, *state_, *prompts_);
    }
    if (!read) {
        // The reader has told the user; no empty document is left behind, whichever path opened the file.
        if (read.kind() == ReadFailure::CannotOpen) {
            recent_.Remove(absolute.toStdU16String());
            StoreRecent();
            UpdateCommandUI();
        }
        return nullptr;
    }
    PrepareOpenedDocument(*document);
    document->title = QFileInfo(absolute).fileName().toStdU16String();
    DocumentWindow* frame = CreateDocumentWindow(std::move(document));
    if (frame != nullptr) {
        frame->SetPathName(absolute);
        AddRecent(absolute);
    }
    return frame;
}

DocumentWindow* MainWindow::activeDocumentWindow() const {
    return qobject_cast<DocumentWindow*>(mdiArea()->currentSubWindow());
}

RecordingDocument* MainWindow::activeDocument() const {
    DocumentWindow* frame = activeDocumentWindow();
    return frame != nullptr ? frame->document() : nullptr;
}

QList<DocumentWindow*> MainWindow::documentWindows() const {
    QList<DocumentWindow*> frames;
    for (QMdiSubWindow* window : mdiArea()->subWindowList()) {
        if (auto* frame = qobject_cast<DocumentWindow*>(window)) {
            frames.append(frame);
        }
    }
    return frames;
}

void MainWindow::OnDocumentClosing(DocumentWindow* frame, bool& accept) {
    accept = true;
    RecordingDocument* document = frame->document();
    if (document == nullptr) {
        return;
    }
    accept = target_->OnDocumentClosing(*document);
}

void MainWindow::OnDocumentDestroyed(RecordingDocument* document) {
    // Another document may take its place in memory.
    timesChecked_ = {};
    if (document == nullptr) {
        return;
    }
    Q_EMIT documentClosed(document);
    target_->OnDocumentDestroyed(*document);
}

DocumentWindow* MainWindow::WindowOf(const RecordingDocument* document) const {
    for (DocumentWindow* frame : documentWindows()) {
        if (frame->document() == document) {
            return frame;
        }
    }
    return nullptr;
}

// ---------------------------------------------------------------------------------------------------------
// Open and save

bool MainWindow::SaveDocumentAs(RecordingDocument& document, const QString& chosenPath) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const Outcome<void> saved = SaveDocument(document, ToPath(chosenPath), *state_);
    QApplication::restoreOverrideCursor();
    if (!saved) {
        // A failed save is reported: silence would let the user believe the data is on disk.
        prompts_->ShowMessage(saved.reason(), MessageIcon::Exclamation);
        return false;
    }
    if (target_ != nullptr) {
        target_->OnDocumentSaved(document);
    }
    // The window is named after its file from now on, and the status bar says which files were written.
    const SavePaths paths = DerivePaths(ToPath(chosenPath));
    document.title = paths.record.filename().u16string();
    if (DocumentWindow* frame = WindowOf(&document)) {
        frame->UpdateTitle();
    }
    ShowStatus(QStringLiteral("Saved %1 and %2")
                   .arg(FromPath(paths.record.filename()), FromPath(paths.text.filename())));
    UpdateCommandUI();
    return true;
}

void MainWindow::OnFileSave() {
    if (RecordingDocument* document = activeDocument()) {
        SaveWithDialog(*document);
    }
}

bool MainWindow::SaveWithDialog(RecordingDocument& document) {
    const QString path = AskSavePath();
    return !path.isEmpty() && SaveDocumentAs(document, path);
}

QString MainWindow::AskSavePath() {
    const std::filesystem::path folder = PrepareSaveFolder();
    QFileDialog dialog(this, QStringLiteral("Save As"));
    dialog.setObjectName(QStringLiteral("SaveDataDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters(
        QtNameFilters(QStringLiteral("MultiMeter Files(*.recorder;*.xls)|*.recorder;*.xls|")));
    dialog.setDefaultSuffix(QStringLiteral("recorder"));
    dialog.setDirectory(FromPath(folder));
    // The default name holds dots ("… 22.05.20"), so the dialog would take its seconds for an extension and
    // add none; with the extension in place the seconds stay and the overwrite question asks about the file
    // that will really be written.
    dialog.selectFile(QString::fromStdU16String(DefaultFileNameNow()) + QStringLiteral(".recorder"));
    for (;;) {
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
            return {};
        }
        const QString chosen = dialog.selectedFiles().constFirst();
        const QString path = WithSaveExtension(chosen);
        if (path == chosen || !QFileInfo::exists(path) ||
            prompts_->AskYesNo(QStringLiteral("%1 already exists.\nDo you want to replace it?")
                                   .arg(QFileInfo(path).fileName())
                                   .toStdU16String())) {
            return path;
        }
    }
}

bool MainWindow::SaveRecordOnly(DocumentWindow& frame, const QString& path) {
    RecordingDocument* document = frame.document();
    if (document == nullptr) {
        return false;
    }
    const Outcome<void> written = WriteFileAtomically(
        ToPath(path), [document](ByteSink& sink) { return WriteRecord(*document, sink); });
    if (!written) {
        prompts_->ShowMessage(written.reason(), MessageIcon::Exclamation);
        return false;
    }
    const QString absolute = QFileInfo(path).absoluteFilePath();
    frame.SetPathName(absolute);
    document->title = QFileInfo(absolute).fileName().toStdU16String();
    frame.UpdateTitle();
    AddRecent(absolute);
    UpdateCommandUI();
    return true;
}

void MainWindow::OnFileSaveFramework() {
    DocumentWindow* frame = activeDocumentWindow();
    if (frame == nullptr) {
        return;
    }
    QString path = frame->pathName();
    if (path.isEmpty()) {
        QFileDialog dialog(this, QStringLiteral("Save As"));
        dialog.setObjectName(QStringLiteral("SaveAsDialog"));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setNameFilters(QtNameFilters(QStringLiteral("Multimeter Files (*.recorder)|*.recorder|")));
        dialog.setDefaultSuffix(QStringLiteral("recorder"));
        if (frame->document() != nullptr) {
            dialog.selectFile(QString::fromStdU16String(frame->document()->title));
        }
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
            return;
        }
        path = dialog.selectedFiles().constFirst();
    }
    SaveRecordOnly(*frame, path);
}

void MainWindow::OnFileOpen(const QStringList& filters) {
    QFileDialog dialog(this, QStringLiteral("Open"));
    dialog.setObjectName(QStringLiteral("OpenDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(filters);
    dialog.setDefaultSuffix(QStringLiteral("recorder"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return;
    }
    OpenDocumentFile(dialog.selectedFiles().constFirst());
}

// ---------------------------------------------------------------------------------------------------------
// Printing

void MainWindow::OnPrint() {
    if (LogWindow* log = activeLogWindow()) {
        QPrintDialog dialog(&printer_, this);
        if (dialog.exec() == QDialog::Accepted)
            log->Print(printer_);
        return;
    }
    DocumentWindow* frame = activeDocumentWindow();
    if (frame == nullptr || frame->activeView() == nullptr) {
        return;
    }
    QPrintDialog dialog(&printer_, this);
    if (dialog.exec() == QDialog::Accepted) {
        frame->activeView()->Print(printer_);
    }
}

void MainWindow::OnPrintPreview() {
    if (LogWindow* log = activeLogWindow()) {
        log->PrintPreview(printer_);
        return;
    }
    if (DocumentWindow* frame = activeDocumentWindow()) {
        frame->PrintPreview(printer_);
    }
}

void MainWindow::OnPrintSetup() {
    QPageSetupDialog dialog(&printer_, this);
    dialog.exec();
}

// ---------------------------------------------------------------------------------------------------------
// Recent files

void MainWindow::LoadRecent() {
    QSettings settings = ApplicationSettings();
    settings.beginGroup(kRecentGroup);
    std::vector<std::u16string> paths;
    for (size_t i = 1; i <= recent_.capacity(); ++i) {
        const QString path = settings.value(QStringLiteral("File%1").arg(i)).toString();
        if (!path.isEmpty()) {
            paths.push_back(path.toStdU16String());
        }
    }
    recent_.Assign(paths);
}

void MainWindow::StoreRecent() {
    QSettings settings = ApplicationSettings();
    settings.remove(kRecentGroup);
    settings.beginGroup(kRecentGroup);
    const std::vector<std::u16string>& entries = recent_.entries();
    for (size_t i = 0; i < entries.size(); ++i) {
        settings.setValue(QStringLiteral("File%1").arg(i + 1), QString::fromStdU16String(entries[i]));
    }
}

void MainWindow::AddRecent(const QString& path) {
    recent_.Add(path.toStdU16String());
    StoreRecent();
    UpdateCommandUI();
}

void MainWindow::OpenRecent(int index) {
    const std::vector<std::u16string>& entries = recent_.entries();
    if (index < 0 || static_cast<size_t>(index) >= entries.size()) {
        return;
    }
    OpenDocumentFile(QString::fromStdU16String(entries[static_cast<size_t>(index)]));
}

} // namespace calvora
