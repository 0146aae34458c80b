#include "link/receiver_inventory.h"

#include <libudev.h>

#include <array>
#include <cstring>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace calvora {

namespace {

constexpr std::string_view kSiliconLabsVendor = "10c4";
// Product ids of Silicon Labs' CP210x USB-to-UART bridges.
constexpr std::array<std::string_view, 7> kCp210xProducts = {"ea60", "ea61", "ea63", "ea70",
                                                             "ea71", "ea7a", "ea7b"};

std::string Text(const char* value) {
    return value ? std::string(value) : std::string();
}

bool IsCp210x(udev_device* tty) {
    udev_device* interface = udev_device_get_parent_with_subsystem_devtype(tty, "usb", "usb_interface");
    if (interface && Text(udev_device_get_driver(interface)) == "cp210x")
        return true;
    udev_device* usb = udev_device_get_parent_with_subsystem_devtype(tty, "usb", "usb_device");
    if (!usb)
        return false;
    if (Text(udev_device_get_sysattr_value(usb, "idVendor")) != kSiliconLabsVendor)
        return false;
    const std::string product = Text(udev_device_get_sysattr_value(usb, "idProduct"));
    for (auto known : kCp210xProducts) {
        if (product == known)
            return true;
    }
    return false;
}

std::string DescribeOther(udev_device* tty) {
    udev_device* usb = udev_device_get_parent_with_subsystem_devtype(tty, "usb", "usb_device");
    if (usb) {
        std::string product = Text(udev_device_get_sysattr_value(usb, "product"));
        if (!product.empty())
            return product;
    }
    return "Communications Port";
}

} // namespace

std::string ComNameForDevice(const std::string& kernelName) {
    constexpr std::string_view prefix = "ttyUSB";
    if (kernelName.size() > prefix.size() && kernelName.compare(0, prefix.size(), prefix) == 0) {
        const std::string digits = kernelName.substr(prefix.size());
        if (digits.find_first_not_of("0123456789") == std::string::npos && digits.size() < 6)
            return "COM" + std::to_string(std::stoi(digits) + 1);
    }
    return kernelName;
}

std::string ReceiverNameKey(const std::string& devicePath, int portNumber) {
    std::string path = devicePath;
    if (path.empty() && portNumber > 0)
        path = "/dev/ttyUSB" + std::to_string(portNumber - 1);
    struct stat info {};
    if (!path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISCHR(info.st_mode)) {
        // The serial number follows the receiver from socket to socket, which its path does not.
        if (udev* context = udev_new()) {
            std::string serial;
            if (udev_device* tty = udev_device_new_from_devnum(context, 'c', info.st_rdev)) {
                if (udev_device* usb =
                        udev_device_get_parent_with_subsystem_devtype(tty, "usb", "usb_device"))
                    serial = Text(udev_device_get_sysattr_value(usb, "serial"));
                udev_device_unref(tty);
            }
            udev_unref(context);
            if (!serial.empty())
                return "serial-" + serial;
        }
    }
    if (!devicePath.empty())
        return devicePath;
    return "COM" + std::to_string(portNumber);
}

std::optional<std::vector<SerialPortInfo>> UdevInventory::Enumerate() {
    udev* context = udev_new();
    if (!context)
        return std::nullopt;
    udev_enumerate* enumeration = udev_enumerate_new(context);
    if (!enumeration) {
        udev_unref(context);
        return std::nullopt;
    }
    std::vector<SerialPortInfo> ports;
    udev_enumerate_add_match_subsystem(enumeration, "tty");
    udev_enumerate_scan_devices(enumeration);
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumeration)) {
        udev_device* tty = udev_device_new_from_syspath(context, udev_list_entry_get_name(entry));
        if (!tty)
            continue;
        const std::string node = Text(udev_device_get_devnode(tty));
        // Virtual terminals and consoles have no parent device; only real serial hardware is listed.
        if (!node.empty() && udev_device_get_parent(tty)) {
            const std::string kernelName = Text(udev_device_get_sysname(tty));
            ports.push_back({IsCp210x(tty) ? kReceiverDescription : DescribeOther(tty),
                             ComNameForDevice(kernelName), node});
        }
        udev_device_unref(tty);
    }
    udev_enumerate_unref(enumeration);
    udev_unref(context);
    return ports;
}

ExtraDevicesInventory::ExtraDevicesInventory(ReceiverInventory& base, std::vector<std::string> devicePaths)
    : base_(base), devicePaths_(std::move(devicePaths)) {
}

std::optional<std::vector<SerialPortInfo>> ExtraDevicesInventory::Enumerate() {
    auto ports = base_.Enumerate();
    if (!ports)
        ports.emplace();
    // Like a receiver that is plugged in, a given device is listed only while it exists.
    for (const auto& path : devicePaths_) {
        if (::access(path.c_str(), F_OK) == 0)
            ports->push_back({kReceiverDescription, "COM0", path});
    }
    return ports;
}

struct DeviceMonitor::Impl {
    udev* context = nullptr;
    udev_monitor* monitor = nullptr;
};

DeviceMonitor::DeviceMonitor() : impl_(new Impl) {
    impl_->context = udev_new();
    if (!impl_->context)
        return;
    impl_->monitor = udev_monitor_new_from_netlink(impl_->context, "udev");
    if (!impl_->monitor)
        return;
    if (udev_monitor_filter_add_match_subsystem_devtype(impl_->monitor, "tty", nullptr) < 0 ||
        udev_monitor_enable_receiving(impl_->monitor) < 0) {
        udev_monitor_unref(impl_->monitor);
        impl_->monitor = nullptr;
    }
}

DeviceMonitor::~DeviceMonitor() {
    if (impl_->monitor)
        udev_monitor_unref(impl_->monitor);
    if (impl_->context)
        udev_unref(impl_->context);
    delete impl_;
}

int DeviceMonitor::fd() const {
    return impl_->monitor ? udev_monitor_get_fd(impl_->monitor) : -1;
}

DeviceMonitor::Change DeviceMonitor::Receive() {
    if (!impl_->monitor)
        return Change::None;
    udev_device* device = udev_monitor_receive_device(impl_->monitor);
    if (!device)
        return Change::None;
    const std::string action = Text(udev_device_get_action(device));
    udev_device_unref(device);
    if (action == "add")
        return Change::Arrived;
    if (action == "remove")
        return Change::Removed;
    return Change::None;
}

} // namespace calvora
