// The recording document: one recording's samples, its 42-byte header, its channel names and the
// chart's settings and layout. Rows are parallel columns; the four texts of a row are ids into the
// document's TextPool so a loaded one-channel sample stays well under 128 bytes.
#pragma once

#include "chart/model/chart_model.h"
#include "chart/model/limits.h"
#include "recording/document_listeners.h"
#include "recording/text_pool.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>

namespace calvora {

// One sample as a value: what AppendSample stores and Sample(row) gives back.
struct SampleRecord {
    std::array<float, kMaxChannels> value{};
    std::array<float, kMaxChannels> fullScale{};
    int32_t lowLimit = 0;
    std::u16string functionName;
    std::u16string mode;
    std::u16string unit;
    std::u16string timeText;
};

// Kept byte for byte: bytes 5..41 are logger settings this program never interprets.
struct RecordingHeader {
    static constexpr size_t kSize = 42;
    static constexpr size_t kReservedSize = 37;

    uint32_t sampleCount = 0;
    uint8_t channelCount = 0;
    std::array<uint8_t, kReservedSize> reserved{};

    std::array<uint8_t, kSize> ToBytes() const;
    static RecordingHeader FromBytes(const uint8_t* bytes);
};

class RecordingDocument {
public:
    RecordingDocument() = default;
    RecordingDocument(const RecordingDocument&) = delete;
    RecordingDocument& operator=(const RecordingDocument&) = delete;
    RecordingDocument(RecordingDocument&&) = default;
    RecordingDocument& operator=(RecordingDocument&&) = default;

    uint32_t sampleCount() const { return header_.sampleCount; }
    uint8_t channelCount() const { return header_.channelCount; }
    uint32_t rowCapacity() const { return rowCapacity_; }
    const RecordingHeader& header() const { return header_; }

    // Starting a new recording on the live document only resets the count; its rows are
    // released when the first new sample arrives (BeginLiveStorage).
    void ResetSampleCount() { header_.sampleCount = 0; }
    // Counts above kMaxChannels are cut to kMaxChannels: the chart has five channel slots.
    void SetChannelCount(uint8_t count);
    // The logger settings read from a file, written back unchanged.
    void SetReserved(const std::array<uint8_t, RecordingHeader::kReservedSize>& reserved);

    // First sample of a live recording: releases the previous recording's rows and allocates
    // plannedSamples one-channel rows. Sets channelCount to 1, sampleCount to 0 and
    // allocatedRows to plannedSamples.
    // Returns false (no rows, allocatedRows 0) when memory runs out.
    bool BeginLiveStorage(uint32_t plannedSamples, uint32_t& allocatedRows);
    // Stores row sampleCount, counts it and tells the listeners. Returns false (and stores nothing) when
    // every allocated row is used.
    bool AppendSample(float value, float fullScale, int32_t lowLimit, std::u16string_view functionName,
                      std::u16string_view mode, std::u16string_view unit, std::u16string_view timeText);
    // Download and file reader: n rows of channelCount channels, all zero and empty;
    // sampleCount = rowCapacity = n. The filler announces the finished document (AnnounceReset).
    // Returns false (no rows, sampleCount 0) when memory runs out.
    bool FillRows(uint32_t n);
    void ReleaseRows();

    // Row accessors; rows at or past rowCapacity and channels past those allocated read as 0 / empty.
    float value(uint32_t row, int channel) const;
    float fullScale(uint32_t row, int channel) const;
    int32_t lowLimit(uint32_t row) const;
    // Text views stay valid until the rows are released.
    std::u16string_view functionName(uint32_t row) const { return Text(row, kFunction); }
    std::u16string_view mode(uint32_t row) const { return Text(row, kMode); }
    std::u16string_view unit(uint32_t row) const { return Text(row, kUnit); }
    std::u16string_view timeText(uint32_t row) const { return Text(row, kTime); }
    SampleRecord Sample(uint32_t row) const;

    // Writers for rows made by FillRows; out-of-range rows or channels are ignored.
    void SetValue(uint32_t row, int channel, float value, float fullScale);
    void SetLowLimit(uint32_t row, int32_t lowLimit);
    void SetTexts(uint32_t row, std::u16string_view functionName, std::u16string_view mode,
                  std::u16string_view unit, std::u16string_view timeText);
    // For bulk fills that see the same texts row after row: intern once, then set ids.
    TextPool::Id Intern(std::u16string_view text) { return pool_.Intern(text); }
    // Time texts repeat only on consecutive rows: stored without a lookup (see TextPool::Append).
    TextPool::Id AppendText(std::u16string_view text) { return pool_.Append(text); }
    void SetTextIds(uint32_t row, TextPool::Id functionName, TextPool::Id mode, TextPool::Id unit,
                    TextPool::Id timeText);

