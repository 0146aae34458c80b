// Recovery of a crash journal from arbitrary bytes: whatever it accepts is a one-channel live document
// whose every row can be read.
#pragma once

#include "recording/journal.h"
#include "recording/recording_document.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace calvora::fuzz {

// False when the input breaks a rule; the fuzz target turns that into a crash.
inline bool JournalInputHolds(const uint8_t* data, size_t size) {
    const Outcome<RecordingDocument> recovered =
        RecoverJournalBytes({reinterpret_cast<const char*>(data), size});
    if (!recovered)
        return !recovered.reason().empty(); // a refused journal says why
    const RecordingDocument& document = recovered.value();
    if (document.sampleCount() == 0 || document.channelCount() != 1)
        return false;
    size_t characters = 0;
    for (uint32_t row = 0; row < document.sampleCount(); ++row)
        characters += document.Sample(row).timeText.size();
    return characters != SIZE_MAX;
}

} // namespace calvora::fuzz
