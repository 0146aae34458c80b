#include "link/receiver_port.h"

#include "protocol/text.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <vector>

namespace calvora {

void ReceiverBinding::Set(ReceiveCallback newCallback, void* newContext) {
    // Clearing the callback first means a reader that sees the same callback before and after
    // loading the context has a pair that was registered together.
    callback.store(nullptr);
    context.store(newContext);
    callback.store(newCallback);
}

bool ReceiverBinding::Get(ReceiveCallback& outCallback, void*& outContext) const {
    for (;;) {
        const ReceiveCallback first = callback.load();
        if (!first)
            return false;
        void* const loadedContext = context.load();
        if (callback.load() == first) {
            outCallback = first;
            outContext = loadedContext;
            return true;
        }
    }
}

struct ReaderState {
    ReaderState(int device, int closeEvent, int32_t chunk)
        : deviceFd(device), closeFd(closeEvent), chunkSize(chunk) {}

    const int deviceFd;
    const int closeFd;
    std::atomic<int32_t> chunkSize;
    std::atomic<uint64_t> chunks{0};
    std::atomic<ReaderEnd> end{ReaderEnd::Running};
    std::shared_ptr<ReceiverBinding> binding;

    std::mutex mutex;
    std::condition_variable exitedChanged;
    bool exited = false;          // guarded by mutex
    bool ownsDescriptors = false; // guarded by mutex: set when Close gave up waiting
};

namespace {

using Clock = std::chrono::steady_clock;

void Deliver(ReaderState& state, const uint8_t* bytes, int32_t count) {
    ReceiveCallback callback = nullptr;
    void* context = nullptr;
    const bool bound = state.binding->Get(callback, context);
    state.chunks.fetch_add(1, std::memory_order_release);
    if (!bound)
        return;
    // The callback gets its own copy, freed as soon as it returns.
    const std::vector<uint8_t> copy(bytes, bytes + count);
    callback(context, copy.data(), count);
}

ReaderEnd EndForReadFailure(int error) {
    return error == EIO || error == ENXIO || error == ENODEV ? ReaderEnd::HangUp : ReaderEnd::DeviceError;
}

// Accumulates until the chunk is full or the line has been silent for kReadIntervalMs after a byte.
ReaderEnd RunReader(ReaderState& state) {
    uint8_t buffer[kMaxChunkSize];
    int32_t filled = 0;
    Clock::time_point lastByte{};
    pollfd watched[2] = {{state.closeFd, POLLIN, 0}, {state.deviceFd, POLLIN, 0}};
    for (;;) {
        const int32_t chunk = std::clamp(state.chunkSize.load(std::memory_order_relaxed), 1, kMaxChunkSize);
        int timeoutMs = -1;
        if (filled > 0) {
            const auto quiet = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - lastByte);
            const auto left = std::chrono::milliseconds(kReadIntervalMs) - quiet;
            if (filled >= chunk || left.count() <= 0) {
                Deliver(state, buffer, filled);
                filled = 0;
                continue;
            }
            timeoutMs = static_cast<int>((left.count() + 999) / 1000);
        }
        const int ready = poll(watched, 2, timeoutMs);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return ReaderEnd::DeviceError;
        }
        // The close signal wins over pending data: the owner is shutting down.
        if (watched[0].revents != 0)
            return ReaderEnd::Closed;
        const short events = watched[1].revents;
        if (ready == 0 || events == 0)
            continue;
        if (events & POLLNVAL)
            return ReaderEnd::DeviceError;
        const ssize_t n = ::read(state.deviceFd, buffer + filled, static_cast<size_t>(chunk - filled));
        if (n > 0) {
            filled += static_cast<int32_t>(n);
            lastByte = Clock::now();
            continue;
        }
        const int error = n == 0 ? EIO : errno;
        if (n < 0 && (error == EAGAIN || error == EINTR) && !(events & (POLLHUP | POLLERR)))
            continue;
        // Unplugged (read of 0 on a hung-up tty, EIO, or a hang-up with nothing left to read): what
        // already arrived is still handed on.
        if (filled > 0)
            Deliver(state, buffer, filled);
        return error == EAGAIN || error == EINTR ? ReaderEnd::HangUp : EndForReadFailure(error);
    }
}

void* ReaderMain(void* argument) {
    const auto* handle = static_cast<std::shared_ptr<ReaderState>*>(argument);
    const std::shared_ptr<ReaderState> state = *handle;
    delete handle;

    // Two steps above normal; without CAP_SYS_NICE this fails and the reader runs at normal priority.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), -2);

    const ReaderEnd end = RunReader(*state);
    bool ownsDescriptors = false;
    {
        std::lock_guard lock(state->mutex);
        state->end.store(end);
        state->exited = true;
        ownsDescriptors = state->ownsDescriptors;
    }
    state->exitedChanged.notify_all();
    if (ownsDescriptors) {
        ioctl(state->deviceFd, TIOCNXCL);
        ::close(state->deviceFd);
        ::close(state->closeFd);
    }
    return nullptr;
}

} // namespace

ReaderThread::ReaderThread(int deviceFd, int closeEventFd, int32_t chunkSize)
    : state_(std::make_shared<ReaderState>(deviceFd, closeEventFd, chunkSize)) {
}

ReaderThread::~ReaderThread() {
    if (started_)
        Finish();
}

Outcome<void> ReaderThread::Start(std::shared_ptr<ReceiverBinding> binding) {
    state_->binding = std::move(binding);
    auto* handle = new std::shared_ptr<ReaderState>(state_);
    const int error = pthread_create(&thread_, nullptr, ReaderMain, handle);
    if (error != 0) {
        delete handle;
        char buffer[160];
        return Failure(fromUtf8(strerror_r(error, buffer, sizeof buffer)));
    }
    started_ = true;
    return {};
}

