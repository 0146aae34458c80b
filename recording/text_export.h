// The tab-separated table written beside every saved record file (UTF-16LE with a byte-order
// mark, CRLF lines). Above 60000 samples the table continues in further column groups to the
// right; at most three groups carry data.
#pragma once

#include "recording/byte_sink.h"
#include "recording/sample_source.h"

namespace calvora {

class RecordingDocument;

inline constexpr uint32_t kExportGroupRows = 60000;
// Three groups of rows: the most samples the table holds.
inline constexpr uint64_t kMaxTextExportSamples = 3 * uint64_t{kExportGroupRows};

// The whole document, as Save writes it. False when the sink failed.
bool WriteTextExport(const RecordingDocument& document, ByteSink& sink);
// The samples numbered `range` of any source, each under its own number; the groups of 60000 lines count
// from the range's first sample. `range` lies within 1..sampleCount() and holds at most kMaxTextExportSamples
// samples.
bool WriteTextExport(const SampleSource& source, SampleNumbers range, ByteSink& sink);

} // namespace calvora
