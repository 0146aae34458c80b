// What a recording document announces, and the list of those who listen. Whoever stores samples never
// needs to know who shows them: the document tells every listener, and each decides what to redraw.
#pragma once

#include <cstdint>
#include <memory>

namespace calvora {

class RecordingDocument;

class DocumentListener {
public:
    // Rows first .. first + count - 1 were stored; first == 0 means a new recording has begun.
    virtual void OnSamplesAppended(RecordingDocument& document, uint32_t first, uint32_t count);
    // The samples were replaced as a whole (a download filled the document, a journal was recovered).
    virtual void OnDocumentReset(RecordingDocument& document);
    // The chart's settings or scale changed: whatever shows them draws again.
    virtual void OnSettingsChanged(RecordingDocument& document);

protected:
    ~DocumentListener() = default;
};

// Listeners that keep state derived from the samples (the chart's scale and live window) hear of a change
// before the views that show that state, whenever either subscribed.
enum class ListenerRank { DerivedState, View };

// Keeps a listener subscribed until it is destroyed or reset. Outliving the document is harmless.
class DocumentSubscription {
public:
    DocumentSubscription() = default;
    DocumentSubscription(DocumentSubscription&& other) noexcept;
    DocumentSubscription& operator=(DocumentSubscription&& other) noexcept;
    ~DocumentSubscription() { Reset(); }

    void Reset();
    bool active() const { return !registry_.expired(); }

private:
    friend class DocumentListeners;
    struct Registry;
    DocumentSubscription(std::weak_ptr<Registry> registry, uint64_t id)
        : registry_(std::move(registry)), id_(id) {}

    std::weak_ptr<Registry> registry_;
    uint64_t id_ = 0;
};

// A document's listeners. A listener may unsubscribe (or subscribe another) while it is being notified;
// one subscribed during a notification hears from the next one on. A listener must not destroy the
// document that is notifying it.
class DocumentListeners {
public:
    DocumentListeners() = default;
    // The listeners belong to the object, not to its contents: moving a document's samples in or out
    // leaves both objects with the listeners they had.
    DocumentListeners(const DocumentListeners&) = delete;
    DocumentListeners& operator=(const DocumentListeners&) = delete;
    DocumentListeners(DocumentListeners&&) noexcept {}
    DocumentListeners& operator=(DocumentListeners&&) noexcept { return *this; }
    ~DocumentListeners();

    [[nodiscard]] DocumentSubscription Add(DocumentListener& listener, ListenerRank rank);
    size_t size() const;

    void SamplesAppended(RecordingDocument& document, uint32_t first, uint32_t count);
    void Reset(RecordingDocument& document);
    void SettingsChanged(RecordingDocument& document);

private:
    std::shared_ptr<DocumentSubscription::Registry> registry_; // made by the first subscription
};

} // namespace calvora
