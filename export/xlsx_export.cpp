#include "export/xlsx_export.h"

#include "export/csv_export.h"
#include "export/sample_time.h"
#include "protocol/text.h"

#include <xlsxwriter.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <unistd.h>
#include <vector>

namespace calvora {

namespace {

constexpr int kColumns = 6;
constexpr int kTimeColumn = 1;
constexpr int kValueColumn = 4;
constexpr double kMaxColumnWidth = 60;
constexpr std::string_view kDateTimeFormat = "yyyy-mm-dd hh:mm:ss";

struct WorkbookCloser {
    void operator()(lxw_workbook* workbook) const { workbook_close(workbook); }
};

// What one sample puts in the row: the value as the double that its shortest text reads as, so that a
// spreadsheet shows 0.1 and not 0.100000001490116.
struct Cells {
    std::optional<CalendarTime> time;
    std::string timeText;
    std::string functionName;
    std::string mode;
    std::optional<double> value;
    std::string valueText; // the overload, or the number as the csv has it
    std::string unit;
};

Cells CellsOf(const SampleView& sample) {
    Cells cells;
    const std::u16string time = ExportedTime(sample.timeText);
    cells.time = ParseIsoTime(time);
    cells.timeText = toUtf8(time);
    cells.functionName = toUtf8(sample.functionName);
    cells.mode = toUtf8(sample.mode);
    const std::u16string_view overload = OverloadText(sample.value, sample.fullScale, sample.lowLimit);
    if (overload.empty()) {
        cells.valueText = ShortestFloatText(sample.value);
        cells.value = std::strtod(cells.valueText.c_str(), nullptr);
    } else {
        cells.valueText = toUtf8(overload);
    }
    cells.unit = toUtf8(sample.unit);
    return cells;
}

// Characters as a spreadsheet counts them for a column's width (UTF-8 continuation bytes are not).
size_t DisplayLength(std::string_view text) {
    return static_cast<size_t>(std::count_if(
        text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

Failure<> LibraryFailure(lxw_error error) {
    return Failure(fromUtf8(lxw_strerror(error)));
}

std::string CellRange(const char* sheet, char column, uint64_t lastRow) {
    return std::string("='") + sheet + "'!$" + column + "$2:$" + column + "$" + std::to_string(lastRow);
}

} // namespace

XlsxFile::~XlsxFile() {
    if (!folder_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
}

Outcome<void> XlsxFile::Build(const SampleSource& source, SampleNumbers range) {
    if (range.count() > kMaxXlsxSamples)
        return Failure(u"a sheet holds at most 1,048,575 samples");
    if (folder_.empty()) {
        std::error_code error;
        std::filesystem::path temporary = std::filesystem::temp_directory_path(error);
        if (error) // it names no folder: say what it was told
            temporary = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp";
        std::string pattern = (temporary / "calvora-xlsx-XXXXXX").string();
        if (error || ::mkdtemp(pattern.data()) == nullptr)
            return Failure(fromUtf8("no folder for the workbook in " + temporary.string() + ": " +
                                    std::strerror(error ? error.value() : errno)));
        folder_ = pattern;
        file_ = folder_ / "export.xlsx";
    }

    // The first pass finds the column widths and whether any sample is an overload; the rows are then
    // written in order, each one leaving memory once it is complete.
    std::array<size_t, kColumns> widths{};
    for (int c = 0; c < kColumns; ++c)
        widths[c] = kCsvColumns[c].size();
    bool overloads = false;
    std::vector<std::string> units;
    for (uint64_t i = 0; i < range.count(); ++i) {
        const uint64_t n = range.first + i;
        const Cells cells = CellsOf(source.Sample(n - 1));
        widths[0] = std::max(widths[0], std::to_string(n).size());
        widths[kTimeColumn] = std::max(widths[kTimeColumn],
                                       cells.time ? kDateTimeFormat.size() : DisplayLength(cells.timeText));
        widths[2] = std::max(widths[2], DisplayLength(cells.functionName));
        widths[3] = std::max(widths[3], DisplayLength(cells.mode));
        widths[kValueColumn] = std::max(widths[kValueColumn], cells.valueText.size());
        widths[5] = std::max(widths[5], DisplayLength(cells.unit));
        overloads = overloads || !cells.value;
        if (!cells.unit.empty() && std::find(units.begin(), units.end(), cells.unit) == units.end())
            units.push_back(cells.unit);
    }

    std::string tmpdir = folder_.string();
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    options.tmpdir = tmpdir.data();
    std::unique_ptr<lxw_workbook, WorkbookCloser> workbook(workbook_new_opt(file_.c_str(), &options));
    if (!workbook)
        return Failure(u"the spreadsheet library could not start a workbook");
    lxw_worksheet* data = workbook_add_worksheet(workbook.get(), "Data");
    lxw_chartsheet* chartSheet = workbook_add_chartsheet(workbook.get(), "Chart");
    lxw_worksheet* plotted = overloads ? workbook_add_worksheet(workbook.get(), "Chart values") : nullptr;
    lxw_format* header = workbook_add_format(workbook.get());
    format_set_bold(header);
    lxw_format* dateTime = workbook_add_format(workbook.get());
    format_set_num_format(dateTime, std::string(kDateTimeFormat).c_str());
    if (!data || !chartSheet || (overloads && !plotted) || !header || !dateTime)
        return Failure(u"the spreadsheet library could not lay out the workbook");

    worksheet_freeze_panes(data, 1, 0);
    for (int c = 0; c < kColumns; ++c) {
        const double width = std::min(static_cast<double>(widths[c]) + 2, kMaxColumnWidth);
        if (const lxw_error error = worksheet_set_column(data, c, c, width, nullptr); error != LXW_NO_ERROR)
            return LibraryFailure(error);
    }
    lxw_error error = LXW_NO_ERROR;
    for (int c = 0; c < kColumns && !error; ++c)
        error = worksheet_write_string(data, 0, c, std::string(kCsvColumns[c]).c_str(), header);
    if (plotted && !error)
        error = worksheet_write_string(plotted, 0, 0, "value", header);

    auto text = [&](lxw_row_t row, lxw_col_t column, const std::string& value) {
        // An empty text stays an empty cell.
        if (!error && !value.empty())
            error = worksheet_write_string(data, row, column, value.c_str(), nullptr);
    };
    for (uint64_t i = 0; i < range.count() && !error; ++i) {
        const uint64_t n = range.first + i;
        const Cells cells = CellsOf(source.Sample(n - 1));
        const auto row = static_cast<lxw_row_t>(i + 1);
        error = worksheet_write_number(data, row, 0, static_cast<double>(n), nullptr);
        if (cells.time && !error) {
            lxw_datetime when{cells.time->year,   cells.time->month,
                              cells.time->day,    cells.time->hour,
                              cells.time->minute, cells.time->second + cells.time->millisecond / 1000.0};
            error = worksheet_write_datetime(data, row, kTimeColumn, &when, dateTime);
        } else {
            text(row, kTimeColumn, cells.timeText);
        }
        text(row, 2, cells.functionName);
        text(row, 3, cells.mode);
        if (cells.value && !error)
            error = worksheet_write_number(data, row, kValueColumn, *cells.value, nullptr);
        else
            text(row, kValueColumn, cells.valueText);
        text(row, 5, cells.unit);
        if (plotted && cells.value && !error)
            error = worksheet_write_number(plotted, row, 0, *cells.value, nullptr);
    }
    if (error)
        return LibraryFailure(error);
    if (plotted)
        worksheet_hide(plotted);

    lxw_chart* chart = workbook_add_chart(workbook.get(), LXW_CHART_LINE);
    if (!chart)
        return Failure(u"the spreadsheet library could not make the chart");
    const uint64_t lastRow = range.count() + 1;
    if (range.count() > 0) {
        const std::string categories = CellRange("Data", 'A', lastRow);
        const std::string values =
            plotted ? CellRange("Chart values", 'A', lastRow) : CellRange("Data", 'E', lastRow);
        if (!chart_add_series(chart, categories.c_str(), values.c_str()))
            return Failure(u"the spreadsheet library could not make the chart");
    }
    std::string unitList;
    for (const std::string& unit : units)
        unitList += (unitList.empty() ? "" : ", ") + unit;
    std::string title = toUtf8(source.name());
    if (title.empty())
        title = "Samples";
    if (!unitList.empty())
        title += " (" + unitList + ")";
    chart_title_set_name(chart, title.c_str());
    chart_axis_set_name(chart->x_axis, "sample");
    if (!unitList.empty())
        chart_axis_set_name(chart->y_axis, unitList.c_str());
    chart_legend_set_position(chart, LXW_CHART_LEGEND_NONE);
    chart_show_blanks_as(chart, LXW_CHART_BLANKS_AS_GAP);
    if (const lxw_error set = chartsheet_set_chart(chartSheet, chart); set != LXW_NO_ERROR)
        return LibraryFailure(set);
    // The workbook is written when it is closed.
    if (const lxw_error closed = workbook_close(workbook.release()); closed != LXW_NO_ERROR)
        return LibraryFailure(closed);
    return {};
}

bool XlsxFile::CopyTo(ByteSink& sink) const {
    const int fd = ::open(file_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    uint8_t buffer[64 * 1024];
    bool ok = true;
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            ok = ok && got == 0;
            break;
        }
        if (!sink.Write(buffer, static_cast<size_t>(got))) {
            ok = false;
            break;
        }
    }
    ::close(fd);
    return ok;
}

} // namespace calvora
