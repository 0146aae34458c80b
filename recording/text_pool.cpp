#include "recording/text_pool.h"

#include <algorithm>
#include <cstring>

namespace calvora {

namespace {
uint64_t HashText(std::u16string_view text) {
    uint64_t hash = 1469598103934665603ull; // FNV-1a over the code units
    for (char16_t c : text) {
        hash ^= static_cast<uint64_t>(c);
        hash *= 1099511628211ull;
    }
    return hash ^ (hash >> 29);
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
    std::vector<uint32_t>(16, 0).swap(slots_);
    slots_[HashText({}) & (slots_.size() - 1)] = kEmpty + 1;
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

void TextPool::Rehash(size_t slots) {
    slots_.assign(slots, 0);
    const size_t mask = slots - 1;
    for (Id id = 0; id < entries_.size(); ++id) {
        size_t slot = HashText(Text(id)) & mask;
        while (slots_[slot] != 0)
            slot = (slot + 1) & mask;
        slots_[slot] = id + 1;
    }
}

TextPool::Id TextPool::Intern(std::u16string_view text) {
    if (text.empty())
        return kEmpty;
    const size_t mask = slots_.size() - 1;
    size_t slot = HashText(text) & mask;
    while (slots_[slot] != 0) {
        const Id id = slots_[slot] - 1;
        if (Text(id) == text)
            return id;
        slot = (slot + 1) & mask;
    }
    // Offsets address blocks by a 17-bit index; a pool that full (billions of characters)
    // cannot come from a file of this format, but must not corrupt the rows.
    if (blocks_.size() >= (size_t{1} << (32 - kBlockShift)) - 1 || text.size() > UINT32_MAX)
        return kEmpty;
    const Id id = static_cast<Id>(entries_.size());
    entries_.push_back(Entry{Store(text), static_cast<uint32_t>(text.size())});
    slots_[slot] = id + 1;
    if (entries_.size() * 2 > slots_.size())
        Rehash(slots_.size() * 2);
    return id;
}

size_t TextPool::MemoryBytes() const {
    return blockBytes_ + blocks_.capacity() * sizeof(blocks_[0]) + entries_.capacity() * sizeof(Entry) +
           slots_.capacity() * sizeof(uint32_t);
}

} // namespace calvora
