#include "tools/cli/output.h"

#include "chart/chart_layout.h"
#include "export/csv_import.h"
#include "protocol/text.h"
#include "recording/record_file.h"
#include "recording/recording_document.h"
#include "recording/save.h"
#include "tools/cli/command_registry.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>

namespace calvora::cli {

int LoadRecording(const std::string& file, RecordingDocument& document) {
    const auto read = ReadDocumentFile(file, document);
    if (read) {
        // As a document window titles it.
        document.title = fromUtf8(std::filesystem::path(file).filename().string());
        // What the chart would show: `info` prints the scale, `convert` keeps the chart's state.
        PrepareOpenedDocument(document);
        return ExitOk;
    }
    if (read.kind() == ReadFailure::CannotOpen)
        std::cerr << "calvora-cli: cannot read " << file << ": " << toUtf8(read.reason()) << "\n";
    else
        std::cerr << toUtf8(read.reason()) << "\n";
    return ExitUsage;
}

int SaveAs(const RecordingDocument& document, const std::string& base, RecordingState& documents) {
    const Outcome<SavePaths> saved = [&]() -> Outcome<SavePaths> {
        if (base.empty())
            return SaveDocumentUnderNewName(document, toUtf8(DefaultFileNameNow()), documents);
        SavePaths paths = DerivePaths(std::filesystem::path(base) += ".recorder");
        if (Outcome<void> written = SaveDocument(document, paths.record, documents); !written)
            return written.failure();
        return paths;
    }();
    if (!saved) {
        std::cerr << "calvora-cli: " << toUtf8(saved.reason()) << '\n';
        return ExitFailure;
    }
    std::cout << saved.value().record.string() << '\n' << saved.value().text.string() << '\n';
    return ExitOk;
}

int WriteOutput(const std::string& out, const std::function<bool(ByteSink&)>& write) {
    // What went to standard output through the stream so far comes before the file's bytes.
    std::cout.flush();
    const Outcome<void> written = WriteFileAtomically(std::filesystem::path(out), write);
    if (written)
        return ExitOk;
    std::cerr << "calvora-cli: " << toUtf8(written.reason()) << "\n";
    return ExitFailure;
}

CLI::Validator PairBase() {
    return CLI::Validator(
        [](std::string& base) {
            return base == "-"
                       ? std::string("standard output cannot take the two files BASE.recorder and BASE.csv; "
                                     "convert and export write one file to -")
                       : std::string();
        },
        "");
}

void TellHowToRecover(const std::filesystem::path& journal) {
    std::cerr << "calvora-cli: the samples are kept in " << journal.string()
              << "\ncalvora-cli: write them out with: calvora-cli recover --journal '" << journal.string()
              << "' --out BASE\n";
}

int FinishStandardOutput(int exitCode) {
    // The stream writes through to stdout, whose flush keeps the reason.
    errno = 0;
    const bool flushed = std::fflush(stdout) == 0;
    const int error = errno;
    std::cout.flush();
    // A command that failed already has said why.
    if ((flushed && !std::ferror(stdout) && std::cout.good()) || exitCode != ExitOk)
        return exitCode;
    std::cerr << "calvora-cli: cannot write to standard output"
              << (error != 0 ? std::string(": ") + std::strerror(error) : std::string()) << '\n';
    return ExitFailure;
}

} // namespace calvora::cli
