// Synchronous hand-off of work from the serial reader thread to the user-interface thread.
// The reader waits until its task has run, so frame bytes it lends stay valid during the task;
// Close() releases a waiting reader whose task has not started, so closing the port can never
// deadlock against a hand-off in flight.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace calvora {

class SyncHandOff {
public:
    // `wakeUi` is called on the sending thread after a task was queued; the desktop program posts an
    // event that makes the UI thread call RunPending(), headless users call WaitAndRun() in their loop.
    explicit SyncHandOff(std::function<void()> wakeUi = {});
    ~SyncHandOff();
    SyncHandOff(const SyncHandOff&) = delete;
    SyncHandOff& operator=(const SyncHandOff&) = delete;

    // Sending thread: runs `task` on the UI thread and returns after it ran (true), or returns false
    // without running it when the hand-off is or becomes closed before the task started.
    bool Send(std::function<void()> task);

    // UI thread: runs the queued tasks. Returns how many ran.
    int RunPending();
    // UI thread: waits up to `timeout` for a task, then runs what is queued. Returns how many ran.
    int WaitAndRun(std::chrono::milliseconds timeout);

    // Refuses new tasks and releases senders whose task has not started. Any thread.
    void Close();
    // Accepts tasks again.
    void Open();
    bool isOpen() const;

private:
    struct Pending;
    std::function<void()> wakeUi_;
    mutable std::mutex mutex_;
    std::condition_variable queued_;
    std::condition_variable finished_;
    std::deque<std::shared_ptr<Pending>> queue_;
    bool open_ = true;
};

} // namespace calvora
