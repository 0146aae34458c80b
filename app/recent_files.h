// The recent-file list of the File menu: most recent first, no duplicates, at most a fixed number of entries.
#pragma once

#include <string>
#include <vector>

namespace calvora {

class RecentFileList {
public:
    explicit RecentFileList(size_t capacity = 4) : capacity_(capacity) {}

    // Puts `path` first, dropping an older entry for the same path and the oldest beyond the capacity.
    void Add(const std::u16string& path);
    void Remove(const std::u16string& path);
    void Assign(const std::vector<std::u16string>& paths);

    const std::vector<std::u16string>& entries() const { return entries_; }
    size_t capacity() const { return capacity_; }

    // The menu text of entry `index`: "&1 name" with the file name only.
    std::u16string MenuText(size_t index) const;

private:
    size_t capacity_;
    std::vector<std::u16string> entries_;
};

} // namespace calvora
