#include "link/settings_file.h"

#include "protocol/text.h"
#include "recording/atomic_file.h"

#include <ini.h>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace calvora {

namespace {

Failure<> SystemFailure(int error) {
    char buffer[160];
    // GNU strerror_r: returns the text, which may or may not live in `buffer`.
    return Failure(fromUtf8(strerror_r(error, buffer, sizeof buffer)));
}

Failure<> NotRegular(mode_t mode) {
    const char16_t* kind = S_ISFIFO(mode)   ? u"a FIFO"
                           : S_ISCHR(mode)  ? u"a character device"
                           : S_ISBLK(mode)  ? u"a block device"
                           : S_ISDIR(mode)  ? u"a folder"
                           : S_ISSOCK(mode) ? u"a socket"
                                            : nullptr;
    return Failure(kind ? u"it is " + std::u16string(kind) + u", not a regular file"
                        : u"it is not a regular file");
}

Failure<> TooLarge(size_t limit) {
    return Failure(u"it is larger than " + fromAscii(limit % 1024 == 0 ? std::to_string(limit / 1024) + " KiB"
                                                                       : std::to_string(limit) + " bytes"));
}

struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0)
            ::close(fd);
    }
};

// The whole file when it is a regular file of at most `limit` bytes, nothing when it does not exist; a
// failure saying why it cannot be read otherwise.
Outcome<std::optional<std::string>> ReadBoundedFile(const std::string& path, size_t limit) {
    const std::optional<std::string> missing;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        if (errno == ENOENT)
            return missing;
        return SystemFailure(errno);
    }
    // Checked before opening: opening a FIFO waits for a writer, opening a device may act on it.
    if (!S_ISREG(info.st_mode))
        return NotRegular(info.st_mode);
    if (static_cast<unsigned long long>(info.st_size) > limit)
        return TooLarge(limit);
    // Non-blocking all the same, in case something else was put there since the check.
    const Descriptor file{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)};
    if (file.fd < 0 || ::fstat(file.fd, &info) != 0) {
        if (errno == ENOENT)
            return missing;
        return SystemFailure(errno);
    }
    if (!S_ISREG(info.st_mode))
        return NotRegular(info.st_mode);
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(file.fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return SystemFailure(errno);
        if (got == 0)
            return std::optional(std::move(text));
        text.append(buffer, static_cast<size_t>(got));
        // The size checked above may have been stale (a file that grows, or one whose size the
        // system does not report): the limit holds for what is actually read.
        if (text.size() > limit)
            return TooLarge(limit);
    }
}

// Blanks around names and values, a stray carriage return among them.
constexpr std::string_view kBlanks = " \t\r\v\f";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::string_view TrimLeft(std::string_view text) {
    const auto first = text.find_first_not_of(kBlanks);
    return first == std::string_view::npos ? std::string_view() : text.substr(first);
}

std::string_view Trim(std::string_view text) {
    text = TrimLeft(text);
    return text.substr(0, text.find_last_not_of(kBlanks) + 1);
}

bool SameName(std::string_view a, std::string_view b) {
    // Section and key names compare like the profile functions do: ASCII letters without case.
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

// Where a key of the first section of a name is, or would go.
struct Place {
    bool sectionFound = false;
    // The section's lines, from its header to the next section's header or the end of the text.
    size_t sectionBegin = 0;
    size_t sectionStop = 0;
    // Just past the section's last line that is not blank (its header when it has no other): where a
    // missing key is added, so the blank lines that part it from the next section stay before that.
    size_t sectionEnd = 0;
    bool keyFound = false;
    // The value's bytes on the key's line, blanks around it excluded.
    size_t valueBegin = 0;
    size_t valueEnd = 0;
};

Place Locate(std::string_view text, std::string_view section, std::string_view key) {
    Place place;
    bool inSection = false;
    size_t at = text.substr(0, kByteOrderMark.size()) == kByteOrderMark ? kByteOrderMark.size() : 0;
    while (at < text.size()) {
        const size_t lineEnd = text.find('\n', at);
        const size_t next = lineEnd == std::string_view::npos ? text.size() : lineEnd + 1;
        size_t end = lineEnd == std::string_view::npos ? text.size() : lineEnd;
        if (end > at && text[end - 1] == '\r')
            --end;
        const std::string_view line = text.substr(at, end - at);
        const std::string_view content = TrimLeft(line);
        if (!content.empty() && content[0] == '[') {
            // Only the first section of the name counts: a repeat of it ends the search like any other.
            if (inSection) {
                place.sectionStop = at;
                break;
            }
            const std::string_view name = content.substr(1, content.find(']') - 1);
            if (SameName(Trim(name), section)) {
                inSection = true;
                place.sectionFound = true;
                place.sectionBegin = at;
                place.sectionStop = text.size();
                place.sectionEnd = next;
            }
        } else if (inSection) {
            if (!content.empty())
                place.sectionEnd = next;
            const size_t equals = line.find('=');
            if (!place.keyFound && equals != std::string_view::npos &&
                SameName(Trim(line.substr(0, equals)), key)) {
                const std::string_view value = line.substr(equals + 1);
                const size_t skipped = value.find_first_not_of(kBlanks);
                place.keyFound = true;
                place.valueBegin =
                    at + equals + 1 + (skipped == std::string_view::npos ? value.size() : skipped);
                place.valueEnd = place.valueBegin + Trim(value).size();
            }
        }
        at = next;
    }
    return place;
}

std::string LineEndOf(std::string_view text) {
    const size_t first = text.find('\n');
    return first != std::string_view::npos && first > 0 && text[first - 1] == '\r' ? "\r\n" : "\n";
}

bool FitsOnALine(std::string_view value) {
    return value.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos &&
           Trim(value) == value;
}

// The profile functions' reading of a number: optional blanks and sign, then decimal digits.
int LeadingNumber(std::string_view text) {
    text = TrimLeft(text);
    bool negative = false;
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    long long magnitude = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            break;
        // Held just past the int range, so a long run of digits saturates instead of wrapping.
        magnitude = std::min<long long>(magnitude * 10 + (c - '0'), static_cast<long long>(INT_MAX) + 1);
    }
    const long long value = negative ? -magnitude : magnitude;
    return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

} // namespace

