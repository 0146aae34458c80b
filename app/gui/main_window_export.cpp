// The main window's File › Export...: the Export dialog with the choices kept from the last time, the file
// dialog, and the export itself through the atomic writer, reported as Save reports a failure.
#include "app/gui/main_window.h"

#include "chart/chart_trace.h"
#include "export/export_file.h"
#include "export/gui/export_dialog.h"
#include "recording/recording_document.h"
#include "recording/recording_state.h"
#include "recording/save.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QSettings>

namespace calvora {

namespace {

QSettings ExportSettings() {
    return QSettings(QStringLiteral("Local AppWizard-Generated Applications"), QStringLiteral("Calvora"));
}

QString FilterOf(ExportFormat format) {
    switch (format) {
    case ExportFormat::RecorderText:
    case ExportFormat::Csv:
        return QStringLiteral("CSV files (*.csv)");
    case ExportFormat::JsonLines:
        return QStringLiteral("JSON lines (*.jsonl)");
    case ExportFormat::Xlsx:
        return QStringLiteral("Excel workbooks (*.xlsx)");
    }
    return {};
}

// The document's name without the extension of the file it came from.
QString BaseName(const RecordingDocument& document) {
    const QString title = QString::fromStdU16String(document.title);
    const QFileInfo info(title);
    const QString suffix = info.suffix().toLower();
    return suffix == QStringLiteral("recorder") || suffix == QStringLiteral("csv") ? info.completeBaseName()
                                                                                   : title;
}

} // namespace

bool MainWindow::ExportWithDialogs(RecordingDocument& document) {
    QSettings settings = ExportSettings();
    const ExportChoices remembered = ExportChoices::Load(settings);
    const SampleRange shown = ShownSamples(document);
    ExportDialog dialog(remembered, document.sampleCount(),
                        SampleNumbers{static_cast<uint64_t>(std::max(shown.first, 1)),
                                      static_cast<uint64_t>(std::max(shown.last, 0))},
                        this);
    if (dialog.exec() != QDialog::Accepted) {
        return false;
    }
    ExportChoices chosen = dialog.choices();
    chosen.Store(settings);
    const QString path = AskExportPath(document, chosen);
    if (path.isEmpty()) {
        return false;
    }
    chosen.folder = QFileInfo(path).absolutePath();
    chosen.Store(settings);
    return ExportDocumentTo(document, dialog.options(), path);
}

QString MainWindow::AskExportPath(const RecordingDocument& document, const ExportChoices& choices) {
    QFileDialog dialog(this, QStringLiteral("Export"));
    dialog.setObjectName(QStringLiteral("ExportFileDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters({FilterOf(choices.format)});
    const std::string_view extension = ExportExtension(choices.format);
    dialog.setDefaultSuffix(QString::fromLatin1(extension.data(), static_cast<qsizetype>(extension.size())));
    const QString folder = !choices.folder.isEmpty() && QDir(choices.folder).exists()
                               ? choices.folder
                               : QString::fromStdU16String(PrepareSaveFolder().u16string());
    dialog.setDirectory(folder);
    dialog.selectFile(BaseName(document) + QLatin1Char('.') + dialog.defaultSuffix());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().constFirst();
}

bool MainWindow::ExportDocumentTo(const RecordingDocument& document, const ExportOptions& options,
                                  const QString& path) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const Outcome<void> written =
        ExportSamples(DocumentSamples(document), options, std::filesystem::path(path.toStdU16String()));
    QApplication::restoreOverrideCursor();
    if (!written) {
        prompts_->ShowMessage(written.reason(), MessageIcon::Exclamation);
    }
    return static_cast<bool>(written);
}

} // namespace calvora
