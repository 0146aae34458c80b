// calvora-cli export and convert as users run them, their files checked by readers that are not ours:
// Python's csv and json modules and openpyxl.
#include "protocol/text.h"
#include "recording/record_file.h"
#include "tests/export/export_documents.h"
#include "tests/hardening/hardening_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <sys/wait.h>

namespace calvora {
namespace {

namespace fs = std::filesystem;

struct Finished {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string Contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::string Quoted(const fs::path& path) {
    return "'" + path.string() + "'";
}

// Runs a Python check with Debian's interpreter (which has openpyxl from the distribution).
const char* const kPython = "/usr/bin/python3";

// The golden document's samples as Python reads them from each export, one tab-separated line per record
// (repr() of each field, so that types show: 1 and '1' differ).
const char* const kReaders = R"PY(
import csv, json, sys, zipfile
kind, path = sys.argv[1], sys.argv[2]
if kind == 'csv':
    delimiter = {'comma': ',', 'semicolon': ';', 'tab': '\t'}[sys.argv[3]]
    raw = open(path, 'rb').read()
    assert not raw.startswith(b'\xef\xbb\xbf'), 'byte-order mark'
    with open(path, newline='', encoding='utf-8') as f:
        for row in csv.reader(f, delimiter=delimiter, strict=True):
            print('\t'.join(repr(field) for field in row))
elif kind == 'jsonl':
    for line in open(path, encoding='utf-8', newline=''):
        assert line.endswith('\n') and not line.endswith('\r\n')
        o = json.loads(line)
        print('\t'.join(repr(o[k]) for k in o))
elif kind == 'xlsx':
    import openpyxl
    book = openpyxl.load_workbook(path)
    print(book.sheetnames, [s.title for s in book.chartsheets], [s.sheet_state for s in book.worksheets])
    data = book['Data']
    print('frozen', data.freeze_panes)
    print('widths', [round(data.column_dimensions[c].width) for c in 'ABCDEF'])
    for row in data.iter_rows(values_only=True):
        print('\t'.join(repr(v) for v in row))
    print('time format', data['B2'].number_format)
    with zipfile.ZipFile(path) as z:
        chart = z.read('xl/charts/chart1.xml').decode()
        import re
        print('line chart', '<c:lineChart>' in chart)
        print('title', re.findall(r'<a:t>([^<]*)</a:t>', chart))
        print('refs', re.findall(r'<c:f>([^<]*)</c:f>', chart))
)PY";

class CliExportTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* build = std::getenv("CALVORA_BUILD_DIR");
        ASSERT_NE(build, nullptr) << "run through ctest, which sets CALVORA_BUILD_DIR";
        cli_ = fs::path(build) / "tools" / "cli" / "calvora-cli";
        dir_ = fs::temp_directory_path() / ("calvora-cli-export-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        std::ofstream(dir_ / "readers.py") << kReaders;
        RecordingDocument golden = test::DocumentOf(test::GoldenRows());
        MemorySink sink;
        ASSERT_TRUE(WriteRecord(golden, sink));
        std::ofstream(dir_ / "run.recorder", std::ios::binary)
            .write(reinterpret_cast<const char*>(sink.bytes.data()),
                   static_cast<std::streamsize>(sink.bytes.size()));
    }
    void TearDown() override { fs::remove_all(dir_); }

    Finished Shell(const std::string& command) {
        const std::string line = command + " >" + Quoted(dir_ / "stdout") + " 2>" + Quoted(dir_ / "stderr");
        const int status = std::system(line.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Contents(dir_ / "stdout"),
                Contents(dir_ / "stderr")};
    }
    Finished Cli(const std::string& arguments) { return Shell(Quoted(cli_) + " " + arguments); }
    // What Python reads from an export; skips the test when Python (or openpyxl) is missing.
    std::string Read(const std::string& kind, const fs::path& file, const std::string& extra = "") {
        const Finished run = Shell(std::string(kPython) + " " + Quoted(dir_ / "readers.py") + " " + kind +
                                   " " + Quoted(file) + " " + extra);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        return run.out;
    }
    bool HavePython(const char* module) {
        return Shell(std::string(kPython) + " -c 'import " + module + "'").exitCode == 0;
    }

