// calvora-cli info / export / convert: look into a .recorder file (or a csv export), export its samples, or
// rewrite it with the record writer. These are how files are checked from outside the program.
#include "chart/chart_layout.h"
#include "export/export_file.h"
#include "logging/log_document.h"
#include "logging/log_samples.h"
#include "protocol/formatters.h"
#include "protocol/hex_text.h"
#include "protocol/text.h"
#include "recording/record_file.h"
#include "recording/recording_document.h"
#include "tools/cli/command_registry.h"
#include "tools/cli/json_output.h"
#include "tools/cli/log_files.h"
#include "tools/cli/output.h"
#include "tools/cli/sample_range.h"

#include <nlohmann/json.hpp>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>

namespace calvora::cli {

namespace {

// Reads FILE into `document`; prints why not and gives the exit code when it fails. A continuous log comes
// as the recording of its readings in `span`.
int Load(const std::string& file, RecordingDocument& document, const TimeSpanOptions& span = {}) {
    if (IsLogFile(file))
        return LoadLogAsRecording(file, span, document);
    if (span.given()) {
        std::cerr << "calvora-cli: --from and --to choose a span of a continuous log; " << file
                  << " is a recording\n";
        return ExitUsage;
    }
    if (!span.meter.empty()) {
        std::cerr << "calvora-cli: --meter chooses a meter of a continuous log; " << file
                  << " is a recording\n";
        return ExitUsage;
    }
    return LoadRecording(file, document);
}

std::string Dumped(const Json& json) {
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

Json SampleJson(const RecordingDocument& document, uint32_t row) {
    Json values = Json::array();
    Json fullScales = Json::array();
    for (int c = 0; c < document.channelCount(); ++c) {
        values.push_back(ShortestNumber(document.value(row, c)));
        fullScales.push_back(ShortestNumber(document.fullScale(row, c)));
    }
    Json sample;
    sample["value"] = std::move(values);
    sample["fullScale"] = std::move(fullScales);
    sample["lowLimit"] = document.lowLimit(row);
    sample["functionName"] = toUtf8(document.functionName(row));
    sample["mode"] = toUtf8(document.mode(row));
    sample["unit"] = toUtf8(document.unit(row));
    sample["timeText"] = toUtf8(document.timeText(row));
    return sample;
}

// The whole document as one JSON object, written a sample at a time: built as one tree, the samples
// took about twenty times the memory of the document itself.
void WriteDocumentJson(std::ostream& out, const RecordingDocument& document) {
    const int channels = document.channelCount();
    Json head;
    head["model"] = toUtf8(kModelString);
    head["sampleCount"] = document.sampleCount();
    head["channelCount"] = channels;
    head["reserved"] = ToHexText(document.header().reserved.data(), document.header().reserved.size());
    std::string text = Dumped(head);
    text.pop_back(); // the closing brace: the samples come next
    out << text << ",\"samples\":[";
    for (uint32_t row = 0; row < document.sampleCount(); ++row) {
        if (row > 0)
            out << ',';
        out << Dumped(SampleJson(document, row));
    }
    out << ']';

    const ChartSettings& settings = document.settings;
    Json tail;
    Json channelList = Json::array();
    for (int c = 0; c < channels; ++c) {
        Json channel;
        channel["name"] = toUtf8(document.channelName[c]);
        channel["traceVisible"] = settings.traceVisible[c];
        channel["alarmHigh"] = settings.alarmHigh[c];
        channel["alarmLow"] = settings.alarmLow[c];
        channel["markPoints"] = settings.markPoints[c];
        channel["traceColour"] = settings.traceColour[c];
        channel["traceAxis"] = settings.traceAxis[c];
        channelList.push_back(std::move(channel));
    }
    tail["channels"] = std::move(channelList);
    Json chart;
    chart["customMax"] = ShortestNumber(settings.customMax);
    chart["customMin"] = ShortestNumber(settings.customMin);
    chart["gridVisible"] = settings.gridVisible;
    chart["verticalAxisVisible"] = settings.verticalAxisVisible;
    chart["backgroundColour"] = settings.backgroundColour;
    chart["gridColour"] = settings.gridColour;
    tail["chart"] = std::move(chart);
    tail["axisMin"] = ShortestNumber(settings.axisMin);
    tail["axisMax"] = ShortestNumber(settings.axisMax);
    text = Dumped(tail);
    out << ',' << std::string_view(text).substr(1) << '\n';
}

// Texts from a file as a terminal may show them: control characters (escape, carriage return, bell and
// the rest) become visible escapes, so a recording cannot retitle, clear or rewrite the user's terminal.
std::string TerminalText(std::u16string_view text) {
    std::u16string shown;
    shown.reserve(text.size());
    for (const char16_t c : text) {
        if (c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F)) {
            char escape[8];
            std::snprintf(escape, sizeof escape, c < 0x80 ? "\\x%02x" : "\\u%04x", static_cast<unsigned>(c));
            shown += fromAscii(escape);
        } else if (c == u'\\') {
            shown += u"\\\\"; // so that an escape in the output always stands for a control character
        } else {
            shown += c;
        }
    }
    return toUtf8(shown);
}

void PrintSummary(const std::string& file, const RecordingDocument& document) {
    std::printf("File:      %s\n", TerminalText(fromUtf8(file)).c_str());
    std::printf("Model:     %s\n", toUtf8(kModelString).c_str());
    std::printf("Samples:   %u\n", document.sampleCount());
    std::printf("Channels:  %d\n", document.channelCount());
    std::printf("Scale:     %s .. %s\n", toUtf8(FormatScaleValue(document.settings.axisMin)).c_str(),
                toUtf8(FormatScaleValue(document.settings.axisMax)).c_str());
    const uint32_t count = document.sampleCount();
    const auto printRow = [&](const char* label, uint32_t row) {
        std::printf("%s %u: %s %s %s %s,%s\n", label, row + 1,
                    TerminalText(document.functionName(row)).c_str(),
                    TerminalText(document.mode(row)).c_str(),
                    toUtf8(FormatStoredValue(document.value(row, 0), document.fullScale(row, 0),
                                             document.lowLimit(row)))
                        .c_str(),
                    TerminalText(document.unit(row)).c_str(), TerminalText(document.timeText(row)).c_str());
    };
    if (count > 0)
        printRow("First:    ", 0);
    if (count > 1)
        printRow("Last:     ", count - 1);
}

struct ExportCommandOptions {
    std::string format = "recorder-csv";
    std::string delimiterName = ",";
    CLI::Option* delimiter = nullptr;
    CLI::Option* decimalComma = nullptr;
    bool decimalCommaGiven = false;
    SampleRangeOptions range;
    std::string file;
    std::string out;
};

int RunExport(const ExportCommandOptions& command) {
    ExportOptions options;
    options.format = ExportFormatNamed(command.format).value_or(ExportFormat::RecorderText);
    const bool csvOptions = command.delimiter->count() > 0 || command.decimalComma->count() > 0;
    if (csvOptions && options.format != ExportFormat::Csv) {
        std::cerr << "calvora-cli: --delimiter and --decimal-comma go with --format csv only\n";
        return ExitUsage;
    }
    options.csv.delimiter = command.delimiterName == "tab" ? '\t' : command.delimiterName.front();
    options.csv.decimalComma = command.decimalComma->count() > 0;
    if (!options.csv.valid()) {
        std::cerr
            << "calvora-cli: --decimal-comma cannot go with the , delimiter (each value would become two "
               "fields): add --delimiter ';' or --delimiter tab\n";
        return ExitUsage;
    }
    // A continuous log is exported as it is, its span chosen by time; a recording's by sample number.
    RecordingDocument document;
    OpenedLog log;
    std::unique_ptr<SampleSource> source;
    if (IsLogFile(command.file)) {
        if (const int code = OpenLogSpan(command.file, command.range.timeSpan(), log); code != ExitOk)
            return code;
        source = std::make_unique<LogSamples>(*log.log, log.range, LogSourceName(command.file, log));
    } else {
        if (const int code = Load(command.file, document, {{}, {}, command.range.timeSpan().meter});
            code != ExitOk)
            return code;
        source = std::make_unique<DocumentSamples>(document);
        const Outcome<SampleNumbers> range = command.range.Resolve(source->sampleCount());
        if (!range) {
            std::cerr << "calvora-cli: " << toUtf8(range.reason()) << "\n";
            return ExitUsage;
        }
        if (command.range.given())
            options.range = range.value();
    }
    const SampleSource& samples = *source;
    if (const std::u16string problem = ExportProblem(options, samples.sampleCount()); !problem.empty()) {
        std::cerr << "calvora-cli: " << toUtf8(problem) << "\n";
        return ExitUsage;
    }
    // What went to standard output through the stream so far comes before the file's bytes.
    std::cout.flush();
    const Outcome<void> written = ExportSamples(samples, options, command.out);
    if (written)
        return ExitOk;
    std::cerr << "calvora-cli: " << toUtf8(written.reason()) << "\n";
    return ExitFailure;
}

const bool registered = [] {
    registerCommand({"info", "Show the contents of a .recorder file, a csv export or a continuous log", 30,
                     [](CLI::App& sub) {
                         auto json = std::make_shared<bool>(false);
                         auto file = std::make_shared<std::string>();
                         sub.add_flag("--json", *json, "Print the whole document as one JSON object");
                         sub.add_option("FILE", *file,
                                        "Recording (.recorder), csv export or continuous log (.calvlog)")
                             ->required();
                         return CommandRunner([json, file] {
                             if (IsLogFile(*file))
                                 return PrintLogInfo(*file, *json);
                             RecordingDocument document;
                             if (const int code = LoadRecording(*file, document); code != ExitOk)
                                 return code;
                             if (*json)
                                 WriteDocumentJson(std::cout, document);
                             else
                                 PrintSummary(*file, document);
                             return static_cast<int>(ExitOk);
                         });
                     }});
    registerCommand(
        {"export",
         "Write the samples of a .recorder file or a continuous log as a table: the .csv Save writes, csv, "
         "JSON lines or xlsx",
         31, [](CLI::App& sub) {
             auto options = std::make_shared<ExportCommandOptions>();
             sub.add_option("--format", options->format,
                            "recorder-csv (default: the .csv Save writes), csv, jsonl or xlsx")
                 ->check(CLI::IsMember({"recorder-csv", "csv", "jsonl", "xlsx"}));
             options->delimiter = sub.add_option("--delimiter", options->delimiterName,
                                                 "csv: the delimiter, , (default) ; or tab")
                                      ->check(CLI::IsMember({",", ";", "tab"}));
             options->decimalComma = sub.add_flag("--decimal-comma", options->decimalCommaGiven,
                                                  "csv: a decimal comma in the values instead of the point");
             options->range.AddTo(sub);
             sub.add_option("FILE", options->file,
                            "Recording (.recorder), csv export or continuous log (.calvlog)")
                 ->required();
             sub.add_option("OUT", options->out, "File to write (- for standard output)")->required();
             return CommandRunner([options] { return RunExport(*options); });
         }});
    registerCommand(
        {"convert", "Read a .recorder file or a csv export and write it with the record writer", 32,
         [](CLI::App& sub) {
             auto in = std::make_shared<std::string>();
             auto out = std::make_shared<std::string>();
             auto span = std::make_shared<TimeSpanOptions>();
             sub.add_option("IN", *in, "Recording, csv export or continuous log to read")->required();
             sub.add_option("OUT", *out, "Recording to write (- for standard output)")->required();
             sub.add_option("--from", span->from, "A log's readings from this ISO 8601 time on");
             sub.add_option("--to", span->to, "A log's readings up to this ISO 8601 time");
             AddMeterOption(sub, span->meter);
             return CommandRunner([in, out, span] {
                 RecordingDocument document;
                 if (const int code = Load(*in, document, *span); code != ExitOk)
                     return code;
                 return WriteOutput(*out, [&](ByteSink& sink) { return WriteRecord(document, sink); });
             });
         }});
    return true;
}();

} // namespace

} // namespace calvora::cli
