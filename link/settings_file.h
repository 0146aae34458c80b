// "ZAZEDOVADIZO.ini": the receiver's port number, remembered after every successful open, and the names
// given to receivers.
// Kept in the classic INI text format under $XDG_CONFIG_HOME/calvora/ (Linux has no Windows directory).
//
// The file may be shared with people and other programs, so it is read and changed the way the
// Windows profile functions treat such files: the first section of a name is the one read and written
// (a later section of the same name is left alone), the first key of a name within it wins, names
// compare without regard to case, and a write changes only that key's value, or adds the key at the end
// of its section, or appends the section. Every other byte of the file (comments, foreign sections,
// blank lines, CRLF line ends, a missing final line end) stays as it was.
#pragma once

#include "protocol/outcome.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace calvora {

// A settings file larger than this is not read, and not rewritten (which would lose its end).
inline constexpr size_t kMaxSettingsFileBytes = 64 * 1024;

// The value of `key` in the first section named `section` of the INI text (read with inih); blanks around
// it removed.
std::optional<std::string> ReadProfileValue(std::string_view text, std::string_view section,
                                            std::string_view key);

// The INI text with `key` in the first section named `section` set to `value` (which must fit on a line
// and have no blanks around it), everything else kept as it was. New lines take the text's line ends.
// Nothing when the edited text would not read back `value` (a line too long for the reader, a value the
// reader would cut at an inline comment ...).
std::optional<std::string> WriteProfileValue(std::string_view text, std::string_view section,
                                             std::string_view key, std::string_view value);

class SettingsFile {
public:
    explicit SettingsFile(std::string path);
    // $XDG_CONFIG_HOME/calvora/ZAZEDOVADIZO.ini, or ~/.config/calvora/ZAZEDOVADIZO.ini when it is unset.
    static std::string DefaultPath();

    const std::string& path() const { return path_; }

    // [<label>COMPORT] <label>PORTNUM: its leading decimal number (0 when there is none; a number
    // beyond the range of int gives the nearest int, never a wrapped one); `fallback` when the file,
    // section or key is missing. A failure, "Can't read the settings file <path>: <why>.", when the file
    // is there but cannot be read (it is not a regular file, is larger than kMaxSettingsFileBytes, or is
    // not readable); callers then go on as if it were missing.
    Outcome<int> ReadPortNumber(const std::string& label, int fallback = 3) const;
    // [<label>COMPORT] <label>DEVICE: the device path of the last open, written beside the number; empty
    // when none is remembered. Fails as ReadPortNumber does.
    Outcome<std::string> ReadDevicePath(const std::string& label) const;

    // Writes the port number (0..255, 0 for a device known only by its path) and the device path when
    // not empty, changing nothing else in the file; the folder is created when missing. The file is
    // replaced atomically (a link to it stays a link). Refused with "Can't write the settings file
    // <path>: <why>.", leaving the file as it was: a number outside 0..255, a device path that cannot be
    // stored on one line, and a file that cannot be read (see ReadPortNumber).
    Outcome<void> WritePort(const std::string& label, int portNumber, const std::string& devicePath) const;

    // [Receiver names] <key>: the name the user gave the receiver known by `key` (its USB serial number,
    // else its device path); empty when it has none. Fails as ReadPortNumber does.
    Outcome<std::string> ReadReceiverName(const std::string& key) const;
    // Names the receiver known by `key`; an empty name forgets it (the default name then applies). Refused
    // as WritePort is, and for a key or name that cannot be stored on one line of the file.
    Outcome<void> WriteReceiverName(const std::string& key, const std::string& name) const;

private:
    Outcome<std::optional<std::string>> ReadValue(const std::string& label,
                                                  const std::string& keySuffix) const;
    // Writes `text` in place of the file (atomically), creating its folder; fails with the reason alone.
    Outcome<void> Replace(const std::string& text) const;
    std::string path_;
};

} // namespace calvora
