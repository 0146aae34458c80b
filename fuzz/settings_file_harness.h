// "ZAZEDOVADIZO.ini" as any program or person may have left it: reading never fails, and writing the
// port afterwards must be what the next read sees, whatever else the file holds.
#pragma once

#include "link/settings_file.h"

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace calvora::fuzz {

namespace {
std::string ScratchPath() {
    const std::string folder = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return folder + "/calvora-fuzz-settings-" + std::to_string(getpid()) + ".ini";
}
} // namespace

// False when the input breaks a rule; the fuzz target turns that into a crash.
inline bool SettingsFileInputHolds(const uint8_t* data, size_t size) {
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
    const int port = 1 + static_cast<int>(size % 255);
    if (!settings.WritePort("Multimeter", port, "/dev/ttyUSB4"))
        return true;
    if (settings.ReadPortNumber("Multimeter", -1) != port ||
        settings.ReadDevicePath("Multimeter") != "/dev/ttyUSB4")
        return false;
    return true;
}

} // namespace calvora::fuzz
