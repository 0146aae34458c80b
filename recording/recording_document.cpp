#include "recording/recording_document.h"

#include "recording/little_endian.h"

#include <algorithm>

namespace calvora {

std::array<uint8_t, RecordingHeader::kSize> RecordingHeader::ToBytes() const {
    std::array<uint8_t, kSize> bytes{};
    PutLittleEndian32(bytes.data(), sampleCount);
    bytes[4] = channelCount;
    std::copy(reserved.begin(), reserved.end(), bytes.begin() + 5);
    return bytes;
}

RecordingHeader RecordingHeader::FromBytes(const uint8_t* bytes) {
    RecordingHeader header;
    header.sampleCount = LittleEndian32(bytes);
    header.channelCount = bytes[4];
    std::copy(bytes + 5, bytes + kSize, header.reserved.begin());
    return header;
}

void RecordingDocument::SetChannelCount(uint8_t count) {
    header_.channelCount = std::min<uint8_t>(count, kMaxChannels);
}

void RecordingDocument::SetReserved(const std::array<uint8_t, RecordingHeader::kReservedSize>& reserved) {
    header_.reserved = reserved;
}

bool RecordingDocument::Allocate(uint32_t rows, int channels) {
    ReleaseRows();
    const size_t cells = size_t{rows} * channels;
    if (!values_.Reset(cells) || !fullScales_.Reset(cells) || !xPos_.Reset(cells) || !yPos_.Reset(cells) ||
        !lowLimits_.Reset(rows) || !texts_.Reset(rows)) {
        ReleaseRows();
        return false;
    }
    rowCapacity_ = rows;
    columnChannels_ = channels;
    return true;
}

bool RecordingDocument::BeginLiveStorage(uint32_t plannedSamples, uint32_t& allocatedRows) {
    header_.channelCount = 1;
    header_.sampleCount = 0;
    const bool allocated = Allocate(plannedSamples, 1);
    allocatedRows = rowCapacity_;
    return allocated;
}

bool RecordingDocument::AppendSample(float value, float fullScale, int32_t lowLimit,
                                     std::u16string_view functionName, std::u16string_view mode,
                                     std::u16string_view unit, std::u16string_view timeText) {
    const uint32_t row = header_.sampleCount;
    if (row >= rowCapacity_ || columnChannels_ < 1)
        return false;
    SetValue(row, 0, value, fullScale);
    lowLimits_[row] = lowLimit;
    SetTexts(row, functionName, mode, unit, timeText);
    header_.sampleCount = row + 1;
    listeners_.SamplesAppended(*this, row, 1);
    return true;
}

bool RecordingDocument::FillRows(uint32_t n) {
    const bool allocated = Allocate(n, header_.channelCount);
    header_.sampleCount = rowCapacity_;
    return allocated;
}

void RecordingDocument::ReleaseRows() {
    values_.Reset(0);
    fullScales_.Reset(0);
    xPos_.Reset(0);
    yPos_.Reset(0);
    lowLimits_.Reset(0);
    texts_.Reset(0);
    pool_.Clear();
    rowCapacity_ = 0;
    columnChannels_ = 0;
}

float RecordingDocument::value(uint32_t row, int channel) const {
    return HasCell(row, channel) ? values_[Cell(row, channel)] : 0.0f;
}

float RecordingDocument::fullScale(uint32_t row, int channel) const {
    return HasCell(row, channel) ? fullScales_[Cell(row, channel)] : 0.0f;
}

int32_t RecordingDocument::lowLimit(uint32_t row) const {
    return row < rowCapacity_ ? lowLimits_[row] : 0;
}

std::u16string_view RecordingDocument::Text(uint32_t row, TextColumn column) const {
    return row < rowCapacity_ ? pool_.Text(texts_[row][column]) : std::u16string_view{};
}

SampleRecord RecordingDocument::Sample(uint32_t row) const {
    SampleRecord record;
    for (int c = 0; c < kMaxChannels; ++c) {
        record.value[c] = value(row, c);
        record.fullScale[c] = fullScale(row, c);
    }
    record.lowLimit = lowLimit(row);
    record.functionName = functionName(row);
    record.mode = mode(row);
    record.unit = unit(row);
    record.timeText = timeText(row);
    return record;
}

void RecordingDocument::SetValue(uint32_t row, int channel, float value, float fullScale) {
    if (!HasCell(row, channel))
        return;
    values_[Cell(row, channel)] = value;
    fullScales_[Cell(row, channel)] = fullScale;
}

void RecordingDocument::SetLowLimit(uint32_t row, int32_t lowLimit) {
    if (row < rowCapacity_)
        lowLimits_[row] = lowLimit;
}

void RecordingDocument::SetTexts(uint32_t row, std::u16string_view functionName, std::u16string_view mode,
                                 std::u16string_view unit, std::u16string_view timeText) {
    if (row >= rowCapacity_)
        return;
    // A time text is shared with the row before when equal; otherwise it is new (time moves on).
    TextPool::Id time = TextPool::kEmpty;
    if (row > 0 && pool_.Text(texts_[row - 1][kTime]) == timeText)
        time = texts_[row - 1][kTime];
    else
        time = pool_.Append(timeText);
    texts_[row] = {pool_.Intern(functionName), pool_.Intern(mode), pool_.Intern(unit), time};
}

void RecordingDocument::SetTextIds(uint32_t row, TextPool::Id functionName, TextPool::Id mode,
                                   TextPool::Id unit, TextPool::Id timeText) {
    const TextPool::Id limit = static_cast<TextPool::Id>(pool_.size());
    if (row < rowCapacity_ && functionName < limit && mode < limit && unit < limit && timeText < limit)
        texts_[row] = {functionName, mode, unit, timeText};
}

double RecordingDocument::xPos(uint32_t row, int channel) const {
    return HasCell(row, channel) ? xPos_[Cell(row, channel)] : 0.0;
}

double RecordingDocument::yPos(uint32_t row, int channel) const {
    return HasCell(row, channel) ? yPos_[Cell(row, channel)] : 0.0;
}

void RecordingDocument::SetXPos(uint32_t row, int channel, double x) {
    if (HasCell(row, channel))
        xPos_[Cell(row, channel)] = x;
}

void RecordingDocument::SetYPos(uint32_t row, int channel, double y) {
    if (HasCell(row, channel))
        yPos_[Cell(row, channel)] = y;
}

size_t RecordingDocument::memoryBytes() const {
    return values_.bytes() + fullScales_.bytes() + xPos_.bytes() + yPos_.bytes() + lowLimits_.bytes() +
           texts_.bytes() + pool_.memoryBytes();
}

void RecordingDocument::Compact() {
    pool_.ShrinkToFit();
}

} // namespace calvora
