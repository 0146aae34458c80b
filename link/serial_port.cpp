#include "link/serial_port.h"

#include "protocol/text.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

namespace calvora {
namespace {

struct BaudEntry {
    uint32_t rate;
    speed_t constant;
};

constexpr BaudEntry kBaudRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

bool BaudConstant(uint32_t rate, speed_t& constant) {
    for (const auto& entry : kBaudRates) {
        if (entry.rate == rate) {
            constant = entry.constant;
            return true;
        }
    }
    return false;
}

std::u16string ErrnoText(int error) {
    char buffer[160];
    // GNU strerror_r: returns the text, which may or may not live in `buffer`.
    return fromUtf8(strerror_r(error, buffer, sizeof buffer));
}

Failure<int> SystemFailure(int error) {
    return Failure(error, ErrnoText(error));
}

Failure<int> NotOpen() {
    return Failure(EBADF, u"The port is not open.");
}

// Closes a descriptor this object opened, dropping the exclusive flag first: on a pseudo-terminal the
// flag outlives the descriptor and would refuse the next open.
void CloseDevice(int fd) {
    ioctl(fd, TIOCNXCL);
    ::close(fd);
}

constexpr tcflag_t kCheckedControlBits = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
constexpr tcflag_t kCheckedInputBits = IXON | IXOFF;

} // namespace

std::string DevicePathForPort(int portNumber) {
    if (portNumber < 1 || portNumber > 255)
        return {};
    // The CP210x driver always creates ttyUSB nodes, numbered from 0.
    return "/dev/ttyUSB" + std::to_string(portNumber - 1);
}

Outcome<void> ApplyLineSettings(termios& settings, uint32_t baudRate, uint8_t parity, uint8_t dataBits,
                                uint8_t stopBits, uint8_t flowControl) {
    speed_t speed = B0;
    if (!BaudConstant(baudRate, speed))
        return Failure(u"The baud rate " + fromAscii(std::to_string(baudRate)) + u" is not supported.");
    if (dataBits < 5 || dataBits > 8)
        return Failure(u"Data bits must be 5 to 8, not " + fromAscii(std::to_string(dataBits)) + u".");
    // termios has no DSR-gated output; refusing beats running without the flow control asked for.
    if (flowControl == FlowDsrRts || flowControl == FlowDsrDtr)
        return Failure(u"Flow control on DSR is not available on Linux serial ports.");

    // Raw bytes: no echo, no signals, no line editing, no CR/LF translation on either side.
    // Parity errors are not checked on input (INPCK off): bytes arrive as received.
    settings.c_iflag &=
        ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXANY | INPCK);
    settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    settings.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    // CLOCAL is the nearest to "DSR sensitivity off": modem status lines never hold up open or read.
    settings.c_cflag |= CLOCAL | CREAD;
    // VMIN 1 makes an empty non-blocking read EAGAIN, so a read of 0 bytes always means hang-up.
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    cfsetispeed(&settings, speed);
    cfsetospeed(&settings, speed);

    settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE);
    settings.c_cflag |= dataBits == 5 ? CS5 : dataBits == 6 ? CS6 : dataBits == 7 ? CS7 : CS8;

    switch (parity) {
    case ParityNone:
        settings.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD | CMSPAR);
        break;
    case ParityEven:
        settings.c_cflag |= PARENB;
        settings.c_cflag &= ~static_cast<tcflag_t>(PARODD | CMSPAR);
        break;
    case ParityOdd:
        settings.c_cflag |= PARENB | PARODD;
        settings.c_cflag &= ~static_cast<tcflag_t>(CMSPAR);
        break;
    case ParityMark:
        // With CMSPAR the parity bit is constant: PARODD makes it 1 (mark).
        settings.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case ParitySpace:
        // CMSPAR without PARODD: a constant 0 (space) parity bit.
        settings.c_cflag |= PARENB | CMSPAR;
        settings.c_cflag &= ~static_cast<tcflag_t>(PARODD);
        break;
    default:
        break;
    }

    switch (stopBits) {
    case StopOne:
        settings.c_cflag &= ~static_cast<tcflag_t>(CSTOPB);
        break;
    case StopOneAndHalf:
        // termios has no 1.5: CSTOPB gives 1.5 on a UART with 5 data bits and 2 otherwise, the nearest
        // setting whose frames a 1.5-stop-bit receiver still accepts.
    case StopTwo:
        settings.c_cflag |= CSTOPB;
        break;
    default:
        break;
    }

    switch (flowControl) {
    case FlowNone:
        settings.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
        settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF);
        break;
    case FlowCtsRts:
    case FlowCtsDtr:
        // CRTSCTS is CTS output flow plus the RTS input handshake; Linux has no DTR handshake, so the
        // CTS/DTR code handshakes on RTS too. RTS and DTR are otherwise left as the driver has them.
        settings.c_cflag |= CRTSCTS;
        settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF);
        break;
    case FlowXonXoff:
        // XON 0x11 / XOFF 0x13 both ways; the 100-byte limits have no knob: the line discipline throttles
        // at its own fixed fill levels.
        settings.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
        settings.c_iflag |= IXON | IXOFF;
        settings.c_cc[VSTART] = 0x11;
        settings.c_cc[VSTOP] = 0x13;
        break;
    default:
        break;
    }
    return {};
}

std::u16string DescribeOpenFailure(int error, const std::string& path) {
    std::u16string text = u"Can't open " + fromUtf8(path) + u": " + ErrnoText(error) + u".";
    switch (error) {
    case EACCES:
    case EPERM:
        text += u" Add your user to the dialout group (sudo usermod -aG dialout $USER, then log in again),"
                u" or install a udev rule that grants the seated user access to the receiver"
                u" (TAG+=\"uaccess\").";
        break;
    case ENOENT:
    case ENODEV:
    case ENXIO:
        text += u" Is the receiver plugged in?";
        break;
    case EBUSY:
    case EWOULDBLOCK:
        text += u" Another program (or another window of this one) has the port open.";
        break;
    case ENOTTY:
        text += u" It is not a serial device.";
        break;
    default:
        break;
    }
    return text;
}

SerialPort::~SerialPort() {
    Close();
}

PortOutcome<> SerialPort::Open(int portNumber, uint32_t baudRate, uint8_t parity, uint8_t dataBits,
                               uint8_t stopBits, uint8_t flowControl) {
    Close();
    portNumber_ = portNumber;
    const std::string path = DevicePathForPort(portNumber);
    if (path.empty()) {
        devicePath_.clear();
        return Failure(EINVAL, u"COM" + fromAscii(std::to_string(portNumber)) +
                                   u" is not a port number between 1 and 255.");
    }
    const int keep = portNumber_;
    PortOutcome<> opened = Open(path, baudRate, parity, dataBits, stopBits, flowControl);
    portNumber_ = keep;
    return opened;
}

PortOutcome<> SerialPort::Open(const std::string& devicePath, uint32_t baudRate, uint8_t parity,
                               uint8_t dataBits, uint8_t stopBits, uint8_t flowControl) {
    Close();
    portNumber_ = 0;
    devicePath_ = devicePath;

    const int fd = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        return Failure(error, DescribeOpenFailure(error, devicePath));
    }
    auto failAndClose = [&](int error, std::u16string text) {
        CloseDevice(fd);
        return Failure(error, std::move(text));
    };
    if (!isatty(fd))
        return failAndClose(ENOTTY, DescribeOpenFailure(ENOTTY, devicePath));
    // The lock refuses a second open from any process, root included; TIOCEXCL additionally refuses
    // programs that open the device without taking the lock.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno == EWOULDBLOCK ? EBUSY : errno;
        return failAndClose(error, DescribeOpenFailure(error, devicePath));
    }
    if (ioctl(fd, TIOCEXCL) != 0) {
        const int error = errno;
        return failAndClose(error, DescribeOpenFailure(error, devicePath));
    }

    termios settings{};
    if (tcgetattr(fd, &settings) != 0) {
        const int error = errno;
        return failAndClose(error, DescribeOpenFailure(error, devicePath));
    }
    if (const Outcome<void> applied =
            ApplyLineSettings(settings, baudRate, parity, dataBits, stopBits, flowControl);
        !applied)
        return failAndClose(EINVAL, u"Can't open " + fromUtf8(devicePath) + u": " + applied.reason());
    if (tcsetattr(fd, TCSANOW, &settings) != 0) {
        const int error = errno;
        return failAndClose(error, u"Can't set the line settings of " + fromUtf8(devicePath) + u": " +
                                       ErrnoText(error) + u".");
    }
    // tcsetattr succeeds when any part was taken; read back so a driver that dropped part of it
    // (mark/space parity, hardware flow control) is reported instead of silently ignored.
    termios applied{};
    if (tcgetattr(fd, &applied) != 0 ||
        (applied.c_cflag & kCheckedControlBits) != (settings.c_cflag & kCheckedControlBits) ||
        (applied.c_iflag & kCheckedInputBits) != (settings.c_iflag & kCheckedInputBits) ||
        cfgetospeed(&applied) != cfgetospeed(&settings)) {
        return failAndClose(EINVAL, u"Can't open " + fromUtf8(devicePath) +
                                        u": the device does not accept these line settings.");
    }

    fd_ = fd;
    return {};
}

