// "ZAZEDOVADIZO.ini": the receiver's port number, remembered after every successful open.
// Kept in the classic INI text format under $XDG_CONFIG_HOME/calvora/ (Linux has no Windows directory).
#pragma once

#include <optional>
#include <string>

namespace calvora {

class SettingsFile {
public:
    explicit SettingsFile(std::string path);
    // $XDG_CONFIG_HOME/calvora/ZAZEDOVADIZO.ini, or ~/.config/calvora/ZAZEDOVADIZO.ini when it is unset.
    static std::string DefaultPath();

    const std::string& path() const { return path_; }

    // [<label>COMPORT] <label>PORTNUM, as an integer; `fallback` when the file, section or key is missing.
    int ReadPortNumber(const std::string& label, int fallback = 3) const;
    // [<label>COMPORT] <label>DEVICE: the device path of the last open, written beside the number.
    std::optional<std::string> ReadDevicePath(const std::string& label) const;

    // Writes the port number (and the device path when not empty), keeping every other entry of the
    // file. The file is replaced atomically. Returns false with the reason in `error`.
    bool WritePort(const std::string& label, int portNumber, const std::string& devicePath,
                   std::string* error = nullptr) const;

private:
    std::optional<std::string> ReadValue(const std::string& section, const std::string& key) const;
    std::string path_;
};

} // namespace calvora
