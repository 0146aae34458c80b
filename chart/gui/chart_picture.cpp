#include "chart/gui/chart_picture.h"

#include "chart/chart_layout.h"
#include "chart/chart_trace.h"
#include "chart/gui/chart_controls.h"
#include "recording/recording_document.h"

#include <QFileInfo>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QSvgGenerator>

#include <algorithm>
#include <climits>
#include <cmath>
#include <vector>

namespace calvora {

namespace {
// The picture's own colours: a file looks the same whatever the desktop's theme.
const QColor kFace(240, 240, 240);
constexpr int kFarLoop = 4096;
constexpr int kPdfResolution = 300;
constexpr double kScreenResolution = 96;

QString FromView(std::u16string_view text) {
    return QString(reinterpret_cast<const QChar*>(text.data()), static_cast<qsizetype>(text.size()));
}

QFont PictureFont(double pixels, bool bold) {
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(pixels))));
    font.setWeight(bold ? QFont::Bold : QFont::Medium);
    return font;
}

// The layout is state of the on-screen chart; a picture of another size lays the samples out for itself and
// puts everything back afterwards.
class LayoutKeeper {
public:
    explicit LayoutKeeper(RecordingDocument& document)
        : document_(document), layout_(document.layout), cells_(CellCount(document)) {
        if (cells_ > 0) {
            x_.assign(document.xPosColumn(), document.xPosColumn() + cells_);
            y_.assign(document.yPosColumn(), document.yPosColumn() + cells_);
        }
    }
    ~LayoutKeeper() {
        document_.layout = layout_;
        if (cells_ > 0) {
            std::copy(x_.begin(), x_.end(), document_.xPosColumn());
            std::copy(y_.begin(), y_.end(), document_.yPosColumn());
        }
    }
    LayoutKeeper(const LayoutKeeper&) = delete;
    LayoutKeeper& operator=(const LayoutKeeper&) = delete;

private:
    static size_t CellCount(const RecordingDocument& document) {
        if (document.xPosColumn() == nullptr || document.yPosColumn() == nullptr)
            return 0;
        return static_cast<size_t>(document.rowCapacity()) * static_cast<size_t>(document.columnStride());
    }

    RecordingDocument& document_;
    ChartLayout layout_;
    size_t cells_;
    std::vector<double> x_;
    std::vector<double> y_;
};

// Text with its top-left corner at (x, y).
void TextAt(QPainter& painter, double x, double y, const QString& text) {
    painter.drawText(QPointF(x, y + painter.fontMetrics().ascent()), text);
}

