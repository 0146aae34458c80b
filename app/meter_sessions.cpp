#include "app/meter_sessions.h"

#include "protocol/text.h"

#include <algorithm>

namespace calvora {

MeterSessions::MeterSessions(ReceiverInventory& inventory, SettingsFile& settings)
    : inventory_(inventory), settings_(settings) {
}

MeterSessions::~MeterSessions() {
    CloseAll();
}

MeterEngine& MeterSessions::Add(EngineView& view) {
    sessions_.push_back(std::make_unique<MeterEngine>(view, inventory_, settings_, [this] { Wake(); }));
    return *sessions_.back();
}

void MeterSessions::Remove(size_t index) {
    if (index >= sessions_.size())
        return;
    sessions_[index]->ClosePort();
    sessions_.erase(sessions_.begin() + static_cast<std::ptrdiff_t>(index));
}

std::string MeterSessions::name(size_t index) const {
    std::vector<std::string> taken;
    std::string name;
    for (size_t k = 0; k <= index && k < sessions_.size(); ++k) {
        const std::string base = toUtf8(sessions_[k]->meterName());
        name = base;
        for (int n = 2; std::find(taken.begin(), taken.end(), name) != taken.end(); ++n)
            name = base + " " + std::to_string(n);
        taken.push_back(name);
    }
    return name;
}

int MeterSessions::WaitAndRun(std::chrono::milliseconds wait) {
    {
        std::unique_lock lock(mutex_);
        wake_.wait_for(lock, wait, [this] { return woken_; });
        woken_ = false;
    }
    // A frame queued after its session was looked at sets the flag again: the next wait returns at once.
    int ran = 0;
    for (auto& session : sessions_)
        ran += session->handOff().RunPending();
    return ran;
}

void MeterSessions::CloseAll() {
    for (auto& session : sessions_)
        session->ClosePort();
}

void MeterSessions::Wake() {
    {
        const std::lock_guard lock(mutex_);
        woken_ = true;
    }
    wake_.notify_one();
}

} // namespace calvora
