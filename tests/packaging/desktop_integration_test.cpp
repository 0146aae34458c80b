// The files that tie Calvora into a Linux desktop, checked against what the program really does: the
// file-type magic against files the record writer writes, the menu entry against the file type and the
// icons, and the receiver's udev rule against the bridges the receiver inventory recognises.
#include "logging/continuous_log.h"
#include "recording/record_file.h"
#include "recording/recording_document.h"
#include "recording/save.h"
#include "recording/text_export.h"
#include "tests/packaging/source_files.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QFile>
#include <QXmlStreamReader>

#include <fnmatch.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include <map>
#include <regex>
#include <set>

namespace calvora {
namespace {

using test::ReadSourceFile;
using test::SourcePath;

constexpr char kAppId[] = "io.github.calvora.Calvora";

// ------------------------------------------------------------------------------------ MIME type

struct MagicMatch {
    std::string type;
    int offsetFrom = 0;
    int offsetTo = 0;
    std::string value;
    std::vector<MagicMatch> all; // nested matches must all hold as well
};

struct MimeType {
    std::string name;
    std::string icon;
    std::vector<std::string> globs;
    std::vector<MagicMatch> magic; // any one of these
};

// Values of "string" matches: \xNN, octal \NNN and \c for a literal character.
std::string Unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char next = text[++i];
        if (next == 'x') {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else if (next >= '0' && next <= '7') {
            size_t digits = 1;
            while (digits < 3 && i + digits < text.size() && text[i + digits] >= '0' &&
                   text[i + digits] <= '7')
                ++digits;
            out += static_cast<char>(std::stoi(text.substr(i, digits), nullptr, 8));
            i += digits - 1;
        } else {
            out += next;
        }
    }
    return out;
}

MagicMatch ReadMatch(QXmlStreamReader& xml) {
    MagicMatch match;
    const auto attributes = xml.attributes();
    match.type = attributes.value(QStringLiteral("type")).toString().toStdString();
    match.value = Unescape(attributes.value(QStringLiteral("value")).toString().toStdString());
    const std::string offset = attributes.value(QStringLiteral("offset")).toString().toStdString();
    const size_t colon = offset.find(':');
    match.offsetFrom = std::stoi(offset.substr(0, colon));
    match.offsetTo = colon == std::string::npos ? match.offsetFrom : std::stoi(offset.substr(colon + 1));
    while (xml.readNextStartElement()) {
        if (xml.name() == QStringLiteral("match"))
            match.all.push_back(ReadMatch(xml));
        else
            xml.skipCurrentElement();
    }
    return match;
}

std::vector<MimeType> ReadMimeTypes(const std::string& path) {
    QFile file(QString::fromStdString(path));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path;
    QXmlStreamReader xml(&file);
    std::vector<MimeType> types;
    if (!xml.readNextStartElement() || xml.name() != QStringLiteral("mime-info"))
        return types;
    while (xml.readNextStartElement()) {
        if (xml.name() != QStringLiteral("mime-type")) {
            xml.skipCurrentElement();
            continue;
        }
        MimeType type;
        type.name = xml.attributes().value(QStringLiteral("type")).toString().toStdString();
        while (xml.readNextStartElement()) {
            const auto attributes = xml.attributes();
            if (xml.name() == QStringLiteral("glob")) {
                type.globs.push_back(attributes.value(QStringLiteral("pattern")).toString().toStdString());
                xml.skipCurrentElement();
            } else if (xml.name() == QStringLiteral("icon")) {
                type.icon = attributes.value(QStringLiteral("name")).toString().toStdString();
                xml.skipCurrentElement();
            } else if (xml.name() == QStringLiteral("magic")) {
                while (xml.readNextStartElement()) {
                    if (xml.name() == QStringLiteral("match"))
                        type.magic.push_back(ReadMatch(xml));
                    else
                        xml.skipCurrentElement();
                }
            } else {
                xml.skipCurrentElement();
            }
        }
        types.push_back(std::move(type));
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    return types;
}

bool Holds(const MagicMatch& match, const std::vector<uint8_t>& bytes) {
    if (match.type != "string" || match.value.empty())
        return false;
    bool found = false;
    for (int offset = match.offsetFrom; offset <= match.offsetTo && !found; ++offset) {
        found = static_cast<size_t>(offset) + match.value.size() <= bytes.size() &&
                std::equal(match.value.begin(), match.value.end(), bytes.begin() + offset,
                           [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; });
    }
    for (const MagicMatch& inner : match.all)
        found = found && Holds(inner, bytes);
    return found;
}

bool MagicRecognises(const MimeType& type, const std::vector<uint8_t>& bytes) {
    return std::any_of(type.magic.begin(), type.magic.end(),
                       [&](const MagicMatch& m) { return Holds(m, bytes); });
}

class RecorderFileType : public ::testing::Test {
protected:
    void SetUp() override {
        const auto types = ReadMimeTypes(SourcePath(std::string("packaging/mime/") + kAppId + ".xml"));
        ASSERT_EQ(types.size(), 2u);
        type_ = types.front();
        log_ = types.back();
    }

    static std::vector<uint8_t> Record(const RecordingDocument& document) {
        MemorySink sink;
        EXPECT_TRUE(WriteRecord(document, sink));
        return sink.bytes;
    }

    static void AddSamples(RecordingDocument& document, int count) {
        uint32_t allocated = 0;
        ASSERT_TRUE(document.BeginLiveStorage(static_cast<uint32_t>(count), allocated));
        for (int i = 0; i < count; ++i)
            ASSERT_TRUE(
                document.AppendSample(1.5f * i, 6.0f, -3, u"VDC", u"DC", u"V", u" 12/07/26 22:05:20"));
    }

    MimeType type_;
    MimeType log_;
};

TEST_F(RecorderFileType, IsOneTypeWithTheRecorderGlobAndItsOwnIcon) {
    EXPECT_EQ(type_.name, "application/x-calvora-recorder");
    EXPECT_THAT(type_.globs, ::testing::ElementsAre("*.recorder"));
    EXPECT_EQ(type_.icon, "application-x-calvora-recorder");
    EXPECT_FALSE(type_.magic.empty());
}

// A log the program writes is its own type by name and by its first bytes; a recording, or an SQLite
// database of another program, is not.
TEST_F(RecorderFileType, LogsHaveATypeOfTheirOwnThatKnowsThemByTheirHeader) {
    EXPECT_EQ(log_.name, "application/x-calvora-log");
    EXPECT_THAT(log_.globs, ::testing::ElementsAre("*.calvlog"));
    const auto folder = std::filesystem::temp_directory_path() / ("calvora-mime-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const auto path = folder / "day.calvlog";
    auto log = ContinuousLog::Start(path, {}, {{"model", "QM310/QM312"}}, 1'796'000'000'000);
    ASSERT_TRUE(log);
    ASSERT_TRUE(log.value()->Finish(1'796'000'001'000, LogEnd::Stopped));
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::filesystem::remove_all(folder);
    EXPECT_TRUE(MagicRecognises(log_, bytes));
    EXPECT_FALSE(MagicRecognises(type_, bytes));

    std::vector<uint8_t> foreign = bytes;
    foreign[68] = 0; // another application's id
    EXPECT_FALSE(MagicRecognises(log_, foreign));
    RecordingDocument recorded;
    AddSamples(recorded, 3);
    EXPECT_FALSE(MagicRecognises(log_, Record(recorded)));
}

TEST_F(RecorderFileType, GlobMatchesTheNamesSaveWrites) {
    for (const char* chosen : {"/home/u/Documents/Multimeter/Multimeter 26-12-07  22.05.20.recorder",
                               "/tmp/data.xls", "/tmp/run.1.recorder"}) {
        const SavePaths paths = DerivePaths(chosen);
        const std::string name = paths.record.filename().string();
        EXPECT_EQ(fnmatch(type_.globs.at(0).c_str(), name.c_str(), 0), 0) << name;
        EXPECT_NE(fnmatch(type_.globs.at(0).c_str(), paths.text.filename().string().c_str(), 0), 0);
    }
}

TEST_F(RecorderFileType, MagicRecognisesEveryRecordTheWriterWrites) {
    RecordingDocument empty;
    EXPECT_TRUE(MagicRecognises(type_, Record(empty)));

    RecordingDocument fresh;
    fresh.SetChannelCount(1);
    EXPECT_TRUE(MagicRecognises(type_, Record(fresh)));

    RecordingDocument recorded;
    AddSamples(recorded, 300);
    EXPECT_TRUE(MagicRecognises(type_, Record(recorded)));
}

TEST_F(RecorderFileType, MagicRecognisesTheNarrowModelStringTheReaderAccepts) {
    RecordingDocument recorded;
    AddSamples(recorded, 2);
    std::vector<uint8_t> bytes = Record(recorded);
    // The wide model string takes 26 bytes; the narrow form is its length byte and 11 characters.
    std::vector<uint8_t> narrow = {0x0B, 'Q', 'M', '3', '1', '0', '/', 'Q', 'M', '3', '1', '2'};
    narrow.insert(narrow.end(), bytes.begin() + 26, bytes.end());

    RecordingDocument reread;
    ASSERT_TRUE(ReadRecord(narrow, reread));
    EXPECT_EQ(reread.sampleCount(), 2u);
    EXPECT_TRUE(MagicRecognises(type_, narrow));
}

TEST_F(RecorderFileType, MagicRejectsTheTextExportAndOtherModelsFiles) {
    RecordingDocument recorded;
    AddSamples(recorded, 3);

    // The export also starts with FF FE (its byte-order mark).
    MemorySink text;
    ASSERT_TRUE(WriteTextExport(recorded, text));
    ASSERT_GE(text.bytes.size(), 2u);
    EXPECT_EQ(text.bytes[0], 0xFF);
    EXPECT_EQ(text.bytes[1], 0xFE);
    EXPECT_FALSE(MagicRecognises(type_, text.bytes));

    // Another meter family's file, which the reader refuses with "Invalid Format!".
    std::vector<uint8_t> other = Record(recorded);
    other[4 + 2 * 3] = '2'; // marker and length, then Q M 3: QM310 becomes QM320
    RecordingDocument refused;
    EXPECT_EQ(ReadRecord(other, refused).kind(), ReadFailure::InvalidFormat);
    EXPECT_FALSE(MagicRecognises(type_, other));

    for (const std::vector<uint8_t>& tooShort :
         {std::vector<uint8_t>{}, std::vector<uint8_t>{0xFF, 0xFE, 0xFF},
          std::vector<uint8_t>{0x0B, 'Q', 'M'}})
        EXPECT_FALSE(MagicRecognises(type_, tooShort));
}

// ----------------------------------------------------------------------------------- menu entry

std::map<std::string, std::string> ReadDesktopEntry(const std::string& path) {
    std::map<std::string, std::string> keys;
    std::istringstream in(ReadSourceFile(path));
    std::string line;
    std::string group;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        if (line[0] == '[') {
            group = line;
            continue;
        }
        const size_t equals = line.find('=');
        if (group == "[Desktop Entry]" && equals != std::string::npos)
            keys[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return keys;
}

std::set<std::string> SplitList(const std::string& list) {
    std::set<std::string> items;
    std::istringstream in(list);
    std::string item;
    while (std::getline(in, item, ';'))
        if (!item.empty())
            items.insert(item);
    return items;
}

TEST(DesktopEntry, OpensTheRecorderTypeWithTheInstalledProgram) {
    auto entry = ReadDesktopEntry(std::string("packaging/desktop/") + kAppId + ".desktop");
    const auto types = ReadMimeTypes(SourcePath(std::string("packaging/mime/") + kAppId + ".xml"));
    ASSERT_EQ(types.size(), 2u);
    for (const MimeType& type : types)
        EXPECT_THAT(SplitList(entry["MimeType"]), ::testing::Contains(type.name));

    // The file manager hands the chosen files to the program named first, as %F or %f.
    std::istringstream exec(entry["Exec"]);
    std::string program;
    std::string argument;
    exec >> program >> argument;
    EXPECT_EQ(program, CALVORA_PROGRAM_NAME);
    EXPECT_EQ(entry["TryExec"], CALVORA_PROGRAM_NAME);
    EXPECT_THAT(argument, ::testing::AnyOf("%F", "%f"));
    EXPECT_EQ(entry["Type"], "Application");
    EXPECT_THAT(SplitList(entry["Categories"]), ::testing::IsSupersetOf({"Science", "Electronics"}));
}

TEST(DesktopEntry, IconsExistForTheProgramAndTheDocumentType) {
    auto entry = ReadDesktopEntry(std::string("packaging/desktop/") + kAppId + ".desktop");
    // The icon carries the entry's id, so that docks and window lists find it from the id alone.
    EXPECT_EQ(entry["Icon"], kAppId);
    EXPECT_FALSE(ReadSourceFile("packaging/icons/" + entry["Icon"] + ".svg").empty());

    const auto types = ReadMimeTypes(SourcePath(std::string("packaging/mime/") + kAppId + ".xml"));
    ASSERT_EQ(types.size(), 2u);
    for (const MimeType& type : types)
        EXPECT_FALSE(ReadSourceFile("packaging/icons/" + type.icon + ".svg").empty()) << type.name;
}

// ------------------------------------------------------------------------------ receiver access

struct UdevRule {
    // key (with its {attribute}) -> operator and value
    std::multimap<std::string, std::pair<std::string, std::string>> fields;
    bool Has(const std::string& key, const std::string& op, const std::string& value) const {
        auto [from, to] = fields.equal_range(key);
        return std::any_of(from, to, [&](const auto& f) { return f.second == std::make_pair(op, value); });
    }
    std::string Value(const std::string& key) const {
        auto it = fields.find(key);
        return it == fields.end() ? std::string() : it->second.second;
    }
};

// Every line is KEY OP "VALUE" pairs joined by commas; anything else is a syntax error udev would log.
std::vector<UdevRule> ParseUdevRules(const std::string& text, std::vector<std::string>& errors) {
    static const std::regex field(
        R"re(\s*([A-Z_]+(?:\{[^}]+\})?)\s*(==|!=|\+=|-=|:=|=)\s*"([^"]*)"\s*(,|$))re");
    static const std::set<std::string> matchOnly = {"ACTION", "SUBSYSTEM",  "KERNEL",  "DRIVER", "ATTR",
                                                    "ATTRS",  "SUBSYSTEMS", "KERNELS", "DRIVERS"};
    std::vector<UdevRule> rules;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.find_first_not_of(" \t") == std::string::npos || line[line.find_first_not_of(" \t")] == '#')
            continue;
        UdevRule rule;
        auto position = line.cbegin();
        std::smatch m;
        while (position != line.cend() &&
               std::regex_search(position, line.cend(), m, field, std::regex_constants::match_continuous)) {
            const std::string key = m[1];
            const std::string op = m[2];
            const std::string base = key.substr(0, key.find('{'));
            if (matchOnly.count(base) && op != "==" && op != "!=")
                errors.push_back(line + ": " + key + " is matched, not assigned");
            rule.fields.emplace(key, std::make_pair(op, std::string(m[3])));
            position = m[0].second;
        }
        if (position != line.cend() || rule.fields.empty())
            errors.push_back("cannot read: " + line);
        rules.push_back(std::move(rule));
    }
    return rules;
}

// The bridges the program lists as receivers, from the inventory's table.
std::set<std::string> InventoryProducts() {
    const std::string source = ReadSourceFile("link/receiver_inventory.cpp");
    const size_t table = source.find("kCp210xProducts");
    const size_t open = source.find('{', table);
    const size_t close = source.find('}', open);
    std::set<std::string> products;
    const std::string list = source.substr(open, close - open);
    static const std::regex id("\"([0-9a-f]{4})\"");
    for (auto it = std::sregex_iterator(list.begin(), list.end(), id); it != std::sregex_iterator(); ++it)
        products.insert((*it)[1]);
    return products;
}

class ReceiverRule : public ::testing::Test {
protected:
    static constexpr char kPath[] = "packaging/udev/70-calvora-receiver.rules";
    void SetUp() override {
        rules_ = ParseUdevRules(ReadSourceFile(kPath), errors_);
        ASSERT_THAT(errors_, ::testing::IsEmpty());
    }
    std::vector<UdevRule> rules_;
    std::vector<std::string> errors_;
};

TEST_F(ReceiverRule, SortsBeforeTheSeatRulesThatApplyUaccess) {
    const std::string name = std::filesystem::path(kPath).filename().string();
    EXPECT_LT(std::stoi(name.substr(0, 2)), 73) << name;
    EXPECT_EQ(name.substr(name.size() - 6), ".rules");
}

TEST_F(ReceiverRule, GrantsTheSeatTheTtyOfEveryBridgeTheProgramLists) {
    const std::set<std::string> products = InventoryProducts();
    ASSERT_GE(products.size(), 1u);
    ASSERT_TRUE(products.count("ea60")); // the common CP2102

    int ttyRules = 0;
    for (const UdevRule& rule : rules_) {
        if (!rule.Has("SUBSYSTEM", "==", "tty"))
            continue;
        ++ttyRules;
        EXPECT_TRUE(rule.Has("ATTRS{idVendor}", "==", "10c4"));
        std::set<std::string> covered;
        std::istringstream alternatives(rule.Value("ATTRS{idProduct}"));
        for (std::string product; std::getline(alternatives, product, '|');)
            covered.insert(product);
        EXPECT_EQ(covered, products);
        EXPECT_TRUE(rule.Has("TAG", "+=", "uaccess"));
        EXPECT_TRUE(rule.Has("ENV{ID_MM_DEVICE_IGNORE}", "=", "1"));
    }
    EXPECT_EQ(ttyRules, 1);
}

TEST_F(ReceiverRule, KeepsModemManagerOffTheUsbDeviceToo) {
    const auto rule = [&](const char* subsystem) {
        return std::find_if(rules_.begin(), rules_.end(),
                            [&](const UdevRule& r) { return r.Has("SUBSYSTEM", "==", subsystem); });
    };
    const auto usb = rule("usb");
    const auto tty = rule("tty");
    ASSERT_NE(usb, rules_.end());
    ASSERT_NE(tty, rules_.end());
    EXPECT_TRUE(usb->Has("ATTR{idVendor}", "==", "10c4"));
    EXPECT_EQ(usb->Value("ATTR{idProduct}"), tty->Value("ATTRS{idProduct}"));
    EXPECT_TRUE(usb->Has("ENV{ID_MM_DEVICE_IGNORE}", "=", "1"));
}

TEST_F(ReceiverRule, EveryGotoHasItsLabel) {
    std::set<std::string> labels;
    std::set<std::string> gotos;
    for (const UdevRule& rule : rules_) {
        if (!rule.Value("LABEL").empty())
            labels.insert(rule.Value("LABEL"));
        if (!rule.Value("GOTO").empty())
            gotos.insert(rule.Value("GOTO"));
    }
    for (const std::string& target : gotos)
        EXPECT_TRUE(labels.count(target)) << target;
}

TEST(UdevRuleReader, ReportsTheMistakesItIsThereToCatch) {
    std::vector<std::string> errors;
    ParseUdevRules("SUBSYSTEM==\"tty\", ATTRS{idVendor}=\"10c4\", TAG+=\"uaccess\"\n", errors);
    EXPECT_EQ(errors.size(), 1u); // an attribute assigned instead of matched
    errors.clear();
    ParseUdevRules("SUBSYSTEM==\"tty\" ATTRS{idVendor}==\"10c4\"\n", errors);
    EXPECT_EQ(errors.size(), 1u); // a missing comma
    errors.clear();
    ParseUdevRules("SUBSYSTEM==\"tty, TAG+=\"uaccess\"\n", errors);
    EXPECT_EQ(errors.size(), 1u); // an unbalanced quote
}

} // namespace
} // namespace calvora
