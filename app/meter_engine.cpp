#include "app/meter_engine.h"

#include "chart/chart_layout.h"
#include "chart/time_axis.h"
#include "protocol/formatters.h"
#include "protocol/meter_tables.h"
#include "protocol/pairing.h"
#include "protocol/text.h"
#include "recording/journal.h"
#include "recording/record_file.h"
#include "recording/recording_document.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace calvora {

namespace {

constexpr int kRecordBytes = 4;
constexpr int kBlockPayloadBytes = 40;
constexpr int kMemoryPayloadOffset = 7;
constexpr uint32_t kReceiverBaudRate = 115200;
constexpr uint32_t kInitialPlannedSamples = 10000;

// The line settings of the receiver: 115200 baud, no parity, 8 data bits, one stop bit, no flow control.
constexpr uint8_t kParityNone = 2;
constexpr uint8_t kDataBits = 8;
constexpr uint8_t kStopOne = 0;
constexpr uint8_t kFlowNone = 0;

// What the status bar says when a recording ends; empty where the window that showed it is gone.
std::u16string RecordingEndStatus(RecordingEnd why, uint32_t samples) {
    const std::u16string kept =
        GroupedNumber(samples) + (samples == 1 ? u" sample kept." : u" samples kept.");
    switch (why) {
    case RecordingEnd::PlannedCount:
        return u"Recording complete - " + GroupedNumber(samples) +
               (samples == 1 ? u" sample." : u" samples.");
    case RecordingEnd::Stopped:
        return u"Recording stopped, " + kept;
    case RecordingEnd::ReceiverRemoved:
        return u"Receiver removed - recording stopped, " + kept;
    case RecordingEnd::DownloadStarted:
        return u"Stored log arriving - recording stopped, " + kept;
    case RecordingEnd::OutOfMemory:
        return u"Out of memory - recording stopped, " + kept;
    case RecordingEnd::EndOfInput:
    case RecordingEnd::Interrupted:
        return u"Recording stopped (" + std::u16string(RecordingEndReason(why)) + u"), " + kept;
    case RecordingEnd::None:
    case RecordingEnd::DocumentClosed:
        break;
    }
    return {};
}

uint16_t BigEndian16(const uint8_t* bytes) {
    return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
}

// "COM5" gives 5: the number after the first three characters. A number beyond the COM range gives 0,
// so the device is opened and remembered by its path rather than by a wrapped number.
int PortNumberOfDeviceId(const std::string& deviceId) {
    if (deviceId.size() <= 3 || deviceId.size() > 6)
        return 0;
    const int number = std::atoi(deviceId.c_str() + 3);
    return number >= 1 && number <= 255 ? number : 0;
}

} // namespace

MeterEngine::MeterEngine(EngineView& view, ReceiverInventory& inventory, SettingsFile& settings,
                         std::function<void()> wakeUi)
    : view_(view), inventory_(inventory), settings_(settings), handOff_(std::move(wakeUi)), assembler_(*this),
      documents_(assembler_), uiThread_(std::this_thread::get_id()) {
}

MeterEngine::~MeterEngine() {
    ClosePort();
    // A log still running closes its file as it goes (the view may be gone by now: no message).
    log_.reset();
}

// ---------------------------------------------------------------- frames from the reader thread

void MeterEngine::ReceiveRoutine(void* context, const uint8_t* bytes, int32_t count) {
    auto* state = static_cast<MeterEngine*>(context);
    // Once Close has begun the user-interface thread is waiting for this thread: drop the chunk.
    if (state->port_.closing())
        return;
    state->assembler_.OnReceive(bytes, count);
}

void MeterEngine::ReceiveChunk(const uint8_t* bytes, int count) {
    assembler_.OnReceive(bytes, count);
}

void MeterEngine::Deliver(const std::function<void()>& task) {
    if (std::this_thread::get_id() == uiThread_)
        task(); // fed by the owner itself (capture files, tests)
    else
        handOff_.Send(task);
}

void MeterEngine::OnLiveFrame(const uint8_t* frame, int length) {
    Deliver([&] { HandleLiveFrame(frame, length); });
}

void MeterEngine::OnMemoryFrame(const uint8_t* frame, int length) {
    Deliver([&] { HandleMemoryFrame(frame, length); });
}

void MeterEngine::OnPairAcknowledged() {
    Deliver([&] {
        view_.StopTimer(kPairTimer);
        view_.StopTimer(kPairCountdownTimer);
        view_.ShowStatus(u"Paired.");
    });
}

// ---------------------------------------------------------------- live readings and recording

void MeterEngine::HandleLiveFrame(const uint8_t* frame, int length) {
    discardingBurst_ = false; // a live reading ends whatever burst was given up
    const auto decoded = DecodeLiveFrame(frame, length);
    if (!decoded)
        return;
    if (log_) {
        log_->OnReading(decoded->reading, NowMs());
        if (log_->ended())
            StopLogging(log_->end());
    }
    if (documents_.recording && documents_.recordingDocument) {
        const std::u16string timeText = TimeText();
        if (PassTrigger(decoded->reading, timeText))
            RecordReading(decoded->reading, timeText);
    } else if (documents_.recordingDocument)
        documents_.recordingDocument->liveActive = false;
    if (readingObserver_)
        readingObserver_(*decoded);
    view_.ShowLiveReading(*decoded);
}

