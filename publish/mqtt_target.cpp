#include "publish/mqtt_target.h"

#include "protocol/text.h"

#include <charconv>

namespace calvora {

namespace {

Outcome<std::string> PercentDecoded(std::string_view text) {
    std::string decoded;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            decoded += text[i];
            continue;
        }
        unsigned value = 0;
        if (i + 2 >= text.size() ||
            std::from_chars(text.data() + i + 1, text.data() + i + 3, value, 16).ptr != text.data() + i + 3)
            return Failure(u"A '%' in the broker's user or password must be followed by two hex digits.");
        decoded += static_cast<char>(value);
        i += 2;
    }
    return decoded;
}

} // namespace

std::string MqttTarget::describe() const {
    std::string text = tls ? "mqtts://" : "mqtt://";
    if (!user.empty())
        text += user + '@';
    text += host.find(':') != std::string::npos ? '[' + host + ']' : host;
    text += ':' + std::to_string(port) + '/' + prefix;
    return text;
}

Outcome<MqttTarget> ParseMqttUrl(std::string_view url) {
    MqttTarget target;
    if (url.starts_with("mqtt://")) {
        url.remove_prefix(7);
    } else if (url.starts_with("mqtts://")) {
        url.remove_prefix(8);
        target.tls = true;
        target.port = 8883;
    } else {
        return Failure(u"The broker's address must start with mqtt:// or mqtts://.");
    }
    const size_t slash = url.find('/');
    std::string_view authority = url.substr(0, slash);
    const std::string_view prefix =
        slash == std::string_view::npos ? std::string_view() : url.substr(slash + 1);
    if (const size_t at = authority.rfind('@'); at != std::string_view::npos) {
        const std::string_view credentials = authority.substr(0, at);
        authority.remove_prefix(at + 1);
        const size_t colon = credentials.find(':');
        Outcome<std::string> user = PercentDecoded(credentials.substr(0, colon));
        if (!user)
            return user.failure();
        target.user = user.value();
        if (colon != std::string_view::npos) {
            Outcome<std::string> password = PercentDecoded(credentials.substr(colon + 1));
            if (!password)
                return password.failure();
            target.password = password.value();
        }
        if (target.user.empty())
            return Failure(u"The broker's address names a password without a user.");
    }
    std::string_view port;
    if (authority.starts_with('[')) {
        const size_t close = authority.find(']');
        if (close == std::string_view::npos)
            return Failure(u"The broker's address has a '[' without its ']'.");
        target.host = authority.substr(1, close - 1);
        std::string_view rest = authority.substr(close + 1);
        if (!rest.empty() && !rest.starts_with(':'))
            return Failure(u"The broker's address has text after its ']'.");
        port = rest.empty() ? rest : rest.substr(1);
        if (!rest.empty() && port.empty())
            return Failure(u"The broker's port must be a number from 1 to 65535.");
    } else {
        const size_t colon = authority.find(':');
        target.host = authority.substr(0, colon);
        if (colon != std::string_view::npos) {
            port = authority.substr(colon + 1);
            if (port.empty())
                return Failure(u"The broker's port must be a number from 1 to 65535.");
        }
    }
    if (target.host.empty())
        return Failure(u"The broker's address names no host.");
    if (!port.empty()) {
        unsigned number = 0;
        const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), number);
        if (error != std::errc() || end != port.data() + port.size() || number < 1 || number > 65535)
            return Failure(u"The broker's port must be a number from 1 to 65535.");
        target.port = static_cast<uint16_t>(number);
    }
    if (!prefix.empty()) {
        if (prefix.find_first_of("+#") != std::string_view::npos)
            return Failure(u"The topic prefix cannot hold '+' or '#'.");
        if (prefix.starts_with('/') || prefix.ends_with('/') || prefix.find("//") != std::string_view::npos)
            return Failure(u"The topic prefix cannot have an empty level.");
        target.prefix = prefix;
    }
    return target;
}

std::string TopicSafe(std::string_view name) {
    std::string safe;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        const bool bad = c == '/' || c == '+' || c == '#' || byte < 0x20 || byte == 0x7f || c == ' ';
        safe += bad ? '_' : c;
    }
    return safe.empty() ? std::string("Multimeter") : safe;
}

} // namespace calvora
