// Shared by the hardening tests: frames, scratch folders and private mounts.
#pragma once

#include "protocol/frame_builder.h"

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace calvora::testing {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kVdc = 0x01;
constexpr uint8_t kRange1 = 0x01; // divisor 10000 for volts

inline Bytes LiveFrame(uint16_t magnitude) {
    const auto frame = MakeLiveFrame(magnitude, kRange1, kVdc, 0);
    return {frame.begin(), frame.end()};
}

// The burst the meter sends for `count` stored records: header, 40-byte blocks, two empty tails.
inline Bytes Burst(int count) {
    Bytes records;
    for (int i = 0; i < count; ++i) {
        const uint16_t magnitude = static_cast<uint16_t>(1000 + i);
        records.insert(records.end(), {static_cast<uint8_t>(magnitude >> 8),
                                       static_cast<uint8_t>(magnitude & 0xFF), kRange1, kVdc});
    }
    Bytes bytes = MakeMemoryHeader(static_cast<uint16_t>(count));
    uint16_t block = 1;
    for (size_t offset = 0; offset < records.size(); offset += 40, ++block) {
        const size_t end = std::min(records.size(), offset + 40);
        const auto frame = MakeMemoryBlock(block, Bytes(records.begin() + offset, records.begin() + end));
        bytes.insert(bytes.end(), frame.begin(), frame.end());
    }
    for (int tail = 0; tail < 2; ++tail) {
        const auto frame = MakeMemoryTail(block, {});
        bytes.insert(bytes.end(), frame.begin(), frame.end());
    }
    return bytes;
}

// A folder of its own per test, removed afterwards.
class ScratchFolder {
public:
    ScratchFolder()
        : path_(std::filesystem::temp_directory_path() /
                ("calvora-hard-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name())) {
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// A small tmpfs at `where`, in a mount namespace of this process only, so nothing outside the test sees
// it and it vanishes with the process at the latest. Needs root and a single-threaded process; mounted()
// says whether it worked.
class PrivateTmpfs {
public:
    PrivateTmpfs(std::filesystem::path where, const std::string& options) : where_(std::move(where)) {
        static const bool privateNamespace = [] {
            return ::unshare(CLONE_NEWNS) == 0 &&
                   ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
        }();
        std::filesystem::create_directories(where_);
        mounted_ = privateNamespace && ::mount("tmpfs", where_.c_str(), "tmpfs", 0, options.c_str()) == 0;
    }
    ~PrivateTmpfs() {
        if (mounted_)
            ::umount2(where_.c_str(), MNT_DETACH);
    }
    PrivateTmpfs(const PrivateTmpfs&) = delete;
    PrivateTmpfs& operator=(const PrivateTmpfs&) = delete;

    bool mounted() const { return mounted_; }
    bool RemountReadOnly() {
        return ::mount("none", where_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }

private:
    std::filesystem::path where_;
    bool mounted_ = false;
};

} // namespace calvora::testing
