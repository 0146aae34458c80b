#include "app/sync_hand_off.h"

namespace calvora {

struct SyncHandOff::Pending {
    enum class State { Queued, Running, Done, Abandoned };
    std::function<void()> task;
    State state = State::Queued;
};

SyncHandOff::SyncHandOff(std::function<void()> wakeUi) : wakeUi_(std::move(wakeUi)) {
}

SyncHandOff::~SyncHandOff() {
    Close();
}

bool SyncHandOff::Send(std::function<void()> task) {
    auto pending = std::make_shared<Pending>();
    pending->task = std::move(task);
    {
        std::lock_guard lock(mutex_);
        if (!open_)
            return false;
        queue_.push_back(pending);
    }
    queued_.notify_all();
    if (wakeUi_)
        wakeUi_();

    std::unique_lock lock(mutex_);
    finished_.wait(lock, [&] {
        return pending->state == Pending::State::Done || pending->state == Pending::State::Abandoned;
    });
    return pending->state == Pending::State::Done;
}

int SyncHandOff::RunPending() {
    int ran = 0;
    for (;;) {
        std::shared_ptr<Pending> pending;
        {
            std::lock_guard lock(mutex_);
            while (!queue_.empty() && !pending) {
                pending = queue_.front();
                queue_.pop_front();
            }
            if (!pending)
                return ran;
            pending->state = Pending::State::Running;
        }
        pending->task();
        {
            std::lock_guard lock(mutex_);
            pending->state = Pending::State::Done;
        }
        finished_.notify_all();
        ++ran;
    }
}

int SyncHandOff::WaitAndRun(std::chrono::milliseconds timeout) {
    {
        std::unique_lock lock(mutex_);
        queued_.wait_for(lock, timeout, [&] { return !queue_.empty(); });
    }
    return RunPending();
}

void SyncHandOff::Close() {
    {
        std::lock_guard lock(mutex_);
        open_ = false;
        for (auto& pending : queue_)
            pending->state = Pending::State::Abandoned;
        queue_.clear();
    }
    finished_.notify_all();
}

void SyncHandOff::Open() {
    std::lock_guard lock(mutex_);
    open_ = true;
}

bool SyncHandOff::isOpen() const {
    std::lock_guard lock(mutex_);
    return open_;
}

} // namespace calvora
