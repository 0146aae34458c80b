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

// Why the last live recording ended.
enum class RecordingEnd {
    None,            // still running, or none has run
    PlannedCount,    // it took every planned sample
    Stopped,         // "Stop Recording"
    ReceiverRemoved, // a device-removal notification, or the reader lost its device
    DownloadStarted, // the first frame of a stored-log download
    DocumentClosed,  // its document went away
    OutOfMemory,     // the rows for the planned count could not be had
    EndOfInput,      // the capture file being replayed ended
    Interrupted,     // Ctrl+C or a termination request
};

// The reason as the user reads it, e.g. "the receiver was removed"; empty for None and PlannedCount.
std::u16string_view RecordingEndReason(RecordingEnd end);

// "stopped after N of M samples: REASON" for a recording that ended before its planned count; empty
// when it took them all or has not ended.
std::u16string RecordingEndMessage(uint32_t recorded, uint32_t planned, RecordingEnd end);

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

    // Starts a recording: `recording` set, no end reason yet.
    void BeginRecording();
    // Ends a running recording for `why`; without one it changes nothing, so the first reason stays.
    void EndRecording(RecordingEnd why);

    // Read by the serial reader thread as well, hence atomic.
    std::atomic<bool> recording{false};
    RecordingEnd recordingEnd = RecordingEnd::None;
    std::atomic<bool> closePrompted{false};

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
bool AskSaveBeforeClosing(const RecordingState& state, const RecordingDocument& document,
                          UserPrompts& prompts);

// Closing the main window: asks the same question when the live recording holds unsaved samples,
// then marks the question as answered so closing the documents does not ask again. Returns true
// when the user wants to save first.
bool AskSaveBeforeQuitting(RecordingState& state, UserPrompts& prompts);

// A document is being destroyed: releases its rows and clears every member that points at it
// (ending a recording or download that was filling it).
void ForgetDocument(RecordingState& state, RecordingDocument& document);

} // namespace calvora
