// The main frame's document members and the rules for closing and destroying documents. The
// questions go through UserPrompts, which the desktop program answers with message boxes and the
// tests with scripted answers.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace calvora {

class FrameAssembler;
class RecordingDocument;

enum class MessageIcon { None, Information, Exclamation, Question };

class UserPrompts {
public:
    virtual ~UserPrompts() = default;
    // Yes/No question with a question icon; true for Yes.
    virtual bool AskYesNo(const std::u16string& question) = 0;
    // Message with an OK button.
    virtual void ShowMessage(const std::u16string& text, MessageIcon icon) = 0;
};

inline constexpr std::u16string_view kSaveBeforeClosing = u"Do you want to save the data before closing?";

class RecordingState {
public:
    // Documents without a receiver (files, tests) keep the download flag here.
    RecordingState() = default;
    // The download flag is the frame assembler's, which the reader thread clears at a live-reading
    // marker: one flag, so the assembler and the documents never disagree about a download.
    explicit RecordingState(FrameAssembler& assembler) : assembler_(&assembler) {}
    RecordingState(const RecordingState&) = delete;
    RecordingState& operator=(const RecordingState&) = delete;

    bool downloading() const;
    void SetDownloading(bool downloading);

    // Read by the serial reader thread as well, hence atomic.
    std::atomic<bool> recording{false};
    std::atomic<bool> closePrompted{false};

    bool adoptNextDocument = false;
    // Starts set: a live document that never received a sample has nothing to lose.
    bool dataSaved = true;
    bool loadRejected = false;
    RecordingDocument* recordingDocument = nullptr;
    RecordingDocument* downloadDocument = nullptr;
    uint32_t plannedSamples = 0;
    uint32_t allocatedRows = 0;

private:
    FrameAssembler* assembler_ = nullptr;
    std::atomic<bool> downloadingWithoutReceiver_{false}; // used only while assembler_ is null
};

// Closing a document: only the live recording document with unsaved samples asks, and only
// until the application's close has asked. Returns true when the user wants to save first; the
// caller then runs Save before closing.
bool AskSaveBeforeClosing(const RecordingState& state, const RecordingDocument& document, UserPrompts& prompts);

// Closing the main window: asks the same question when the live recording holds unsaved samples,
// then marks the question as answered so closing the documents does not ask again. Returns true
// when the user wants to save first.
bool AskSaveBeforeQuitting(RecordingState& state, UserPrompts& prompts);

// A document is being destroyed: releases its rows and clears every member that points at it
// (ending a recording or download that was filling it).
void ForgetDocument(RecordingState& state, RecordingDocument& document);

} // namespace calvora
