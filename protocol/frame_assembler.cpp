#include "protocol/frame_assembler.h"

#include "protocol/hex_text.h"
#include "protocol/pairing.h"

#include <cstring>
#include <iterator>

namespace calvora {

namespace {

// Marker texts are "00d5f" followed by the kind digit 0-3.
constexpr std::string_view kMarkerStem = "00d5f";
constexpr size_t kMarkerChars = 6;
// Every marker begins with these, so a text without markers can lose all but its last five
// characters without losing the start of a marker that the next chunk completes.
constexpr size_t kMarkerPrefixChars = kMarkerChars - 1;
// Consumed text is skipped by an offset and only moved out of the way once this much piled up.
constexpr size_t kCompactThreshold = 4096;
// Unconsumed text is kept up to what the driver's 4096-byte input queue holds; older bytes are given
// up as if lost on air, so memory and delay stay bounded while frames cannot be consumed (an empty
// memory header holding up the memory passes, say).
constexpr size_t kMaxBacklogChars = 2 * 4096;

// Only our own lowercase digits reach this: a lookup instead of HexDigitValue's range tests keeps the
// conversion of each frame cheap.
constexpr std::array<uint8_t, 256> kNibbleOfDigit = [] {
    std::array<uint8_t, 256> nibbles{};
    for (int digit = 0; digit < 16; ++digit)
        nibbles[static_cast<uint8_t>("0123456789abcdef"[digit])] = static_cast<uint8_t>(digit);
    return nibbles;
}();

inline uint8_t HexPair(const char* text) {
    return static_cast<uint8_t>(kNibbleOfDigit[static_cast<uint8_t>(text[0])] << 4 |
                                kNibbleOfDigit[static_cast<uint8_t>(text[1])]);
}

// A frame's length as its length rule reads it from the frame's text.
constexpr int kLengthNotYetKnown = 0;

// A memory tail: its 7-byte header carries L in bytes 5-6; the frame is L + 9 bytes.
int TailLength(std::string_view text) {
    constexpr size_t kHeaderChars = 2 * 7;
    if (text.size() < kHeaderChars)
        return kLengthNotYetKnown;
    return HexPair(text.data() + 10) * 256 + HexPair(text.data() + 12) + 9;
}

// A memory header announcing no records is neither handed on nor dropped: it stays at the head and
// holds up the later passes until a live-reading marker cuts it away.
bool AnnouncesNoRecords(const uint8_t* frame) {
    return frame[5] == 0 && frame[6] == 0;
}

enum class Sink { Live, Memory };

struct FrameRule {
    int kind;        // the marker is "00d5f" and this digit; also the index of its marker positions
    int fixedLength; // in bytes; 0 when lengthRule reads it from the frame's first bytes
    int (*lengthRule)(std::string_view frameText);
    bool (*holds)(const uint8_t* frame); // a complete frame that stays and ends the round; may be null
    Sink sink;
};

// The passes of one round, in this order. A pass that finds its marker drops everything before it,
// even an unfinished frame of another kind; a live-reading marker also ends a download.
constexpr FrameRule kFrameRules[] = {
    {0, 12, nullptr, nullptr, Sink::Live},
    {1, 9, nullptr, &AnnouncesNoRecords, Sink::Memory},
    {2, 49, nullptr, nullptr, Sink::Memory},
    {3, 0, &TailLength, nullptr, Sink::Memory},
};

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

inline FrameAssembler::Pass FrameAssembler::RunPass(size_t index) {
    const FrameRule& rule = kFrameRules[index];
    const size_t at = Find(rule.kind);
    if (at == std::string::npos)
        return Pass::NoMarker;
    if (rule.sink == Sink::Live)
        downloading_ = false;
    head_ = at;
    const int length = rule.fixedLength != 0 ? rule.fixedLength : rule.lengthRule(receiveText());
    if (length == kLengthNotYetKnown)
        return Pass::Waiting;
    if (length > kFrameBufferSize) {
        // It cannot fit the 60-byte frame buffer: drop its marker and go on.
        head_ += kMarkerChars;
        return Pass::MarkerDropped;
    }
    if (available() < 2 * static_cast<size_t>(length))
        return Pass::Waiting;
    ConvertFrame(length);
    if (rule.holds != nullptr && rule.holds(frame_.data()))
        return Pass::Held;
    if (rule.sink == Sink::Memory)
        sink_.OnMemoryFrame(frame_.data(), length);
    else if (liveFramesEnabled_)
        sink_.OnLiveFrame(frame_.data(), length);
    head_ += 2 * static_cast<size_t>(length);
    return Pass::Consumed;
}

bool FrameAssembler::RunRound() {
    bool markerFound = false;
    bool progress = false;
    // Unrolled and inlined, the table costs no more per chunk than four written-out passes.
#pragma GCC unroll 4
    for (size_t rule = 0; rule < std::size(kFrameRules); ++rule) {
        const Pass pass = RunPass(rule);
        markerFound = markerFound || pass != Pass::NoMarker;
        progress = progress || pass == Pass::Consumed || pass == Pass::MarkerDropped;
        if (pass == Pass::Held)
            break;
    }
    if (!markerFound && available() > kMarkerPrefixChars)
        head_ = text_.size() - kMarkerPrefixChars;
    return progress;
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
    // Rounds repeat, so frames that arrive faster than one per chunk are all handed on now instead of
    // waiting in the text. The loop ends: a round repeats only after one that consumed a frame or
    // dropped a marker, which removes at least a marker's six characters from the head, and nothing
    // is appended meanwhile. A round that only cuts text before a marker, waits for an incomplete
    // frame or stops at an empty header is no progress. Text shorter than a marker holds no frame.
    while (RunRound() && available() >= kMarkerChars) {
    }
    Compact();
}

} // namespace calvora
