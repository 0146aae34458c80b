// The ".recorder" file: model string, 42-byte header, samples, per-channel settings and the
// 18-byte chart trailer, all little-endian. The writer always writes wide strings; the reader also
// takes the narrow forms (Windows-1252 characters) and never trusts a count further than the bytes
// that are really there.
#pragma once

#include "protocol/outcome.h"
#include "recording/byte_sink.h"

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace calvora {

class RecordingDocument;
class RecordingState;
class UserPrompts;

inline constexpr std::u16string_view kModelString = u"QM310/QM312";
inline constexpr std::u16string_view kInvalidFormat = u"Invalid Format!";
inline constexpr std::u16string_view kUnexpectedFileFormat = u"Unexpected file format.";
// The reader refuses larger sample counts. No recording of this program comes near it (a live recording
// holds at most 20,000 samples, a downloaded log 65,535), while a corrupt or zero-filled file of a few
// hundred megabytes could otherwise ask for gigabytes of rows.
inline constexpr uint32_t kMaxFileSamples = 16'777'216;

// Writes the document; false when the sink failed.
bool WriteRecord(const RecordingDocument& document, ByteSink& sink);

enum class ReadFailure {
    InvalidFormat,    // another model's file: "Invalid Format!"
    UnexpectedFormat, // truncated or impossible counts: "Unexpected file format."
    CannotOpen,       // the file could not be read; the reason is the system's
};

// Fills an empty document from file bytes, computes its scale and clears its zoom. On failure the
// document is left empty.
Outcome<void, ReadFailure> ReadRecord(std::span<const uint8_t> bytes, RecordingDocument& document);
Outcome<void, ReadFailure> ReadRecordFile(const std::filesystem::path& path, RecordingDocument& document);

// The Open path: reads the file, sets loadRejected (1 for another model's file, 0 after a good
// read) and shows any failure with an exclamation icon.
Outcome<void, ReadFailure> OpenRecordFile(const std::filesystem::path& path, RecordingDocument& document,
                                          RecordingState& state, UserPrompts& prompts);

} // namespace calvora
