// Pictures of a chart in files (PNG, SVG, PDF), drawn at the target's own size and resolution: the screen's
// layout and trace rules, painted as vectors rather than a stretched copy of the screen.
#pragma once

#include "protocol/outcome.h"

#include <QRect>
#include <QSize>
#include <QString>

#include <optional>

class QPainter;

namespace calvora {

class RecordingDocument;

enum class ChartPictureFormat { Png, Svg, Pdf };

// The format a file name's extension asks for (any case); empty for any other extension.
std::optional<ChartPictureFormat> ChartPictureFormatOf(const QString& path);

// The line above the picture: the document's name, its first sample's date and time, and its unit, each
// left out when there is none ("RealTime Panel - 05/03/17 14:22:10 - V").
QString ChartPictureTitle(const RecordingDocument& document);

// Draws the title line and the chart of `document` into `area` of the painter's device. Margins, pens and
// fonts are the screen's pixels times `scale`. The document's layout is left as it was found, so the chart
// on the screen keeps its zoom and scroll position.
void PaintChartPicture(QPainter& painter, RecordingDocument& document, const QRect& area, double scale);

// What a picture of `size` pixels scales the screen's lengths by: 1 up to 1600 x 900, more beyond.
double ChartPictureScale(const QSize& size);

// Writes the picture to `path`, replacing a file there only once the new one is complete: PNG and SVG of
// `size` pixels, PDF on one landscape A4 page. A failure names the file and why.
Outcome<> WriteChartPicture(RecordingDocument& document, const QString& path, ChartPictureFormat format,
                            QSize size);

} // namespace calvora
