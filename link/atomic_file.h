// Small file-system helpers for files that must never be left half written.
#pragma once

#include <string>
#include <string_view>

namespace calvora {

// Writes `content` to a temporary file beside `path`, syncs it and renames it over `path`, so readers
// see either the old or the new file. Returns false with the reason in `error`.
bool WriteFileAtomically(const std::string& path, std::string_view content, std::string* error = nullptr);

// mkdir -p; returns whether the directory exists afterwards.
bool CreateDirectories(const std::string& path);

} // namespace calvora