bool MeterEngine::PassTrigger(const MeterReading& reading, const std::u16string& timeText) {
    if (!armedTrigger_)
        return true;
    const std::time_t now = clock_ ? clock_() : std::time(nullptr);
    if (!armedTrigger_->Feed(reading.value, reading.fullScale, static_cast<int32_t>(reading.lowLimit), now)) {
        if (preTriggerCapacity_ > 0) {
            preTrigger_.push_back({reading, timeText});
            if (preTrigger_.size() > preTriggerCapacity_)
                preTrigger_.pop_front();
        }
        return false;
    }
    armedTrigger_.reset();
    std::deque<HeldReading> held = std::move(preTrigger_);
    preTrigger_.clear();
    for (const HeldReading& before : held) {
        // An alarm's action may end the recording while the kept readings go in.
        if (!documents_.recording || !documents_.recordingDocument)
            return false;
        RecordReading(before.reading, before.timeText);
    }
    return documents_.recording && documents_.recordingDocument;
}

void MeterEngine::RecordReading(const MeterReading& reading, const std::u16string& timeText) {
    RecordingDocument& document = *documents_.recordingDocument;
    document.liveActive = true;

    if (document.sampleCount() == 0) {
        view_.ActivateDocumentWindow(document);
        liveChart_.Attach(document);
        document.BeginLiveStorage(documents_.plannedSamples, documents_.allocatedRows);
    }

    // The document tells its listeners: the chart's rules first, then the views.
    if (!document.AppendSample(reading.value, static_cast<float>(reading.fullScale),
                               static_cast<int32_t>(reading.lowLimit), reading.functionName, reading.mode,
                               reading.unit, timeText)) {
        // Only a failed allocation leaves fewer rows than planned samples.
        EndRecording(RecordingEnd::OutOfMemory);
        return;
    }
    if (journal_)
        journal_->Record(document, document.sampleCount() - 1);
    if (sampleObserver_)
        sampleObserver_(document, document.sampleCount() - 1);
    documents_.dataSaved = false;
    view_.ShowRecordingProgress(document.sampleCount(), documents_.plannedSamples);

    if (document.sampleCount() >= documents_.plannedSamples)
        EndRecording(RecordingEnd::PlannedCount);
}

void MeterEngine::EndRecording(RecordingEnd why) {
    if (!documents_.recording)
        return;
    documents_.EndRecording(why);
    view_.ShowRecordingProgress(0, 0);
    const RecordingDocument* document = documents_.recordingDocument;
    const std::u16string status = RecordingEndStatus(why, document ? document->sampleCount() : 0);
    if (!status.empty())
        view_.ShowStatus(status);
}

