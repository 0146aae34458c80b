// calvora-cli recover: the crash journals that live recordings left behind (a crash, a killed session,
// a save that failed), listed, written out as BASE.recorder + BASE.csv exactly as Save writes them, or
// discarded. The same journal reader the desktop program offers a left journal with at start.
#include "chart/chart_layout.h"
#include "protocol/text.h"
#include "recording/journal.h"
#include "recording/recording_document.h"
#include "recording/recording_state.h"
#include "tools/cli/command_registry.h"
#include "tools/cli/output.h"

#include <chrono>
#include <ctime>
#include <iostream>
#include <memory>

namespace calvora::cli {

namespace {

struct RecoverOptions {
    bool list = false;
    bool discard = false;
    std::string journal;
    std::string out;
};

std::string LocalTime(std::filesystem::file_time_type written) {
    const auto system = std::chrono::time_point_cast<std::chrono::system_clock::duration>(
        written - std::filesystem::file_time_type::clock::now() + std::chrono::system_clock::now());
    const std::time_t time = std::chrono::system_clock::to_time_t(system);
    std::tm local{};
    localtime_r(&time, &local);
    char text[32];
    return {text, std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local)};
}

// TIME, SAMPLES, PROGRAM and PATH, tab-separated, newest first.
int List(const std::vector<LeftJournal>& left) {
    for (const LeftJournal& journal : left)
        std::cout << LocalTime(journal.written) << '\t' << journal.samples << '\t'
                  << (journal.program.empty() ? "-" : journal.program) << '\t' << journal.path.string()
                  << '\n';
    return ExitOk;
}

int RunRecover(const RecoverOptions& options) {
    const std::filesystem::path folder = JournalFolder();
    const std::vector<LeftJournal> left = ListLeftJournals(folder);
    if (options.list)
        return List(left);

    std::filesystem::path path = options.journal;
    if (path.empty()) {
        if (left.empty()) {
            std::cerr << "calvora-cli: no unsaved recording was left in " << folder.string() << '\n';
            return ExitFailure;
        }
        path = left.front().path;
        if (left.size() > 1)
            std::cerr << "calvora-cli: " << left.size() << " journals are left; taking the newest, "
                      << path.string() << " (see recover --list)\n";
    }

    const Outcome<JournalHold> hold = JournalHold::Take(path);
    if (!hold) {
        std::cerr << "calvora-cli: cannot recover " << path.string() << ": " << toUtf8(hold.reason()) << '\n';
        return ExitFailure;
    }
    if (options.discard) {
        if (const Outcome<void> ended = EndJournal(path, JournalEnd::Discarded); !ended) {
            std::cerr << "calvora-cli: " << toUtf8(ended.reason()) << '\n';
            return ExitFailure;
        }
        return ExitOk;
    }

    Outcome<RecordingDocument> document = RecoverJournal(path);
    if (!document) {
        std::cerr << "calvora-cli: cannot recover " << toUtf8(document.reason()) << '\n';
        return ExitUsage;
    }
    PrepareRecoveredDocument(document.value());
    RecordingState documents;
    const int saved = SaveAs(document.value(), options.out, documents);
    if (saved != ExitOk)
        return saved;
    if (const Outcome<void> ended = EndJournal(path, JournalEnd::Recovered); !ended)
        std::cerr << "calvora-cli: " << toUtf8(ended.reason()) << " (it will be offered again)\n";
    return saved;
}

const bool registered = [] {
    registerCommand(
        {"recover", "List, write out or discard the journals of unsaved live recordings", 25,
         [](CLI::App& sub) {
             auto options = std::make_shared<RecoverOptions>();
             auto* list =
                 sub.add_flag("--list", options->list,
                              "List the journals left: time, samples, program and path, newest first");
             auto* journal = sub.add_option("--journal", options->journal,
                                            "The journal to take (default: the newest left)");
             auto* out = sub.add_option("--out", options->out, "Base name of the two files written")
                             ->check(PairBase());
             auto* discard =
                 sub.add_flag("--discard", options->discard, "Discard the journal instead of saving it");
             list->excludes(journal)->excludes(out)->excludes(discard);
             discard->excludes(out);
             return CommandRunner([options] { return RunRecover(*options); });
         }});
    return true;
}();

} // namespace

} // namespace calvora::cli
