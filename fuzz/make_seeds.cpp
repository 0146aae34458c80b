// Writes the seed corpora of the fuzz targets from the byte layouts: fuzz_seeds <corpus folder>.
#include "chart/chart_layout.h"
#include "protocol/frame_builder.h"
#include "recording/byte_sink.h"
#include "recording/journal.h"
#include "recording/record_file.h"
#include "recording/recording_document.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace calvora;
using Bytes = std::vector<uint8_t>;

namespace {

bool Write(const std::filesystem::path& path, const Bytes& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}
bool Write(const std::filesystem::path& path, const std::string& text) {
    return Write(path, Bytes(text.begin(), text.end()));
}

void Append(Bytes& to, const Bytes& bytes) {
    to.insert(to.end(), bytes.begin(), bytes.end());
}

// Stream inputs: a setup byte, then operations (see fuzz_stream.cpp): 0x03 | cut << 3 is a live frame
// followed by its magnitude, range, function and status bytes; 0x04 a memory header (count byte);
// 0x05 / 0x06 a block / tail (number, length, payload); 0x00 | (n - 1) << 3 n raw bytes; 0x07 | k << 3
// a command.
Bytes LiveOp(uint16_t magnitude, uint8_t range, uint8_t function, uint8_t status, uint8_t cut) {
    return {static_cast<uint8_t>(0x03 | cut << 3),
            static_cast<uint8_t>(magnitude >> 8),
            static_cast<uint8_t>(magnitude),
            range,
            function,
            status};
}

Bytes Download(uint8_t records) {
    Bytes ops = {0x04, static_cast<uint8_t>(records >> 4)};
    ops[0] = static_cast<uint8_t>(0x04 | (records & 15) << 3);
    const int blocks = (records * 4 + 39) / 40;
    for (int b = 1; b <= blocks; ++b) {
        const int length = std::min(40, records * 4 - (b - 1) * 40);
        ops.push_back(0x05);
        ops.push_back(static_cast<uint8_t>(b));
        ops.push_back(static_cast<uint8_t>(length));
        for (int k = 0; k < length; ++k)
            ops.push_back(k % 4 == 0 ? 0x03 : k % 4 == 1 ? 0xE8 : k % 4 == 2 ? 0x01 : 0x01);
    }
    for (int tail = 0; tail < 2; ++tail)
        Append(ops, {0x06, static_cast<uint8_t>(blocks + 1), 0x00});
    return ops;
}

RecordingDocument LiveDocument(int samples) {
    RecordingDocument document;
    ApplyNewChartDefaults(document);
    uint32_t allocated = 0;
    document.BeginLiveStorage(static_cast<uint32_t>(samples), allocated);
    for (int i = 0; i < samples; ++i)
        document.AppendSample(1.5f + static_cast<float>(i), 6.0f, -6, u"VDC", u"DC", u"V",
                              u" 12/08/26 15:04:05");
    SetLimitsFromSamples(document);
    return document;
}

Bytes RecordBytes(const RecordingDocument& document) {
    MemorySink sink;
    WriteRecord(document, sink);
    return sink.bytes;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds <corpus folder>\n");
        return 2;
    }
    const std::filesystem::path corpus = argv[1];

    // The received byte stream.
    const std::filesystem::path stream = corpus / "stream";
    Bytes live = {0x03};
    for (int i = 0; i < 6; ++i)
        Append(live, LiveOp(static_cast<uint16_t>(1000 + i), 0x01, 0x01, 0x00, static_cast<uint8_t>(i)));
    Write(stream / "recording-live-frames", live);
    Write(stream / "download-25", [] {
        Bytes ops = {0x01};
        Append(ops, Download(25));
        return ops;
    }());
    Write(stream / "download-during-recording", [] {
        Bytes ops = {0x0B};
        Append(ops, LiveOp(500, 0x01, 0x01, 0, 3));
        Append(ops, Download(12));
        Append(ops, LiveOp(501, 0x01, 0x01, 0, 0));
        return ops;
    }());
    Write(stream / "pairing-and-commands", Bytes{0x01, 0x07 | 3 << 3, 0x4F, 0x4B, 0x00, 0x07 | 4 << 3,
                                                 0x07 | 5 << 3, 0x07 | 0 << 3, 0x05, 0x07 | 1 << 3});
    Write(stream / "raw-noise-and-markers", Bytes{0x01, 0x00 | 11 << 3, 0x00, 0xD5, 0xF0, 0x12, 0x00, 0xD5,
                                                  0xF3, 0x00, 0x01, 0x00, 0x40, 0x00});
    // Two live frames and the start of a third in one chunk: both complete ones are handed on at once.
    Write(stream / "back-to-back-live", [] {
        Bytes ops = {0x01, 0x00 | 29 << 3};
        for (uint16_t magnitude : {1000, 1001, 1002}) {
            const auto frame = MakeLiveFrame(magnitude, 0x01, 0x01, 0x00);
            ops.insert(ops.end(), frame.begin(), frame.end());
        }
        ops.resize(2 + 30);
        return ops;
    }());
    Write(stream / "functions-and-ranges", [] {
        Bytes ops = {0x03};
        for (uint8_t function = 0; function < 16; ++function)
            Append(ops, LiveOp(static_cast<uint16_t>(function * 900), static_cast<uint8_t>(function % 8),
                               function, static_cast<uint8_t>(function * 17), function));
        return ops;
    }());

