// The tab-separated table written beside every saved record file (UTF-16LE with a byte-order
// mark, CRLF lines). Above 60000 samples the table continues in further column groups to the
// right; at most three groups carry data.
#pragma once

#include "recording/byte_sink.h"

namespace calvora {

class RecordingDocument;

inline constexpr uint32_t kExportGroupRows = 60000;

// False when the sink failed.
bool WriteTextExport(const RecordingDocument& document, ByteSink& sink);

} // namespace calvora
