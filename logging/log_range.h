// A span of a log's readings, and how many of them a recording can take.
#pragma once

#include <cstdint>

namespace calvora {

// A recording's text export has room for three groups of 60,000 rows.
inline constexpr uint64_t kMaxExportReadings = 180'000;

// Readings first .. end - 1 of a log.
struct LogRange {
    uint64_t first = 0;
    uint64_t end = 0;

    uint64_t count() const { return end > first ? end - first : 0; }
};

} // namespace calvora
