// JSON lines: one object per sample, UTF-8, LF line ends:
// {"sample":n,"time":"...","function":"...","mode":"...","value":x,"unit":"...","fullScale":f,"lowLimit":l}
// An overload has "value":null followed by "overload":"OL" or "-OL". Numbers are the shortest texts that
// read back to the same 32-bit float; a full scale that is not finite is null.
#pragma once

#include "recording/byte_sink.h"
#include "recording/sample_source.h"

#include <string>
#include <string_view>

namespace calvora {

// `text` as a JSON string, quotes included: '"', '\' and control characters escaped, the rest UTF-8.
void AppendJsonString(std::string& out, std::u16string_view text);

// `range` lies within 1..sampleCount(). False when the sink failed.
bool WriteJsonLines(const SampleSource& source, SampleNumbers range, ByteSink& sink);

} // namespace calvora
