#include "protocol/frame_assembler.h"

#include "protocol/hex_text.h"
#include "protocol/pairing.h"

#include <cstring>

namespace calvora {

namespace {

// Marker texts are "00d5f" followed by the kind digit 0-3.
constexpr std::string_view kMarkerStem = "00d5f";
constexpr int kLiveKind = 0;
constexpr int kHeaderKind = 1;
constexpr int kBlockKind = 2;
constexpr int kTailKind = 3;
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
// One frame per kind and chunk falls behind a stream with several frames per chunk. Unconsumed text is
// kept up to what the driver's 4096-byte input queue holds; older bytes are given up as if lost on air,
// so memory and delay stay bounded. A meter sending a few readings a second never comes near it.
constexpr size_t kMaxBacklogChars = 2 * 4096;

// Only our own lowercase digits reach this.
inline uint8_t HexPair(const char* text) {
    return static_cast<uint8_t>((HexDigitValue(text[0]) << 4) | HexDigitValue(text[1]));
}

} // namespace

FrameAssembler::FrameAssembler(FrameSink& sink) : sink_(sink) {
    text_.reserve(kCompactThreshold + 256);
}

void FrameAssembler::AppendChunk(const uint8_t* bytes, int count) {
    const size_t oldSize = text_.size();
    AppendHexText(text_, bytes, static_cast<size_t>(count));
    // Markers that end in the new text may start up to five characters before it.
    size_t at = oldSize >= head_ + kMarkerPrefixChars ? oldSize - kMarkerPrefixChars : head_;
    const char* text = text_.data();
    const size_t end = text_.size();
    while (at + kMarkerChars <= end) {
        const void* found = std::memchr(text + at + 2, 'd', end - at - 2);
        if (found == nullptr)
            break;
        const size_t d = static_cast<size_t>(static_cast<const char*>(found) - text);
        at = d - 2;
        if (d + 4 > end)
            break;
        const char kind = text[d + 3];
        if (std::string_view(text + at, kMarkerStem.size()) == kMarkerStem && kind >= '0' && kind <= '3')
            markers_[kind - '0'].positions.push_back(at);
        ++at;
    }
}

size_t FrameAssembler::Find(int kind) {
    MarkerPositions& marker = markers_[kind];
    while (marker.first < marker.positions.size() && marker.positions[marker.first] < head_)
        ++marker.first;
    return marker.first < marker.positions.size() ? marker.positions[marker.first] : std::string::npos;
}

void FrameAssembler::ConvertFrame(int length) {
    const char* text = text_.data() + head_;
    for (int i = 0; i < length; ++i)
        frame_[i] = HexPair(text + 2 * i);
}

void FrameAssembler::Compact() {
    if (head_ != text_.size() && head_ < kCompactThreshold)
        return;
    for (MarkerPositions& marker : markers_) {
        auto kept = marker.positions.begin() + static_cast<std::ptrdiff_t>(marker.first);
        while (kept != marker.positions.end() && *kept < head_)
            ++kept;
        marker.positions.erase(marker.positions.begin(), kept);
        marker.first = 0;
        for (size_t& position : marker.positions)
            position -= head_;
    }
    text_.erase(0, head_);
    head_ = 0;
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
    AppendChunk(bytes, count);
    if (available() > kMaxBacklogChars)
        head_ = text_.size() - kMaxBacklogChars;

    // Four passes, each at most once per chunk. A pass that finds its marker drops everything
    // before it, even an unfinished frame of another kind.
    bool markerFound = false;
    size_t at = Find(kLiveKind);
    if (at != std::string::npos) {
        markerFound = true;
        downloading_ = false;
        head_ = at;
        if (available() >= 2 * kLiveLength) {
            ConvertFrame(kLiveLength);
            if (multimeter_)
                sink_.OnLiveFrame(frame_.data(), kLiveLength);
            head_ += 2 * kLiveLength;
        }
    }

    at = Find(kHeaderKind);
    if (at != std::string::npos) {
        markerFound = true;
        head_ = at;
        if (available() >= 2 * kHeaderLength) {
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

    at = Find(kBlockKind);
    if (at != std::string::npos) {
        markerFound = true;
        head_ = at;
        if (available() >= 2 * kBlockLength) {
            ConvertFrame(kBlockLength);
            sink_.OnMemoryFrame(frame_.data(), kBlockLength);
            head_ += 2 * kBlockLength;
        }
    }

    at = Find(kTailKind);
    if (at != std::string::npos) {
        markerFound = true;
        head_ = at;
        if (available() >= 2 * kTailHeaderLength) {
            const char* header = text_.data() + head_;
            const int payloadLength = HexPair(header + 10) * 256 + HexPair(header + 12);
            const int length = payloadLength + 9;
            if (length > kFrameBufferSize) {
                // It cannot fit the 60-byte frame buffer: drop its marker and go on.
                head_ += kMarkerChars;
            } else if (available() >= 2 * static_cast<size_t>(length)) {
                ConvertFrame(length);
                sink_.OnMemoryFrame(frame_.data(), length);
                head_ += 2 * static_cast<size_t>(length);
            }
        }
    }

    if (!markerFound && available() > kMarkerPrefixChars)
        head_ = text_.size() - kMarkerPrefixChars;
    Compact();
}

} // namespace calvora
