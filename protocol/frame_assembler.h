// Frame assembly: turns the receiver's unframed byte chunks into live-reading and memory frames and
// spots the pairing acknowledgement. Qt-free; the engine owns one and feeds it from the serial reader
// thread.
//
// Why hex text: the received bytes are kept as lowercase hex text, two characters per byte, and the
// markers ("00d5f0" to "00d5f3") are searched in that text, not among the bytes. A marker may thus
// start between two bytes, at an odd character position, where the low digit of one byte and the
// digits of the next spell it; the frame is then cut from the text at that position and converted
// digit pair by digit pair. A search over bytes would miss such frames, which the meter's receivers
// have always handed on, so the text stays the working form.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace calvora {

// Frame kinds by the third marker byte (00 D5 Fx).
inline constexpr uint8_t kLiveMarker = 0xF0;
inline constexpr uint8_t kMemoryHeaderMarker = 0xF1;
inline constexpr uint8_t kMemoryBlockMarker = 0xF2;
inline constexpr uint8_t kMemoryTailMarker = 0xF3;

// Bytes the reader asks for per read once a receiver is connected: chunks reach the receive routine
// in at most this size. Capture files are fed in chunks of it too.
inline constexpr int kReceiveChunkSize = 19;

// Receives what the assembler recognises, synchronously on the reader thread. The frame bytes are
// lent for the duration of the call only (they live in the assembler's 60-byte frame buffer).
class FrameSink {
public:
    virtual ~FrameSink() = default;
    // A 12-byte live-reading frame, handed on only while live frames are enabled.
    virtual void OnLiveFrame(const uint8_t* frame, int length) = 0;
    // A memory header (9 bytes), block (49 bytes) or tail (L + 9 bytes, at most 60).
    virtual void OnMemoryFrame(const uint8_t* frame, int length) = 0;
    // A chunk that starts with the pairing acknowledgement; the paired flag is already set.
    virtual void OnPairAcknowledged() = 0;
};

class FrameAssembler {
public:
    static constexpr int kFrameBufferSize = 60;

    explicit FrameAssembler(FrameSink& sink);
    FrameAssembler(const FrameAssembler&) = delete;
    FrameAssembler& operator=(const FrameAssembler&) = delete;

    // The receive routine, called on the reader thread with each chunk as the port delivered it. The
    // chunk is first tested for the pairing acknowledgement (as delivered), then appended as hex text;
    // the passes then run in rounds as long as the last round consumed a frame or dropped the marker
    // of an oversized tail, so every frame complete in the text is handed on before it returns.
    void OnReceive(const uint8_t* bytes, int count);

    // Flags shared between the reader thread and the user-interface thread.
    // While closing, received chunks are ignored.
    void SetClosePrompted(bool closing) { closePrompted_ = closing; }
    bool closePrompted() const { return closePrompted_; }
    // Set by the stored-log download; cleared here whenever a live-reading marker is found.
    void SetDownloading(bool downloading) { downloading_ = downloading; }
    bool downloading() const { return downloading_; }
    // Cleared by the Pair command; set here by the acknowledgement.
    void SetPaired(bool paired) { paired_ = paired; }
    bool paired() const { return paired_; }
    // Live frames are handed on only while enabled (the engine enables them for a meter's receiver);
    // while disabled they are still cut out of the stream and consumed.
    void SetLiveFramesEnabled(bool enabled) { liveFramesEnabled_ = enabled; }
    bool liveFramesEnabled() const { return liveFramesEnabled_; }

    // The not yet consumed receive text (lowercase hex). Reader thread only; for diagnostics and tests.
    std::string_view receiveText() const { return std::string_view(text_).substr(head_); }

private:
    // Positions in text_ of each marker kind (F0 to F3), oldest first; those before head_ are stale.
    struct MarkerPositions {
        std::vector<size_t> positions;
        size_t first = 0;
    };
    enum class Pass { NoMarker, Waiting, Consumed, MarkerDropped, Held };

    void AppendChunk(const uint8_t* bytes, int count);
    // Position of the first marker of `kind` (0-3) at or after head_, or npos.
    size_t Find(int kind);
    size_t available() const { return text_.size() - head_; }
    // Converts the first `length` bytes' worth of receive text into the frame buffer.
    void ConvertFrame(int length);
    // The pass of the frame rule at `rule` (see the table in the source).
    Pass RunPass(size_t rule);
    // One round of the passes; true when it consumed a frame or dropped a marker.
    bool RunRound();
    void Compact();

    FrameSink& sink_;
    std::string text_; // receive text; the unconsumed part starts at head_
    size_t head_ = 0;
    // Markers are indexed once, when their text arrives, so no pass rescans a long backlog.
    std::array<MarkerPositions, 4> markers_;
    std::array<uint8_t, kFrameBufferSize> frame_{};
    std::atomic<bool> closePrompted_{false};
    std::atomic<bool> downloading_{false};
    std::atomic<bool> paired_{false};
    std::atomic<bool> liveFramesEnabled_{false};
};

} // namespace calvora
