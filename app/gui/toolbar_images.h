// The toolbar's 24-bit images and the program's icons, drawn at start-up.
#pragma once

#include <QIcon>
#include <QImage>

namespace calvora {

inline constexpr int kToolbarImageSize = 28;
inline constexpr int kToolbarImageCount = 7;

// Toolbar image order: Save, Open, Print, Real Time Chart Recording, Stop Recording, Help, then the meter
// (the Instrument page's icon).
enum ToolbarImage : int {
    kImageSave = 0,
    kImageOpen,
    kImagePrint,
    kImageRecord,
    kImageStop,
    kImageHelp,
    kImageMeter,
};

// The strip of seven 28 × 28 images (196 × 28, RGB888) for the normal state or the hot state. Its first
// pixel holds the mask colour.
QImage DrawToolbarStrip(bool hot);
// Cuts image `index` out of a strip and makes the strip's first-pixel colour transparent.
QPixmap CutMaskedImage(const QImage& strip, int index);
// The normal image from the normal strip (Qt greys it for the disabled state), the active (hot) image from
// the hot strip.
QIcon ToolbarIcon(int index);

// The application icon (About box, window icon) and the Instrument page icon.
QIcon ApplicationIcon();
QIcon InstrumentPageIcon();
// A receiver in the instrument tree, grey while not connected, green while connected.
QIcon ReceiverIcon(bool connected);

} // namespace calvora
