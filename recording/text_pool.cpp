#include "recording/text_pool.h"

#include <algorithm>
#include <cstring>

namespace calvora {

namespace {
// Eight bytes per step: time texts are hashed once per new second of a long recording.
uint64_t HashText(std::u16string_view text) {
    constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    size_t size = text.size() * sizeof(char16_t);
    uint64_t hash = size * kMultiplier;
    for (; size >= 8; size -= 8, bytes += 8) {
        uint64_t chunk;
        std::memcpy(&chunk, bytes, 8);
        hash = (hash ^ chunk) * kMultiplier;
        hash ^= hash >> 29;
    }
    if (size > 0) {
        uint64_t chunk = 0;
        std::memcpy(&chunk, bytes, size);
        hash = (hash ^ chunk) * kMultiplier;
        hash ^= hash >> 29;
    }
    // Final mix so the low bits, which pick the slot, depend on every byte.
    hash ^= hash >> 33;
    hash *= 0xFF51AFD7ED558CCDull;
    hash ^= hash >> 33;
    return hash;
}
} // namespace

TextPool::TextPool() {
    Clear();
}

void TextPool::Clear() {
    blocks_.clear();
    blocks_.shrink_to_fit();
    blockBytes_ = 0;
    current_ = SIZE_MAX;
    used_ = 0;
    std::vector<Entry>(1, Entry{0, 0}).swap(entries_);
    std::vector<Slot>(16, Slot{0, 0}).swap(slots_);
    const auto hash = static_cast<uint32_t>(HashText({}));
    slots_[hash & (slots_.size() - 1)] = Slot{kEmpty + 1, hash};
}

std::u16string_view TextPool::Text(Id id) const {
    if (id >= entries_.size() || entries_[id].length == 0)
        return {};
    const Entry& entry = entries_[id];
    return {blocks_[entry.offset >> kBlockShift].get() + (entry.offset & (kBlockChars - 1)), entry.length};
}

uint32_t TextPool::Store(std::u16string_view text) {
    const auto length = static_cast<uint32_t>(text.size());
    if (length > kBlockChars / 4) {
        blocks_.push_back(std::make_unique_for_overwrite<char16_t[]>(length));
        blockBytes_ += length * sizeof(char16_t);
        std::memcpy(blocks_.back().get(), text.data(), length * sizeof(char16_t));
        return static_cast<uint32_t>(blocks_.size() - 1) << kBlockShift;
    }
    if (current_ == SIZE_MAX || used_ + length > kBlockChars) {
        blocks_.push_back(std::make_unique_for_overwrite<char16_t[]>(kBlockChars));
        blockBytes_ += kBlockChars * sizeof(char16_t);
        current_ = blocks_.size() - 1;
        used_ = 0;
    }
    std::memcpy(blocks_[current_].get() + used_, text.data(), length * sizeof(char16_t));
    const uint32_t offset = static_cast<uint32_t>(current_) << kBlockShift | used_;
    used_ += length;
    return offset;
}

void TextPool::Grow() {
    std::vector<Slot> old(slots_.size() * 2, Slot{0, 0});
    old.swap(slots_);
    const size_t mask = slots_.size() - 1;
    for (const Slot& slot : old) {
        if (slot.idPlusOne == 0)
            continue;
        size_t at = slot.hash & mask;
        while (slots_[at].idPlusOne != 0)
            at = (at + 1) & mask;
        slots_[at] = slot;
    }
}

TextPool::Id TextPool::Intern(std::u16string_view text) {
    if (text.empty())
        return kEmpty;
    const auto hash = static_cast<uint32_t>(HashText(text));
    const size_t mask = slots_.size() - 1;
    size_t at = hash & mask;
    while (slots_[at].idPlusOne != 0) {
        if (slots_[at].hash == hash && Text(slots_[at].idPlusOne - 1) == text)
            return slots_[at].idPlusOne - 1;
        at = (at + 1) & mask;
    }
    const Id id = Append(text);
    if (id == kEmpty)
        return kEmpty;
    slots_[at] = Slot{id + 1, hash};
    // Linear probing stays short up to three quarters full now that probes compare hashes only.
    if (entries_.size() * 4 > slots_.size() * 3)
        Grow();
    return id;
}

TextPool::Id TextPool::Append(std::u16string_view text) {
    // Offsets address blocks by a 17-bit index and ids are 32-bit; a pool that full cannot come
    // from a file of this format, but must not corrupt the rows.
    if (text.empty() || blocks_.size() >= (size_t{1} << (32 - kBlockShift)) - 1 || text.size() > UINT32_MAX ||
        entries_.size() >= UINT32_MAX - 1)
        return kEmpty;
    const Id id = static_cast<Id>(entries_.size());
    entries_.push_back(Entry{Store(text), static_cast<uint32_t>(text.size())});
    return id;
}

size_t TextPool::memoryBytes() const {
    return blockBytes_ + blocks_.capacity() * sizeof(blocks_[0]) + entries_.capacity() * sizeof(Entry) +
           slots_.capacity() * sizeof(Slot);
}

} // namespace calvora
