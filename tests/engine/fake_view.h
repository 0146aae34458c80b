// A headless main window for the engine tests: records what the state asked of it and answers
// questions from a script.
#pragma once

#include "app/meter_engine.h"
#include "recording/recording_document.h"
#include "recording/save.h"

#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace calvora::testing {

// Stands for the views of each document window: counts what the document announces.
class CountingViews final : public DocumentListener {
public:
    void OnSamplesAppended(RecordingDocument&, uint32_t, uint32_t count) override {
        liveAppends += static_cast<int>(count);
    }
    void OnDocumentReset(RecordingDocument&) override { ++updates; }
    void OnSettingsChanged(RecordingDocument&) override { ++updates; }

    int updates = 0;
    int liveAppends = 0;
};

class FakeView : public EngineView {
public:
    // Timers
    void StartTimer(int id, int milliseconds) override { timers[id] = milliseconds; }
    void StopTimer(int id) override { timers.erase(id); }
    bool TimerRunning(int id) const { return timers.count(id) != 0; }

    // Documents
    RecordingDocument* CreateDocumentWindow() override {
        documents.push_back(std::make_unique<RecordingDocument>());
        if (prepareDocument)
            prepareDocument(*documents.back());
        subscriptions.push_back(documents.back()->Subscribe(views));
        ++windowsCreated;
        return documents.back().get();
    }
    bool SaveDocument(RecordingDocument& document) override {
        ++saves;
        if (saveFolder.empty())
            return saveSucceeds;
        return static_cast<bool>(calvora::SaveDocument(document, saveFolder / "saved.recorder", *state));
    }
    bool AskPlannedSamples(uint32_t& samples) override {
        proposedSamples = samples;
        if (!plannedAnswer)
            return false;
        samples = plannedAnswer;
        return true;
    }
    void ActivateDocumentWindow(RecordingDocument& document) override { activated.push_back(&document); }
    void ShowDocumentTitle(RecordingDocument& document) override { titled.push_back(&document); }
    // What the views of every document heard: whole redraws, and live samples.
    int viewUpdates() const { return views.updates; }
    int liveAppends() const { return views.liveAppends; }

    // Prompts
    bool AskYesNo(const std::u16string& question) override {
        questions.push_back(question);
        if (answers.empty())
            return false;
        const bool answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void ShowMessage(const std::u16string& text, MessageIcon icon) override {
        messages.push_back(text);
        icons.push_back(icon);
    }

    // Status bar
    void ShowStatus(const std::u16string& text) override { statuses.push_back(text); }
    void ShowRecordingProgress(uint32_t recorded, uint32_t planned) override {
        paneRecorded = recorded;
        panePlanned = planned;
    }

    // Instrument bar and panel
    void ShowLiveReading(const LiveReading& reading) override { readings.push_back(reading); }
    void ShowReceiverTree(const std::vector<ReceiverItem>& items) override {
        tree = items;
        ++treeShown;
    }
    void SetReceiverConnected(int itemId, bool connected) override { connectedImage[itemId] = connected; }
    void ShowInstrumentPanel() override { ++panelShown; }
    void ShowLogWindow(const std::shared_ptr<LogDocument>& log) override { logs.push_back(log); }
    void ShowNoSignal() override { ++noSignal; }

    // Progress
    bool progressOpen() const override { return progressShown; }
    void OpenProgress(int rangeMax) override {
        progressShown = true;
        progressRange = rangeMax;
    }
    void SetProgressPosition(int position) override { progressPosition = position; }
    void SetProgressRecords(uint32_t arrived, uint32_t total) override {
        progressArrived = arrived;
        progressTotal = total;
    }
    void CloseProgress() override { progressShown = false; }

    std::map<int, int> timers;
    std::vector<std::u16string> statuses;
    uint32_t paneRecorded = 0;
    uint32_t panePlanned = 0;
    std::vector<std::unique_ptr<RecordingDocument>> documents;
    // Runs on every new document before the state sees it.
    std::function<void(RecordingDocument&)> prepareDocument;
    int windowsCreated = 0;
    int saves = 0;
    bool saveSucceeds = true;
    std::filesystem::path saveFolder;
    RecordingState* state = nullptr;
    uint32_t plannedAnswer = 0;
    uint32_t proposedSamples = 0;
    std::vector<RecordingDocument*> activated;
    std::vector<RecordingDocument*> titled;
    CountingViews views;
    std::vector<DocumentSubscription> subscriptions;
    std::deque<bool> answers;
    std::vector<std::u16string> questions;
    std::vector<std::u16string> messages;
    std::vector<MessageIcon> icons;
    std::vector<LiveReading> readings;
    std::vector<ReceiverItem> tree;
    int treeShown = 0;
    std::map<int, bool> connectedImage;
    int panelShown = 0;
    std::vector<std::shared_ptr<LogDocument>> logs;
    int noSignal = 0;
    bool progressShown = false;
    int progressRange = 0;
    int progressPosition = 0;
    uint32_t progressArrived = 0;
    uint32_t progressTotal = 0;
};

class FakeInventory : public ReceiverInventory {
public:
    std::optional<std::vector<SerialPortInfo>> Enumerate() override {
        ++scans;
        return ports;
    }
    std::optional<std::vector<SerialPortInfo>> ports = std::vector<SerialPortInfo>{};
    int scans = 0;
};

} // namespace calvora::testing