bool ReaderThread::SetChunkSize(int32_t size) {
    if (size < 1 || size > kMaxChunkSize)
        return false;
    state_->chunkSize.store(size, std::memory_order_relaxed);
    return true;
}

int32_t ReaderThread::chunkSize() const {
    return state_->chunkSize.load(std::memory_order_relaxed);
}

bool ReaderThread::exited() const {
    std::lock_guard lock(state_->mutex);
    return state_->exited;
}

ReaderEnd ReaderThread::endReason() const {
    return state_->end.load();
}

uint64_t ReaderThread::chunksRead() const {
    return state_->chunks.load(std::memory_order_acquire);
}

bool ReaderThread::WaitExited(std::chrono::milliseconds bound, const std::function<void()>& service) {
    const auto deadline = Clock::now() + bound;
    std::unique_lock lock(state_->mutex);
    if (!service)
        return state_->exitedChanged.wait_until(lock, deadline, [this] { return state_->exited; });
    const auto slice = std::chrono::milliseconds(5);
    while (!state_->exited) {
        const auto now = Clock::now();
        if (now >= deadline)
            return false;
        state_->exitedChanged.wait_until(lock, std::min(deadline, now + slice),
                                         [this] { return state_->exited; });
        if (state_->exited)
            break;
        lock.unlock();
        service();
        lock.lock();
    }
    return true;
}

bool ReaderThread::Finish() {
    if (!started_)
        return true;
    started_ = false;
    {
        std::lock_guard lock(state_->mutex);
        if (!state_->exited) {
            state_->ownsDescriptors = true;
            pthread_detach(thread_);
            return false;
        }
    }
    pthread_join(thread_, nullptr);
    return true;
}

ReceiverPort::ReceiverPort() : binding_(std::make_shared<ReceiverBinding>()) {
}

ReceiverPort::~ReceiverPort() {
    Close();
}

PortOutcome<> ReceiverPort::Open(int32_t portNumber, uint32_t baudRate, uint8_t parity, uint8_t dataBits,
                                 uint8_t stopBits, uint8_t flowControl) {
    Close();
    serialPort_ = std::make_unique<SerialPort>();
    return Start(serialPort_->Open(portNumber, baudRate, parity, dataBits, stopBits, flowControl));
}

PortOutcome<> ReceiverPort::Open(const std::string& devicePath, uint32_t baudRate, uint8_t parity,
                                 uint8_t dataBits, uint8_t stopBits, uint8_t flowControl) {
    Close();
    serialPort_ = std::make_unique<SerialPort>();
    return Start(serialPort_->Open(devicePath, baudRate, parity, dataBits, stopBits, flowControl));
}

PortOutcome<> ReceiverPort::Start(PortOutcome<> opened) {
    if (!opened)
        return opened;
    auto fail = [this](int error, std::u16string text) {
        if (closeEvent_ >= 0)
            ::close(closeEvent_);
        closeEvent_ = -1;
        serialPort_->Close();
        return Failure(error, std::move(text));
    };
    portNumber_ = serialPort_->portNumber();
    // Whatever sat in the queues before we owned the line is not ours to deliver.
    serialPort_->Purge(PurgeTxAbort | PurgeRxAbort | PurgeTxClear | PurgeRxClear);
    // The driver's own 4096-byte queues serve as the input and output queues; Linux has no size knob.
    closeEvent_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (closeEvent_ < 0)
        return fail(errno, u"Can't create the close event.");
    closing_.store(false, std::memory_order_release);
    reader_ = std::make_unique<ReaderThread>(serialPort_->nativeHandle(), closeEvent_, kInitialChunkSize);
    if (const Outcome<void> started = reader_->Start(binding_); !started) {
        reader_.reset();
        // A port without a reader would never deliver a byte: report it rather than "open".
        return fail(EAGAIN, u"CreateThread failed. " + started.reason());
    }
    return {};
}

void ReceiverPort::SetReceiveCallback(ReceiveCallback callback, void* context) {
    binding_->Set(callback, context);
}

bool ReceiverPort::SetChunkSize(int32_t size) {
    return reader_ && reader_->SetChunkSize(size);
}

bool ReceiverPort::isOpen() const {
    return serialPort_ && serialPort_->isOpen();
}

PortOutcome<> ReceiverPort::Write(const uint8_t* bytes, int32_t count) {
    if (!isOpen())
        return Failure(EBADF, u"The port is not open.");
    if (count <= 0)
        return {};
    // A reader that ended on a hang-up means the device is gone; don't even try.
    if (reader_ && reader_->endReason() == ReaderEnd::HangUp)
        return Failure(EIO, u"The device has hung up.");
    return serialPort_->Write(bytes, count, kWriteTimeoutMs);
}

void ReceiverPort::Close(const std::function<void()>& serviceWhileWaiting) {
    if (!isOpen())
        return;
    closing_.store(true, std::memory_order_release);
    bool descriptorsOurs = true;
    if (reader_) {
        const uint64_t one = 1;
        // Fails only when the counter is full, and then the reader already sees the event.
        const ssize_t signalled = ::write(closeEvent_, &one, sizeof one);
        (void)signalled;
        reader_->WaitExited(std::chrono::milliseconds(kCloseJoinBoundMs), serviceWhileWaiting);
        descriptorsOurs = reader_->Finish();
        reader_.reset();
    }
    if (descriptorsOurs) {
        ::close(closeEvent_);
        serialPort_->Close();
    } else {
        serialPort_->Release();
    }
    closeEvent_ = -1;
    serialPort_.reset();
}

} // namespace calvora
