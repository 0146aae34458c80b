#include "link/settings_file.h"

#include "recording/atomic_file.h"

#include <ini.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <strings.h>
#include <sys/stat.h>
#include <vector>

namespace calvora {

namespace {

struct Entry {
    std::string key;
    std::string value;
};
struct Section {
    std::string name;
    std::vector<Entry> entries;
};
using IniDocument = std::vector<Section>;

bool SameName(const std::string& a, const std::string& b) {
    // Profile section and key names are case-insensitive.
    return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

int CollectEntry(void* user, const char* section, const char* key, const char* value) {
    auto& document = *static_cast<IniDocument*>(user);
    if (document.empty() || !SameName(document.back().name, section))
        document.push_back({section, {}});
    if (key)
        document.back().entries.push_back({key, value ? value : ""});
    return 1;
}

std::optional<std::string> ReadFileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

IniDocument Parse(const std::string& text) {
    IniDocument document;
    // A malformed line makes inih report its number but it still delivers every line it understood.
    ini_parse_string(text.c_str(), CollectEntry, &document);
    return document;
}

std::string Serialise(const IniDocument& document) {
    std::string text;
    for (const auto& section : document) {
        if (!text.empty())
            text += '\n';
        text += "[" + section.name + "]\n";
        for (const auto& entry : section.entries)
            text += entry.key + "=" + entry.value + "\n";
    }
    return text;
}

} // namespace

SettingsFile::SettingsFile(std::string path) : path_(std::move(path)) {}

std::string SettingsFile::DefaultPath() {
    std::string base;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config == '/')
        base = config;
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = std::string(home) + "/.config";
    else
        base = "/tmp";
    return base + "/calvora/ZAZEDOVADIZO.ini";
}

std::optional<std::string> SettingsFile::ReadValue(const std::string& section, const std::string& key) const {
    const auto text = ReadFileText(path_);
    if (!text)
        return std::nullopt;
    for (const auto& candidate : Parse(*text)) {
        if (!SameName(candidate.name, section))
            continue;
        for (const auto& entry : candidate.entries) {
            if (SameName(entry.key, key))
                return entry.value;
        }
    }
    return std::nullopt;
}

int SettingsFile::ReadPortNumber(const std::string& label, int fallback) const {
    const auto value = ReadValue(label + "COMPORT", label + "PORTNUM");
    if (!value)
        return fallback;
    // Like the profile API: the leading decimal number, 0 when there is none.
    return static_cast<int>(std::strtol(value->c_str(), nullptr, 10));
}

std::optional<std::string> SettingsFile::ReadDevicePath(const std::string& label) const {
    auto value = ReadValue(label + "COMPORT", label + "DEVICE");
    if (value && value->empty())
        return std::nullopt;
    return value;
}

bool SettingsFile::WritePort(const std::string& label, int portNumber, const std::string& devicePath,
                             std::string* error) const {
    IniDocument document = Parse(ReadFileText(path_).value_or(std::string()));
    const std::string sectionName = label + "COMPORT";
    Section* section = nullptr;
    // The first section of that name, the one the reader looks in first.
    for (auto& candidate : document) {
        if (SameName(candidate.name, sectionName)) {
            section = &candidate;
            break;
        }
    }
    if (!section) {
        document.push_back({sectionName, {}});
        section = &document.back();
    }
    auto set = [&](const std::string& key, const std::string& value) {
        for (auto& entry : section->entries) {
            if (SameName(entry.key, key)) {
                entry.value = value;
                return;
            }
        }
        section->entries.push_back({key, value});
    };
    set(label + "PORTNUM", std::to_string(portNumber));
    if (!devicePath.empty())
        set(label + "DEVICE", devicePath);

    const auto slash = path_.rfind('/');
    if (slash != std::string::npos && slash > 0)
        CreateDirectories(path_.substr(0, slash));
    return WriteFileAtomically(path_, Serialise(document), error);
}

} // namespace calvora