    fs::path cli_;
    fs::path dir_;
};

// The golden document as any csv reader gets it, whatever the delimiter.
const std::string kFields = "'sample'\t'time'\t'function'\t'mode'\t'value'\t'unit'\n"
                            "'1'\t'2026-12-07T22:05:20'\t'VDC'\t'DC'\t'1.2345'\t'V'\n"
                            "'2'\t'2026-12-07T22:05:21'\t'RDBC'\t'R'\t'OL'\t'KΩ'\n"
                            "'3'\t'2026-12-07T22:05:22'\t'Temp'\t'TK'\t'-OL'\t'°C'\n"
                            "'4'\t'02/29/27 10:00:00'\t'VDC'\t'DC'\t'OL'\t'V'\n"
                            "'5'\t'2028-02-29T10:00:00'\t'VDC'\t'DC'\t'-OL'\t'V'\n"
                            "'6'\t'12/07/26 22:05:20'\t'say \"hi\"'\t'a,b'\t'0.1'\t'x;y'\n"
                            "'7'\t'13/07/26 22:05:20'\t'mV'\t'line\\r\\nbreak'\t'1e+05'\t'Ω'\n"
                            "'8'\t''\t'tab\\there'\t''\t'-0'\t''\n"
                            "'9'\t'12/07/26 24:00:00'\t'VAC'\t'AC'\t'3.4028235e+38'\t'V'\n"
                            "'10'\t'just a note'\t'uA'\t'DC'\t'1.5e-07'\t'uA'\n";

TEST_F(CliExportTest, CsvIsWhatPythonsCsvReaderReadsInEachChoice) {
    if (!HavePython("csv"))
        GTEST_SKIP() << kPython << " is missing (scripts/install-deps.sh installs it)";
    const fs::path in = dir_ / "run.recorder";
    struct Case {
        std::string options;
        std::string dialect;
        bool decimalComma;
    };
    for (const Case& c : {Case{"", "comma", false}, Case{"--delimiter ';'", "semicolon", false},
                          Case{"--delimiter ';' --decimal-comma", "semicolon", true},
                          Case{"--delimiter tab --decimal-comma", "tab", true}}) {
        SCOPED_TRACE(c.options);
        const Finished run =
            Cli("export --format csv " + c.options + " " + Quoted(in) + " " + Quoted(dir_ / "out.csv"));
        ASSERT_EQ(run.exitCode, 0) << run.err;
        std::string expected = kFields;
        if (c.decimalComma) {
            for (const char* number : {"1.2345", "0.1", "3.4028235e+38", "1.5e-07"}) {
                std::string comma = number;
                comma[comma.find('.')] = ',';
                expected.replace(expected.find(std::string("'") + number + "'"), comma.size() + 2,
                                 "'" + comma + "'");
            }
        }
        EXPECT_EQ(Read("csv", dir_ / "out.csv", c.dialect), expected);

        // Read back by convert and exported again: the same bytes.
        ASSERT_EQ(Cli("convert " + Quoted(dir_ / "out.csv") + " " + Quoted(dir_ / "back.recorder")).exitCode,
                  0);
        ASSERT_EQ(Cli("export --format csv " + c.options + " " + Quoted(dir_ / "back.recorder") + " " +
                      Quoted(dir_ / "again.csv"))
                      .exitCode,
                  0);
        EXPECT_EQ(Contents(dir_ / "again.csv"), Contents(dir_ / "out.csv"));
    }
}

TEST_F(CliExportTest, JsonLinesAndRangesAsPythonReadsThem) {
    if (!HavePython("json"))
        GTEST_SKIP() << kPython << " is missing (scripts/install-deps.sh installs it)";
    const Finished run = Cli("export --format jsonl --from 2 --to 3 " + Quoted(dir_ / "run.recorder") + " " +
                             Quoted(dir_ / "out.jsonl"));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(Read("jsonl", dir_ / "out.jsonl"),
              "2\t'2026-12-07T22:05:21'\t'RDBC'\t'R'\tNone\t'OL'\t'KΩ'\t40\t0\n"
              "3\t'2026-12-07T22:05:22'\t'Temp'\t'TK'\tNone\t'-OL'\t'°C'\t1200\t-25\n");
    const Finished csv = Cli("export --format csv --to 1 " + Quoted(dir_ / "run.recorder") + " -");
    EXPECT_EQ(csv.out, "sample,time,function,mode,value,unit\r\n1,2026-12-07T22:05:20,VDC,DC,1.2345,V\r\n");
}

TEST_F(CliExportTest, XlsxIsWhatOpenpyxlReads) {
    if (!HavePython("openpyxl"))
        GTEST_SKIP() << "Python's openpyxl is missing (scripts/install-deps.sh installs python3-openpyxl)";
    const Finished run =
        Cli("export --format xlsx " + Quoted(dir_ / "run.recorder") + " " + Quoted(dir_ / "out.xlsx"));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(Read("xlsx", dir_ / "out.xlsx"),
              "['Data', 'Chart', 'Chart values'] ['Chart'] ['visible', 'hidden']\n"
              "frozen A2\n"
              "widths [9, 22, 11, 14, 16, 7]\n"
              "'sample'\t'time'\t'function'\t'mode'\t'value'\t'unit'\n"
              "1\tdatetime.datetime(2026, 12, 7, 22, 5, 20)\t'VDC'\t'DC'\t1.2345\t'V'\n"
              "2\tdatetime.datetime(2026, 12, 7, 22, 5, 21)\t'RDBC'\t'R'\t'OL'\t'KΩ'\n"
              "3\tdatetime.datetime(2026, 12, 7, 22, 5, 22)\t'Temp'\t'TK'\t'-OL'\t'°C'\n"
              "4\t'02/29/27 10:00:00'\t'VDC'\t'DC'\t'OL'\t'V'\n"
              "5\tdatetime.datetime(2028, 2, 29, 10, 0)\t'VDC'\t'DC'\t'-OL'\t'V'\n"
              "6\t'12/07/26 22:05:20'\t'say \"hi\"'\t'a,b'\t0.1\t'x;y'\n"
              // The carriage return is stored escaped, as the format has it; openpyxl does not undo that.
              "7\t'13/07/26 22:05:20'\t'mV'\t'line_x000D_\\nbreak'\t100000\t'Ω'\n"
              "8\tNone\t'tab\\there'\tNone\t0\tNone\n"
              "9\t'12/07/26 24:00:00'\t'VAC'\t'AC'\t3.4028235e+38\t'V'\n"
              "10\t'just a note'\t'uA'\t'DC'\t1.5e-07\t'uA'\n"
              "time format yyyy-mm-dd hh:mm:ss\n"
              "line chart True\n"
              "title ['run.recorder (V, KΩ, °C, x;y, Ω, uA)', 'sample', 'V, KΩ, °C, x;y, Ω, uA']\n"
              "refs [\"'Data'!$A$2:$A$11\", \"'Chart values'!$A$2:$A$11\"]\n");

    // Without overloads the chart reads the Data sheet itself and no helper sheet is made.
    ASSERT_EQ(
        Cli("export --format xlsx --to 1 " + Quoted(dir_ / "run.recorder") + " " + Quoted(dir_ / "one.xlsx"))
            .exitCode,
        0);
    const std::string one = Read("xlsx", dir_ / "one.xlsx");
    EXPECT_EQ(one.substr(0, one.find('\n')), "['Data', 'Chart'] ['Chart'] ['visible']");
    EXPECT_NE(one.find("refs [\"'Data'!$A$2:$A$2\", \"'Data'!$E$2:$E$2\"]"), std::string::npos) << one;
}

TEST_F(CliExportTest, BadUsageSaysWhichOptionsAndWritesNothing) {
    const std::string in = Quoted(dir_ / "run.recorder");
    const std::string out = Quoted(dir_ / "x");
    struct Case {
        std::string arguments;
        std::string message;
    };
    const Case cases[] = {
        {"export --format csv --decimal-comma " + in + " " + out,
         "--decimal-comma cannot go with the , delimiter"},
        {"export --format csv --delimiter , --decimal-comma " + in + " " + out, "--delimiter"},
        {"export --format jsonl --delimiter ';' " + in + " " + out,
         "--delimiter and --decimal-comma go with --format csv"},
        {"export --decimal-comma " + in + " " + out, "go with --format csv only"},
        {"export --format csv --delimiter x " + in + " " + out, "--delimiter"},
        {"export --format ods " + in + " " + out, "--format"},
        {"export --format csv --from 0 " + in + " " + out, "--from 0 is below 1"},
        {"export --format csv --to 11 " + in + " " + out,
         "--to 11 is past the last sample (the file holds 10 samples)"},
        {"export --format csv --from 11 " + in + " " + out, "--from 11 is past the last sample"},
        {"export --format csv --from 5 --to 3 " + in + " " + out, "--from 5 is after --to 3"},
        {"export --format xlsx --from 3 --to 2 " + in + " " + out, "--from 3 is after --to 2"},
    };
    for (const Case& c : cases) {
        const Finished run = Cli(c.arguments);
        EXPECT_EQ(run.exitCode, 2) << c.arguments;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << c.arguments << "\n" << run.err;
        EXPECT_FALSE(fs::exists(dir_ / "x")) << c.arguments;
    }
    const Finished foreign = Cli("convert " + Quoted(dir_ / "readers.py") + " " + out);
    EXPECT_EQ(foreign.exitCode, 2);
    const Finished notAnExport = Shell("printf 'a,b\\r\\n1,2\\r\\n' >" + Quoted(dir_ / "other.csv") + " && " +
                                       Quoted(cli_) + " convert " + Quoted(dir_ / "other.csv") + " " + out);
    EXPECT_EQ(notAnExport.exitCode, 2);
    EXPECT_EQ(notAnExport.err,
              (dir_ / "other.csv").string() +
                  ": line 1 does not fit a csv export: it is not the header "
                  "sample,time,function,mode,value,unit (with a comma, semicolon or tab between "
                  "the names)\n");
    EXPECT_FALSE(fs::exists(dir_ / "x"));
}

TEST_F(CliExportTest, IntoAReadOnlyFolderFailsLoudlyAndLeavesNothingBehind) {
    const fs::path folder = dir_ / "ro";
    testing::PrivateTmpfs tmpfs(folder, "size=1m");
    fs::create_directories(dir_ / "tmp");
    if (tmpfs.mounted()) {
        ASSERT_TRUE(tmpfs.RemountReadOnly());
    } else if (::geteuid() != 0) {
        fs::create_directories(folder);
        ::chmod(folder.c_str(), 0555);
    } else {
        GTEST_SKIP() << "root without a private mount: no folder stays read-only for root";
    }
    for (const char* format : {"csv", "jsonl", "xlsx", "recorder-csv"}) {
        const fs::path target = folder / (std::string("run.") + format);
        // The workbook's temporary folder goes to TMPDIR: it must not stay there either.
        const Finished run =
            Shell("TMPDIR=" + Quoted(dir_ / "tmp") + " " + Quoted(cli_) + " export --format " + format + " " +
                  Quoted(dir_ / "run.recorder") + " " + Quoted(target));
        EXPECT_EQ(run.exitCode, 1) << format;
        EXPECT_EQ(run.err.rfind("calvora-cli: Cannot save " + target.string() + ": ", 0), 0u) << run.err;
        EXPECT_TRUE(fs::is_empty(folder)) << format;
        EXPECT_TRUE(fs::is_empty(dir_ / "tmp")) << format;
    }
}

} // namespace
} // namespace calvora
