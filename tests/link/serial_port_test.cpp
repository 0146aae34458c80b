#include "link/serial_port.h"
#include "protocol/text.h"
#include "tests/link/link_test_support.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

namespace calvora::testing {
namespace {

termios Blank() {
    termios settings{};
    settings.c_cflag = CS8;
    return settings;
}

TEST(DevicePathForPort, MapsComNumbersToUsbSerialNodes) {
    const std::pair<int, const char*> cases[] = {
        {1, "/dev/ttyUSB0"},
        {3, "/dev/ttyUSB2"},
        {12, "/dev/ttyUSB11"},
        {255, "/dev/ttyUSB254"},
        {0, ""},
        {256, ""},
        {-1, ""},
    };
    for (const auto& [number, path] : cases)
        EXPECT_EQ(DevicePathForPort(number), path) << number;
}

TEST(ApplyLineSettings, ParityCodes) {
    struct Case {
        uint8_t code;
        bool enabled, odd, sticky;
    };
    const Case cases[] = {
        {ParityEven, true, false, false}, {ParityMark, true, true, true},   {ParityNone, false, false, false},
        {ParityOdd, true, true, false},   {ParitySpace, true, false, true},
    };
    // Each code must set or clear every parity bit itself, whatever the driver had.
    for (const tcflag_t before : {tcflag_t{0}, tcflag_t{PARENB | PARODD | CMSPAR}})
        for (const auto& c : cases) {
            termios settings = Blank();
            settings.c_cflag |= before;
            ASSERT_TRUE(ApplyLineSettings(settings, 115200, c.code, 8, StopOne, FlowNone));
            EXPECT_EQ((settings.c_cflag & PARENB) != 0, c.enabled) << int(c.code);
            EXPECT_EQ((settings.c_cflag & PARODD) != 0, c.odd) << int(c.code);
            EXPECT_EQ((settings.c_cflag & CMSPAR) != 0, c.sticky) << int(c.code);
        }
}

TEST(ApplyLineSettings, StopBitsAndDataBits) {
    const std::pair<uint8_t, bool> stops[] = {{StopOne, false}, {StopOneAndHalf, true}, {StopTwo, true}};
    for (const auto& [code, twoStops] : stops) {
        termios settings = Blank();
        settings.c_cflag |= twoStops ? 0 : CSTOPB;
        ASSERT_TRUE(ApplyLineSettings(settings, 9600, ParityNone, 8, code, FlowNone));
        EXPECT_EQ((settings.c_cflag & CSTOPB) != 0, twoStops) << int(code);
    }
    const std::pair<uint8_t, tcflag_t> sizes[] = {{5, CS5}, {6, CS6}, {7, CS7}, {8, CS8}};
    for (const auto& [bits, flag] : sizes) {
        termios settings = Blank();
        ASSERT_TRUE(ApplyLineSettings(settings, 9600, ParityNone, bits, StopOne, FlowNone));
        EXPECT_EQ(settings.c_cflag & CSIZE, flag) << int(bits);
    }
}

TEST(ApplyLineSettings, FlowControlCodes) {
    struct Case {
        uint8_t code;
        bool accepted, rtsCts, xonXoff;
    };
    const Case cases[] = {
        {FlowNone, true, false, false},    {FlowCtsRts, true, true, false},
        {FlowCtsDtr, true, true, false},   {FlowDsrRts, false, false, false},
        {FlowDsrDtr, false, false, false}, {FlowXonXoff, true, false, true},
    };
    for (const auto& c : cases) {
        termios settings = Blank();
        settings.c_cflag |= c.rtsCts ? 0 : CRTSCTS;
        settings.c_iflag |= c.xonXoff ? 0 : IXON | IXOFF;
        const Outcome<void> applied = ApplyLineSettings(settings, 115200, ParityNone, 8, StopOne, c.code);
        ASSERT_EQ(static_cast<bool>(applied), c.accepted) << int(c.code);
        if (!c.accepted) {
            EXPECT_NE(toUtf8(applied.reason()).find("DSR"), std::string::npos);
            continue;
        }
        EXPECT_EQ((settings.c_cflag & CRTSCTS) != 0, c.rtsCts) << int(c.code);
        EXPECT_EQ(settings.c_iflag & (IXON | IXOFF), c.xonXoff ? (IXON | IXOFF) : 0u) << int(c.code);
        if (c.xonXoff) {
            EXPECT_EQ(settings.c_cc[VSTART], 0x11);
            EXPECT_EQ(settings.c_cc[VSTOP], 0x13);
        }
    }
}

TEST(ApplyLineSettings, CodesAboveTheirRangeLeaveThatPartAlone) {
    for (const tcflag_t before : {tcflag_t{0}, tcflag_t{PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS}}) {
        termios settings = Blank();
        settings.c_cflag |= before;
        settings.c_iflag |= before ? IXON | IXOFF : 0;
        ASSERT_TRUE(ApplyLineSettings(settings, 115200, 5, 8, 3, 6));
        EXPECT_EQ(settings.c_cflag & (PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS), before);
        EXPECT_EQ((settings.c_iflag & (IXON | IXOFF)) != 0, before != 0);
    }
}

TEST(ApplyLineSettings, RawModeAndRefusals) {
    termios settings = Blank();
    settings.c_lflag = ECHO | ICANON | ISIG;
    settings.c_oflag = OPOST;
    settings.c_iflag = ICRNL;
    ASSERT_TRUE(ApplyLineSettings(settings, 115200, ParityNone, 8, StopOne, FlowNone));
    EXPECT_EQ(settings.c_lflag & (ECHO | ICANON | ISIG), 0u);
    EXPECT_EQ(settings.c_oflag & OPOST, 0u);
    EXPECT_EQ(settings.c_iflag & ICRNL, 0u);
    EXPECT_EQ(settings.c_cflag & (CLOCAL | CREAD), tcflag_t{CLOCAL | CREAD});
    EXPECT_EQ(cfgetospeed(&settings), speed_t{B115200});

    EXPECT_EQ(ApplyLineSettings(settings, 12345, ParityNone, 8, StopOne, FlowNone).reason(),
              u"The baud rate 12345 is not supported.");
    EXPECT_EQ(ApplyLineSettings(settings, 115200, ParityNone, 4, StopOne, FlowNone).reason(),
              u"Data bits must be 5 to 8, not 4.");
    EXPECT_FALSE(ApplyLineSettings(settings, 115200, ParityNone, 9, StopOne, FlowNone));
}

TEST(DescribeOpenFailure, NamesTheFixALinuxUserNeeds) {
    const std::pair<int, const char*> cases[] = {
        {EACCES, "dialout"},    {EACCES, "udev"},           {EPERM, "dialout"},
        {ENOENT, "plugged in"}, {EBUSY, "Another program"},
    };
    for (const auto& [error, hint] : cases) {
        const std::string text = toUtf8(DescribeOpenFailure(error, "/dev/ttyUSB0"));
        EXPECT_NE(text.find("/dev/ttyUSB0"), std::string::npos) << text;
        EXPECT_NE(text.find(hint), std::string::npos) << text;
    }
}

TEST(SerialPort, PseudoTerminalTakesTheLineSettings) {
    struct Case {
        uint8_t stopBits, flow;
        tcflag_t controlBits, inputBits;
    };
    const Case cases[] = {
        {StopOne, FlowNone, 0, 0},
        {StopTwo, FlowCtsRts, CSTOPB | CRTSCTS, 0},
        {StopOne, FlowXonXoff, 0, IXON | IXOFF},
        {StopOneAndHalf, FlowCtsDtr, CSTOPB | CRTSCTS, 0},
    };
    PseudoTerminal terminal;
    for (const auto& c : cases) {
        SerialPort port;
        const PortOutcome<> opened =
            port.Open(terminal.slavePath(), 115200, ParityNone, 8, c.stopBits, c.flow);
        ASSERT_TRUE(opened) << toUtf8(opened.reason());
        const PortOutcome<termios> state = port.GetState();
        ASSERT_TRUE(state) << toUtf8(state.reason());
        const termios& settings = state.value();
        EXPECT_EQ(settings.c_cflag & (PARENB | CSTOPB | CRTSCTS), c.controlBits) << int(c.flow);
        EXPECT_EQ(settings.c_iflag & (IXON | IXOFF), c.inputBits) << int(c.flow);
        EXPECT_EQ(settings.c_iflag & ICRNL, 0u);
        EXPECT_EQ(settings.c_lflag & (ECHO | ICANON), 0u);
        EXPECT_EQ(cfgetispeed(&settings), speed_t{B115200});
    }
}

TEST(SerialPort, SettingsTheDriverDropsFailTheOpen) {
    // A pseudo-terminal forces 8 data bits without parity, as a plain UART bridge could not.
    PseudoTerminal terminal;
    for (const uint8_t parity : {ParityEven, ParityOdd, ParityMark, ParitySpace}) {
        SerialPort port;
        const PortOutcome<> opened = port.Open(terminal.slavePath(), 115200, parity, 8, StopOne, FlowNone);
        ASSERT_FALSE(opened) << int(parity);
        EXPECT_EQ(opened.kind(), EINVAL);
        EXPECT_FALSE(port.isOpen());
    }
    SerialPort port;
    EXPECT_FALSE(port.Open(terminal.slavePath(), 115200, ParityNone, 7, StopOne, FlowNone));
    // The failed opens left the device free.
    const PortOutcome<> opened = port.Open(terminal.slavePath(), 115200, ParityNone, 8, StopOne, FlowNone);
    EXPECT_TRUE(opened) << toUtf8(opened.reason());
}

TEST(SerialPort, SecondOpenOfAHeldDeviceFails) {
    PseudoTerminal terminal;
    SerialPort first;
    ASSERT_TRUE(first.Open(terminal.slavePath(), 115200, ParityNone, 8, StopOne, FlowNone));

    SerialPort second;
    EXPECT_EQ(second.Open(terminal.slavePath(), 115200, ParityNone, 8, StopOne, FlowNone).kind(), EBUSY);
    EXPECT_FALSE(second.isOpen());

    // From another process too.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        SerialPort other;
        _exit(other.Open(terminal.slavePath(), 115200, ParityNone, 8, StopOne, FlowNone) ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the other process could open the device";

    first.Close();
    const PortOutcome<> reopened =
        second.Open(terminal.slavePath(), 115200, ParityNone, 8, StopOne, FlowNone);
    EXPECT_TRUE(reopened) << toUtf8(reopened.reason());
}

TEST(SerialPort, OpenFailuresReportTheReason) {
    SerialPort port;
    const PortOutcome<> missing =
        port.Open("/dev/calvora-no-such-device", 115200, ParityNone, 8, StopOne, FlowNone);
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.kind(), ENOENT);
    EXPECT_NE(toUtf8(missing.reason()).find("plugged in"), std::string::npos);

    EXPECT_EQ(port.Open("/dev/null", 115200, ParityNone, 8, StopOne, FlowNone).kind(), ENOTTY);

    const PortOutcome<> outOfRange = port.Open(0, 115200, ParityNone, 8, StopOne, FlowNone);
    ASSERT_FALSE(outOfRange);
    EXPECT_EQ(outOfRange.kind(), EINVAL);
    EXPECT_EQ(outOfRange.reason(), u"COM0 is not a port number between 1 and 255.");
    EXPECT_EQ(port.portNumber(), 0);
    EXPECT_FALSE(port.isOpen());
}

TEST(SerialPort, WriteIsBoundedWhenNothingDrainsTheLine) {
    // Nobody reads the meter's end, so the terminal's buffer fills and the write has to give up.
    PseudoTerminal terminal;
    SerialPort port;
    ASSERT_TRUE(port.Open(terminal.slavePath(), 115200, ParityNone, 8, StopOne, FlowNone));
    const Bytes flood(1 << 20, 0x55);
    const auto start = Clock::now();
    const PortOutcome<> written = port.Write(flood.data(), static_cast<int32_t>(flood.size()), 200);
    const auto took = Clock::now() - start;
    ASSERT_FALSE(written);
    EXPECT_EQ(written.kind(), ETIMEDOUT);
    EXPECT_GE(took, 150ms);
    EXPECT_LT(took, 1500ms);
}

TEST(SerialPort, ReadWriteAndHangUp) {
    PseudoTerminal terminal;
    SerialPort port;
    ASSERT_TRUE(port.Open(terminal.slavePath(), 115200, ParityNone, 8, StopOne, FlowNone));
    uint8_t buffer[16];
    EXPECT_EQ(port.Read(buffer, sizeof buffer).value(), 0) << "nothing waiting reads as 0, not as a hang-up";

    const Bytes request{0x05, 0x4C, 0x4B, 0x08, 0x00, 0x00};
    EXPECT_TRUE(port.Write(request.data(), 6));
    EXPECT_EQ(terminal.Receive(6, 2000ms), request);

    terminal.Hangup();
    EXPECT_EQ(port.Read(buffer, sizeof buffer).kind(), EIO);
    EXPECT_FALSE(port.Write(request.data(), 6));
    port.Close();
    port.Close();
    EXPECT_EQ(port.Write(request.data(), 6).kind(), EBADF);
}

} // namespace
} // namespace calvora::testing
