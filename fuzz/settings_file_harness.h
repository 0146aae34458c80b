// "ZAZEDOVADIZO.ini" as any program or person may have left it: reading never fails, writing the port
// touches nothing but the one value (or adds its lines), writing it again changes nothing more, and
// what was written is what the next read sees, whatever else the file holds.
#pragma once

#include "link/settings_file.h"

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace calvora::fuzz {

namespace {
std::string ScratchPath() {
    const std::string folder = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return folder + "/calvora-fuzz-settings-" + std::to_string(getpid()) + ".ini";
}

// True when `after` is `before` with at most part of one line replaced or whole lines put in: the
// bytes that differ, once the common start and end are set aside, hold no line end of `before`. A
// carriage return alone does not end a line: it may be part of a value.
bool OnlyOneLineChanged(std::string_view before, std::string_view after) {
    size_t head = 0;
    while (head < before.size() && head < after.size() && before[head] == after[head])
        ++head;
    size_t tail = 0;
    while (tail < before.size() - head && tail < after.size() - head &&
           before[before.size() - 1 - tail] == after[after.size() - 1 - tail])
        ++tail;
    return before.substr(head, before.size() - head - tail).find('\n') == std::string_view::npos;
}
} // namespace

// False when the input breaks a rule; the fuzz target turns that into a crash.
inline bool SettingsFileInputHolds(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string section = "MultimeterCOMPORT";
    const std::string key = "MultimeterPORTNUM";
    ReadProfileValue(text, section, key);
    const std::string port = std::to_string(1 + size % 255);
    // A refused write is allowed (the text defeats the reader); a written one must read back, change one
    // line at most, and be a fixed point.
    const std::optional<std::string> written = WriteProfileValue(text, section, key, port);
    if (written) {
        if (ReadProfileValue(*written, section, key) != port || !OnlyOneLineChanged(text, *written))
            return false;
        if (WriteProfileValue(*written, section, key, port) != *written)
            return false;
    }

    // The same through the file, with the device path beside the number.
    static const std::string path = ScratchPath();
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return true;
    std::fwrite(data, 1, size, file);
    std::fclose(file);
    struct Remover {
        const std::string& path;
        ~Remover() { std::remove(path.c_str()); }
    } remover{path};
    const SettingsFile settings(path);
    settings.ReadPortNumber("Multimeter", 3);
    settings.ReadDevicePath("Multimeter");
    if (!settings.WritePort("Multimeter", std::stoi(port), "/dev/ttyUSB4"))
        return true;
    return settings.ReadPortNumber("Multimeter", -1).value_or(-1) == std::stoi(port) &&
           settings.ReadDevicePath("Multimeter").value_or(std::string()) == "/dev/ttyUSB4";
}

} // namespace calvora::fuzz
