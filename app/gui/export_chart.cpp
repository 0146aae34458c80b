// File › Export Chart...: the active document's chart as a PNG, SVG or PDF file.
#include "app/gui/main_window.h"
#include "app/gui/message_prompts.h"
#include "app/gui/picture_size_dialog.h"
#include "chart/gui/chart_picture.h"
#include "recording/recording_document.h"
#include "recording/save.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>

#include <array>

namespace calvora {

namespace {
struct PictureKind {
    ChartPictureFormat format;
    const char* filter;
    const char* suffix;
};
constexpr std::array<PictureKind, 3> kPictureKinds{{
    {ChartPictureFormat::Png, "PNG image (*.png)", "png"},
    {ChartPictureFormat::Svg, "SVG drawing (*.svg)", "svg"},
    {ChartPictureFormat::Pdf, "PDF document (*.pdf)", "pdf"},
}};
// The size an SVG declares; it is drawn in vectors, so any viewer scales it without loss.
constexpr QSize kSvgSize(1600, 900);
constexpr QSize kProposedPngSize(1920, 1080);
} // namespace

PictureSizeDialog::PictureSizeDialog(QSize proposed, QWidget* parent)
    : QDialog(parent), width_(new QSpinBox(this)), height_(new QSpinBox(this)) {
    setObjectName(QStringLiteral("PictureSizeDialog"));
    setWindowTitle(QStringLiteral("Export Chart"));
    width_->setObjectName(QStringLiteral("pictureWidth"));
    height_->setObjectName(QStringLiteral("pictureHeight"));
    width_->setRange(kMinWidth, kMaxSide);
    height_->setRange(kMinHeight, kMaxSide);
    width_->setValue(proposed.width());
    height_->setValue(proposed.height());
    for (QSpinBox* box : {width_, height_}) {
        box->setSuffix(QStringLiteral(" px"));
        box->setAccelerated(true);
    }
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("&Width:"), width_);
    form->addRow(QStringLiteral("&Height:"), height_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Size of the PNG picture in pixels:"), this));
    layout->addLayout(form);
    layout->addWidget(buttons);
}

QSize PictureSizeDialog::pictureSize() const {
    return {width_->value(), height_->value()};
}

void MainWindow::OnExportChart() {
    RecordingDocument* document = activeDocument();
    if (document == nullptr) {
        return;
    }
    QStringList filters;
    for (const PictureKind& kind : kPictureKinds) {
        filters << QString::fromLatin1(kind.filter);
    }
    QFileDialog dialog(this, QStringLiteral("Export Chart"));
    dialog.setObjectName(QStringLiteral("ExportChartDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters(filters);
    dialog.setDefaultSuffix(QStringLiteral("png"));
    dialog.setDirectory(QString::fromStdU16String(PrepareSaveFolder().u16string()));
    QString name = QString::fromStdU16String(document->title).trimmed();
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    dialog.selectFile((name.isEmpty() ? QStringLiteral("chart") : name) + QStringLiteral(".png"));
    connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog, filters](const QString& filter) {
        const qsizetype index = filters.indexOf(filter);
        if (index >= 0) {
            dialog.setDefaultSuffix(QString::fromLatin1(kPictureKinds[static_cast<size_t>(index)].suffix));
        }
    });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return;
    }
    QString path = dialog.selectedFiles().constFirst();
    std::optional<ChartPictureFormat> format = ChartPictureFormatOf(path);
    if (!format) {
        // A name without a picture's extension gets the one of the chosen type.
        const qsizetype index = std::max<qsizetype>(0, filters.indexOf(dialog.selectedNameFilter()));
        const PictureKind& kind = kPictureKinds[static_cast<size_t>(index)];
        format = kind.format;
        path += QLatin1Char('.') + QString::fromLatin1(kind.suffix);
    }
    QSize size = kSvgSize;
    if (*format == ChartPictureFormat::Png) {
        PictureSizeDialog ask(kProposedPngSize, this);
        if (ask.exec() != QDialog::Accepted) {
            return;
        }
        size = ask.pictureSize();
    }
    const Outcome<> written = WriteChartPicture(*document, path, *format, size);
    if (!written) {
        prompts_->ShowMessage(written.reason(), MessageIcon::Exclamation);
        return;
    }
    ShowStatus(QStringLiteral("Exported the chart to %1").arg(QFileInfo(path).fileName()));
}

} // namespace calvora