int64_t MeterEngine::NowMs() const {
    if (preciseClock_)
        return preciseClock_();
    if (clock_)
        return int64_t{clock_()} * 1000;
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::u16string MeterEngine::TimeText() const {
    // The time text of a sample and the receive time of the same reading in a log name the same second.
    const std::time_t now = clock_ ? clock_() : static_cast<std::time_t>(FloorDiv(NowMs(), 1000));
    std::tm local{};
    localtime_r(&now, &local);
    char text[64];
    std::strftime(text, sizeof text, " %m/%d/%y %H:%M:%S", &local);
    return fromAscii(text);
}

bool MeterEngine::SaveBeforeLosing(RecordingDocument& document) {
    if (!view_.SaveDocument(document))
        return false;
    OnDocumentSaved(document);
    return true;
}

void MeterEngine::OnDocumentSaved(const RecordingDocument& document) {
    // Saved while still recording, the file lacks the samples still to come: keep journaling.
    if (journal_ && &document == documents_.recordingDocument && !documents_.recording)
        journal_->Remove();
}

Outcome<RecordingDocument*> MeterEngine::RecoverJournal(const std::filesystem::path& path) {
    Outcome<RecordingDocument> recovered = calvora::RecoverJournal(path);
    if (!recovered)
        return recovered.failure();
    PrepareRecoveredDocument(recovered.value());
    RecordingDocument* document = view_.CreateDocumentWindow();
    if (!document)
        return Failure(u"no window could be opened for it");
    // The window gave the document the program's limits; the recovered samples come without any.
    LimitSettings limits = document->limits;
    *document = std::move(recovered).value();
    document->limits = std::move(limits);
    if (!documents_.recordingDocument && !documents_.recording && (!journal_ || journal_->Adopt(path))) {
        documents_.recordingDocument = document;
        documents_.allocatedRows = document->rowCapacity();
        documents_.plannedSamples = document->sampleCount();
        documents_.dataSaved = false;
    }
    document->AnnounceReset();
    view_.ShowDocumentTitle(*document);
    return document;
}

void MeterEngine::StartRecording() {
    if (documents_.recording)
        return;
    if (RecordingDocument* document = documents_.recordingDocument;
        document && !documents_.dataSaved && document->sampleCount() > 0 &&
        view_.AskYesNo(std::u16string(kSaveBeforeContinuing))) {
        // The live samples are replaced by the next reading: never go on when they were not saved.
        if (!SaveBeforeLosing(*document))
            return;
    }
    uint32_t samples = kInitialPlannedSamples;
    if (!view_.AskPlannedSamples(samples))
        return;
    StartRecordingOf(samples);
}

void MeterEngine::StartRecordingOf(uint32_t plannedSamples) {
    if (documents_.recording || plannedSamples == 0)
        return;
    documents_.plannedSamples = plannedSamples;
    // The trigger chosen applies to this recording only; the kept readings leave room for the trigger's own.
    armedTrigger_.reset();
    preTrigger_.clear();
    if (nextTrigger_.kind != TriggerKind::Immediate) {
        armedTrigger_.emplace(nextTrigger_, clock_ ? clock_() : std::time(nullptr));
        preTriggerCapacity_ = std::min<size_t>(nextTrigger_.preTrigger, plannedSamples - 1);
        nextTrigger_.kind = TriggerKind::Immediate;
    }
    documents_.BeginRecording();
    if (RecordingDocument* document = documents_.recordingDocument) {
        document->ResetSampleCount();
        // A save named the window after its file; the new samples are not in that file.
        if (document->title != liveTitle()) {
            document->title = liveTitle();
            view_.ShowDocumentTitle(*document);
        }
    } else {
        CreateAdoptedDocument(false);
    }
    view_.ShowRecordingProgress(0, plannedSamples);
}

void MeterEngine::StopRecording(RecordingEnd why) {
    EndRecording(why);
    if (documents_.recordingDocument)
        documents_.recordingDocument->liveActive = false;
    if (why == RecordingEnd::Stopped)
        StopLogging();
}

// ---------------------------------------------------------------- continuous logging

std::optional<LogMeterFacts> MeterEngine::logMeter() const {
    if (connectedLabel_.empty() || selectedPortIndex_ < 0 ||
        selectedPortIndex_ >= static_cast<int>(portList_.size()))
        return std::nullopt;
    const PortEntry& receiver = portList_[static_cast<size_t>(selectedPortIndex_)];
    return LogMeterFacts{toUtf8(meterName()), !receiver.devicePath.empty() ? receiver.devicePath
                                              : receiver.portNumber > 0
                                                  ? "COM" + std::to_string(receiver.portNumber)
                                                  : std::string("capture")};
}

std::map<std::string, std::string> MeterEngine::LogFacts() const {
    std::map<std::string, std::string> meta{{"model", toUtf8(kModelString)},
                                            {"application", applicationName_}};
    if (const std::optional<LogMeterFacts> meter = logMeter())
        meta["receiver"] = meter->receiver;
    return meta;
}

Outcome<void> MeterEngine::StartLogging(const std::filesystem::path& path, const LogStopCondition& stop) {
    if (log_)
        return Failure(u"A continuous log is running already.");
    const std::optional<LogMeterFacts> meter = logMeter();
    if (!meter)
        return Failure(u"No receiver is connected.");
    auto started = ContinuousLog::Start(path, stop, LogFacts(), NowMs(), *meter);
    if (!started)
        return started.failure();
    return AdoptLog(std::move(started).value(), true);
}

Outcome<void> MeterEngine::AdoptLog(std::unique_ptr<ContinuousLog> log, bool show) {
    if (log_)
        return Failure(u"A continuous log is running already.");
    if (!logMeter())
        return Failure(u"No receiver is connected.");
    endedLog_.reset();
    log_ = std::move(log);
    logReceiver_ = portList_[static_cast<size_t>(selectedPortIndex_)];
    if (show)
        view_.ShowLogWindow(log_->documentPtr());
    view_.StartTimer(kLogTimer, kLogTickMs);
    return {};
}

void MeterEngine::StopLogging(LogEnd why) {
    if (!log_)
        return;
    view_.StopTimer(kLogTimer);
    const Outcome<void> finished = log_->Finish(NowMs(), why);
    std::u16string message = LogEndMessage(log_->end(), log_->endDetail());
    if (message.empty() && !finished)
        message = finished.reason();
    endedLog_ = std::move(log_);
    if (!message.empty())
        view_.ShowMessage(u"The continuous log " + endedLog_->document().title + u" has stopped.\n" + message,
                          MessageIcon::Exclamation);
}

void MeterEngine::OnLogTick() {
    if (!log_)
        return;
    const bool gapBefore = log_->document().gapOpen();
    log_->OnTick(NowMs());
    if (log_->ended()) {
        StopLogging(log_->end());
        return;
    }
    NoteLogGap(gapBefore);
    ReconnectLogReceiver();
    view_.StartTimer(kLogTimer, LogReceiverGone() ? kLogReconnectPollMs : kLogTickMs);
}

void MeterEngine::NoteLogGap(bool gapOpenBefore) {
    if (log_ && !gapOpenBefore && log_->document().gapOpen())
        view_.ShowNoSignal();
}

bool MeterEngine::LogReceiverGone() const {
    if (!port_.isOpen())
        return true;
    const ReaderThread* reader = port_.readerThread();
    return reader == nullptr || reader->endReason() == ReaderEnd::HangUp ||
           reader->endReason() == ReaderEnd::DeviceError;
}

void MeterEngine::ReconnectLogReceiver() {
    if (!log_ || !LogReceiverGone())
        return;
    const std::string device = !logReceiver_.devicePath.empty() ? logReceiver_.devicePath
                               : logReceiver_.portNumber > 0
                                   ? "/dev/ttyUSB" + std::to_string(logReceiver_.portNumber - 1)
                                   : std::string();
    // Tried again at every tick, so only once the device is there again.
    if (device.empty() || ::access(device.c_str(), F_OK) != 0)
        return;
    PortEntry& entry = SelectLogReceiver();
    ClosePort();
    if (OpenEntry(entry))
        view_.ShowInstrumentPanel();
}

PortEntry& MeterEngine::SelectLogReceiver() {
    auto same = std::find_if(portList_.begin(), portList_.end(), [&](const PortEntry& entry) {
        return entry.devicePath == logReceiver_.devicePath && entry.portNumber == logReceiver_.portNumber;
    });
    if (same == portList_.end()) {
        portList_.push_back(logReceiver_);
        same = portList_.end() - 1;
    }
    SelectPort(static_cast<int>(same - portList_.begin()));
    return *same;
}

RecordingDocument* MeterEngine::CreateAdoptedDocument(bool forDownload) {
    RecordingDocument* document = view_.CreateDocumentWindow();
    if (!document)
        return nullptr;
    // Adopted as soon as it exists, whatever its views do, so a window that is never painted (minimised,
    // headless) still gets its live or downloaded data.
    ApplyNewChartDefaults(*document);
    // One document is never both: a recording started during a burst, or a burst ending during a
    // recording, would otherwise overwrite the live samples with the download or the other way round.
    if (!forDownload && documents_.recording) {
        document->title = liveTitle();
        documents_.recordingDocument = document;
    } else if (forDownload && assembler_.downloading()) {
        documents_.downloadDocument = document;
        document->title = downloadTitle();
        FillDownloadDocument();
    }
    view_.ShowDocumentTitle(*document);
    return document;
}

// ---------------------------------------------------------------- stored-log download

void MeterEngine::SetDownloading(bool downloading) {
    documents_.SetDownloading(downloading);
}

void MeterEngine::HandleMemoryFrame(const uint8_t* frame, int length) {
    if (length < kMemoryPayloadOffset)
        return;
    if (discardingBurst_) {
        if (frame[2] != kMemoryHeaderMarker)
            return;
        discardingBurst_ = false;
    }
    // Every frame of a burst gives the next one time to come; the last one stops the watch.
    view_.StartTimer(kDownloadTimer, kDownloadStallMs);
    if (!assembler_.downloading()) {
        EndRecording(RecordingEnd::DownloadStarted);
        SetDownloading(true);
        packetCounter_ = 0;
        endState_ = 1;
        downloadRecordCount_ = BigEndian16(frame + 5);
        downloadBuffer_.assign(size_t{downloadRecordCount_} * kRecordBytes, 0);
        arrivedBytes_.assign(downloadBuffer_.size(), 0);
        arrivedRecords_ = 0;
        if (!view_.progressOpen()) {
            const int roundedUp = static_cast<int>((downloadRecordCount_ + 9) / 10 * 10);
            view_.OpenProgress(2 * roundedUp);
        }
        view_.SetProgressRecords(0, downloadRecordCount_);
        return;
    }

    const int block = BigEndian16(frame + 3);
    const int declared = BigEndian16(frame + 5);
    const int present = std::min(declared, length - kMemoryPayloadOffset);
    // Block numbers count from 1; a block 0 would land before the buffer and is dropped whole.
    if (block >= 1)
        CopyPayload(size_t(block - 1) * kBlockPayloadBytes, frame + kMemoryPayloadOffset, present);
    ++packetCounter_;
    view_.SetProgressPosition(packetCounter_ * 10);
    view_.SetProgressRecords(arrivedRecords_, downloadRecordCount_);

    if (frame[2] == kMemoryTailMarker && endState_ == 2) {
        packetCounter_ = 0;
        view_.StopTimer(kDownloadTimer);
        view_.CloseProgress();
        lastDownloadComplete_ = true;
        if (documents_.downloadDocument)
            FillDownloadDocument();
        else
            CreateAdoptedDocument(true);
    }
    if (frame[2] == kMemoryTailMarker && endState_ == 1)
        endState_ = 2;
}

void MeterEngine::CopyPayload(size_t start, const uint8_t* bytes, int count) {
    for (int k = 0; k < count; ++k) {
        const size_t at = start + static_cast<size_t>(k);
        if (at >= downloadBuffer_.size())
            break;
        downloadBuffer_[at] = bytes[k];
        if (arrivedBytes_[at])
            continue;
        arrivedBytes_[at] = 1;
        const size_t record = at / kRecordBytes * kRecordBytes;
        if (std::all_of(arrivedBytes_.begin() + static_cast<std::ptrdiff_t>(record),
                        arrivedBytes_.begin() + static_cast<std::ptrdiff_t>(record + kRecordBytes),
                        [](uint8_t arrived) { return arrived != 0; }))
            ++arrivedRecords_;
    }
}

void MeterEngine::FillDownloadDocument() {
    RecordingDocument* document = documents_.downloadDocument;
    if (!document || !assembler_.downloading())
        return;
    FillFromDownloadBuffer(*document);
}

void MeterEngine::FillFromDownloadBuffer(RecordingDocument& document) {
    SetDownloading(false);
    view_.StopTimer(kDownloadTimer);
    view_.ActivateDocumentWindow(document);

    document.ReleaseRows();
    document.SetChannelCount(1);
    document.FillRows(downloadRecordCount_);
    const std::u16string timeText = TimeText();
    for (uint32_t row = 0; row < downloadRecordCount_; ++row) {
        const StoredReading reading =
            DecodeStoredReading(downloadBuffer_.data() + size_t{row} * kRecordBytes);
        document.SetValue(row, 0, reading.value, reading.fullScale);
        document.SetLowLimit(row, reading.lowLimit);
        document.SetTexts(row, reading.functionName, reading.mode, reading.unit, timeText);
    }
    document.Compact();
    SetLimitsFromSamples(document);

    ReleaseDownloadBuffer();
    endState_ = 0;
    document.AnnounceReset();
    if (downloadObserver_)
        downloadObserver_(document);
}

void MeterEngine::ReleaseDownloadBuffer() {
    downloadBuffer_.clear();
    downloadBuffer_.shrink_to_fit();
    arrivedBytes_.clear();
    arrivedBytes_.shrink_to_fit();
    arrivedRecords_ = 0;
}

void MeterEngine::EndStalledDownload() {
    const uint32_t announced = downloadRecordCount_;
    // Records are kept up to the first one that is missing a byte: a gap would shift every later row.
    uint32_t kept = 0;
    while (kept < announced && std::all_of(arrivedBytes_.begin() + std::ptrdiff_t{kept} * kRecordBytes,
                                           arrivedBytes_.begin() + std::ptrdiff_t{kept + 1} * kRecordBytes,
                                           [](uint8_t arrived) { return arrived != 0; }))
        ++kept;
    packetCounter_ = 0;
    view_.CloseProgress();
    // Frames of this burst that come after all would be taken for a new download of nonsense.
    discardingBurst_ = true;
    lastDownloadComplete_ = false;

    const std::u16string counts = fromAscii(std::to_string(kept) + " of " + std::to_string(announced));
    RecordingDocument* document = kept > 0 ? documents_.downloadDocument : nullptr;
    if (kept > 0 && !document) {
        document = view_.CreateDocumentWindow();
        if (document) {
            ApplyNewChartDefaults(*document);
            document->title = downloadTitle();
            documents_.downloadDocument = document;
            view_.ShowDocumentTitle(*document);
        }
    }
    if (!document) {
        SetDownloading(false);
        endState_ = 0;
        ReleaseDownloadBuffer();
        view_.ShowMessage(u"The meter's log stopped arriving before its first record came (" + counts +
                              u"). Nothing is kept.",
                          MessageIcon::Exclamation);
        return;
    }
    downloadRecordCount_ = kept;
    FillFromDownloadBuffer(*document);
    view_.ShowMessage(u"The meter's log stopped arriving after " + counts + u" records. The " +
                          fromAscii(std::to_string(kept)) + u" records that arrived are kept in \"" +
                          downloadTitle() + u"\".",
                      MessageIcon::Exclamation);
}

void MeterEngine::AbandonDownload() {
    view_.StopTimer(kDownloadTimer);
    if (!assembler_.downloading())
        return;
    SetDownloading(false);
    packetCounter_ = 0;
    endState_ = 0;
    ReleaseDownloadBuffer();
    view_.CloseProgress();
    // The rest of the given-up burst is still on its way; taken as a new download it would refill the
    // log document with its payload lengths as records.
    discardingBurst_ = true;
}

// ---------------------------------------------------------------- pairing

void MeterEngine::Pair() {
    port_.Write(kPairRequest.data(), static_cast<int32_t>(kPairRequest.size()));
    assembler_.SetPaired(false);
    view_.StartTimer(kPairTimer, kPairTimeoutMs);
    pairSecondsLeft_ = kPairTimeoutMs / 1000;
    ShowPairCountdown();
}

void MeterEngine::ShowPairCountdown() {
    view_.ShowStatus(u"Pairing... (" + fromAscii(std::to_string(pairSecondsLeft_)) + u" s)");
    view_.StartTimer(kPairCountdownTimer, kPairCountdownMs);
}

// ---------------------------------------------------------------- receivers and the port

void MeterEngine::SelectPort(int index) {
    selectedPortIndex_ = index;
    const bool valid = index >= 0 && index < static_cast<int>(portList_.size());
    // Live frames are handed on only while the selected port is a meter's receiver.
    assembler_.SetLiveFramesEnabled(valid && portList_[index].label == kMultimeterLabel);
}

void MeterEngine::ScanReceivers() {
    const std::u16string remembered = connectedLabel_;
    bool found = false;

    if (const auto ports = inventory_.Enumerate()) {
        scanSucceeded_ = true;
        std::vector<PortEntry> receivers;
        for (const auto& port : *ports) {
            if (static_cast<int>(receivers.size()) == kMaxReceivers)
                break;
            if (port.description != kReceiverDescription)
                continue;
            receivers.push_back(
                {std::u16string(kMultimeterLabel), PortNumberOfDeviceId(port.deviceId), 0, port.devicePath});
        }

        portList_.clear();
        treeItems_.clear();
        int selected = selectedPortIndex_;
        for (int k = 0; k < static_cast<int>(receivers.size()); ++k) {
            if (remembered == receivers[k].label) {
                found = true;
                selected = k;
            }
            portList_.push_back(receivers[k]);
            const ReceiverItem item{nextTreeItemId_++, k, receivers[k].label};
            if (found && k == selected)
                currentTreeItem_ = item.id;
            treeItems_.push_back(item);
        }
        SelectPort(selected);
        view_.ShowReceiverTree(treeItems_);
    }

    // A running log keeps its receiver selected, whether the scan lists it (a pseudo-terminal) or not, so
    // its frames are still handed on once it is back.
    if (log_)
        SelectLogReceiver();

    // A running log's receiver comes back by itself (ReconnectLogReceiver): the panel stays, saying
    // "no signal" meanwhile.
    if (scanSucceeded_ && !log_) {
        if (found && !connectedLabel_.empty()) {
            view_.StartTimer(kConnectTimer, kConnectDelayMs);
        } else {
            connectedLabel_.clear();
            view_.ShowReceiverTree(treeItems_);
        }
    }
}

PortOutcome<> MeterEngine::OpenSelectedPort() {
    ClosePort();
    if (selectedPortIndex_ < 0 || selectedPortIndex_ >= static_cast<int>(portList_.size()))
        return Failure(EINVAL, u"No receiver is selected.");
    PortEntry& entry = portList_[selectedPortIndex_];
    PortOutcome<> opened = OpenEntry(entry);
    if (!opened) {
        char text[128];
        if (entry.devicePath.empty() || entry.portNumber != 0)
            std::snprintf(text, sizeof text, "Warning:Can't open COM%d!", entry.portNumber);
        else
            std::snprintf(text, sizeof text, "Warning:Can't open %.100s!", entry.devicePath.c_str());
        std::u16string message = fromAscii(text);
        // Linux users commonly lack access to serial devices: say how to get it. A number outside the
        // COM range (from the settings file) is named as such.
        if (opened.kind() == EACCES || opened.kind() == EPERM || opened.kind() == EINVAL)
            message += u"\n" + opened.reason();
        view_.ShowMessage(message, MessageIcon::Information);
    }
    return opened;
}

PortOutcome<> MeterEngine::OpenEntry(PortEntry& entry) {
    if (entry.label == kMultimeterLabel)
        entry.baudRate = kReceiverBaudRate;
    PortOutcome<> opened =
        entry.devicePath.empty()
            ? port_.Open(entry.portNumber, entry.baudRate, kParityNone, kDataBits, kStopOne, kFlowNone)
            : port_.Open(entry.devicePath, entry.baudRate, kParityNone, kDataBits, kStopOne, kFlowNone);
    if (!opened)
        return opened;
    connectedLabel_ = entry.label;
    readerEndReported_ = false;
    port_.SetReceiveCallback(&MeterEngine::ReceiveRoutine, this);
    port_.SetChunkSize(kReceiveChunkSize);
    // Not remembering the port costs only the next start's guess; the open itself succeeded.
    settings_.WritePort(toUtf8(entry.label), entry.portNumber, entry.devicePath);
    return opened;
}

PortOutcome<> MeterEngine::OpenDevice(const std::string& devicePath, int portNumber) {
    portList_ = {PortEntry{std::u16string(kMultimeterLabel), portNumber, 0, devicePath}};
    SelectPort(0);
    return OpenSelectedPort();
}

bool MeterEngine::PollReaderEnd() {
    const ReaderThread* reader = port_.isOpen() ? port_.readerThread() : nullptr;
    if (!reader || readerEndReported_)
        return false;
    const ReaderEnd end = reader->endReason();
    if (end != ReaderEnd::HangUp && end != ReaderEnd::DeviceError)
        return false;
    readerEndReported_ = true;
    OnDeviceRemoved();
    return true;
}

std::u16string MeterEngine::meterName() const {
    if (selectedPortIndex_ < 0 || selectedPortIndex_ >= static_cast<int>(portList_.size()))
        return std::u16string(kMultimeterLabel);
    const PortEntry& entry = portList_[selectedPortIndex_];
    if (entry.devicePath.empty() && entry.portNumber == 0)
        return std::u16string(kMultimeterLabel); // a capture file
    const Outcome<std::string> name =
        settings_.ReadReceiverName(ReceiverNameKey(entry.devicePath, entry.portNumber));
    return name && !name.value().empty() ? fromUtf8(name.value()) : std::u16string(kMultimeterLabel);
}

Outcome<void> MeterEngine::SetMeterName(const std::u16string& name) {
    if (selectedPortIndex_ < 0 || selectedPortIndex_ >= static_cast<int>(portList_.size()))
        return Failure(u"No receiver is selected.");
    const PortEntry& entry = portList_[selectedPortIndex_];
    return settings_.WriteReceiverName(ReceiverNameKey(entry.devicePath, entry.portNumber),
                                       toUtf8(name == kMultimeterLabel ? std::u16string() : name));
}

namespace {

std::u16string LabelledTitle(std::u16string_view title, const std::u16string& label) {
    std::u16string text(title);
    if (!label.empty()) {
        text += u" (";
        text += label;
        text += u')';
    }
    return text;
}

} // namespace

std::u16string MeterEngine::liveTitle() const {
    return LabelledTitle(kLiveDocumentTitle, documentLabel_);
}

std::u16string MeterEngine::downloadTitle() const {
    return LabelledTitle(kDownloadDocumentTitle, documentLabel_);
}

void MeterEngine::SetDocumentLabel(const std::u16string& label) {
    if (label == documentLabel_)
        return;
    const std::u16string oldLive = liveTitle();
    const std::u16string oldDownload = downloadTitle();
    documentLabel_ = label;
    // A document a save named after its file keeps that name.
    if (RecordingDocument* live = documents_.recordingDocument; live && live->title == oldLive) {
        live->title = liveTitle();
        view_.ShowDocumentTitle(*live);
    }
    if (RecordingDocument* log = documents_.downloadDocument; log && log->title == oldDownload) {
        log->title = downloadTitle();
        view_.ShowDocumentTitle(*log);
    }
}

void MeterEngine::SelectCaptureSource() {
    portList_ = {PortEntry{std::u16string(kMultimeterLabel), 0, 0, {}}};
    SelectPort(0);
    connectedLabel_ = kMultimeterLabel;
}

void MeterEngine::ClosePort() {
    // A reader waiting for this thread is released first; chunks it reads meanwhile are dropped.
    handOff_.Close();
    port_.Close();
    handOff_.Open();
}

void MeterEngine::Disconnect() {
    if (connectedLabel_.empty())
        return;
    if (documents_.recording)
        StopRecording(RecordingEnd::Stopped);
    if (log_)
        StopLogging(LogEnd::Stopped);
    ClosePort();
    connectedLabel_.clear();
    if (lastConnectedTreeItem_ != 0)
        view_.SetReceiverConnected(lastConnectedTreeItem_, false);
    // A double-click on the same receiver connects it again.
    lastConnectedTreeItem_ = 0;
    currentTreeItem_ = 0;
    view_.ShowReceiverTree(treeItems_);
    view_.ShowStatus(u"Disconnected.");
}

void MeterEngine::ShowPanelPage() {
    view_.ShowInstrumentPanel();
}

void MeterEngine::OnReceiverDoubleClicked(int itemId) {
    if (connectedLabel_.empty())
        lastConnectedTreeItem_ = currentTreeItem_;
    if (itemId == lastConnectedTreeItem_)
        return;
    const auto item = std::find_if(treeItems_.begin(), treeItems_.end(),
                                   [&](const ReceiverItem& candidate) { return candidate.id == itemId; });
    if (item == treeItems_.end())
        return;
    SelectPort(item->portIndex);
    if (OpenSelectedPort()) {
        view_.SetReceiverConnected(itemId, true);
        if (lastConnectedTreeItem_ != 0)
            view_.SetReceiverConnected(lastConnectedTreeItem_, false);
        lastConnectedTreeItem_ = itemId;
        currentTreeItem_ = itemId;
    }
    ShowPanelPage();
}

void MeterEngine::OnDeviceArrived() {
    scanSucceeded_ = false;
    view_.StartTimer(kRescanTimer, kRescanDelayMs);
}

void MeterEngine::OnDeviceRemoved() {
    scanSucceeded_ = false;
    view_.StartTimer(kRescanTimer, kRescanDelayMs);
    if (documents_.recording)
        StopRecording(RecordingEnd::ReceiverRemoved);
    // Another device's removal leaves the log alone; its own receiver's shows as a gap, and the log goes on.
    if (log_ && LogReceiverGone()) {
        const bool gapBefore = log_->document().gapOpen();
        log_->OnReceiverLost(NowMs());
        ClosePort();
        if (!gapBefore)
            view_.ShowNoSignal();
    }
}

int MeterEngine::BeginComport() {
    const std::string label = toUtf8(kMultimeterLabel);
    const Outcome<int> remembered = settings_.ReadPortNumber(label, kDefaultPortNumber);
    const int number = remembered.value_or(kDefaultPortNumber);
    // The file is used as if it were missing, and the user learns why the remembered port is not.
    if (!remembered)
        view_.ShowMessage(remembered.reason() + u"\nCOM" + fromAscii(std::to_string(number)) +
                              u" is used instead.",
                          MessageIcon::Information);
    PortEntry entry{std::u16string(kMultimeterLabel), number, 0, {}};
    // A device without a COM number (a pseudo-terminal, say) is remembered by its path.
    if (number == 0)
        entry.devicePath = settings_.ReadDevicePath(label).value_or(std::string());
    portList_ = {entry};
    SelectPort(0);
    if (number == 0 && !entry.devicePath.empty()) {
        // The dialog asks for a COM number, which a device known by its path has none of: it proposes the
        // receiver's own when the path is a USB serial device, else the usual one, never the 0 it refuses.
        const std::string prefix = "/dev/ttyUSB";
        if (entry.devicePath.rfind(prefix, 0) == 0) {
            const int index = std::atoi(entry.devicePath.c_str() + prefix.size());
            if (index >= 0 && index < 255 && entry.devicePath.size() > prefix.size())
                return index + 1;
        }
        return kDefaultPortNumber;
    }
    return number;
}

void MeterEngine::Reconnect() {
    BeginComport();
    ShowPanelPage();
    OpenSelectedPort();
}

void MeterEngine::ConfirmComport(int portNumber) {
    if (portList_.empty())
        BeginComport();
    portList_[0].portNumber = portNumber;
    portList_[0].devicePath.clear();
    SelectPort(0);
    ShowPanelPage();
    OpenSelectedPort();
}

void MeterEngine::OnTimer(int id) {
    switch (id) {
    case kConnectTimer:
        view_.StopTimer(kConnectTimer);
        if (OpenSelectedPort() && currentTreeItem_ != 0)
            view_.SetReceiverConnected(currentTreeItem_, true);
        break;
    case kRescanTimer:
        view_.StopTimer(kRescanTimer);
        ScanReceivers();
        break;
    case kPairTimer:
        view_.StopTimer(kPairTimer);
        view_.StopTimer(kPairCountdownTimer);
        if (!assembler_.paired()) {
            view_.ShowStatus(u"Not paired.");
            view_.ShowMessage(std::u16string(kPairFailed), MessageIcon::None);
        }
        break;
    case kPairCountdownTimer:
        view_.StopTimer(kPairCountdownTimer);
        if (pairSecondsLeft_ > 1 && !assembler_.paired()) {
            --pairSecondsLeft_;
            ShowPairCountdown();
        }
        break;
    case kDownloadTimer:
        view_.StopTimer(kDownloadTimer);
        // Still collecting, or cut short by a live reading while the Loading window waits for the rest.
        if (assembler_.downloading() || view_.progressOpen())
            EndStalledDownload();
        break;
    case kLogTimer:
        OnLogTick();
        break;
    default:
        break;
    }
}

// ---------------------------------------------------------------- documents and closing

bool MeterEngine::OnMainWindowClosing() {
    if (AskSaveBeforeQuitting(documents_, view_) && documents_.recordingDocument &&
        !SaveBeforeLosing(*documents_.recordingDocument)) {
        documents_.closePrompted = false; // the user keeps the program and the samples
        return false;
    }
    assembler_.SetClosePrompted(true);
    // A log is on disk as it runs: closing ends it without a question.
    StopLogging();
    return true;
}

bool MeterEngine::OnDocumentClosing(RecordingDocument& document) {
    if (AskSaveBeforeClosing(documents_, document, view_))
        return SaveBeforeLosing(document);
    return true;
}

void MeterEngine::OnDocumentDestroyed(RecordingDocument& document) {
    const bool downloadTarget = &document == documents_.downloadDocument;
    const bool recordingInto = documents_.recording && &document == documents_.recordingDocument;
    // The user was asked before the window closed: its samples are saved or meant to go.
    if (journal_ && &document == documents_.recordingDocument)
        journal_->Remove();
    ForgetDocument(documents_, document);
    if (recordingInto)
        view_.ShowRecordingProgress(0, 0);
    if (downloadTarget)
        SetDownloading(false);
}

} // namespace calvora
