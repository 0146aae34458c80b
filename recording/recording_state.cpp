#include "recording/recording_state.h"

#include "protocol/frame_assembler.h"
#include "recording/recording_document.h"

namespace calvora {

bool RecordingState::downloading() const {
    return assembler_ ? assembler_->downloading() : downloadingWithoutReceiver_.load();
}

void RecordingState::SetDownloading(bool downloading) {
    if (assembler_)
        assembler_->SetDownloading(downloading);
    else
        downloadingWithoutReceiver_ = downloading;
}

bool AskSaveBeforeClosing(const RecordingState& state, const RecordingDocument& document, UserPrompts& prompts) {
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
        state.recording = false;
        state.recordingDocument = nullptr;
        state.allocatedRows = 0;
    }
    if (state.downloadDocument == &document) {
        state.SetDownloading(false);
        state.downloadDocument = nullptr;
    }
}

} // namespace calvora
