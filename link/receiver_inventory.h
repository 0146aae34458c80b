// The serial devices of the machine, as the receiver scan sees them: a description text and a COM-style
// device id per port. On Linux the inventory is libudev's tty subsystem (there is no WMI).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace calvora {

// The description a CP210x bridge yields, which is how the meter's receiver is recognised.
inline constexpr const char* kReceiverDescription = "Silicon Labs CP210x USB to UART Bridge";

struct SerialPortInfo {
    std::string description; // e.g. kReceiverDescription
    std::string deviceId;    // "COM<n>": ttyUSB<k> is COM<k+1>
    std::string devicePath;  // e.g. /dev/ttyUSB0; empty when only the number is known
};

class ReceiverInventory {
public:
    virtual ~ReceiverInventory() = default;
    // Every serial port known, or nothing when the inventory cannot be reached at all.
    virtual std::optional<std::vector<SerialPortInfo>> Enumerate() = 0;
};

// libudev: every tty device; those behind the cp210x driver (or USB vendor 10c4 with a CP210x
// product id) get the receiver description.
class UdevInventory : public ReceiverInventory {
public:
    std::optional<std::vector<SerialPortInfo>> Enumerate() override;
};

// Device paths given by the user (such as the simulator's pseudo-terminal) listed as receivers
// after whatever the wrapped inventory finds.
class ExtraDevicesInventory : public ReceiverInventory {
public:
    ExtraDevicesInventory(ReceiverInventory& base, std::vector<std::string> devicePaths);
    std::optional<std::vector<SerialPortInfo>> Enumerate() override;

private:
    ReceiverInventory& base_;
    std::vector<std::string> devicePaths_;
};

// The key a receiver's name is kept under: the USB serial number of the device at `devicePath` (through
// links such as /dev/serial/by-id/...), else the device path itself; "COM<n>" for a receiver known only by
// its number.
std::string ReceiverNameKey(const std::string& devicePath, int portNumber);

// "COM<k+1>" for /dev/ttyUSB<k>, else the device's kernel name.
std::string ComNameForDevice(const std::string& kernelName);

// Watches the tty subsystem for devices arriving and leaving (the Linux form of WM_DEVICECHANGE).
class DeviceMonitor {
public:
    enum class Change { None, Arrived, Removed };
    DeviceMonitor();
    ~DeviceMonitor();
    DeviceMonitor(const DeviceMonitor&) = delete;
    DeviceMonitor& operator=(const DeviceMonitor&) = delete;

    // A descriptor that becomes readable when a change is waiting; -1 when monitoring is unavailable
    // (no udev in a container, for instance): the program then simply sees no device changes.
    int fd() const;
    // Takes one waiting change without blocking.
    Change Receive();

private:
    struct Impl;
    Impl* impl_;
};

} // namespace calvora
