// Readings and files shared by the logging tests.
#pragma once

#include "protocol/reading_decoder.h"
#include "protocol/text.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

namespace calvora::testing {

// A live reading as the decoder makes it of the meter's frame: `count` signed, range index 1 (4 V in VDC),
// function code 1 (VDC) unless told otherwise.
inline MeterReading Reading(int32_t count, uint8_t function = 1, uint8_t range = 1, uint8_t status = 0) {
    const uint32_t magnitude = static_cast<uint32_t>(count < 0 ? -count : count);
    const uint8_t frame[12] = {0x00,
                               0xD5,
                               0xF0,
                               0,
                               0,
                               static_cast<uint8_t>(magnitude >> 8),
                               static_cast<uint8_t>(magnitude),
                               static_cast<uint8_t>(range | (count < 0 ? 0x10 : 0)),
                               function,
                               status,
                               0,
                               0};
    return DecodeLiveFrame(frame, 12)->reading;
}

// A folder of its own under the system's temporary folder, removed with everything in it.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& name)
        : path_(std::filesystem::temp_directory_path() / (name + "-" + std::to_string(::getpid()))) {
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// What the sqlite3 tool prints for `sql` on `file` in CSV; nullopt-like "<no sqlite3>" when the tool is
// missing.
inline bool HaveSqliteTool() {
    return std::system("command -v sqlite3 >/dev/null 2>&1") == 0;
}

inline std::string SqliteTool(const std::filesystem::path& file, const std::string& sql) {
    const std::string command = "sqlite3 -csv '" + file.string() + "' \"" + sql + "\" 2>&1";
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
            out.append(buffer, n);
        pclose(pipe);
    }
    return out;
}

} // namespace calvora::testing
