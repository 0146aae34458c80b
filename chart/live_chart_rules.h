// The chart's rules for a live recording, run as a listener of the live document on every appended sample:
// the running extremes (started afresh with each recording), the automatic scale (which replaces the
// full view's limits and resets the zoom whenever it moves), the sample range laid out and the live
// window's growth. The views that draw the chart hear of the sample after these rules have run.
#pragma once

#include "recording/document_listeners.h"

namespace calvora {

class LiveChartRules final : public DocumentListener {
public:
    // Listens to `document` from now on (and to no other); nothing happens when it already does.
    void Attach(RecordingDocument& document);
    void Detach();
    bool attachedTo(const RecordingDocument& document) const {
        return document_ == &document && subscription_.active();
    }

    void OnSamplesAppended(RecordingDocument& document, uint32_t first, uint32_t count) override;

    double runningMin() const { return runningMin_; }
    double runningMax() const { return runningMax_; }

private:
    // Far outside the meter's readings, so the first sample of a recording replaces both.
    static constexpr double kStartMax = -10000;
    static constexpr double kStartMin = 10000;

    const RecordingDocument* document_ = nullptr;
    DocumentSubscription subscription_;
    double runningMax_ = kStartMax;
    double runningMin_ = kStartMin;
};

} // namespace calvora
