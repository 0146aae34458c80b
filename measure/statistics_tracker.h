// A document's statistics kept current as its readings arrive (one summary step per reading), with the
// rate they arrive at. Listens to the document before its views, so a view that asks on the same
// notification already sees the new reading counted.
#pragma once

#include "measure/statistics.h"
#include "recording/document_listeners.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <utility>

namespace calvora {

// Readings per second over the last few seconds, from the times at which counts were seen.
class ReadingRate {
public:
    static constexpr double kWindowSeconds = 10;
    static constexpr double kShortestSpan = 0.5; // less says nothing yet

    void Note(uint64_t readings, double seconds);
    void Clear() { marks_.clear(); }
    std::optional<double> perSecond() const;

private:
    std::deque<std::pair<double, uint64_t>> marks_; // (seconds, readings), oldest first
};

class StatisticsTracker final : private DocumentListener {
public:
    // Monotonic seconds, for the reading rate.
    using Clock = std::function<double()>;

    // Takes in the readings `document` holds now; the document must outlive the tracker.
    StatisticsTracker(RecordingDocument& document, Clock clock);
    StatisticsTracker(const StatisticsTracker&) = delete;
    StatisticsTracker& operator=(const StatisticsTracker&) = delete;

    const RecordingDocument& document() const { return document_; }
    RangeStatistics Whole() const { return summary_.Whole(); }
    // Sample numbers from..to, inclusive.
    RangeStatistics Range(uint64_t from, uint64_t to) const;
    // While live readings arrive: how many a second.
    std::optional<double> readingRate() const;
    // Grows with every change of the figures, so a view that polls knows when to show them again.
    uint64_t revision() const { return revision_; }
    size_t memoryBytes() const { return summary_.memoryBytes(); }

private:
    void OnSamplesAppended(RecordingDocument& document, uint32_t first, uint32_t count) override;
    void OnDocumentReset(RecordingDocument& document) override;
    void Rebuild();

    RecordingDocument& document_;
    Clock clock_;
    StatisticsSummary summary_;
    ReadingRate rate_;
    uint64_t revision_ = 0;
    DocumentSubscription subscription_;
};

} // namespace calvora
