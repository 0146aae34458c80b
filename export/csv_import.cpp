#include "export/csv_import.h"

#include "export/csv_export.h"
#include "export/sample_time.h"
#include "protocol/text.h"
#include "recording/recording_document.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace calvora {

namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
// Larger files are refused before they are read: 4 GiB is far more than the largest document's export.
constexpr uint64_t kMaxCsvBytes = uint64_t{4} << 30;

Failure<ReadFailure> LineDoesNotFit(uint64_t line, std::string_view why) {
    return Failure(
        ReadFailure::UnexpectedFormat,
        fromUtf8("line " + std::to_string(line) + " does not fit a csv export: " + std::string(why)));
}

std::string Shown(std::string_view field) {
    constexpr size_t kLongest = 40;
    std::string shown = "\"" + std::string(field.substr(0, kLongest));
    // Not half a character at the cut.
    while (field.size() > kLongest && !shown.empty() &&
           (static_cast<unsigned char>(shown.back()) & 0xC0) == 0x80)
        shown.pop_back();
    if (field.size() > kLongest && !shown.empty() && static_cast<unsigned char>(shown.back()) >= 0xC0)
        shown.pop_back();
    return shown + (field.size() > kLongest ? "...\"" : "\"");
}

// RFC 4180 records, one at a time; line ends are CR LF or LF.
class RecordReader {
public:
    RecordReader(std::string_view text, char delimiter) : text_(text), delimiter_(delimiter) {}

    bool atEnd() const { return pos_ >= text_.size(); }
    // The line the last record began on.
    uint64_t recordLine() const { return recordLine_; }

    // The next record's fields; "" or why the record is not one.
    std::string Next(std::vector<std::string>& fields) {
        fields.clear();
        recordLine_ = line_;
        for (;;) {
            std::string& field = fields.emplace_back();
            if (pos_ < text_.size() && text_[pos_] == '"') {
                ++pos_;
                for (;;) {
                    if (pos_ >= text_.size())
                        return "a quoted field is not closed";
                    const char c = text_[pos_++];
                    if (c == '"') {
                        if (pos_ < text_.size() && text_[pos_] == '"') {
                            field += '"';
                            ++pos_;
                            continue;
                        }
                        break;
                    }
                    if (c == '\n')
                        ++line_;
                    field += c;
                }
                if (pos_ < text_.size() && text_[pos_] != delimiter_ && text_[pos_] != '\r' &&
                    text_[pos_] != '\n')
                    return "a quoted field goes on after its closing quote";
            } else {
                const size_t start = pos_;
                while (pos_ < text_.size() && text_[pos_] != delimiter_ && text_[pos_] != '\r' &&
                       text_[pos_] != '\n') {
                    if (text_[pos_] == '"')
                        return "a quote inside a field that is not quoted";
                    ++pos_;
                }
                field.assign(text_.substr(start, pos_ - start));
            }
            if (pos_ >= text_.size())
                return {};
            const char end = text_[pos_++];
            if (end == delimiter_)
                continue;
            if (end == '\r') {
                if (pos_ >= text_.size() || text_[pos_] != '\n')
                    return "a carriage return that does not end the line";
                ++pos_;
            }
            ++line_;
            return {};
        }
    }

private:
    std::string_view text_;
    char delimiter_;
    size_t pos_ = 0;
    uint64_t line_ = 1;
    uint64_t recordLine_ = 1;
};

struct ParsedValue {
    float value = 0;
    std::string why; // not empty: the field is no value
};

class ValueReader {
public:
    explicit ValueReader(char delimiter) : commaAllowed_(delimiter != ',') {}