    // The record file.
    const std::filesystem::path record = corpus / "record_file";
    Write(record / "empty-document", RecordBytes(RecordingDocument{}));
    Write(record / "one-sample", RecordBytes(LiveDocument(1)));
    Write(record / "twenty-samples", RecordBytes(LiveDocument(20)));
    Bytes narrow = {0x0B};
    for (char c : std::string("QM310/QM312"))
        narrow.push_back(static_cast<uint8_t>(c));
    narrow.resize(narrow.size() + 42, 0);
    narrow.resize(narrow.size() + 16, 0);
    Write(record / "narrow-model-string", narrow);
    Write(record / "foreign-model", RecordBytes(LiveDocument(1)).size() > 4 ? [] {
        Bytes bytes = RecordBytes(LiveDocument(1));
        bytes[4] = 'X';
        return bytes;
    }()
                                                                             : Bytes{});

    // The settings file.
    const std::filesystem::path settings = corpus / "settings_file";
    Write(settings / "written",
          std::string("[MultimeterCOMPORT]\nMultimeterPORTNUM=5\nMultimeterDEVICE=/dev/ttyUSB4\n"));
    Write(settings / "other-sections",
          std::string(
              "; comment\n[Other]\nkey = value\n\n[multimetercomport]\nmultimeterportnum = 12 ; note\n"));
    Write(settings / "garbage-lines",
          std::string(
              "[MultimeterCOMPORT\nMultimeterPORTNUM\n=7\n[MultimeterCOMPORT]\nMultimeterPORTNUM=abc\n"));
    Write(settings / "crlf", std::string("[MultimeterCOMPORT]\r\nMultimeterPORTNUM=255\r\n"));
    Write(settings / "section-twice",
          std::string("[MultimeterCOMPORT]\nMultimeterDEVICE=/dev/a\n\n[Other]\nk=1\n[MULTIMETERCOMPORT]\n"
                      "MultimeterPORTNUM=2\n"));
    Write(settings / "mark-crlf-unterminated",
          std::string("\xEF\xBB\xBF; settings\r\n[MultimeterCOMPORT] ; receiver\r\nMultimeterPORTNUM = 300"));
    Write(settings / "key-outside-section",
          std::string("MultimeterPORTNUM=7\n[MultimeterCOMPORT]\n\n\n[Other]\n"));

    // The crash journal.
    const std::filesystem::path journalFolder = corpus / "journal";
    const std::filesystem::path scratch = std::filesystem::temp_directory_path() / "calvora-seed-journal";
    std::filesystem::remove_all(scratch);
    {
        Journal journal(scratch);
        journal.Record(0, {1.25f, 6.0f, 0, u"VDC", u"DC", u"V", u" 12/08/26 15:04:05"});
        journal.Record(1, {-2.5f, 60.0f, -60, u"VAC", u"AC", u"mV", u" 12/08/26 15:04:06"});
        journal.Record(2, {0.0f, 0.0f, 0, u"", u"", u"", u""});
        journal.Sync();
        std::ifstream in(journal.path(), std::ios::binary);
        const Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        Write(journalFolder / "three-samples", bytes);
        Write(journalFolder / "torn-tail", Bytes(bytes.begin(), bytes.end() - 3));
        journal.Remove();
    }
    std::filesystem::remove_all(scratch);
    return 0;
}
