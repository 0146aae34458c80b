#include "recording/document_listeners.h"

#include <algorithm>
#include <array>
#include <vector>

namespace calvora {

void DocumentListener::OnSamplesAppended(RecordingDocument&, uint32_t, uint32_t) {
}
void DocumentListener::OnDocumentReset(RecordingDocument&) {
}
void DocumentListener::OnSettingsChanged(RecordingDocument&) {
}

struct DocumentSubscription::Registry {
    struct Entry {
        uint64_t id;
        DocumentListener* listener; // null once unsubscribed during a notification
    };

    // One list per rank, notified in rank order.
    std::array<std::vector<Entry>, 2> ranks;
    uint64_t nextId = 1;
    int depth = 0; // notifications in progress (a listener may cause another)
    bool holes = false;

    template <typename Call> void Notify(const Call& call) {
        ++depth;
        for (std::vector<Entry>& entries : ranks) {
            // Indexed, not iterated: a listener may subscribe another, which appends (and may reallocate).
            const size_t count = entries.size();
            for (size_t i = 0; i < count; ++i) {
                if (DocumentListener* listener = entries[i].listener)
                    call(*listener);
            }
        }
        if (--depth == 0 && holes) {
            for (std::vector<Entry>& entries : ranks)
                std::erase_if(entries, [](const Entry& entry) { return entry.listener == nullptr; });
            holes = false;
        }
    }

    void Remove(uint64_t id) {
        for (std::vector<Entry>& entries : ranks) {
            const auto found = std::find_if(entries.begin(), entries.end(),
                                            [id](const Entry& entry) { return entry.id == id; });
            if (found == entries.end())
                continue;
            // While notifying, the loops above index the lists: leave a hole, swept when they are done.
            if (depth > 0) {
                found->listener = nullptr;
                holes = true;
            } else {
                entries.erase(found);
            }
            return;
        }
    }
};

DocumentSubscription::DocumentSubscription(DocumentSubscription&& other) noexcept
    : registry_(std::move(other.registry_)), id_(other.id_) {
    other.registry_.reset();
}

DocumentSubscription& DocumentSubscription::operator=(DocumentSubscription&& other) noexcept {
    if (this != &other) {
        Reset();
        registry_ = std::move(other.registry_);
        id_ = other.id_;
        other.registry_.reset();
    }
    return *this;
}

void DocumentSubscription::Reset() {
    if (const std::shared_ptr<Registry> registry = registry_.lock())
        registry->Remove(id_);
    registry_.reset();
}

DocumentListeners::~DocumentListeners() = default;

DocumentSubscription DocumentListeners::Add(DocumentListener& listener, ListenerRank rank) {
    if (!registry_)
        registry_ = std::make_shared<DocumentSubscription::Registry>();
    const uint64_t id = registry_->nextId++;
    registry_->ranks[rank == ListenerRank::DerivedState ? 0 : 1].push_back({id, &listener});
    return DocumentSubscription(registry_, id);
}

size_t DocumentListeners::size() const {
    if (!registry_)
        return 0;
    size_t count = 0;
    for (const auto& entries : registry_->ranks)
        count += static_cast<size_t>(std::count_if(
            entries.begin(), entries.end(), [](const auto& entry) { return entry.listener != nullptr; }));
    return count;
}

void DocumentListeners::SamplesAppended(RecordingDocument& document, uint32_t first, uint32_t count) {
    if (registry_)
        registry_->Notify(
            [&](DocumentListener& listener) { listener.OnSamplesAppended(document, first, count); });
}

void DocumentListeners::Reset(RecordingDocument& document) {
    if (registry_)
        registry_->Notify([&](DocumentListener& listener) { listener.OnDocumentReset(document); });
}

void DocumentListeners::SettingsChanged(RecordingDocument& document) {
    if (registry_)
        registry_->Notify([&](DocumentListener& listener) { listener.OnSettingsChanged(document); });
}

} // namespace calvora
