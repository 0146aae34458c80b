// The serial port as the rest of the program sees it: open the receiver's line, run one reader thread
// that hands every received chunk to a callback, write bytes, close.
//
// Threads and their contract:
// - Open, Write, SetChunkSize and Close belong to the owner's thread. SetReceiveCallback may be called
//   at any time, from one thread at a time; a chunk already being delivered may still reach the
//   previous callback.
// - The callback runs on the reader thread with a private copy of the chunk, valid until it returns.
// - Once Close has begun, closing() is true: the callback must then return promptly (drop the chunk
//   rather than hand it to the owner's thread, which is busy in Close). Close waits at most about 3 s
//   for the reader; `serviceWhileWaiting`, when given, is called every few milliseconds during that wait
//   so a hand-off already in flight can complete. A reader still stuck in a callback after the bound is
//   left to finish on its own and releases the device when it does.
// - After Close returns no callback is running or will run, unless the bound above was hit.
#pragma once

#include "link/serial_port.h"

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace calvora {

using ReceiveCallback = void (*)(void* context, const uint8_t* bytes, int32_t count);

// Why the reader thread ended.
enum class ReaderEnd { Running, Closed, HangUp, DeviceError };

constexpr int32_t kInitialChunkSize = 14;
constexpr int32_t kMaxChunkSize = 2048;
// A read completes after this much silence following a byte.
constexpr int kReadIntervalMs = 100;
constexpr int kWriteTimeoutMs = 2000;
constexpr int kCloseJoinBoundMs = 3000;

// The callback and its context, published so the reader never sees one without the other.
struct ReceiverBinding {
    std::atomic<ReceiveCallback> callback{nullptr};
    std::atomic<void*> context{nullptr};

    void Set(ReceiveCallback newCallback, void* newContext);
    // Loads a consistent pair; false when no callback is registered.
    bool Get(ReceiveCallback& outCallback, void*& outContext) const;
};

struct ReaderState;

class ReaderThread {
public:
    ReaderThread(int deviceFd, int closeEventFd, int32_t chunkSize);
    virtual ~ReaderThread();
    ReaderThread(const ReaderThread&) = delete;
    ReaderThread& operator=(const ReaderThread&) = delete;

    // Starts the thread; fails with the system's reason when it could not be created.
    Outcome<void> Start(std::shared_ptr<ReceiverBinding> binding);

    // 1..kMaxChunkSize; takes effect from the next read. Returns false for values outside.
    bool SetChunkSize(int32_t size);
    int32_t chunkSize() const;

    bool exited() const;
    ReaderEnd endReason() const;
    // Chunks completed since the start, including those dropped for want of a callback.
    uint64_t chunksRead() const;
    // Waits until the thread body has ended; true if it did within `bound`. `service` runs between
    // short slices of the wait.
    bool WaitExited(std::chrono::milliseconds bound, const std::function<void()>& service = {});

    // Reaps an ended thread and returns true: the caller still owns the two descriptors. A thread still
    // running is let go instead and given the descriptors to close when it ends; returns false.
    bool Finish();

private:
    std::shared_ptr<ReaderState> state_;
    bool started_ = false;
    pthread_t thread_{};
};

class ReceiverPort {
public:
    ReceiverPort();
    virtual ~ReceiverPort();
    ReceiverPort(const ReceiverPort&) = delete;
    ReceiverPort& operator=(const ReceiverPort&) = delete;

    // COM n opens /dev/ttyUSB<n-1>. Codes as in serial_port.h. This program passes 115200, ParityNone,
    // 8, StopOne, FlowNone. Fails as SerialPort::Open does, or when the reader cannot be started.
    PortOutcome<> Open(int32_t portNumber, uint32_t baudRate, uint8_t parity, uint8_t dataBits,
                       uint8_t stopBits, uint8_t flowControl);
    PortOutcome<> Open(const std::string& devicePath, uint32_t baudRate, uint8_t parity, uint8_t dataBits,
                       uint8_t stopBits, uint8_t flowControl);

    void SetReceiveCallback(ReceiveCallback callback, void* context);
    // Bytes asked for by each read: 14 after Open, at most kMaxChunkSize. False when not open or out
    // of range.
    bool SetChunkSize(int32_t size);

    // Synchronous, bounded by kWriteTimeoutMs. Fails at once when not open or the device has gone, and
    // when the bytes could not all be written.
    PortOutcome<> Write(const uint8_t* bytes, int32_t count);

    void Close(const std::function<void()>& serviceWhileWaiting = {});

    bool isOpen() const;
    // True from the start of Close until the next Open.
    bool closing() const { return closing_.load(std::memory_order_acquire); }
    int32_t portNumber() const { return portNumber_; }
    // The reader while the port is open (it may have ended on a hang-up); null otherwise.
    ReaderThread* readerThread() const { return reader_.get(); }

private:
    PortOutcome<> Start(PortOutcome<> opened);

    std::unique_ptr<SerialPort> serialPort_;
    std::shared_ptr<ReceiverBinding> binding_;
    int32_t portNumber_ = 0;
    int closeEvent_ = -1;
    std::unique_ptr<ReaderThread> reader_;
    std::atomic<bool> closing_{false};
};

} // namespace calvora
