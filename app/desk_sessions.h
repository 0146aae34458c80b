// The desktop's receivers: the first session (the program's own engine, there whether connected or not) and
// every further receiver connected beside it, each a session of its own. It keeps which are connected, their
// names told apart, what each one is doing (for the receiver tree and the panels' titles), which one the
// Instrument commands act on, and the sessions that ended but whose documents may still ask to be saved.
// The window side shows all of this; nothing here knows of widgets.
#pragma once

#include "app/meter_engine.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace calvora {

// What a connected receiver is doing, as its tree item and panel title say it.
enum class ReceiverState { NoSignal, Connected, Recording, Logging };

// "no signal", "connected", "recording", "logging".
const char* ReceiverStateText(ReceiverState state);

// The window side of a further session: the engine's view, which also learns which engine it shows.
class SessionView : public EngineView {
public:
    // Right after the session's engine is made, before its port opens.
    virtual void Attach(MeterEngine& engine) = 0;
    // On the reader thread: a frame waits for the user-interface thread (see SyncHandOff).
    virtual void Wake() = 0;
    // The session ended (its port is closed): what shows it live goes; its documents stay.
    virtual void Retired() {}
};

class DeskSessions {
public:
    // `first`, `inventory` and `settings` must outlive the sessions.
    DeskSessions(MeterEngine& first, ReceiverInventory& inventory, SettingsFile& settings);
    ~DeskSessions();
    DeskSessions(const DeskSessions&) = delete;
    DeskSessions& operator=(const DeskSessions&) = delete;

    // --- which receivers are connected ---
    MeterEngine& first() { return first_; }
    const MeterEngine& first() const { return first_; }
    bool isFirst(const MeterEngine& engine) const { return &engine == &first_; }
    bool firstConnected() const { return !first_.connectedLabel().empty(); }
    // The connected sessions in the order the panels stack: the first while connected, then the further
    // ones in the order they were connected.
    std::vector<MeterEngine*> connected() const;
    size_t furtherCount() const { return further_.size(); }
    MeterEngine& further(size_t index) { return *further_.at(index)->engine; }
    SessionView& furtherView(size_t index) { return *further_.at(index)->view; }
    // The further session of `engine`, else null (the first session, or one that ended).
    SessionView* viewOf(const MeterEngine& engine) const;
    // The further session connected to `entry`'s device, else null.
    MeterEngine* sessionOn(const PortEntry& entry) const;
    // The further session shown by the tree item `itemId`, else null; a new tree renumbers its items.
    MeterEngine* sessionOfItem(int itemId) const;
    void SetItemId(const MeterEngine& engine, int itemId);
    int itemIdOf(const MeterEngine& engine) const;

    // Connects `entry`'s receiver beside the others, shown through `view` (kept until this object goes,
    // after its engine). With `journals` its recordings are kept in a crash journal of its own. Null when
    // the port did not open: its engine said why and nothing is left.
    MeterEngine* Connect(std::unique_ptr<SessionView> view, const PortEntry& entry, int itemId, bool journal);
    // Ends a further session: its recording or log stops, its port closes, its view is told; it stays among
    // the ended sessions so its documents are still asked about. The others' names may change.
    void Retire(MeterEngine& engine);
    // Instrument > Disconnect: ends the active session (the first one's port closes, a further one retires).
    // Returns the session that ended.
    MeterEngine* DisconnectActive();
    // Further sessions whose receiver went away: each retires (its name stays as it was). Returns them.
    std::vector<MeterEngine*> RetireEnded();

    // --- names ---
    // The name the settings file keeps for the receiver `entry` ("Multimeter" when none).
    std::string ReceiverName(const PortEntry& entry) const;
    // A connected session's name, told apart from the earlier connected sessions' by " 2", " 3" ...; an
    // ended session keeps the name it had.
    std::string name(const MeterEngine& engine) const;
    // Gives the receiver `entry` a name (empty or "Multimeter": the default again), kept in the settings
    // file; the further sessions' documents follow their new names.
    Outcome<void> Rename(const PortEntry& entry, const std::string& name);
    // The receiver a session is connected to (for the first: its selected receiver), else null.
    const PortEntry* entryOf(const MeterEngine& engine) const;

    // --- state ---
    // Whether a reading has come since the session connected or lost its signal; true when it changed.
    bool SetSignal(const MeterEngine& engine, bool hasReading);
    ReceiverState state(const MeterEngine& engine) const;
    // "Supply voltage: recording".
    std::string title(const MeterEngine& engine) const;

    // --- the active receiver ---
    // The session the Instrument commands act on: the one chosen last while it is connected, else the first
    // connected one, else the first session.
    MeterEngine& active() const;
    // False when `engine` is not connected or active already.
    bool SetActive(MeterEngine& engine);

    // --- every session, connected or ended: the questions before a document or the window closes ---
    void ForEach(const std::function<void(MeterEngine&)>& visit);
    bool OnMainWindowClosing();
    bool OnDocumentClosing(RecordingDocument& document);
    void OnDocumentDestroyed(RecordingDocument& document);
    void OnDocumentSaved(RecordingDocument& document);
    // The session whose live recording or download `document` is, else null.
    MeterEngine* ownerOf(const RecordingDocument& document);
    // The session whose live recording document is titled `title`, else null.
    MeterEngine* recordingTitled(const std::u16string& title);
    // Closes every port.
    void CloseAll();

private:
    struct Session {
        ~Session();
        std::unique_ptr<SessionView> view; // destroyed after the engine: the reader's last wake-up finds it
        std::unique_ptr<Journal> journal;
        std::unique_ptr<MeterEngine> engine;
        PortEntry entry;
        int itemId = 0;
        std::string endedName;
    };
    Session* find(const MeterEngine& engine) const;
    // Every further session's documents carry its name as it is now.
    void ApplyLabels();

    MeterEngine& first_;
    ReceiverInventory& inventory_;
    SettingsFile& settings_;
    std::vector<std::unique_ptr<Session>> further_;
    std::vector<std::unique_ptr<Session>> ended_;
    std::vector<const MeterEngine*> withReading_;
    MeterEngine* chosen_ = nullptr;
};

} // namespace calvora
