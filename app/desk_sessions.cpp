#include "app/desk_sessions.h"

#include "app/meter_sessions.h"
#include "protocol/text.h"
#include "recording/journal.h"
#include "recording/recording_document.h"

#include <algorithm>

namespace calvora {

const char* ReceiverStateText(ReceiverState state) {
    switch (state) {
    case ReceiverState::NoSignal:
        return "no signal";
    case ReceiverState::Connected:
        return "connected";
    case ReceiverState::Recording:
        return "recording";
    case ReceiverState::Logging:
        return "logging";
    }
    return "";
}

DeskSessions::Session::~Session() {
    // The engine goes first: its reader may still wake the view.
    engine.reset();
}

DeskSessions::DeskSessions(MeterEngine& first, ReceiverInventory& inventory, SettingsFile& settings)
    : first_(first), inventory_(inventory), settings_(settings) {
}

DeskSessions::~DeskSessions() {
    CloseAll();
}

std::vector<MeterEngine*> DeskSessions::connected() const {
    std::vector<MeterEngine*> sessions;
    if (firstConnected())
        sessions.push_back(&first_);
    for (const auto& session : further_)
        sessions.push_back(session->engine.get());
    return sessions;
}

DeskSessions::Session* DeskSessions::find(const MeterEngine& engine) const {
    for (const auto* list : {&further_, &ended_})
        for (const auto& session : *list)
            if (session->engine.get() == &engine)
                return session.get();
    return nullptr;
}

SessionView* DeskSessions::viewOf(const MeterEngine& engine) const {
    const Session* session = find(engine);
    return session != nullptr ? session->view.get() : nullptr;
}

MeterEngine* DeskSessions::sessionOn(const PortEntry& entry) const {
    for (const auto& session : further_)
        if (session->entry.devicePath == entry.devicePath && session->entry.portNumber == entry.portNumber)
            return session->engine.get();
    return nullptr;
}

MeterEngine* DeskSessions::sessionOfItem(int itemId) const {
    for (const auto& session : further_)
        if (itemId != 0 && session->itemId == itemId)
            return session->engine.get();
    return nullptr;
}

void DeskSessions::SetItemId(const MeterEngine& engine, int itemId) {
    if (Session* session = find(engine))
        session->itemId = itemId;
}

int DeskSessions::itemIdOf(const MeterEngine& engine) const {
    const Session* session = find(engine);
    return session != nullptr ? session->itemId : 0;
}

MeterEngine* DeskSessions::Connect(std::unique_ptr<SessionView> view, const PortEntry& entry, int itemId,
                                   bool journal) {
    if (sessionOn(entry) != nullptr)
        return nullptr;
    auto session = std::make_unique<Session>();
    session->view = std::move(view);
    session->entry = entry;
    session->itemId = itemId;
    SessionView* shown = session->view.get();
    session->engine =
        std::make_unique<MeterEngine>(*shown, inventory_, settings_, [shown] { shown->Wake(); });
    if (journal) {
        session->journal = std::make_unique<Journal>();
        session->engine->SetJournal(session->journal.get());
    }
    shown->Attach(*session->engine);
    // A port that cannot be opened is said by the session's engine (its warning names the port).
    if (!session->engine->OpenDevice(entry.devicePath, entry.portNumber))
        return nullptr;
    MeterEngine* engine = session->engine.get();
    further_.push_back(std::move(session));
    ApplyLabels();
    return engine;
}

void DeskSessions::Retire(MeterEngine& engine) {
    const auto found = std::find_if(further_.begin(), further_.end(),
                                    [&](const auto& session) { return session->engine.get() == &engine; });
    if (found == further_.end())
        return;
    (*found)->endedName = name(engine);
    std::unique_ptr<Session> session = std::move(*found);
    further_.erase(found);
    std::erase(withReading_, &engine);
    engine.StopRecording();
    engine.ClosePort();
    session->view->Retired();
    ended_.push_back(std::move(session));
    ApplyLabels();
}

MeterEngine* DeskSessions::DisconnectActive() {
    MeterEngine& engine = active();
    if (isFirst(engine)) {
        if (!first_.canDisconnect())
            return nullptr;
        std::erase(withReading_, &first_);
        first_.Disconnect();
        ApplyLabels();
    } else {
        Retire(engine);
    }
    return &engine;
}

std::vector<MeterEngine*> DeskSessions::RetireEnded() {
    std::vector<MeterEngine*> ended;
    for (const auto& session : further_)
        if (session->engine->PollReaderEnd())
            ended.push_back(session->engine.get());
    for (MeterEngine* engine : ended)
        Retire(*engine);
    return ended;
}

std::string DeskSessions::ReceiverName(const PortEntry& entry) const {
    const Outcome<std::string> name =
        settings_.ReadReceiverName(ReceiverNameKey(entry.devicePath, entry.portNumber));
    return name && !name.value().empty() ? name.value() : toUtf8(kMultimeterLabel);
}

std::string DeskSessions::name(const MeterEngine& engine) const {
    if (const Session* session = find(engine); session != nullptr && !session->endedName.empty())
        return session->endedName;
    const std::vector<MeterEngine*> sessions = connected();
    std::vector<std::string> names;
    for (const MeterEngine* session : sessions)
        names.push_back(toUtf8(session->meterName()));
    names = DistinctNames(names);
    for (size_t k = 0; k < sessions.size(); ++k) {
        if (sessions[k] == &engine)
            return names[k];
    }
    return toUtf8(engine.meterName());
}

Outcome<void> DeskSessions::Rename(const PortEntry& entry, const std::string& name) {
    const std::string kept = name == toUtf8(kMultimeterLabel) ? std::string() : name;
    Outcome<void> written =
        settings_.WriteReceiverName(ReceiverNameKey(entry.devicePath, entry.portNumber), kept);
    if (written)
        ApplyLabels();
    return written;
}

const PortEntry* DeskSessions::entryOf(const MeterEngine& engine) const {
    if (isFirst(engine)) {
        const int index = first_.selectedPortIndex();
        if (index < 0 || index >= static_cast<int>(first_.portList().size()))
            return nullptr;
        return &first_.portList()[static_cast<size_t>(index)];
    }
    const Session* session = find(engine);
    return session != nullptr ? &session->entry : nullptr;
}

bool DeskSessions::SetSignal(const MeterEngine& engine, bool hasReading) {
    const bool had = std::find(withReading_.begin(), withReading_.end(), &engine) != withReading_.end();
    if (had == hasReading)
        return false;
    if (hasReading)
        withReading_.push_back(&engine);
    else
        std::erase(withReading_, &engine);
    return true;
}

ReceiverState DeskSessions::state(const MeterEngine& engine) const {
    if (engine.logging())
        return ReceiverState::Logging;
    if (engine.documents().recording)
        return ReceiverState::Recording;
    const bool hasReading =
        std::find(withReading_.begin(), withReading_.end(), &engine) != withReading_.end();
    return hasReading ? ReceiverState::Connected : ReceiverState::NoSignal;
}

std::string DeskSessions::title(const MeterEngine& engine) const {
    return name(engine) + ": " + ReceiverStateText(state(engine));
}

MeterEngine& DeskSessions::active() const {
    const std::vector<MeterEngine*> sessions = connected();
    if (chosen_ != nullptr && std::find(sessions.begin(), sessions.end(), chosen_) != sessions.end())
        return *chosen_;
    return sessions.empty() ? first_ : *sessions.front();
}

bool DeskSessions::SetActive(MeterEngine& engine) {
    const std::vector<MeterEngine*> sessions = connected();
    if (&active() == &engine || std::find(sessions.begin(), sessions.end(), &engine) == sessions.end())
        return false;
    chosen_ = &engine;
    return true;
}

void DeskSessions::ForEach(const std::function<void(MeterEngine&)>& visit) {
    visit(first_);
    for (const auto* list : {&further_, &ended_})
        for (const auto& session : *list)
            visit(*session->engine);
}

bool DeskSessions::OnMainWindowClosing() {
    // Each session asks about its own live recording; a "save" that did not happen keeps the window.
    bool close = true;
    ForEach([&](MeterEngine& engine) { close = close && engine.OnMainWindowClosing(); });
    return close;
}

bool DeskSessions::OnDocumentClosing(RecordingDocument& document) {
    bool close = true;
    ForEach([&](MeterEngine& engine) { close = close && engine.OnDocumentClosing(document); });
    return close;
}

void DeskSessions::OnDocumentDestroyed(RecordingDocument& document) {
    ForEach([&](MeterEngine& engine) { engine.OnDocumentDestroyed(document); });
}

void DeskSessions::OnDocumentSaved(RecordingDocument& document) {
    ForEach([&](MeterEngine& engine) { engine.OnDocumentSaved(document); });
}

MeterEngine* DeskSessions::ownerOf(const RecordingDocument& document) {
    MeterEngine* owner = nullptr;
    ForEach([&](MeterEngine& engine) {
        if (owner == nullptr && (engine.documents().recordingDocument == &document ||
                                 engine.documents().downloadDocument == &document))
            owner = &engine;
    });
    return owner;
}

MeterEngine* DeskSessions::recordingTitled(const std::u16string& title) {
    MeterEngine* owner = nullptr;
    ForEach([&](MeterEngine& engine) {
        const RecordingDocument* document = engine.documents().recordingDocument;
        if (owner == nullptr && document != nullptr && document->title == title)
            owner = &engine;
    });
    return owner;
}

void DeskSessions::CloseAll() {
    for (const auto* list : {&further_, &ended_})
        for (const auto& session : *list)
            session->engine->ClosePort();
}

void DeskSessions::ApplyLabels() {
    for (const auto& session : further_)
        session->engine->SetDocumentLabel(fromUtf8(name(*session->engine)));
}

} // namespace calvora