    ParsedValue Read(std::string_view field) {
        if (field == "OL")
            return {std::numeric_limits<float>::infinity(), {}};
        if (field == "-OL")
            return {-std::numeric_limits<float>::infinity(), {}};
        // The form std::to_chars writes: -?digits(.digits)?(e[+-]digits)?
        std::string number(field);
        size_t i = number.empty() || number[0] != '-' ? 0 : 1;
        auto digits = [&] {
            const size_t start = i;
            while (i < number.size() && number[i] >= '0' && number[i] <= '9')
                ++i;
            return i > start;
        };
        bool fits = digits();
        if (fits && i < number.size() && (number[i] == '.' || number[i] == ',')) {
            const char separator = number[i];
            if (separator == ',' && !commaAllowed_)
                return {0, "the value " + Shown(field) + " has a decimal comma beside the comma delimiter"};
            if (separator_ != 0 && separator != separator_)
                return {0, "the value " + Shown(field) + " has a decimal " +
                               (separator == ',' ? "comma" : "point") +
                               " where the lines above have a decimal " +
                               (separator_ == ',' ? "comma" : "point")};
            separator_ = separator;
            number[i++] = '.';
            fits = digits();
        }
        if (fits && i < number.size() && number[i] == 'e') {
            ++i;
            if (i < number.size() && (number[i] == '+' || number[i] == '-'))
                ++i;
            fits = digits();
        }
        if (!fits || i != number.size())
            return {0, "the value " + Shown(field) + " is neither a number nor OL or -OL"};
        float value = 0;
        const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
        if (error != std::errc() || end != number.data() + number.size() || !std::isfinite(value))
            return {0, "the value " + Shown(field) + " is beyond the range of the values a recording holds"};
        return {value, {}};
    }

private:
    bool commaAllowed_;
    char separator_ = 0; // the first decimal separator seen
};

// The sample number of a field: decimal digits without a leading zero, or 0.
uint64_t SampleNumber(std::string_view field) {
    if (field.empty() || field.size() > 18 || field[0] == '0')
        return 0;
    uint64_t n = 0;
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), n);
    return error == std::errc() && end == field.data() + field.size() ? n : 0;
}

struct Row {
    float value = 0;
    std::u16string time;
    std::u16string functionName;
    std::u16string mode;
    std::u16string unit;
};

// Reads every record after the header, checking each; `take` gets each sample (0-based row). Returns the
// number of samples, or why the first line that does not fit does not.
template <typename Take>
Outcome<uint32_t, ReadFailure> ReadRows(std::string_view body, char delimiter, uint64_t firstLine,
                                        Take&& take) {
    RecordReader records(body, delimiter);
    ValueReader values(delimiter);
    std::vector<std::string> fields;
    uint64_t expected = 0; // the next sample number; 0 before the first
    uint32_t count = 0;
    while (!records.atEnd()) {
        const std::string broken = records.Next(fields);
        const uint64_t line = firstLine + records.recordLine() - 1;
        if (!broken.empty())
            return LineDoesNotFit(line, broken);
        if (fields.size() != std::size(kCsvColumns))
            return LineDoesNotFit(line, "it has " + std::to_string(fields.size()) +
                                            (fields.size() == 1 ? " field" : " fields") + ", not 6");
        for (const std::string& field : fields) {
            if (!isUtf8(field))
                return LineDoesNotFit(line, "it is not UTF-8 text");
        }
        const uint64_t n = SampleNumber(fields[0]);
        if (n == 0 || (expected != 0 && n != expected))
            return LineDoesNotFit(
                line, "the sample number " + Shown(fields[0]) + " is not " +
                          (expected == 0 ? std::string("a number from 1 up") : std::to_string(expected)));
        expected = n + 1;
        const ParsedValue value = values.Read(fields[4]);
        if (!value.why.empty())
            return LineDoesNotFit(line, value.why);
        if (count >= kMaxFileSamples)
            return LineDoesNotFit(line, "a document holds at most 16,777,216 samples");
        take(count, value.value, fields);
        ++count;
    }
    return count;
}

// What follows the byte-order mark, if any, when it begins with a csv export's header; its delimiter.
std::optional<char> HeaderDelimiter(std::string_view text) {
    if (text.rfind(kUtf8Mark, 0) == 0)
        text.remove_prefix(kUtf8Mark.size());
    constexpr std::string_view kFirst = "sample";
    if (text.size() <= kFirst.size() || text.rfind(kFirst, 0) != 0)
        return std::nullopt;
    const char delimiter = text[kFirst.size()];
    if (delimiter != ',' && delimiter != ';' && delimiter != '\t')
        return std::nullopt;
    return delimiter;
}

Failure<ReadFailure> CannotOpen(int error) {
    return Failure(ReadFailure::CannotOpen, fromUtf8(std::strerror(error)));
}

} // namespace

