#include "protocol/frame_assembler.h"

#include "protocol/hex_text.h"
#include "protocol/pairing.h"

namespace calvora {

namespace {

constexpr std::string_view kLiveMarkerText = "00d5f0";
constexpr std::string_view kHeaderMarkerText = "00d5f1";
constexpr std::string_view kBlockMarkerText = "00d5f2";
constexpr std::string_view kTailMarkerText = "00d5f3";
constexpr size_t kMarkerChars = 6;
constexpr int kLiveLength = 12;
constexpr int kHeaderLength = 9;
constexpr int kBlockLength = 49;
constexpr int kTailHeaderLength = 7;
// Every marker begins with these, so a text without markers can lose all but its last five
// characters without losing the start of a marker that the next chunk completes.
constexpr size_t kMarkerPrefixChars = kMarkerChars - 1;
// Consumed text is skipped by an offset and only moved out of the way once this much piled up.
constexpr size_t kCompactThreshold = 4096;

// Only our own lowercase digits reach this.
inline uint8_t HexPair(const char* text) {
    return static_cast<uint8_t>((HexDigitValue(text[0]) << 4) | HexDigitValue(text[1]));
}

} // namespace

FrameAssembler::FrameAssembler(FrameSink& sink) : sink_(sink) {
    text_.reserve(kCompactThreshold + 256);
}

size_t FrameAssembler::Find(std::string_view marker) const {
    const size_t at = ReceiveText().find(marker);
    return at == std::string_view::npos ? at : head_ + at;
}

void FrameAssembler::ConvertFrame(int length) {
    const char* text = text_.data() + head_;
    for (int i = 0; i < length; ++i)
        frame_[i] = HexPair(text + 2 * i);
}

void FrameAssembler::Compact() {
    if (head_ == text_.size()) {
        text_.clear();
        head_ = 0;
    } else if (head_ >= kCompactThreshold) {
        text_.erase(0, head_);
        head_ = 0;
    }
}

void FrameAssembler::OnReceive(const uint8_t* bytes, int count) {
    if (closePrompted_)
        return;
    if (bytes == nullptr || count <= 0)
        return;
    if (IsPairAcknowledgement(bytes, count)) {
        paired_ = true;
        sink_.OnPairAcknowledged();
        return;
    }
    AppendHexText(text_, bytes, static_cast<size_t>(count));

    // Four passes, each at most once per chunk. A pass that finds its marker drops everything
    // before it, even an unfinished frame of another kind.
    bool markerFound = false;
    size_t at = Find(kLiveMarkerText);
    if (at != std::string::npos) {
        markerFound = true;
        downloading_ = false;
        head_ = at;
        if (Available() >= 2 * kLiveLength) {
            ConvertFrame(kLiveLength);
            if (multimeter_)
                sink_.OnLiveFrame(frame_.data(), kLiveLength);
            head_ += 2 * kLiveLength;
        }
    }

    at = Find(kHeaderMarkerText);
    if (at != std::string::npos) {
        markerFound = true;
        head_ = at;
        if (Available() >= 2 * kHeaderLength) {
            ConvertFrame(kHeaderLength);
            // A header announcing no records stays at the head and holds up the memory passes
            // until a live-reading marker cuts it away.
            if (frame_[5] == 0 && frame_[6] == 0) {
                Compact();
                return;
            }
            sink_.OnMemoryFrame(frame_.data(), kHeaderLength);
            head_ += 2 * kHeaderLength;
        }
    }

    at = Find(kBlockMarkerText);
    if (at != std::string::npos) {
        markerFound = true;
        head_ = at;
        if (Available() >= 2 * kBlockLength) {
            ConvertFrame(kBlockLength);
            sink_.OnMemoryFrame(frame_.data(), kBlockLength);
            head_ += 2 * kBlockLength;
        }
    }

    at = Find(kTailMarkerText);
    if (at != std::string::npos) {
        markerFound = true;
        head_ = at;
        if (Available() >= 2 * kTailHeaderLength) {
            const char* header = text_.data() + head_;
            const int payloadLength = HexPair(header + 10) * 256 + HexPair(header + 12);
            const int length = payloadLength + 9;
            if (length > kFrameBufferSize) {
                // Larger than any tail the meter sends and than the frame buffer: skip its marker.
                head_ += kMarkerChars;
            } else if (Available() >= 2 * static_cast<size_t>(length)) {
                ConvertFrame(length);
                sink_.OnMemoryFrame(frame_.data(), length);
                head_ += 2 * static_cast<size_t>(length);
            }
        }
    }

    if (!markerFound && Available() > kMarkerPrefixChars)
        head_ = text_.size() - kMarkerPrefixChars;
    Compact();
}

} // namespace calvora
