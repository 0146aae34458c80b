// Small file-system helpers for the settings file: bounded reads that never block, and writes that
// never leave a half-written file. The save code's shared writer should take over the write once it
// covers links and special files the same way.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace calvora {

// The whole content of the regular file at `path` (a symbolic link to one is followed). Nothing comes
// back, with `error` left empty, when there is no file. Nothing comes back with the reason in `error`
// when the file is something else (a FIFO, a device, a directory: refused before it is opened, so a
// FIFO without a writer cannot block the caller), is larger than `limit` bytes, or cannot be read.
std::optional<std::string> ReadBoundedFile(const std::string& path, size_t limit,
                                           std::string* error = nullptr);

// Writes `content` to a temporary file beside the file at `path`, syncs it and renames it over that
// file, so readers see either the old or the new content. A symbolic link stays a link and its final
// target is written. An existing file keeps its permission bits (and its owner, where the system
// allows); a new one gets 0666 less the umask. Anything but a regular file at the end of the links,
// and a file this process may not write, is refused and left untouched. Returns false with the
// reason in `error`.
bool WriteFileAtomically(const std::string& path, std::string_view content, std::string* error = nullptr);

// mkdir -p; returns whether the directory exists afterwards.
bool CreateDirectories(const std::string& path);

} // namespace calvora
