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

std::vector<std::string> DistinctNames(const std::vector<std::string>& names) {
    std::vector<std::string> distinct;
    for (const std::string& base : names) {
        std::string name = base;
        for (int n = 2; std::find(distinct.begin(), distinct.end(), name) != distinct.end(); ++n)
            name = base + " " + std::to_string(n);
        distinct.push_back(name);
    }
    return distinct;
}

std::string MeterSessions::name(size_t index) const {
    std::vector<std::string> names;
    for (size_t k = 0; k <= index && k < sessions_.size(); ++k)
        names.push_back(toUtf8(sessions_[k]->meterName()));
    names = DistinctNames(names);
    return names.empty() ? std::string() : names.back();
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