void DrawChart(QPainter& painter, RecordingDocument& document, const PlotRect& plot, double s) {
    const ChartSettings& settings = document.settings;
    const QRect plotArea(plot.left, plot.top, plot.width(), plot.height());
    painter.fillRect(plotArea, ColourFromRef(settings.backgroundColour));
    QPen gridPen(ColourFromRef(settings.gridColour), s, Qt::DotLine);
    gridPen.setCapStyle(Qt::FlatCap);
    if (settings.gridVisible) {
        painter.setPen(gridPen);
        for (int l = 0; l < kTickCount; ++l) {
            const int y = ValueTickY(plot, l);
            painter.drawLine(QPointF(plot.left, y), QPointF(plot.right, y));
        }
    }
    const uint32_t count = document.sampleCount();
    if (count == 0)
        return;

    LayoutSamples(document, plot);
    if (document.layout.fullView)
        document.layout.plotRect = plot;
    else
        LayoutZoomed(document, plot);
    const SampleAxis axis = SampleAxisOf(document);
    const DrawRange range = VisibleSamples(document.layout, axis, plot);
    const int64_t k = count > 1 ? GridStep(axis.dx, plot.width()) : 1;
    auto firstAtOrRight = [&](double limit) {
        int64_t n = range.first;
        const double x = axis.X(n);
        if (x < limit && axis.dx > 0)
            n += static_cast<int64_t>(
                     std::min(std::ceil((limit - x) / (static_cast<double>(k) * axis.dx)), 1e12)) *
                 k;
        return n;
    };

    if (count > 1 && settings.gridVisible) {
        painter.setPen(gridPen);
        int64_t n = firstAtOrRight(plot.left);
        for (int i = 0; i < kFarLoop; ++i, n += k) {
            const double x = std::floor(axis.X(n));
            if (x > plot.right)
                break;
            painter.drawLine(QPointF(x, plot.top), QPointF(x, plot.bottom));
        }
    }

    // The traces, cut at the plot's sides.
    painter.save();
    painter.setClipRect(plotArea);
    const int channels = std::min<int>(document.channelCount(), kMaxChannels);
    for (int c = 0; c < channels; ++c) {
        if (!settings.traceVisible[static_cast<size_t>(c)])
            continue;
        TracePicture picture;
        int remembered = INT_MIN; // every column of the picture is marked afresh
        TraceBuilder builder(document, axis, plot, c, TraceDrawing::Merged, remembered, picture);
        builder.AddRange(range);
        const QColor colour = ColourFromRef(settings.traceColour[static_cast<size_t>(c)]);
        QPen pen(colour, s, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin);
        painter.setPen(pen);
        std::vector<QLineF> lines;
        lines.reserve(picture.lines.size());
        for (const PixelLine& line : picture.lines)
            lines.emplace_back(line.x0, line.y0, line.x1, line.y1);
        painter.drawLines(lines.data(), static_cast<int>(lines.size()));
        for (const PixelPoint& centre : picture.markCentres) {
            painter.fillRect(QRectF(centre.x - 1.5 * s + 0.5, centre.y - 1.5 * s + 0.5, 3 * s, s), colour);
            painter.fillRect(QRectF(centre.x - 1.5 * s + 0.5, centre.y + 0.5 * s + 0.5, 3 * s, s), colour);
        }
    }
    painter.restore();

    // The frame, the axis lines outside it and the tick marks.
    const double gap = 3 * s;
    const double tick = 8 * s;
    painter.setPen(QPen(Qt::black, s, Qt::SolidLine, Qt::SquareCap));
    painter.drawRect(plotArea);
    painter.drawLine(QPointF(plot.left - gap, plot.top), QPointF(plot.left - gap, plot.bottom));
    painter.drawLine(QPointF(plot.right + gap, plot.top), QPointF(plot.right + gap, plot.bottom));
    painter.drawLine(QPointF(plot.left, plot.bottom + gap), QPointF(plot.right, plot.bottom + gap));

    const QFontMetricsF metrics(painter.font());
    auto sampleLabel = [&](double x, int64_t n) {
        painter.drawLine(QPointF(x, plot.bottom + gap), QPointF(x, plot.bottom + tick));
        const QString text = QString::number(n);
        TextAt(painter, x - metrics.horizontalAdvance(text) / 2, plot.bottom + tick, text);
    };
    if (count == 1) {
        sampleLabel(plot.left, 1);
    } else {
        int64_t n = firstAtOrRight(plot.left - 5 * s);
        for (int i = 0; i < kFarLoop && n <= count; ++i, n += k) {
            const double x = std::floor(axis.X(n));
            if (x > plot.right + 5 * s)
                break;
            sampleLabel(x, n);
        }
    }
    const ChartLayout& layout = document.layout;
    for (int l = 0; l < kTickCount; ++l) {
        const int y = ValueTickY(plot, l);
        painter.drawLine(QPointF(plot.left - tick, y), QPointF(plot.left - gap, y));
        painter.drawLine(QPointF(plot.right + gap, y), QPointF(plot.right + tick, y));
        const QString left =
            QString::fromStdU16String(FormatScaleValue(layout.ticks[0].values[kTickCount - 1 - l]));
        const QString right =
            QString::fromStdU16String(FormatScaleValue(layout.ticks[1].values[kTickCount - 1 - l]));
        const double middle = y - metrics.height() / 2;
        TextAt(painter, plot.left - 15 * s - metrics.horizontalAdvance(left), middle, left);
        TextAt(painter, plot.right + 12 * s, middle, right);
    }
}

Failure<> WriteFailure(const QString& path, const QString& why) {
    return Failure(
        QStringLiteral("Can't write %1: %2").arg(QFileInfo(path).absoluteFilePath(), why).toStdU16String());
}
} // namespace

