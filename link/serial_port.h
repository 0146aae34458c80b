// One serial device on POSIX termios: exclusive open, line settings by the numeric codes the settings
// file and callers use, raw non-blocking I/O. No threads and no buffers of its own.
#pragma once

#include "protocol/outcome.h"

#include <termios.h>

#include <cstdint>
#include <string>

namespace calvora {

// The numeric codes are part of the interface: callers pass numbers, and "no parity" is 2, not 0.
enum Parity : uint8_t { ParityEven = 0, ParityMark = 1, ParityNone = 2, ParityOdd = 3, ParitySpace = 4 };
enum StopBits : uint8_t { StopOne = 0, StopOneAndHalf = 1, StopTwo = 2 };
enum FlowControl : uint8_t {
    FlowNone = 0,
    FlowCtsRts = 1,
    FlowCtsDtr = 2,
    FlowDsrRts = 3,
    FlowDsrDtr = 4,
    FlowXonXoff = 5,
};

// Purge flags: bits 0x1/0x4 empty the output queue, 0x2/0x8 the input queue.
enum PurgeFlags : uint32_t { PurgeTxAbort = 0x1, PurgeRxAbort = 0x2, PurgeTxClear = 0x4, PurgeRxClear = 0x8 };

struct QueueStatus {
    uint32_t bytesIn = 0;  // received, not yet read
    uint32_t bytesOut = 0; // written, not yet sent
};

// What a port operation gives: its value, or the reason the user reads with the system's error number
// (errno) as the kind, by which callers tell a missing device (ENOENT), a busy one (EBUSY) or missing
// access rights (EACCES) apart.
template <typename T = void> using PortOutcome = Outcome<T, int>;

// A COM number n (1..255) names the CP210x receiver's /dev/ttyUSB<n-1>; empty outside 1..255.
std::string DevicePathForPort(int portNumber);

// Writes the line settings into `settings` (raw mode, receiver on, modem lines ignored). A code above
// its range leaves that part as it was. Fails for settings termios cannot express.
Outcome<void> ApplyLineSettings(termios& settings, uint32_t baudRate, uint8_t parity, uint8_t dataBits,
                                uint8_t stopBits, uint8_t flowControl);

// The text shown for a failed open of `path` with `error` (an errno value); names the fix where a
// Linux user needs one (the dialout group, a udev rule, the receiver being plugged in).
std::u16string DescribeOpenFailure(int error, const std::string& path);

class SerialPort {
public:
    SerialPort() = default;
    virtual ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens /dev/ttyUSB<n-1> (see DevicePathForPort) and remembers n. A failure names the port and,
    // where a Linux user needs one, the fix (see DescribeOpenFailure).
    PortOutcome<> Open(int portNumber, uint32_t baudRate, uint8_t parity, uint8_t dataBits, uint8_t stopBits,
                       uint8_t flowControl);
    // Opens a device path exclusively: a second open, from this or another process, fails.
    PortOutcome<> Open(const std::string& devicePath, uint32_t baudRate, uint8_t parity, uint8_t dataBits,
                       uint8_t stopBits, uint8_t flowControl);
    void Close();
    bool isOpen() const { return fd_ >= 0; }

    PortOutcome<termios> GetState();
    PortOutcome<> SetState(const termios& settings);
    PortOutcome<> Purge(uint32_t flags);
    PortOutcome<QueueStatus> GetQueueStatus();

    // Non-blocking: the bytes read, 0 when none are waiting. A hung-up device fails with EIO.
    PortOutcome<int32_t> Read(uint8_t* buffer, int32_t count);
    // Writes all bytes, waiting for room at most `timeoutMs`; fails when they could not all be written
    // (time-out, vanished device, closed port).
    PortOutcome<> Write(const uint8_t* bytes, int32_t count, int timeoutMs = 2000);

    // The descriptor for poll(); -1 while closed.
    int nativeHandle() const { return fd_; }
    // Gives up the descriptor without closing it; the caller then owns it (and its lock).
    int Release();

    int portNumber() const { return portNumber_; }
    const std::string& devicePath() const { return devicePath_; }

private:
    int fd_ = -1;
    int portNumber_ = 0;
    std::string devicePath_;
};

} // namespace calvora
