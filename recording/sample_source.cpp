#include "recording/sample_source.h"

#include "recording/recording_document.h"

namespace calvora {

uint64_t DocumentSamples::sampleCount() const {
    return document_.sampleCount();
}

SampleView DocumentSamples::Sample(uint64_t row64) const {
    const auto row = static_cast<uint32_t>(row64);
    return {document_.value(row, 0),     document_.fullScale(row, 0), document_.lowLimit(row),
            document_.functionName(row), document_.mode(row),         document_.unit(row),
            document_.timeText(row)};
}

std::u16string DocumentSamples::name() const {
    return document_.title;
}

} // namespace calvora