    // Chart-owned pixel positions per row and channel (never stored in a file).
    double xPos(uint32_t row, int channel) const;
    double yPos(uint32_t row, int channel) const;
    void SetXPos(uint32_t row, int channel, double x);
    void SetYPos(uint32_t row, int channel, double y);

    // Raw columns for loops over many rows, which would otherwise pay a range check per cell: cell
    // (row, channel) is element row * columnStride() + channel, for row < rowCapacity() and
    // channel < columnStride(). Null when no rows are held.
    int columnStride() const { return columnChannels_; }
    const float* valueColumn() const { return values_.data(); }
    const double* xPosColumn() const { return xPos_.data(); }
    const double* yPosColumn() const { return yPos_.data(); }
    double* xPosColumn() { return xPos_.data(); }
    double* yPosColumn() { return yPos_.data(); }

    // Listeners hear of appended samples, of a document filled anew and of changed chart settings. A
    // listener of rank DerivedState hears before every View.
    [[nodiscard]] DocumentSubscription Subscribe(DocumentListener& listener,
                                                 ListenerRank rank = ListenerRank::View) {
        return listeners_.Add(listener, rank);
    }
    size_t listenerCount() const { return listeners_.size(); }
    // Told by whoever replaced the samples as a whole, once the document is complete.
    void AnnounceReset() { listeners_.Reset(*this); }
    // Told by whoever changed the chart settings or scale.
    void AnnounceSettingsChanged() { listeners_.SettingsChanged(*this); }

    // Bytes held on the heap for the rows and their texts.
    size_t memoryBytes() const;
    // Releases the pool's spare capacity once a document is complete.
    void Compact();

    std::array<std::u16string, kMaxChannels> channelName;
    ChartSettings settings;
    ChartLayout layout;
    // Never stored in a record file: a document takes the program's limits for new documents.
    LimitSettings limits;
    std::u16string title;
    bool liveActive = false; // live samples are arriving
    int32_t activeTab = 0;   // 0 "Data Graph", 1 "Data List"
    bool timeAxis = false;   // the chart shows wall-clock time (View > Time Axis); never stored
    bool listTimerStarted = false;
    bool listDirty = false; // samples arrived since the list's last tick

private:
    enum TextColumn { kFunction, kMode, kUnit, kTime };
    using TextIds = std::array<TextPool::Id, 4>;

    // A zero-filled column from calloc: a long recording's rows come as untouched zero pages, so
    // the columns cost nothing until written, and running out of memory is a return value.
    template <typename T> class Column {
    public:
        Column() = default;
        Column(Column&& other) noexcept
            : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}
        Column& operator=(Column&& other) noexcept {
            if (this != &other) {
                std::free(data_);
                data_ = std::exchange(other.data_, nullptr);
                size_ = std::exchange(other.size_, 0);
            }
            return *this;
        }
        ~Column() { std::free(data_); }

        bool Reset(size_t size) {
            std::free(data_);
            data_ = size ? static_cast<T*>(std::calloc(size, sizeof(T))) : nullptr;
            size_ = data_ ? size : 0;
            return size_ == size;
        }
        T& operator[](size_t i) { return data_[i]; }
        const T& operator[](size_t i) const { return data_[i]; }
        T* data() { return data_; }
        const T* data() const { return data_; }
        size_t bytes() const { return size_ * sizeof(T); }

    private:
        T* data_ = nullptr;
        size_t size_ = 0;
    };

    bool Allocate(uint32_t rows, int channels);
    bool HasCell(uint32_t row, int channel) const {
        return row < rowCapacity_ && channel >= 0 && channel < columnChannels_;
    }
    size_t Cell(uint32_t row, int channel) const { return size_t{row} * columnChannels_ + channel; }
    std::u16string_view Text(uint32_t row, TextColumn column) const;

    RecordingHeader header_;
    uint32_t rowCapacity_ = 0;
    int columnChannels_ = 0; // channels per row in the allocated columns
    Column<float> values_;
    Column<float> fullScales_;
    Column<int32_t> lowLimits_;
    Column<TextIds> texts_;
    Column<double> xPos_;
    Column<double> yPos_;
    TextPool pool_;
    DocumentListeners listeners_;
};

} // namespace calvora
