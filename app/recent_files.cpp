#include "app/recent_files.h"

#include <algorithm>

namespace calvora {

void RecentFileList::Add(const std::u16string& path) {
    if (path.empty()) {
        return;
    }
    Remove(path);
    entries_.insert(entries_.begin(), path);
    if (entries_.size() > capacity_) {
        entries_.resize(capacity_);
    }
}

void RecentFileList::Remove(const std::u16string& path) {
    entries_.erase(std::remove(entries_.begin(), entries_.end(), path), entries_.end());
}

void RecentFileList::Assign(const std::vector<std::u16string>& paths) {
    entries_.clear();
    for (auto it = paths.rbegin(); it != paths.rend(); ++it) {
        Add(*it);
    }
}

std::u16string RecentFileList::MenuText(size_t index) const {
    if (index >= entries_.size()) {
        return {};
    }
    const std::u16string& path = entries_[index];
    const size_t slash = path.find_last_of(u'/');
    const std::u16string name = slash == std::u16string::npos ? path : path.substr(slash + 1);
    // Single-digit numbers only: the list never holds more than nine.
    std::u16string text = u"&";
    text += static_cast<char16_t>(u'1' + index);
    text += u' ';
    // An ampersand in a file name would become a mnemonic.
    for (char16_t c : name) {
        if (c == u'&') {
            text += u'&';
        }
        text += c;
    }
    return text;
}

} // namespace calvora
