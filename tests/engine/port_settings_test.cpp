// Port numbers on their way in (settings file, receiver scan) and a settings file that cannot be read.
#include "app/meter_engine.h"
#include "protocol/text.h"
#include "tests/engine/fake_view.h"
#include "tests/support/simulator_process.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace calvora {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class PortSettingsTest : public ::testing::Test {
protected:
    PortSettingsTest()
        : folder_(fs::temp_directory_path() /
                  ("calvora-port-settings-" + std::to_string(::getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name())),
          settings_((folder_ / "ZAZEDOVADIZO.ini").string()), engine_(view_, inventory_, settings_) {
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    ~PortSettingsTest() override { fs::remove_all(folder_); }

    std::string Message(size_t index) const {
        return index < view_.messages.size() ? toUtf8(view_.messages[index]) : std::string("(no message)");
    }

    fs::path folder_;
    testing::FakeView view_;
    testing::FakeInventory inventory_;
    SettingsFile settings_;
    MeterEngine engine_;
};

// A remembered number outside 1..255 is tried as it is and refused with the reason, never folded
// into the 8-bit range (300 used to open COM44).
TEST_F(PortSettingsTest, ReconnectRefusesARememberedNumberOutsideTheComRange) {
    const struct {
        const char* value;
        int port;
    } cases[] = {{"300", 300}, {"256", 256}, {"-5", -5}, {"0", 0}, {"99999999999", 2147483647}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        std::ofstream(folder_ / "ZAZEDOVADIZO.ini")
            << "[MultimeterCOMPORT]\nMultimeterPORTNUM=" << c.value << "\n";
        view_.messages.clear();
        engine_.Reconnect();
        ASSERT_EQ(engine_.portList().size(), 1u);
        EXPECT_EQ(engine_.portList()[0].portNumber, c.port);
        const std::string com = "COM" + std::to_string(c.port);
        EXPECT_EQ(Message(0),
                  "Warning:Can't open " + com + "!\n" + com + " is not a port number between 1 and 255.");
        EXPECT_TRUE(engine_.connectedLabel().empty());
        EXPECT_EQ(engine_.BeginComport(), c.port) << "the Comport dialog starts from it and refuses it on OK";
    }
}

// ttyUSB299 is COM300: beyond the COM range it is opened and remembered by its path alone.
TEST_F(PortSettingsTest, AReceiverBeyondComTwoHundredFiftyFiveIsKnownByItsPath) {
    inventory_.ports =
        std::vector<SerialPortInfo>{{kReceiverDescription, "COM300", "/nonexistent/ttyUSB299"}};
    engine_.ScanReceivers();
    ASSERT_EQ(engine_.portList().size(), 1u);
    EXPECT_EQ(engine_.portList()[0].portNumber, 0);
    ASSERT_EQ(view_.tree.size(), 1u);
    engine_.OnReceiverDoubleClicked(view_.tree[0].id);
    EXPECT_EQ(Message(0).substr(0, 42), "Warning:Can't open /nonexistent/ttyUSB299!");
}

// A receiver opened by its device path is remembered without a COM number: the Comport dialog proposes a
// number it accepts (the USB device's own, else COM3), while Reconnect still opens the path.
TEST_F(PortSettingsTest, ComportAfterAConnectionByPathProposesAValidNumber) {
    const std::pair<const char*, int> cases[] = {{"/dev/pts/7", 3},
                                                 {"/dev/ttyUSB4", 5},
                                                 {"/dev/ttyUSB", 3},
                                                 {"/dev/ttyUSB254", 255},
                                                 {"/dev/ttyUSB300", 3}};
    for (const auto& [path, proposed] : cases) {
        SCOPED_TRACE(path);
        ASSERT_TRUE(settings_.WritePort("Multimeter", 0, path));
        EXPECT_EQ(engine_.BeginComport(), proposed);
        ASSERT_EQ(engine_.portList().size(), 1u);
        EXPECT_EQ(engine_.portList()[0].devicePath, path);
    }
}

// A settings file that is not a regular file is not read; the user is told, and COM3 is tried.
TEST_F(PortSettingsTest, AnUnreadableSettingsFileIsNamedAndTheDefaultPortTried) {
    fs::create_symlink("/dev/null", folder_ / "ZAZEDOVADIZO.ini");
    engine_.Reconnect();
    ASSERT_EQ(view_.messages.size(), 2u);
    EXPECT_NE(Message(0).find("ZAZEDOVADIZO.ini: it is a character device, not a regular file."),
              std::string::npos)
        << Message(0);
    EXPECT_NE(Message(0).find("COM3 is used instead."), std::string::npos) << Message(0);
    EXPECT_EQ(Message(1).substr(0, 24), "Warning:Can't open COM3!");
    EXPECT_TRUE(fs::is_symlink(folder_ / "ZAZEDOVADIZO.ini"));
}

// `--port` digits outside 1..255 are refused, however many there are (4294967301 used to open COM5).
} // namespace
} // namespace calvora
