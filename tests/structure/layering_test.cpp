// The folders' allowed dependencies, as README's layout table states them, against every #include in the
// tree: a folder includes only from itself and from the folders its row allows, and no folder outside a gui/
// folder (or the desktop program's main) includes Qt.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace calvora {
namespace {

namespace fs = std::filesystem;

const fs::path kSourceDir = CALVORA_SOURCE_DIR;

struct Row {
    std::vector<std::string> folders; // "chart/gui/", ...
    std::set<std::string> mayUse;
    bool unchecked = false; // tests, benchmarks, fuzz targets: may use everything
};

std::vector<std::string> Backticked(const std::string& cell) {
    std::vector<std::string> names;
    static const std::regex quoted("`([^`]+)`");
    for (auto it = std::sregex_iterator(cell.begin(), cell.end(), quoted); it != std::sregex_iterator(); ++it)
        names.push_back((*it)[1]);
    return names;
}

std::vector<std::string> Cells(const std::string& line) {
    std::vector<std::string> cells;
    std::stringstream in(line.substr(1));
    std::string cell;
    while (std::getline(in, cell, '|'))
        cells.push_back(cell);
    return cells;
}

// The rows of the table under "## Layout" whose third column says what a folder may use.
std::vector<Row> LayoutTable() {
    std::ifstream readme(kSourceDir / "README.md");
    std::string line;
    bool inLayout = false;
    std::vector<Row> rows;
    while (std::getline(readme, line)) {
        if (line.rfind("## ", 0) == 0)
            inLayout = line == "## Layout";
        if (!inLayout || line.empty() || line[0] != '|' || line.rfind("|---", 0) == 0)
            continue;
        const std::vector<std::string> cells = Cells(line);
        if (cells.size() < 3 || cells[0].find('`') == std::string::npos)
            continue; // the header
        Row row;
        for (const std::string& folder : Backticked(cells[0]))
            if (folder.back() == '/')
                row.folders.push_back(folder);
        const std::string& use = cells[2];
        if (use.find("everything") != std::string::npos) {
            row.unchecked = true;
        } else if (use.find("every folder above") != std::string::npos) {
            for (const Row& earlier : rows)
                row.mayUse.insert(earlier.folders.begin(), earlier.folders.end());
        } else if (use.find("every folder without") != std::string::npos) {
            for (const Row& earlier : rows)
                for (const std::string& folder : earlier.folders)
                    if (folder.find("gui/") == std::string::npos)
                        row.mayUse.insert(folder);
        } else {
            for (const std::string& folder : Backticked(use))
                row.mayUse.insert(folder);
        }
        // The folders of one row are one layer: they may use each other.
        row.mayUse.insert(row.folders.begin(), row.folders.end());
        rows.push_back(std::move(row));
    }
    return rows;
}

// The row whose folder is the longest prefix of `path` (relative, with '/'); null for files outside the
// table.
const Row* RowOf(const std::vector<Row>& rows, const std::string& path, std::string* folder) {
    const Row* best = nullptr;
    size_t bestLength = 0;
    for (const Row& row : rows) {
        for (const std::string& candidate : row.folders) {
            if (path.rfind(candidate, 0) == 0 && candidate.size() > bestLength) {
                best = &row;
                bestLength = candidate.size();
                *folder = candidate;
            }
        }
    }
    return best;
}

TEST(Layering, TheLayoutTableNamesTheSourceFolders) {
    const std::vector<Row> rows = LayoutTable();
    std::set<std::string> named;
    for (const Row& row : rows) {
        named.insert(row.folders.begin(), row.folders.end());
        for (const std::string& used : row.mayUse)
            EXPECT_TRUE(fs::is_directory(kSourceDir / used)) << used << " is not a folder";
    }
    for (const char* folder :
         {"protocol/", "chart/model/", "recording/", "recording/gui/", "link/", "chart/", "chart/gui/",
          "panel/", "panel/gui/", "docking/gui/", "app/", "app/gui/", "tools/cli/", "tools/sim/", "tests/"})
        EXPECT_TRUE(named.count(folder)) << folder << " has no row in README's layout table";
}

// Every include under `root` that its folder may not make, as "path:line: what".
std::vector<std::string> Violations(const std::vector<Row>& rows, const fs::path& root, int* checked) {
    static const std::regex projectInclude(R"re(^\s*#\s*include\s+"([^"]+)")re");
    static const std::regex qtInclude(R"re(^\s*#\s*include\s+<Q)re");
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const fs::path relative = fs::relative(entry.path(), root);
        const std::string path = relative.generic_string();
        if (path.rfind("build", 0) == 0 || path.rfind(".", 0) == 0 || !entry.is_regular_file())
            continue;
        const std::string extension = relative.extension().string();
        if (extension != ".h" && extension != ".cpp")
            continue;
        std::string folder;
        const Row* row = RowOf(rows, path, &folder);
        if (row == nullptr || row->unchecked)
            continue;
        const bool mayUseQt = folder.find("gui/") != std::string::npos || folder == "app/main/";
        std::ifstream in(entry.path());
        std::string line;
        int number = 0;
        while (std::getline(in, line)) {
            ++number;
            const std::string where = path + ":" + std::to_string(number) + ": ";
            if (!mayUseQt && std::regex_search(line, qtInclude))
                found.push_back(where + "Qt in " + folder);
            std::smatch match;
            if (!std::regex_search(line, match, projectInclude))
                continue;
            const std::string included = match[1];
            if (included.find('/') == std::string::npos)
                continue; // a generated file beside the source (moc)
            std::string includedFolder;
            if (RowOf(rows, included, &includedFolder) == nullptr) {
                found.push_back(where + included + " lies outside every folder of the table");
                continue;
            }
            ++*checked;
            if (includedFolder != folder && !row->mayUse.count(includedFolder))
                found.push_back(where + folder + " may not use " + includedFolder + " (" + included + ")");
        }
    }
    return found;
}

TEST(Layering, EveryIncludeStaysWithinWhatItsFolderMayUse) {
    const std::vector<Row> rows = LayoutTable();
    ASSERT_GT(rows.size(), 10u) << "README's layout table was not found";
    int checked = 0;
    for (const std::string& violation : Violations(rows, kSourceDir, &checked))
        ADD_FAILURE() << violation;
    EXPECT_GT(checked, 200);
}

// The check itself finds what it is for, on a small tree made for the purpose.
TEST(Layering, IncludesFromAboveAndQtInTheCoreAreFound) {
    const fs::path root = fs::temp_directory_path() / ("calvora-layering-" + std::to_string(::getpid()));
    fs::remove_all(root);
    const auto write = [&](const std::string& path, const std::string& text) {
        fs::create_directories((root / path).parent_path());
        std::ofstream(root / path) << text;
    };
    write("protocol/a.h", "#include \"protocol/b.h\"\n");
    write("recording/c.cpp", "#include \"protocol/a.h\"\n#include \"chart/d.h\"\n#include <QString>\n");
    write("chart/d.h", "#include \"recording/c.h\"\n");
    write("chart/gui/e.cpp", "#include <QWidget>\n#include \"chart/d.h\"\n#include \"nowhere/x.h\"\n");
    std::vector<Row> rows(4);
    rows[0].folders = {"protocol/"};
    rows[1].folders = {"recording/"};
    rows[1].mayUse = {"protocol/"};
    rows[2].folders = {"chart/"};
    rows[2].mayUse = {"protocol/", "recording/"};
    rows[3].folders = {"chart/gui/"};
    rows[3].mayUse = {"chart/"};
    int checked = 0;
    std::vector<std::string> found = Violations(rows, root, &checked);
    std::sort(found.begin(), found.end());
    fs::remove_all(root);
    EXPECT_EQ(found, (std::vector<std::string>{
                         "chart/gui/e.cpp:3: nowhere/x.h lies outside every folder of the table",
                         "recording/c.cpp:2: recording/ may not use chart/ (chart/d.h)",
                         "recording/c.cpp:3: Qt in recording/",
                     }));
    EXPECT_EQ(checked, 5);
}

} // namespace
} // namespace calvora
