// The received byte stream end to end on the user-interface side: frame assembly, the live decoder,
// recording and the stored-log download of the engine, fed in chunks of every size with pairing
// acknowledgements and user commands woven in, as the fuzz input dictates.
#pragma once

#include "app/meter_engine.h"
#include "protocol/frame_assembler.h"
#include "protocol/frame_builder.h"
#include "recording/recording_document.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace calvora::fuzz {

namespace {

class HeadlessView final : public EngineView {
public:
    void StartTimer(int, int) override {}
    void StopTimer(int) override {}
    RecordingDocument* CreateDocumentWindow() override {
        documents.push_back(std::make_unique<RecordingDocument>());
        return documents.back().get();
    }
    bool SaveDocument(RecordingDocument&) override { return false; }
    bool AskPlannedSamples(uint32_t&) override { return false; }
    bool AskYesNo(const std::u16string&) override { return false; }
    void ShowMessage(const std::u16string&, MessageIcon) override {}
    bool progressOpen() const override { return progress; }
    void OpenProgress(int) override { progress = true; }
    void CloseProgress() override { progress = false; }

    std::vector<std::unique_ptr<RecordingDocument>> documents;
    bool progress = false;
};

class NoReceivers final : public ReceiverInventory {
public:
    std::optional<std::vector<SerialPortInfo>> Enumerate() override { return std::vector<SerialPortInfo>{}; }
};

// Checks what the assembler hands on against the frame layouts, on a second assembler fed alike.
class CheckingSink final : public FrameSink {
public:
    void OnLiveFrame(const uint8_t* frame, int length) override {
        if (length != 12 || frame[0] != 0x00 || frame[1] != 0xD5 || frame[2] != kLiveMarker)
            broken = true;
    }
    void OnMemoryFrame(const uint8_t* frame, int length) override {
        if (length < 9 || length > FrameAssembler::kFrameBufferSize || frame[0] != 0x00 || frame[1] != 0xD5)
            broken = true;
        if ((frame[2] == kMemoryHeaderMarker && length != 9) ||
            (frame[2] == kMemoryBlockMarker && length != 49) ||
            (frame[2] == kMemoryTailMarker && length != (frame[5] << 8 | frame[6]) + 9))
            broken = true;
    }
    void OnPairAcknowledged() override {}
    bool broken = false;
};

class Input {
public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool empty() const { return at_ >= size_; }
    uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    std::vector<uint8_t> Bytes(size_t count) {
        count = std::min(count, size_ - at_);
        std::vector<uint8_t> bytes(data_ + at_, data_ + at_ + count);
        at_ += count;
        return bytes;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

} // namespace

// False when the input breaks a rule; the fuzz target turns that into a crash.
inline bool StreamInputHolds(const uint8_t* data, size_t size) {
    Input in(data, size);
    HeadlessView view;
    NoReceivers inventory;
    SettingsFile settings("/nonexistent/calvora-fuzz/ZAZEDOVADIZO.ini");
    MeterEngine state(view, inventory, settings);
    CheckingSink checking;
    FrameAssembler assembler(checking);

    const uint8_t setup = in.Byte();
    if (setup & 1) {
        state.SelectCaptureSource();
        assembler.SetLiveFramesEnabled(true);
    }
    if (setup & 2)
        state.StartRecordingOf(1 + (setup >> 2));

    bool liveFrameLeftWaiting = false;
    // Both assemblers get the same chunks; a frame is fed whole or cut in two at a chosen place.
    auto feed = [&](const std::vector<uint8_t>& bytes, size_t cut) {
        cut = bytes.empty() ? 0 : cut % bytes.size();
        for (const auto& [from, to] : {std::pair{size_t{0}, cut}, std::pair{cut, bytes.size()}}) {
            if (to == from)
                continue;
            state.ReceiveChunk(bytes.data() + from, static_cast<int>(to - from));
            assembler.OnReceive(bytes.data() + from, static_cast<int>(to - from));
            // The live pass runs first in every round and the rounds repeat while one consumes a frame,
            // so no complete live frame is left waiting at the first live marker.
            const std::string_view text = assembler.receiveText();
            const size_t live = text.find("00d5f0");
            if (live != std::string_view::npos && text.size() - live >= 24)
                liveFrameLeftWaiting = true;
        }
    };

    while (!in.empty()) {
        const uint8_t op = in.Byte();
        const uint8_t arg = static_cast<uint8_t>(op >> 3);
        switch (op & 7) {
        case 0:
        case 1:
        case 2:
            feed(in.Bytes(arg + 1u), 0);
            break;
        case 3: {
            const uint16_t magnitude = static_cast<uint16_t>(in.Byte() << 8 | in.Byte());
            const auto frame = MakeLiveFrame(magnitude, in.Byte(), in.Byte(), in.Byte());
            feed({frame.begin(), frame.end()}, arg);
            break;
        }
        case 4:
            feed(MakeMemoryHeader(static_cast<uint16_t>(in.Byte() << 4 | (arg & 15))), arg >> 4);
            break;
        case 5: {
            const uint16_t block = in.Byte();
            feed(MakeMemoryBlock(block, in.Bytes(in.Byte() % 41)), arg);
            break;
        }
        case 6: {
            const uint16_t block = in.Byte();
            feed(MakeMemoryTail(block, in.Bytes(in.Byte() % 56)), arg);
            break;
        }
        default:
            switch (arg % 12) {
            case 0:
                state.StartRecordingOf(1 + in.Byte());
                break;
            case 1:
                state.StopRecording();
                break;
            case 2:
                state.AbandonDownload();
                break;
            case 3:
                feed({0x05, in.Byte(), in.Byte(), 0x4C, in.Byte()}, 0);
                break;
            case 4:
                state.Pair(); // no port: writes nothing, starts the pairing timer
                break;
            case 5:
                state.OnTimer(kPairTimer);
                break;
            case 6:
                state.OnDeviceRemoved();
                break;
            case 7:
                if (RecordingDocument* document = state.documents().downloadDocument)
                    state.OnDocumentDestroyed(*document);
                break;
            case 8:
                if (RecordingDocument* document = state.documents().recordingDocument)
                    state.OnDocumentDestroyed(*document);
                break;
            case 9:
                state.FillDownloadDocument();
                break;
            case 10:
                state.OnMainWindowClosing();
                assembler.SetClosePrompted(true);
                break;
            default:
                state.OnTimer(kRescanTimer);
                break;
            }
        }

        const RecordingState& documents = state.documents();
        if (checking.broken || liveFrameLeftWaiting)
            return false;
        if (documents.recordingDocument && documents.recordingDocument == documents.downloadDocument)
            return false;
        if (const RecordingDocument* live = documents.recordingDocument) {
            if (live->sampleCount() > live->rowCapacity() ||
                (documents.recording && live->sampleCount() > documents.plannedSamples))
                return false;
            for (uint32_t row = 0; row < live->sampleCount(); ++row)
                (void)live->Sample(row);
        }
        if (const RecordingDocument* log = documents.downloadDocument) {
            for (uint32_t row = 0; row < log->sampleCount(); ++row)
                (void)log->Sample(row);
        }
    }
    return true;
}

} // namespace calvora::fuzz
