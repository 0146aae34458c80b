// How the main window hands commands, timer ticks and close requests to the engine behind it. The window asks
// the target first; a command nobody handles is shown disabled.
#pragma once

#include <optional>

namespace calvora {

class RecordingDocument;

struct CommandState {
    bool enabled = false;
    bool checked = false;
};

class CommandTarget {
public:
    virtual ~CommandTarget() = default;
    // The command's state, or nullopt when this target does not handle the command.
    virtual std::optional<CommandState> QueryCommand(int id) const = 0;
    // Runs the command; false when this target does not handle it.
    virtual bool ExecuteCommand(int id) = 0;
    virtual void OnTimer(int id) = 0;
    // The main window is about to close (save prompts go here). False keeps it open.
    virtual bool OnCloseRequest() = 0;
    // A document window is about to close; false keeps it open.
    virtual bool OnDocumentClosing(RecordingDocument& document) = 0;
    // The document's window has closed: every reference to the document must go.
    virtual void OnDocumentDestroyed(RecordingDocument& document) = 0;
    // The document was written to disk by the Save command.
    virtual void OnDocumentSaved(RecordingDocument& /*document*/) {}
};

} // namespace calvora
