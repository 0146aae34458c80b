#include "app/sync_hand_off.h"
#include "link/receiver_inventory.h"
#include "link/settings_file.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
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

class SettingsFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("calvora-settings-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string PathOf(const char* name) const { return (dir_ / name).string(); }
    std::filesystem::path dir_;
};

TEST_F(SettingsFileTest, MissingFileGivesTheDefaultPortThree) {
    SettingsFile file(PathOf("ZAZEDOVADIZO.ini"));
    EXPECT_EQ(file.ReadPortNumber("Multimeter"), 3);
    EXPECT_FALSE(file.ReadDevicePath("Multimeter"));
}

TEST_F(SettingsFileTest, WritesTheSectionAndKeyAndKeepsOtherEntries) {
    const std::string path = PathOf("sub/ZAZEDOVADIZO.ini");
    std::filesystem::create_directories(dir_ / "sub");
    std::ofstream(path) << "[Other]\nkey=value\n[multimetercomport]\nMultimeterPORTNUM=9\n";
    SettingsFile file(path);
    EXPECT_EQ(file.ReadPortNumber("Multimeter"), 9); // names are case-insensitive
    std::string error;
    ASSERT_TRUE(file.WritePort("Multimeter", 5, "", &error)) << error;
    EXPECT_EQ(file.ReadPortNumber("Multimeter"), 5);
    std::ifstream in(path);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("[Other]\nkey=value\n"), std::string::npos);
    EXPECT_NE(text.find("MultimeterPORTNUM=5\n"), std::string::npos);
    EXPECT_EQ(text.find("PORTNUM=9"), std::string::npos);
}

TEST_F(SettingsFileTest, CreatesTheFolderAndRemembersTheDevicePath) {
    SettingsFile file(PathOf("a/b/ZAZEDOVADIZO.ini"));
    ASSERT_TRUE(file.WritePort("Multimeter", 5, "/dev/ttyUSB4"));
    SettingsFile reread(PathOf("a/b/ZAZEDOVADIZO.ini"));
    EXPECT_EQ(reread.ReadPortNumber("Multimeter"), 5);
    EXPECT_EQ(reread.ReadDevicePath("Multimeter").value_or(""), "/dev/ttyUSB4");
}

TEST_F(SettingsFileTest, GarbageReadsAsZeroAndAnUnwritablePlaceFailsWithAReason) {
    std::filesystem::create_directories(dir_);
    std::ofstream(PathOf("bad.ini")) << "[MultimeterCOMPORT]\nMultimeterPORTNUM=abc\nnot a line\n";
    EXPECT_EQ(SettingsFile(PathOf("bad.ini")).ReadPortNumber("Multimeter"), 0);

    std::ofstream(PathOf("plain-file")) << "x";
    std::string error;
    EXPECT_FALSE(SettingsFile(PathOf("plain-file/ZAZEDOVADIZO.ini")).WritePort("Multimeter", 5, "", &error));
    EXPECT_FALSE(error.empty());
}

TEST(SettingsFilePath, FollowsXdgConfigHome) {
    const char* old = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = old ? old : "";
    ::setenv("XDG_CONFIG_HOME", "/tmp/xdg-config", 1);
    EXPECT_EQ(SettingsFile::DefaultPath(), "/tmp/xdg-config/calvora/ZAZEDOVADIZO.ini");
    ::setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
    EXPECT_NE(SettingsFile::DefaultPath().find("/.config/calvora/ZAZEDOVADIZO.ini"), std::string::npos);
    if (old)
        ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
}

class OneTtyInventory : public ReceiverInventory {
public:
    std::optional<std::vector<SerialPortInfo>> Enumerate() override {
        return std::vector<SerialPortInfo>{{"Communications Port", "ttyS0", "/dev/ttyS0"}};
    }
};

TEST(ExtraDevicesInventory, ListsGivenDevicesAsReceiversWhileTheyExist) {
    const auto present = std::filesystem::temp_directory_path() / ("calvora-extra-" + std::to_string(::getpid()));
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
