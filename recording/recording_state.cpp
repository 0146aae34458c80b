#include "recording/recording_state.h"

#include "recording/recording_document.h"

namespace calvora {

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
        state.downloading = false;
        state.downloadDocument = nullptr;
    }
}

} // namespace calvora
