// calvora-cli info / export / convert: look into a .recorder file, write its text table, or
// rewrite it with the record writer. These are how files are checked from outside the program.
#include "protocol/formatters.h"
#include "protocol/hex_text.h"
#include "protocol/text.h"
#include "recording/record_file.h"
#include "recording/recording_document.h"
#include "recording/text_export.h"
#include "tools/cli/command_registry.h"
#include "tools/cli/json_output.h"
#include "tools/cli/output.h"

#include <nlohmann/json.hpp>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <iostream>

namespace calvora::cli {

namespace {

// Reads FILE into `document`; prints why not and gives the exit code when it fails.
int Load(const std::string& file, RecordingDocument& document) {
    const ReadResult result = ReadRecordFile(file, document);
    if (result.ok())
        return ExitOk;
    if (result.status == ReadStatus::CannotOpen)
        std::cerr << "calvora-cli: cannot read " << file << ": " << toUtf8(result.message) << "\n";
    else
        std::cerr << toUtf8(result.message) << "\n";
    return ExitUsage;
}

Json DocumentJson(const RecordingDocument& document) {
    const int channels = document.channelCount();
    Json json;
    json["model"] = toUtf8(kModelString);
    json["sampleCount"] = document.sampleCount();
    json["channelCount"] = channels;
    json["reserved"] = ToHexText(document.header().reserved.data(), document.header().reserved.size());
    Json samples = Json::array();
    for (uint32_t row = 0; row < document.sampleCount(); ++row) {
        Json values = Json::array();
        Json fullScales = Json::array();
        for (int c = 0; c < channels; ++c) {
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
        samples.push_back(std::move(sample));
    }
    json["samples"] = std::move(samples);
    const ChartSettings& settings = document.settings;
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
    json["channels"] = std::move(channelList);
    Json chart;
    chart["customMax"] = ShortestNumber(settings.customMax);
    chart["customMin"] = ShortestNumber(settings.customMin);
    chart["gridVisible"] = settings.gridVisible;
    chart["verticalAxisVisible"] = settings.verticalAxisVisible;
    chart["backgroundColour"] = settings.backgroundColour;
    chart["gridColour"] = settings.gridColour;
    json["chart"] = std::move(chart);
    json["axisMin"] = ShortestNumber(settings.axisMin);
    json["axisMax"] = ShortestNumber(settings.axisMax);
    return json;
}

void PrintSummary(const std::string& file, const RecordingDocument& document) {
    std::printf("File:      %s\n", file.c_str());
    std::printf("Model:     %s\n", toUtf8(kModelString).c_str());
    std::printf("Samples:   %u\n", document.sampleCount());
    std::printf("Channels:  %d\n", document.channelCount());
    std::printf("Scale:     %s .. %s\n", toUtf8(FormatScaleValue(document.settings.axisMin)).c_str(),
                toUtf8(FormatScaleValue(document.settings.axisMax)).c_str());
    const uint32_t count = document.sampleCount();
    const auto printRow = [&](const char* label, uint32_t row) {
        std::printf("%s %u: %s %s %s %s,%s\n", label, row + 1, toUtf8(document.functionName(row)).c_str(),
                    toUtf8(document.mode(row)).c_str(),
                    toUtf8(FormatStoredValue(document.value(row, 0), document.fullScale(row, 0),
                                             document.lowLimit(row)))
                        .c_str(),
                    toUtf8(document.unit(row)).c_str(), toUtf8(document.timeText(row)).c_str());
    };
    if (count > 0)
        printRow("First:    ", 0);
    if (count > 1)
        printRow("Last:     ", count - 1);
}

const bool registered = [] {
    registerCommand({"info", "Show the contents of a .recorder file", 30, [](CLI::App& sub) {
                         auto json = std::make_shared<bool>(false);
                         auto file = std::make_shared<std::string>();
                         sub.add_flag("--json", *json, "Print the whole document as one JSON object");
                         sub.add_option("FILE", *file, "Recording (.recorder)")->required();
                         return CommandRunner([json, file] {
                             RecordingDocument document;
                             if (const int code = Load(*file, document); code != ExitOk)
                                 return code;
                             if (*json)
                                 std::cout << DocumentJson(document).dump(-1, ' ', false,
                                                                          Json::error_handler_t::replace)
                                           << "\n";
                             else
                                 PrintSummary(*file, document);
                             return static_cast<int>(ExitOk);
                         });
                     }});
    registerCommand({"export", "Write the text table of a .recorder file, as Save writes the .csv", 31,
                     [](CLI::App& sub) {
                         auto file = std::make_shared<std::string>();
                         auto out = std::make_shared<std::string>();
                         sub.add_option("FILE", *file, "Recording (.recorder)")->required();
                         sub.add_option("OUT", *out, "Text table to write (- for standard output)")
                             ->required();
                         return CommandRunner([file, out] {
                             RecordingDocument document;
                             if (const int code = Load(*file, document); code != ExitOk)
                                 return code;
                             return WriteOutput(
                                 *out, [&](ByteSink& sink) { return WriteTextExport(document, sink); });
                         });
                     }});
    registerCommand(
        {"convert", "Read a .recorder file and write it again with the record writer", 32, [](CLI::App& sub) {
             auto in = std::make_shared<std::string>();
             auto out = std::make_shared<std::string>();
             sub.add_option("IN", *in, "Recording to read")->required();
             sub.add_option("OUT", *out, "Recording to write (- for standard output)")->required();
             return CommandRunner([in, out] {
                 RecordingDocument document;
                 if (const int code = Load(*in, document); code != ExitOk)
                     return code;
                 return WriteOutput(*out, [&](ByteSink& sink) { return WriteRecord(document, sink); });
             });
         }});
    return true;
}();

} // namespace

} // namespace calvora::cli
