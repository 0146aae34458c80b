// Several receivers side by side: one meter session (a MeterEngine: port, reader, frame assembler, live
// readings, recording, log, pairing) per connected receiver, each with a view of its own, all run by one
// thread. Every session's reader wakes the same wait, so a quiet receiver never holds up a busy one, and a
// session's frames only ever reach its own engine and view.
//
// With one receiver there is one session, which behaves exactly as a MeterEngine on its own.
#pragma once

#include "app/meter_engine.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace calvora {

// Receivers' names as they are shown side by side: a name an earlier receiver already has is told apart by
// " 2", " 3" ...
std::vector<std::string> DistinctNames(const std::vector<std::string>& names);

class MeterSessions {
public:
    // `inventory` and `settings` are shared by the sessions and must outlive them.
    MeterSessions(ReceiverInventory& inventory, SettingsFile& settings);
    ~MeterSessions();
    MeterSessions(const MeterSessions&) = delete;
    MeterSessions& operator=(const MeterSessions&) = delete;

    // A new session that shows itself through `view`, which must outlive it. Its port is not open yet.
    MeterEngine& Add(EngineView& view);
    // Closes the session's port (its reader stops) and forgets it; the others go on. Later sessions move up.
    void Remove(size_t index);
    size_t size() const { return sessions_.size(); }
    MeterEngine& operator[](size_t index) { return *sessions_[index]; }
    const MeterEngine& operator[](size_t index) const { return *sessions_[index]; }

    // The session's receiver name (MeterEngine::meterName), told apart from the earlier sessions' names by
    // " 2", " 3" ... when it is already taken.
    std::string name(size_t index) const;

    // Waits at most `wait` until any session has a frame waiting, then runs every session's waiting frames.
    // Returns how many ran.
    int WaitAndRun(std::chrono::milliseconds wait);
    // Closes every session's port.
    void CloseAll();

private:
    void Wake();

    ReceiverInventory& inventory_;
    SettingsFile& settings_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool woken_ = false;
    std::vector<std::unique_ptr<MeterEngine>> sessions_;
};

} // namespace calvora
