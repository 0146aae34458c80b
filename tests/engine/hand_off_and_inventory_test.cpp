#include "app/sync_hand_off.h"
#include "link/receiver_inventory.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

namespace calvora {
namespace {

TEST(SyncHandOff, SenderWaitsUntilTheUiThreadRanItsTask) {
    SyncHandOff handOff;
    int value = 0;
    std::atomic<bool> returned{false};
    std::thread reader([&] {
        EXPECT_TRUE(handOff.Send([&] { value = 42; }));
        returned = true;
    });
    while (handOff.WaitAndRun(std::chrono::milliseconds(2000)) == 0) {
    }
    reader.join();
    EXPECT_TRUE(returned);
    EXPECT_EQ(value, 42);
}

TEST(SyncHandOff, CloseReleasesAWaitingSenderWithoutRunningItsTask) {
    SyncHandOff handOff;
    bool ran = false;
    std::atomic<int> result{-1};
    std::thread reader([&] { result = handOff.Send([&] { ran = true; }) ? 1 : 0; });
    // Nobody runs the UI side; closing must still let the sender go.
    while (result == -1) {
        handOff.Close();
        std::this_thread::yield();
    }
    reader.join();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(handOff.RunPending(), 0);
    EXPECT_FALSE(ran);
    EXPECT_FALSE(handOff.Send([] {}));
    handOff.Open();
    std::thread again([&] { EXPECT_TRUE(handOff.Send([&] { ran = true; })); });
    while (handOff.WaitAndRun(std::chrono::milliseconds(2000)) == 0) {
    }
    again.join();
    EXPECT_TRUE(ran);
}

class OneTtyInventory : public ReceiverInventory {
public:
    std::optional<std::vector<SerialPortInfo>> Enumerate() override {
        return std::vector<SerialPortInfo>{{"Communications Port", "ttyS0", "/dev/ttyS0"}};
    }
};

TEST(ExtraDevicesInventory, ListsGivenDevicesAsReceiversWhileTheyExist) {
    const auto present =
        std::filesystem::temp_directory_path() / ("calvora-extra-" + std::to_string(::getpid()));
    std::ofstream(present) << "";
    OneTtyInventory base;
    ExtraDevicesInventory inventory(base, {present.string(), "/nonexistent/calvora-meter"});
    const auto ports = inventory.Enumerate();
    ASSERT_TRUE(ports);
    ASSERT_EQ(ports->size(), 2u);
    EXPECT_EQ((*ports)[1].description, kReceiverDescription);
    EXPECT_EQ((*ports)[1].devicePath, present.string());
    std::filesystem::remove(present);
    EXPECT_EQ(inventory.Enumerate()->size(), 1u) << "a simulator that stopped is no longer listed";
}

TEST(ComNameForDevice, UsbSerialNumbersAreShiftedByOne) {
    EXPECT_EQ(ComNameForDevice("ttyUSB0"), "COM1");
    EXPECT_EQ(ComNameForDevice("ttyUSB122"), "COM123");
    EXPECT_EQ(ComNameForDevice("ttyS0"), "ttyS0");
    EXPECT_EQ(ComNameForDevice("ttyUSB"), "ttyUSB");
    EXPECT_EQ(ComNameForDevice("ttyUSBx"), "ttyUSBx");
}

} // namespace
} // namespace calvora