std::optional<std::string> ReadProfileValue(std::string_view text, std::string_view section,
                                            std::string_view key) {
    // Which lines form the first section of the name is the profile functions' rule, and a reader that
    // only reports keys cannot tell a repeated header from a continued section; inih reads those lines.
    const Place place = Locate(text, section, key);
    if (!place.sectionFound)
        return std::nullopt;
    std::string lines(text.substr(place.sectionBegin, place.sectionStop - place.sectionBegin));
    lines.resize(std::min(lines.size(), lines.find('\0')));
    struct Search {
        std::string_view key;
        std::optional<std::string> value;
    } search{key, std::nullopt};
    ini_parse_string(
        lines.c_str(),
        [](void* user, const char* /*section*/, const char* name, const char* value) -> int {
            auto& search = *static_cast<Search*>(user);
            if (!search.value && SameName(name, search.key))
                search.value = value;
            return 1;
        },
        &search);
    return search.value;
}

namespace {

std::string EditProfileValue(std::string_view text, std::string_view section, std::string_view key,
                             std::string_view value) {
    const Place place = Locate(text, section, key);
    std::string result(text);
    if (place.keyFound) {
        result.replace(place.valueBegin, place.valueEnd - place.valueBegin, value);
        return result;
    }
    const std::string lineEnd = LineEndOf(text);
    std::string entry = std::string(key) + "=" + std::string(value) + lineEnd;
    const bool unterminated = !text.empty() && text.back() != '\n';
    if (place.sectionFound) {
        // The section's last line may be the file's last, without a line end of its own.
        if (place.sectionEnd == text.size() && unterminated)
            entry.insert(0, lineEnd);
        result.insert(place.sectionEnd, entry);
        return result;
    }
    if (unterminated)
        result += lineEnd;
    // A blank line parts the new section from the one before, unless the file ends with one already.
    if (!result.empty()) {
        std::string_view body(result);
        body.remove_suffix(body.size() >= 2 && body[body.size() - 2] == '\r' ? 2 : 1);
        const size_t previous = body.rfind('\n');
        if (!Trim(previous == std::string_view::npos ? body : body.substr(previous + 1)).empty())
            result += lineEnd;
    }
    result.append("[").append(section).append("]").append(lineEnd).append(entry);
    return result;
}

} // namespace

std::optional<std::string> WriteProfileValue(std::string_view text, std::string_view section,
                                             std::string_view key, std::string_view value) {
    // The edit finds the key's bytes itself (a reader only gives values); the reader has the last word, so
    // a file laid out in a way the two would understand differently is refused rather than half written.
    std::string edited = EditProfileValue(text, section, key, value);
    if (ReadProfileValue(edited, section, key) != value)
        return std::nullopt;
    return edited;
}

SettingsFile::SettingsFile(std::string path) : path_(std::move(path)) {
}

std::string SettingsFile::DefaultPath() {
    std::string base;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config == '/')
        base = config;
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = std::string(home) + "/.config";
    else if (const passwd* user = ::getpwuid(::getuid()); user && user->pw_dir && *user->pw_dir)
        // Not a shared folder such as /tmp: the writer follows links, and there anyone could plant one.
        base = std::string(user->pw_dir) + "/.config";
    else
        base = "/tmp";
    return base + "/calvora/ZAZEDOVADIZO.ini";
}

