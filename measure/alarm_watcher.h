// Holds a document's live readings to the document's limits as they are appended, and hands the alarms
// they raise to a sink with the document's actions. A new recording in the document starts without alarm;
// limits changed while readings arrive take effect at the next reading.
#pragma once

#include "measure/alarm_actions.h"
#include "recording/document_listeners.h"

#include <functional>

namespace calvora {

class AlarmWatcher final : private DocumentListener {
public:
    // `clock` gives monotonic seconds (the hold time is measured on it). The document and the sink must
    // outlive the watcher.
    AlarmWatcher(RecordingDocument& document, AlarmSink& sink, std::function<double()> clock);
    AlarmWatcher(const AlarmWatcher&) = delete;
    AlarmWatcher& operator=(const AlarmWatcher&) = delete;

    const AlarmMonitor& monitor() const { return monitor_; }

private:
    void OnSamplesAppended(RecordingDocument& document, uint32_t first, uint32_t count) override;

    RecordingDocument& document_;
    AlarmSink& sink_;
    std::function<double()> clock_;
    AlarmMonitor monitor_;
    DocumentSubscription subscription_;
};

} // namespace calvora
