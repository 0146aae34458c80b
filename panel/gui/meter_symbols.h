// The small pictures of the meter: the BEEP and DIODE symbols of the panel and the receiver images of the
// instrument tree. Drawn, not loaded: they are a few lines each.
#pragma once

#include <QColor>
#include <QPixmap>
#include <QSize>

class QPainter;
class QPoint;

namespace calvora {

// The sizes of the bitmaps they stand in for.
inline constexpr QSize kBeepSymbolSize{14, 14};
inline constexpr QSize kDiodeSymbolSize{20, 13};
inline constexpr QSize kReceiverImageSize{22, 50};

// A loudspeaker with two sound waves, its top-left corner at `origin`.
void DrawBeepSymbol(QPainter& painter, const QPoint& origin, const QColor& ink);
// A diode: a triangle pointing right onto a bar, with its leads.
void DrawDiodeSymbol(QPainter& painter, const QPoint& origin, const QColor& ink);

// A receiver in the instrument tree: the meter with a grey screen while not connected, a lit one while
// connected.
QPixmap ReceiverImage(bool connected);

} // namespace calvora