void SerialPort::Close() {
    if (fd_ < 0)
        return;
    CloseDevice(fd_);
    fd_ = -1;
}

int SerialPort::Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

PortOutcome<termios> SerialPort::GetState() {
    if (fd_ < 0)
        return NotOpen();
    termios settings{};
    if (tcgetattr(fd_, &settings) != 0)
        return SystemFailure(errno);
    return settings;
}

PortOutcome<> SerialPort::SetState(const termios& settings) {
    if (fd_ < 0)
        return NotOpen();
    if (tcsetattr(fd_, TCSANOW, &settings) != 0)
        return SystemFailure(errno);
    return {};
}

PortOutcome<> SerialPort::Purge(uint32_t flags) {
    if (fd_ < 0)
        return NotOpen();
    // Nothing is ever pending in the kernel on our behalf, so "abort" and "clear" both empty the queue.
    const bool input = (flags & (PurgeRxAbort | PurgeRxClear)) != 0;
    const bool output = (flags & (PurgeTxAbort | PurgeTxClear)) != 0;
    if (!input && !output)
        return {};
    const int queue = input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH;
    if (tcflush(fd_, queue) != 0)
        return SystemFailure(errno);
    return {};
}

PortOutcome<QueueStatus> SerialPort::GetQueueStatus() {
    if (fd_ < 0)
        return NotOpen();
    int in = 0;
    int out = 0;
    if (ioctl(fd_, TIOCINQ, &in) != 0 || ioctl(fd_, TIOCOUTQ, &out) != 0)
        return SystemFailure(errno);
    return QueueStatus{static_cast<uint32_t>(in), static_cast<uint32_t>(out)};
}

PortOutcome<int32_t> SerialPort::Read(uint8_t* buffer, int32_t count) {
    if (fd_ < 0)
        return NotOpen();
    if (count <= 0)
        return 0;
    const ssize_t n = ::read(fd_, buffer, static_cast<size_t>(count));
    if (n > 0)
        return static_cast<int32_t>(n);
    if (n == 0)
        return Failure(EIO, u"The device has hung up.");
    if (errno == EAGAIN || errno == EINTR)
        return 0;
    return SystemFailure(errno);
}

PortOutcome<> SerialPort::Write(const uint8_t* bytes, int32_t count, int timeoutMs) {
    if (fd_ < 0)
        return NotOpen();
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    int32_t written = 0;
    while (written < count) {
        const ssize_t n = ::write(fd_, bytes + written, static_cast<size_t>(count - written));
        if (n > 0) {
            written += static_cast<int32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            return SystemFailure(errno);
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return Failure(ETIMEDOUT, u"The write did not complete in time.");
        pollfd entry{fd_, POLLOUT, 0};
        if (poll(&entry, 1, static_cast<int>(left.count()) + 1) < 0 && errno != EINTR)
            return SystemFailure(errno);
    }
    return {};
}

} // namespace calvora
