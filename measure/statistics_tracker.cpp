#include "measure/statistics_tracker.h"

#include "recording/recording_document.h"

namespace calvora {

void ReadingRate::Note(uint64_t readings, double seconds) {
    if (!marks_.empty() && (readings < marks_.back().second || seconds < marks_.back().first))
        marks_.clear(); // a new recording, or a clock that went back
    marks_.emplace_back(seconds, readings);
    while (marks_.size() > 2 && seconds - marks_[1].first >= kWindowSeconds)
        marks_.pop_front();
}

std::optional<double> ReadingRate::perSecond() const {
    if (marks_.size() < 2)
        return std::nullopt;
    const double span = marks_.back().first - marks_.front().first;
    if (span < kShortestSpan)
        return std::nullopt;
    return static_cast<double>(marks_.back().second - marks_.front().second) / span;
}

StatisticsTracker::StatisticsTracker(RecordingDocument& document, Clock clock)
    : document_(document), clock_(std::move(clock)) {
    Rebuild();
    subscription_ = document_.Subscribe(*this, ListenerRank::DerivedState);
}

RangeStatistics StatisticsTracker::Range(uint64_t from, uint64_t to) const {
    return summary_.Range(DocumentSamples(document_), from, to);
}

std::optional<double> StatisticsTracker::readingRate() const {
    return document_.liveActive ? rate_.perSecond() : std::nullopt;
}

void StatisticsTracker::OnSamplesAppended(RecordingDocument& document, uint32_t first, uint32_t count) {
    if (first == 0) {
        // A new recording has begun in the document.
        summary_.Clear();
        rate_.Clear();
    }
    if (first != summary_.sampleCount()) {
        Rebuild();
        return;
    }
    const DocumentSamples samples(document);
    for (uint32_t row = first; row < first + count; ++row)
        summary_.Append(samples.Sample(row));
    if (clock_)
        rate_.Note(summary_.sampleCount(), clock_());
    ++revision_;
}

void StatisticsTracker::OnDocumentReset(RecordingDocument&) {
    Rebuild();
}

void StatisticsTracker::Rebuild() {
    summary_.Clear();
    rate_.Clear();
    const DocumentSamples samples(document_);
    for (uint64_t row = 0; row < samples.sampleCount(); ++row)
        summary_.Append(samples.Sample(row));
    ++revision_;
}

} // namespace calvora
