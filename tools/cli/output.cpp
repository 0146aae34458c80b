#include "tools/cli/output.h"

#include "protocol/text.h"
#include "recording/save.h"
#include "tools/cli/command_registry.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

namespace calvora::cli {

int SaveAs(const RecordingDocument& document, const std::string& base, RecordingState& documents) {
    SavePaths paths;
    SaveResult result;
    if (base.empty()) {
        result = SaveDocumentUnderNewName(document, toUtf8(DefaultFileNameNow()), documents, &paths);
    } else {
        paths = DerivePaths(std::filesystem::path(base) += ".recorder");
        result = SaveDocument(document, paths.record, documents);
    }
    if (!result.ok) {
        std::cerr << "calvora-cli: " << toUtf8(result.message()) << '\n';
        return ExitFailure;
    }
    std::cout << paths.record.string() << '\n' << paths.text.string() << '\n';
    return ExitOk;
}

int WriteOutput(const std::string& out, const std::function<bool(ByteSink&)>& write) {
    // What went to standard output through the stream so far comes before the file's bytes.
    std::cout.flush();
    const SaveResult result = WriteFileAtomically(std::filesystem::path(out), write);
    if (result.ok)
        return ExitOk;
    std::cerr << "calvora-cli: " << toUtf8(result.message()) << "\n";
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