Outcome<void, ReadFailure> ReadCsvExport(std::string_view text, RecordingDocument& document) {
    if (text.rfind("\xFF\xFE", 0) == 0 || text.rfind("\xFE\xFF", 0) == 0)
        return LineDoesNotFit(1, "the file is UTF-16 text (the table Save writes beside a recording); "
                                 "open the recording instead");
    const std::optional<char> delimiter = HeaderDelimiter(text);
    std::string header;
    if (delimiter) {
        for (const std::string_view column : kCsvColumns)
            header += (header.empty() ? "" : std::string(1, *delimiter)) + std::string(column);
    }
    if (text.rfind(kUtf8Mark, 0) == 0)
        text.remove_prefix(kUtf8Mark.size());
    const size_t headerEnd = text.find('\n');
    std::string_view first = text.substr(0, headerEnd);
    if (!first.empty() && first.back() == '\r')
        first.remove_suffix(1);
    if (!delimiter || first != header)
        return LineDoesNotFit(1, "it is not the header sample,time,function,mode,value,unit (with a comma, "
                                 "semicolon or tab between the names)");
    const std::string_view body =
        headerEnd == std::string_view::npos ? std::string_view() : text.substr(headerEnd + 1);

    const Outcome<uint32_t, ReadFailure> counted =
        ReadRows(body, *delimiter, 2, [](uint32_t, float, const auto&) {});
    if (!counted)
        return counted.failure();
    document.SetChannelCount(1);
    if (!document.FillRows(counted.value())) {
        document.ReleaseRows();
        return Failure(ReadFailure::UnexpectedFormat, u"not enough memory for the samples");
    }
    constexpr float kNoFullScale = std::numeric_limits<float>::max();
    constexpr int32_t kNoLowLimit = std::numeric_limits<int32_t>::min();
    ReadRows(body, *delimiter, 2, [&](uint32_t row, float value, const std::vector<std::string>& fields) {
        document.SetValue(row, 0, value, kNoFullScale);
        document.SetLowLimit(row, kNoLowLimit);
        document.SetTexts(row, fromUtf8(fields[2]), fromUtf8(fields[3]), fromUtf8(fields[5]),
                          ImportedTime(fromUtf8(fields[1])));
    });
    document.Compact();
    return {};
}

Outcome<void, ReadFailure> ReadCsvExportFile(const std::filesystem::path& path, RecordingDocument& document) {
    // Non-blocking so that a FIFO named by mistake is refused instead of waiting for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return CannotOpen(errno);
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const int error = errno;
        const bool folder = S_ISDIR(info.st_mode);
        ::close(fd);
        if (error == 0 && !folder)
            return Failure(ReadFailure::CannotOpen, u"Not a regular file");
        return CannotOpen(folder ? EISDIR : error);
    }
    if (static_cast<uint64_t>(info.st_size) > kMaxCsvBytes) {
        ::close(fd);
        return Failure(ReadFailure::UnexpectedFormat,
                       fromUtf8(path.string() + ": the file is larger than any csv export of a document"));
    }
    std::string text(static_cast<size_t>(info.st_size), '\0');
    size_t got = 0;
    while (got < text.size()) {
        const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            return CannotOpen(error);
        }
        if (n == 0)
            break;
        got += static_cast<size_t>(n);
    }
    ::close(fd);
    text.resize(got);
    Outcome<void, ReadFailure> read = ReadCsvExport(text, document);
    if (!read && read.kind() == ReadFailure::UnexpectedFormat)
        return Failure(ReadFailure::UnexpectedFormat, fromUtf8(path.string() + ": ") + read.reason());
    return read;
}

bool IsCsvFile(const std::filesystem::path& path) {
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == ".csv")
        return true;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    char head[16];
    const ssize_t n = ::read(fd, head, sizeof head);
    ::close(fd);
    return n > 0 && HeaderDelimiter(std::string_view(head, static_cast<size_t>(n))).has_value();
}

Outcome<void, ReadFailure> ReadDocumentFile(const std::filesystem::path& path, RecordingDocument& document) {
    return IsCsvFile(path) ? ReadCsvExportFile(path, document) : ReadRecordFile(path, document);
}

} // namespace calvora
