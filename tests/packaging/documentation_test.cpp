// The manual pages against the programs they describe (every command and option the programs accept,
// the exit codes they return, the version they report), and the user manual's links against the files
// that are installed beside it.
#include "tests/packaging/source_files.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <set>

namespace calvora {
namespace {

using test::ReadSourceFile;
using test::SourcePath;

struct ProgramRun {
    int exitCode = -1;
    std::string output;
};

// Runs a shell command line, standard error folded into the output. Leak reports of a sanitizer build
// are left out: only the text and the exit code matter here.
ProgramRun RunCommand(const std::string& command) {
    ProgramRun run;
    FILE* pipe = ::popen(("ASAN_OPTIONS=detect_leaks=0 " + command + " 2>&1").c_str(), "r");
    if (!pipe)
        return run;
    std::array<char, 4096> chunk{};
    size_t got = 0;
    while ((got = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0)
        run.output.append(chunk.data(), got);
    const int status = ::pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string Quoted(const std::string& path) {
    return "'" + path + "'";
}

std::set<std::string> LongOptions(const std::string& help) {
    static const std::regex option(R"((?:^|[\s,])(--[a-z][a-z0-9-]*))");
    std::set<std::string> options;
    for (auto it = std::sregex_iterator(help.begin(), help.end(), option); it != std::sregex_iterator(); ++it)
        options.insert((*it)[1]);
    return options;
}

// A page's source with the escapes that stand between words and their reader undone: \- and font changes.
std::string ManText(const std::string& page) {
    std::string text = ReadSourceFile("packaging/man/" + page);
    text = std::regex_replace(text, std::regex(R"(\\-)"), "-");
    text = std::regex_replace(text, std::regex(R"(\\f[BIRP])"), "");
    return text;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::vector<std::string> Sections(const std::string& man) {
    std::vector<std::string> sections;
    for (const std::string& line : Lines(man))
        if (line.rfind(".SH ", 0) == 0)
            sections.push_back(std::regex_replace(line.substr(4), std::regex("\""), ""));
    return sections;
}

// The exit codes a page lists: the ".B n" tags of its EXIT STATUS section.
std::set<int> DocumentedExitCodes(const std::string& man) {
    std::set<int> codes;
    bool inside = false;
    for (const std::string& line : Lines(man)) {
        if (line.rfind(".SH ", 0) == 0)
            inside = line.find("EXIT STATUS") != std::string::npos;
        else if (inside && std::regex_match(line, std::regex(R"(\.B [0-9]+)")))
            codes.insert(std::stoi(line.substr(3)));
    }
    return codes;
}

bool Mentions(const std::string& man, const std::string& option) {
    return std::regex_search(man, std::regex("(^|[^a-z0-9-])" + option + "([^a-z0-9-]|$)"));
}

class ManualPage : public ::testing::TestWithParam<const char*> {};

TEST_P(ManualPage, HasTheUsualSectionsInOrderAndTheProjectsVersion) {
    const std::string page = GetParam();
    const std::string man = ManText(page);
    const std::vector<std::string> expected = {"NAME",    "SYNOPSIS", "DESCRIPTION",
                                               "OPTIONS", "EXAMPLES", "EXIT STATUS"};
    const std::vector<std::string> sections = Sections(man);
    auto at = sections.begin();
    for (const std::string& name : expected) {
        at = std::find(at, sections.end(), name);
        EXPECT_NE(at, sections.end()) << page << " lacks " << name << " or has it out of order";
    }
    const std::string program = page.substr(0, page.size() - 2);
    std::string title = program;
    std::transform(title.begin(), title.end(), title.begin(), ::toupper);
    EXPECT_EQ(man.rfind(".TH " + title + " 1 ", 0), 0u) << page;
    EXPECT_NE(Lines(man).front().find("\"Calvora " CALVORA_PROJECT_VERSION "\""), std::string::npos)
        << Lines(man).front();
    EXPECT_NE(man.find(".SH NAME\n" + program + " - "), std::string::npos) << "whatis line of " << page;
}

INSTANTIATE_TEST_SUITE_P(Pages, ManualPage, ::testing::Values("calvora.1", "calvora-cli.1", "calvora-sim.1"));

TEST(CliManualPage, DescribesEverySubcommandAndOption) {
    const std::string man = ManText("calvora-cli.1");
    const ProgramRun top = RunCommand(Quoted(CALVORA_CLI_PATH) + " --help");
    ASSERT_EQ(top.exitCode, 0) << top.output;
    for (const std::string& option : LongOptions(top.output))
        EXPECT_TRUE(Mentions(man, option)) << option;

    // "Subcommands:" is followed by one "  name   description" line each.
    const size_t list = top.output.find("Subcommands:");
    ASSERT_NE(list, std::string::npos);
    std::vector<std::string> subcommands;
    for (const std::string& line : Lines(top.output.substr(list))) {
        std::smatch m;
        if (std::regex_search(line, m, std::regex(R"(^  ([a-z]+)\s)")))
            subcommands.push_back(m[1]);
    }
    ASSERT_GE(subcommands.size(), 5u);
    for (const std::string& sub : subcommands) {
        EXPECT_TRUE(std::regex_search(man, std::regex("\n\\.B " + sub + "( |\n)"))) << "no entry for " << sub;
        const ProgramRun help = RunCommand(Quoted(CALVORA_CLI_PATH) + " " + sub + " --help");
        ASSERT_EQ(help.exitCode, 0) << help.output;
        for (const std::string& option : LongOptions(help.output))
            EXPECT_TRUE(Mentions(man, option)) << sub << " " << option;
    }
}

TEST(CliManualPage, ListsTheExitCodesTheToolReturns) {
    const std::string man = ManText("calvora-cli.1");
    EXPECT_EQ(DocumentedExitCodes(man), (std::set<int>{0, 1, 2}));
    EXPECT_EQ(RunCommand(Quoted(CALVORA_CLI_PATH) + " --version").exitCode, 0);
    EXPECT_EQ(RunCommand(Quoted(CALVORA_CLI_PATH) + " no-such-command").exitCode, 2);
    EXPECT_EQ(RunCommand(Quoted(CALVORA_CLI_PATH) + " info /nonexistent/file.recorder").exitCode, 2);
    EXPECT_EQ(RunCommand(Quoted(CALVORA_CLI_PATH) + " record --input /dev/null --samples 0").exitCode, 2);
}

TEST(CliManualPage, NamesTheVersionTheToolReports) {
    const ProgramRun version = RunCommand(Quoted(CALVORA_CLI_PATH) + " --version");
    EXPECT_NE(version.output.find(CALVORA_PROJECT_VERSION), std::string::npos) << version.output;
}

TEST(SimManualPage, DescribesEveryOptionAndExitCode) {
    const std::string man = ManText("calvora-sim.1");
    const ProgramRun help = RunCommand(Quoted(CALVORA_SIM_PATH) + " --help");
    ASSERT_EQ(help.exitCode, 0) << help.output;
    const std::set<std::string> options = LongOptions(help.output);
    ASSERT_GE(options.size(), 20u);
    for (const std::string& option : options)
        EXPECT_TRUE(Mentions(man, option)) << option;

    EXPECT_EQ(DocumentedExitCodes(man), (std::set<int>{0, 1, 2}));
    EXPECT_EQ(RunCommand(Quoted(CALVORA_SIM_PATH) + " --rate 0").exitCode, 2);
    EXPECT_EQ(RunCommand(Quoted(CALVORA_SIM_PATH) + " --script /nonexistent/frames.hex").exitCode, 2);
}

#ifdef CALVORA_GUI_PATH
TEST(ProgramManualPage, DescribesEveryOptionAndExitCode) {
    const std::string man = ManText("calvora.1");
    const ProgramRun help = RunCommand("QT_QPA_PLATFORM=offscreen " + Quoted(CALVORA_GUI_PATH) + " --help");
    ASSERT_EQ(help.exitCode, 0) << help.output;
    const std::set<std::string> options = LongOptions(help.output);
    ASSERT_THAT(options, ::testing::Contains("--port"));
    for (const std::string& option : options)
        EXPECT_TRUE(Mentions(man, option)) << option;

    EXPECT_EQ(DocumentedExitCodes(man), (std::set<int>{0, 1, 2}));
    EXPECT_EQ(
        RunCommand("QT_QPA_PLATFORM=offscreen " + Quoted(CALVORA_GUI_PATH) + " --no-such-option").exitCode,
        2);
    const ProgramRun version =
        RunCommand("QT_QPA_PLATFORM=offscreen " + Quoted(CALVORA_GUI_PATH) + " --version");
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_NE(version.output.find(CALVORA_PROJECT_VERSION), std::string::npos) << version.output;
}
#endif

// ---------------------------------------------------------------------------------- user manual

struct Reference {
    std::string attribute;
    std::string target;
};

std::vector<Reference> References(const std::string& html) {
    static const std::regex reference(R"re(\b(href|src)\s*=\s*"([^"]*)")re", std::regex::icase);
    std::vector<Reference> found;
    for (auto it = std::sregex_iterator(html.begin(), html.end(), reference); it != std::sregex_iterator();
         ++it)
        found.push_back({(*it)[1], (*it)[2]});
    return found;
}

std::set<std::string> Ids(const std::string& html) {
    static const std::regex id(R"re(\bid\s*=\s*"([^"]*)")re");
    std::set<std::string> ids;
    for (auto it = std::sregex_iterator(html.begin(), html.end(), id); it != std::sregex_iterator(); ++it)
        ids.insert((*it)[1]);
    return ids;
}

// The manual is installed together with the files of docs/manual/ and the screenshots docs/*.png, all
// in one folder: a local link works when it names one of those.
bool InstalledBesideTheManual(const std::string& name) {
    namespace fs = std::filesystem;
    if (name.find('/') != std::string::npos || name.empty())
        return false;
    if (fs::is_regular_file(SourcePath("docs/manual/" + name)))
        return true;
    return fs::path(name).extension() == ".png" && fs::is_regular_file(SourcePath("docs/" + name));
}

TEST(UserManual, EveryLocalLinkAndPictureIsInstalledBesideIt) {
    const std::string html = ReadSourceFile("docs/manual/calvora-help.html");
    const std::set<std::string> ids = Ids(html);
    const std::vector<Reference> references = References(html);
    ASSERT_FALSE(references.empty());
    int pictures = 0;
    for (const Reference& reference : references) {
        const std::string& target = reference.target;
        if (target.rfind("http://", 0) == 0 || target.rfind("https://", 0) == 0 ||
            target.rfind("mailto:", 0) == 0)
            continue;
        const size_t hash = target.find('#');
        const std::string file = target.substr(0, hash);
        if (!file.empty()) {
            EXPECT_TRUE(InstalledBesideTheManual(file)) << reference.attribute << "=\"" << target << "\"";
        }
        if (hash != std::string::npos && (file.empty() || file == "calvora-help.html")) {
            EXPECT_TRUE(ids.count(target.substr(hash + 1))) << "no id for " << target;
        }
        pictures += reference.attribute == "src";
    }
    EXPECT_GT(pictures, 0);
}

TEST(UserManual, LinkCheckerSeesBrokenLinks) {
    const std::string html =
        R"(<a href="#there">x</a> <img src="no-such-shot.png"> <a href="https://x.org/">)"
        R"(<h2 id="there">)";
    const auto references = References(html);
    ASSERT_EQ(references.size(), 3u);
    EXPECT_TRUE(Ids(html).count("there"));
    EXPECT_FALSE(InstalledBesideTheManual("no-such-shot.png"));
    EXPECT_FALSE(InstalledBesideTheManual("../manual/calvora-help.html"));
    EXPECT_TRUE(InstalledBesideTheManual("calvora-help.html"));
}

} // namespace
} // namespace calvora
