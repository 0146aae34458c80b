// Interned texts of a document's samples. Function, mode and unit words are a few dozen and time
// texts repeat for every reading within a second, so rows hold 32-bit ids instead of strings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace calvora {

class TextPool {
public:
    using Id = uint32_t;
    static constexpr Id kEmpty = 0; // always the empty text

    TextPool();

    // The id of `text`, adding it on first sight.
    Id Intern(std::u16string_view text);
    // Stores `text` under a new id without looking for an equal one: for time texts, which repeat
    // only on consecutive rows and would otherwise fill the lookup table with one-off entries.
    Id Append(std::u16string_view text);
    // Views stay valid until Clear(): texts are stored in blocks that never move.
    std::u16string_view Text(Id id) const;
    size_t size() const { return entries_.size(); }
    void Clear();
    void ShrinkToFit() { entries_.shrink_to_fit(); }
    // Bytes held on the heap by the pool.
    size_t memoryBytes() const;

private:
    struct Entry {
        uint32_t offset; // block index * kBlockChars + position in the block
        uint32_t length;
    };
    static constexpr uint32_t kBlockShift = 15;
    static constexpr uint32_t kBlockChars = 1u << kBlockShift;

    uint32_t Store(std::u16string_view text);
    void Grow();

    // Long texts get a block of their own; short ones share the current block.
    std::vector<std::unique_ptr<char16_t[]>> blocks_;
    size_t blockBytes_ = 0;
    size_t current_ = SIZE_MAX; // block that short texts are appended to
    uint32_t used_ = 0;         // characters used in it
    std::vector<Entry> entries_;
    // Open addressing. Each slot keeps the text's hash beside its id, so probing and growing never
    // touch the texts themselves (time texts share their first ten characters).
    struct Slot {
        uint32_t idPlusOne; // 0 = free
        uint32_t hash;
    };
    std::vector<Slot> slots_;
};

} // namespace calvora
