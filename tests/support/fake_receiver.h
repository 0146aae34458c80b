// A receiver the test controls: an inventory that lists what the test names, and the meter's end of a
// pseudo-terminal for the port to open.
#pragma once

#include "link/receiver_inventory.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace calvora::testing {

// Receivers named by the test.
class ListedInventory : public ReceiverInventory {
public:
    std::optional<std::vector<SerialPortInfo>> Enumerate() override { return ports; }
    std::vector<SerialPortInfo> ports;
};

// The master side of a pseudo-terminal: the test plays the receiver on it.
class MeterLine {
public:
    MeterLine() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) {
            path_ = ptsname(master_);
            // Keeps the pseudo-terminal's number taken after a hang-up, so the program reopening a pulled
            // receiver's path never finds another test's line there.
            numberHeld_ = open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        }
    }
    ~MeterLine() {
        Hangup();
        if (numberHeld_ >= 0)
            close(numberHeld_);
    }
    MeterLine(const MeterLine&) = delete;
    MeterLine& operator=(const MeterLine&) = delete;

    const std::string& path() const { return path_; }
    bool Send(const std::vector<uint8_t>& bytes) const {
        return master_ >= 0 &&
               write(master_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }
    // What the program wrote so far.
    std::vector<uint8_t> Received() const {
        std::vector<uint8_t> bytes(64);
        const ssize_t count = master_ >= 0 ? read(master_, bytes.data(), bytes.size()) : -1;
        bytes.resize(count > 0 ? static_cast<size_t>(count) : 0);
        return bytes;
    }
    // As a pulled receiver: the device goes away under the open port.
    void Hangup() {
        if (master_ >= 0) {
            close(master_);
            master_ = -1;
        }
    }

private:
    int master_ = -1;
    int numberHeld_ = -1;
    std::string path_;
};

} // namespace calvora::testing
