// The ".recorder" reader on arbitrary bytes. A file it accepts must survive writing and reading again
// unchanged, and its text export must be writable.
#pragma once

#include "recording/byte_sink.h"
#include "recording/record_file.h"
#include "recording/recording_document.h"
#include "recording/text_export.h"

#include <cstddef>
#include <cstdint>

namespace calvora::fuzz {

// False when the input breaks a rule; the fuzz target turns that into a crash.
inline bool RecordFileInputHolds(const uint8_t* data, size_t size) {
    RecordingDocument document;
    const auto read = ReadRecord({data, size}, document);
    if (!read) {
        if (document.sampleCount() != 0 || read.reason().empty())
            return false; // a refused file leaves the document empty and says why
        return true;
    }
    MemorySink first;
    if (!WriteRecord(document, first))
        return false;
    RecordingDocument again;
    if (!ReadRecord(first.bytes, again) || again.sampleCount() != document.sampleCount())
        return false;
    MemorySink second;
    WriteRecord(again, second);
    if (second.bytes != first.bytes)
        return false;
    MemorySink text;
    WriteTextExport(document, text);
    return true;
}

} // namespace calvora::fuzz
