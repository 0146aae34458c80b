// Where readings are published: a broker, its credentials and the topic prefix, read from a URL.
#pragma once

#include "protocol/outcome.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace calvora {

struct MqttTarget {
    std::string host;
    uint16_t port = 1883;
    std::string user;
    std::string password;
    std::string prefix = "calvora";
    bool tls = false;
    std::string
        caFile; // TLS: the certificate authority that signed the broker's certificate; empty: the system's
    std::string clientId; // empty: one made of the host name and the process id

    // "mqtt://user@host:1883/prefix": what messages may show, never with the password.
    std::string describe() const;
};

// mqtt://[USER[:PASS]@]HOST[:PORT]/PREFIX, mqtts:// for TLS (port 8883 unless given). USER and PASS may hold
// percent-escapes (%40 for '@'); the prefix is kept as written and may hold '/'.
Outcome<MqttTarget> ParseMqttUrl(std::string_view url);

// A receiver's name as one topic level: '/', '+', '#', white space and control characters become '_';
// an empty name is "Multimeter".
std::string TopicSafe(std::string_view name);

} // namespace calvora
