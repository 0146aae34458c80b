// Samples as the exports read them, whatever holds them: a recording document, or any other store of
// readings that can hand them out one by one in order. Rows are 0-based; the sample numbers the user
// reads are row + 1.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace calvora {

class RecordingDocument;

// One sample, first channel only. The texts stay valid until the source changes.
struct SampleView {
    float value = 0;
    float fullScale = 0;
    int32_t lowLimit = 0;
    std::u16string_view functionName;
    std::u16string_view mode;
    std::u16string_view unit;
    std::u16string_view timeText;
};

class SampleSource {
public:
    virtual ~SampleSource() = default;
    virtual uint64_t sampleCount() const = 0;
    // row < sampleCount().
    virtual SampleView Sample(uint64_t row) const = 0;
    // What the samples are called where an export shows a title (a chart's): the document's title.
    virtual std::u16string name() const = 0;
};

// Sample numbers first..last, 1-based and inclusive; empty when last < first.
struct SampleNumbers {
    uint64_t first = 1;
    uint64_t last = 0;

    uint64_t count() const { return last >= first ? last - first + 1 : 0; }
    bool operator==(const SampleNumbers&) const = default;
};

inline SampleNumbers AllSamples(const SampleSource& source) {
    return {1, source.sampleCount()};
}

// A recording document's samples.
class DocumentSamples final : public SampleSource {
public:
    explicit DocumentSamples(const RecordingDocument& document) : document_(document) {}
    uint64_t sampleCount() const override;
    SampleView Sample(uint64_t row) const override;
    std::u16string name() const override;

private:
    const RecordingDocument& document_;
};

} // namespace calvora