std::optional<ChartPictureFormat> ChartPictureFormatOf(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QStringLiteral("png"))
        return ChartPictureFormat::Png;
    if (suffix == QStringLiteral("svg"))
        return ChartPictureFormat::Svg;
    if (suffix == QStringLiteral("pdf"))
        return ChartPictureFormat::Pdf;
    return std::nullopt;
}

QString ChartPictureTitle(const RecordingDocument& document) {
    QStringList parts;
    const QString name = QString::fromStdU16String(document.title).trimmed();
    if (!name.isEmpty())
        parts << name;
    if (document.sampleCount() > 0) {
        const QString time = FromView(document.timeText(0)).trimmed();
        if (!time.isEmpty())
            parts << time;
        const QString unit = FromView(document.unit(0)).trimmed();
        if (!unit.isEmpty())
            parts << unit;
    }
    return parts.join(QStringLiteral(" - "));
}

double ChartPictureScale(const QSize& size) {
    return std::max(1.0, std::min(size.width() / 1600.0, size.height() / 900.0));
}

void PaintChartPicture(QPainter& painter, RecordingDocument& document, const QRect& area, double scale) {
    const double s = scale > 0 ? scale : 1;
    auto px = [s](int screenPixels) { return static_cast<int>(std::lround(screenPixels * s)); };
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, s > 1.5);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    painter.fillRect(area, kFace);
    painter.setPen(Qt::black);
    painter.setFont(PictureFont(16 * s, true));
    TextAt(painter, area.left() + px(110), area.top() + px(16), ChartPictureTitle(document));

    // The screen's margins, less the toolbar and the scroll bar that a picture has no use for.
    const PlotRect plot{area.left() + px(110), area.top() + px(60), area.left() + area.width() - px(110),
                        area.top() + area.height() - px(50)};
    if (IsPlotValid(plot)) {
        painter.setFont(PictureFont(12 * s, false));
        LayoutKeeper keep(document);
        DrawChart(painter, document, plot, s);
    }
    painter.restore();
}

Outcome<> WriteChartPicture(RecordingDocument& document, const QString& path, ChartPictureFormat format,
                            QSize size) {
    if (format != ChartPictureFormat::Pdf && (size.width() <= 0 || size.height() <= 0))
        return WriteFailure(path, QStringLiteral("the picture has no size."));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return WriteFailure(path, file.errorString());
    const QString title = ChartPictureTitle(document);
    switch (format) {
    case ChartPictureFormat::Png: {
        QImage image(size, QImage::Format_RGB32);
        if (image.isNull())
            return WriteFailure(path, QStringLiteral("not enough memory for a picture of that size."));
        {
            QPainter painter(&image);
            PaintChartPicture(painter, document, image.rect(), ChartPictureScale(size));
        }
        image.setText(QStringLiteral("Title"), title);
        if (!image.save(&file, "PNG"))
            return WriteFailure(path, file.errorString());
        break;
    }
    case ChartPictureFormat::Svg: {
        QSvgGenerator svg;
        svg.setOutputDevice(&file);
        svg.setSize(size);
        svg.setViewBox(QRect(QPoint(0, 0), size));
        svg.setResolution(static_cast<int>(kScreenResolution));
        svg.setTitle(title);
        svg.setDescription(QStringLiteral("Chart exported by Calvora"));
        QPainter painter;
        if (!painter.begin(&svg))
            return WriteFailure(path, file.errorString());
        PaintChartPicture(painter, document, QRect(QPoint(0, 0), size), ChartPictureScale(size));
        painter.end();
        break;
    }
    case ChartPictureFormat::Pdf: {
        QPdfWriter pdf(&file);
        pdf.setResolution(kPdfResolution);
        pdf.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Landscape,
                                      QMarginsF(10, 10, 10, 10), QPageLayout::Millimeter));
        pdf.setTitle(title);
        pdf.setCreator(QStringLiteral("Calvora"));
        QPainter painter;
        if (!painter.begin(&pdf))
            return WriteFailure(path, file.errorString());
        PaintChartPicture(painter, document, QRect(0, 0, pdf.width(), pdf.height()),
                          kPdfResolution / kScreenResolution);
        painter.end();
        break;
    }
    }
    if (file.error() != QFileDevice::NoError || !file.commit())
        return WriteFailure(path, file.errorString());
    return {};
}

} // namespace calvora
