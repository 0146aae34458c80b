// Where the file writers put their bytes: a file, or memory for tests and tools. Writers gather
// their output in a buffer and hand it over in large pieces, so one virtual call per piece is cheap.
#pragma once

#include "recording/little_endian.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace calvora {

class ByteSink {
public:
    virtual ~ByteSink() = default;
    // False once anything could not be written; the sink then ignores further writes.
    virtual bool Write(const uint8_t* data, size_t size) = 0;
};

class MemorySink final : public ByteSink {
public:
    bool Write(const uint8_t* data, size_t size) override {
        bytes.insert(bytes.end(), data, data + size);
        return true;
    }
    std::vector<uint8_t> bytes;
};

// Collects little-endian fields and passes them to a sink in 64 KiB pieces.
class BufferedWriter {
public:
    explicit BufferedWriter(ByteSink& sink) : sink_(sink) { buffer_.reserve(kChunk); }

    void Bytes(const uint8_t* data, size_t size) {
        if (buffer_.size() + size > kChunk)
            Flush();
        if (size > kChunk)
            ok_ = ok_ && sink_.Write(data, size);
        else
            buffer_.insert(buffer_.end(), data, data + size);
    }
    void U8(uint8_t v) { Bytes(&v, 1); }
    void U16(uint16_t v) {
        uint8_t b[2];
        PutLittleEndian16(b, v);
        Bytes(b, 2);
    }
    void U32(uint32_t v) {
        uint8_t b[4];
        PutLittleEndian32(b, v);
        Bytes(b, 4);
    }
    void F32(float v);
    // UTF-16LE code units, no terminator.
    void Utf16(std::u16string_view text);
    // Hands over what is buffered; returns false if anything written so far failed.
    bool Flush() {
        if (!buffer_.empty()) {
            ok_ = ok_ && sink_.Write(buffer_.data(), buffer_.size());
            buffer_.clear();
        }
        return ok_;
    }

private:
    static constexpr size_t kChunk = 64 * 1024;
    ByteSink& sink_;
    std::vector<uint8_t> buffer_;
    bool ok_ = true;
};

} // namespace calvora
