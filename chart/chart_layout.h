// Sample-to-pixel layout of a document's chart: pure arithmetic on the document and a plot
// rectangle, so it runs and is tested without a window.
#pragma once

#include "chart/model/chart_model.h"

namespace calvora {

class RecordingDocument;

// Fills pixelsPerSample, the tick tables (full view only) and, in the full view, every sample's xPos/yPos.
// Does nothing for a document without samples.
void LayoutSamples(RecordingDocument& document, const PlotRect& plot);

// The zoomed layout, run after LayoutSamples while zoomed: ticks from the zoom base and
// step, yPos against each channel's axis, xPos carried over when the plot rectangle changed.
void LayoutZoomed(RecordingDocument& document, const PlotRect& plot);

// Defaults applied when a new live or download document is adopted by its chart: one channel,
// full view, every channel visible in red, grey background, white grid.
void ApplyNewChartDefaults(RecordingDocument& document);

// Scale of a downloaded or opened document: extremes of channel 0 from -4000/4000, then the auto
// limits into axisMin/axisMax and (narrowed) autoMin/autoMax; the laid-out range covers every
// sample. Infinite values are left out of the extremes: they would make the whole scale infinite.
void SetLimitsFromSamples(RecordingDocument& document);

// A document read from a record file, made ready for its chart: the scale from its samples, the full view
// without a remembered vertical zoom. The reader leaves the chart alone, so every program that opens a
// file calls this.
void PrepareOpenedDocument(RecordingDocument& document);

// A recording recovered from a crash journal, made ready for its chart as a live recording would be: the
// new chart's defaults and the scale from its samples.
void PrepareRecoveredDocument(RecordingDocument& document);

} // namespace calvora
