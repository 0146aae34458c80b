// A recording on a wall-clock axis: the times its samples' time texts name, when they can be read.
#pragma once

#include "chart/time_series.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace calvora {

class RecordingDocument;

// The local time a sample's time text " %m/%d/%y %H:%M:%S" names, as UTC milliseconds.
std::optional<int64_t> ParseSampleTimeText(std::u16string_view text);

// Every sample's time, when every time text can be read, none goes back and they span more than one
// second (a downloaded log's samples all carry the time of the download: no axis can be made of that).
// Samples sharing a second are spread evenly across it, in their order.
std::optional<std::vector<int64_t>> SampleTimes(const RecordingDocument& document);

// Channel 0 of the recording over its sample times (an infinite value is an overload: no number); null
// when the samples carry no usable times.
std::unique_ptr<VectorTimeSeries> RecordingTimeSeries(const RecordingDocument& document);

} // namespace calvora
