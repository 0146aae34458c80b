#include "recording/recording_state.h"

#include "protocol/frame_assembler.h"
#include "protocol/text.h"
#include "recording/recording_document.h"

#include <string>

namespace calvora {

std::u16string_view RecordingEndReason(RecordingEnd end) {
    switch (end) {
    case RecordingEnd::None:
    case RecordingEnd::PlannedCount:
        return {};
    case RecordingEnd::Stopped:
        return u"Stop Recording was chosen";
    case RecordingEnd::ReceiverRemoved:
        return u"the receiver was removed";
    case RecordingEnd::DownloadStarted:
        return u"a stored-log download began";
    case RecordingEnd::DocumentClosed:
        return u"its document was closed";
    case RecordingEnd::OutOfMemory:
        return u"not enough memory for the planned samples";
    case RecordingEnd::EndOfInput:
        return u"end of input";
    case RecordingEnd::Interrupted:
        return u"interrupted";
    }
    return {};
}

std::u16string RecordingEndMessage(uint32_t recorded, uint32_t planned, RecordingEnd end) {
    const std::u16string_view reason = RecordingEndReason(end);
    if (reason.empty())
        return {};
    return u"stopped after " + fromAscii(std::to_string(recorded)) + u" of " +
           fromAscii(std::to_string(planned)) + u" samples: " + std::u16string(reason);
}

void RecordingState::BeginRecording() {
    recordingEnd = RecordingEnd::None;
    recording = true;
}

void RecordingState::EndRecording(RecordingEnd why) {
    if (recording.exchange(false))
        recordingEnd = why;
}

bool RecordingState::downloading() const {
    return assembler_ ? assembler_->downloading() : downloadingWithoutReceiver_.load();
}

void RecordingState::SetDownloading(bool downloading) {
    if (assembler_)
        assembler_->SetDownloading(downloading);
    else
        downloadingWithoutReceiver_ = downloading;
}

bool AskSaveBeforeClosing(const RecordingState& state, const RecordingDocument& document,
                          UserPrompts& prompts) {
    if (&document != state.recordingDocument || state.dataSaved || state.closePrompted)
        return false;
    return prompts.AskYesNo(std::u16string(kSaveBeforeClosing));
}

bool AskSaveBeforeQuitting(RecordingState& state, UserPrompts& prompts) {
    const bool save =
        state.recordingDocument && !state.dataSaved && prompts.AskYesNo(std::u16string(kSaveBeforeClosing));
    state.closePrompted = true;
    return save;
}

void ForgetDocument(RecordingState& state, RecordingDocument& document) {
    document.ReleaseRows();
    if (state.recordingDocument == &document) {
        state.EndRecording(RecordingEnd::DocumentClosed);
        state.recordingDocument = nullptr;
        state.allocatedRows = 0;
    }
    if (state.downloadDocument == &document) {
        state.SetDownloading(false);
        state.downloadDocument = nullptr;
    }
}

} // namespace calvora
