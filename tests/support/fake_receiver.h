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
        m_master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m_master >= 0 && grantpt(m_master) == 0 && unlockpt(m_master) == 0) {
            m_path = ptsname(m_master);
        }
    }
    ~MeterLine() { Hangup(); }
    MeterLine(const MeterLine&) = delete;
    MeterLine& operator=(const MeterLine&) = delete;

    const std::string& Path() const { return m_path; }
    bool Send(const std::vector<uint8_t>& bytes) const {
        return m_master >= 0 &&
               write(m_master, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }
    // What the program wrote so far.
    std::vector<uint8_t> Received() const {
        std::vector<uint8_t> bytes(64);
        const ssize_t count = m_master >= 0 ? read(m_master, bytes.data(), bytes.size()) : -1;
        bytes.resize(count > 0 ? static_cast<size_t>(count) : 0);
        return bytes;
    }
    // As a pulled receiver: the device goes away under the open port.
    void Hangup() {
        if (m_master >= 0) {
            close(m_master);
            m_master = -1;
        }
    }

private:
    int m_master = -1;
    std::string m_path;
};

} // namespace calvora::testing