Outcome<std::optional<std::string>> SettingsFile::ReadValue(const std::string& label,
                                                            const std::string& keySuffix) const {
    const auto text = ReadBoundedFile(path_, kMaxSettingsFileBytes);
    if (!text)
        return Failure(u"Can't read the settings file " + fromUtf8(path_) + u": " + text.reason() + u".");
    if (!text.value())
        return std::optional<std::string>();
    return ReadProfileValue(*text.value(), label + "COMPORT", label + keySuffix);
}

Outcome<int> SettingsFile::ReadPortNumber(const std::string& label, int fallback) const {
    const auto value = ReadValue(label, "PORTNUM");
    if (!value)
        return value.failure();
    return value.value() ? LeadingNumber(*value.value()) : fallback;
}

Outcome<std::string> SettingsFile::ReadDevicePath(const std::string& label) const {
    auto value = ReadValue(label, "DEVICE");
    if (!value)
        return value.failure();
    return std::move(value).value().value_or(std::string());
}

Outcome<void> SettingsFile::WritePort(const std::string& label, int portNumber,
                                      const std::string& devicePath) const {
    auto fail = [&](std::u16string_view why) {
        return Failure(u"Can't write the settings file " + fromUtf8(path_) + u": " + std::u16string(why) +
                       u".");
    };
    if (portNumber < 0 || portNumber > 255)
        return fail(u"the port number " + fromAscii(std::to_string(portNumber)) +
                    u" is not between 0 and 255");
    if (!FitsOnALine(label) || label.find_first_of("[]=") != std::string::npos)
        return fail(u"the label \"" + fromUtf8(label) + u"\" cannot be a section name");
    if (!FitsOnALine(devicePath))
        return fail(u"the device path cannot be stored on one line");

    const auto current = ReadBoundedFile(path_, kMaxSettingsFileBytes);
    // A file that cannot be read whole is not replaced: what could not be read would be lost.
    if (!current)
        return fail(current.reason());
    const std::string section = label + "COMPORT";
    std::optional<std::string> text = WriteProfileValue(current.value().value_or(std::string()), section,
                                                        label + "PORTNUM", std::to_string(portNumber));
    if (text && !devicePath.empty())
        text = WriteProfileValue(*text, section, label + "DEVICE", devicePath);
    if (!text)
        return fail(u"its lines cannot be changed in place without changing what they mean");
    if (const Outcome<void> written = Replace(*text); !written)
        return fail(written.reason());
    return {};
}

Outcome<void> SettingsFile::Replace(const std::string& text) const {
    if (text.size() > kMaxSettingsFileBytes)
        return Failure(u"it would grow beyond " + fromAscii(std::to_string(kMaxSettingsFileBytes / 1024)) +
                       u" KiB");
    const auto slash = path_.rfind('/');
    if (slash != std::string::npos && slash > 0)
        CreateDirectories(path_.substr(0, slash));
    return WriteFileAtomically(path_, text);
}

namespace {

constexpr std::string_view kNamesSection = "Receiver names";

// A key the INI reader takes back as it was written: one line, no delimiter or comment character.
bool UsableNameKey(std::string_view key) {
    return !key.empty() && FitsOnALine(key) && key.find_first_of("=:;#[]") == std::string_view::npos;
}

} // namespace

Outcome<std::string> SettingsFile::ReadReceiverName(const std::string& key) const {
    if (!UsableNameKey(key))
        return std::string();
    const auto text = ReadBoundedFile(path_, kMaxSettingsFileBytes);
    if (!text)
        return Failure(u"Can't read the settings file " + fromUtf8(path_) + u": " + text.reason() + u".");
    if (!text.value())
        return std::string();
    return ReadProfileValue(*text.value(), kNamesSection, key).value_or(std::string());
}

Outcome<void> SettingsFile::WriteReceiverName(const std::string& key, const std::string& name) const {
    auto fail = [&](std::u16string_view why) {
        return Failure(u"Can't write the settings file " + fromUtf8(path_) + u": " + std::u16string(why) +
                       u".");
    };
    if (!UsableNameKey(key))
        return fail(u"the receiver \"" + fromUtf8(key) + u"\" cannot be named in it");
    if (!FitsOnALine(name))
        return fail(u"the name cannot be stored on one line");
    const auto current = ReadBoundedFile(path_, kMaxSettingsFileBytes);
    if (!current)
        return fail(current.reason());
    const std::optional<std::string> text =
        WriteProfileValue(current.value().value_or(std::string()), kNamesSection, key, name);
    if (!text)
        return fail(u"its lines cannot be changed in place without changing what they mean");
    if (const Outcome<void> written = Replace(*text); !written)
        return fail(written.reason());
    return {};
}

} // namespace calvora
