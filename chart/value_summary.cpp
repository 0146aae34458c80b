#include "chart/value_summary.h"

namespace calvora {

void ValueSummary::Append(float value) {
    const size_t index = size_++;
    // Each level's last entry covers the values appended so far of its run; a new run starts a new entry.
    for (size_t l = 0;; ++l) {
        const int shift = kFanOutShift * static_cast<int>(l + 1);
        if (l == levels_.size()) {
            // A level is added once the level below has a second entry; its first entry then covers what
            // the first entry below covers, which is every value so far.
            if (l > 0 && (index >> (shift - kFanOutShift)) == 0)
                break;
            levels_.emplace_back();
            if (l > 0)
                levels_[l].push_back(levels_[l - 1][0]);
        }
        std::vector<ValueRange>& level = levels_[l];
        const size_t entry = index >> shift;
        if (entry == level.size())
            level.emplace_back();
        level[entry].Add(value);
    }
}

void ValueSummary::Clear() {
    size_ = 0;
    levels_.clear();
}

void ValueSummary::ShrinkToFit() {
    for (std::vector<ValueRange>& level : levels_)
        level.shrink_to_fit();
    levels_.shrink_to_fit();
}

size_t ValueSummary::memoryBytes() const {
    size_t bytes = levels_.capacity() * sizeof(std::vector<ValueRange>);
    for (const std::vector<ValueRange>& level : levels_)
        bytes += level.capacity() * sizeof(ValueRange);
    return bytes;
}

} // namespace calvora
