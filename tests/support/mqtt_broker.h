// A real mosquitto broker on 127.0.0.1 at a free port, with a configuration written for the test, and a
// subscriber that keeps every message it gets.
#pragma once

#include "tests/support/simulator_process.h"

#include <arpa/inet.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace calvora::testing {

inline constexpr const char* kMosquittoProgram = "/usr/sbin/mosquitto";

inline bool MosquittoInstalled() {
    return ::access(kMosquittoProgram, X_OK) == 0;
}

// A port nothing listens on at the moment of asking.
inline int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

inline bool Accepting(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    const bool open = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return open;
}

// mosquitto with `extra` lines after its listener. Start() may be called again after Stop(): same port.
class Broker {
public:
    Broker(std::string folder, std::string extra = "allow_anonymous true\n")
        : folder_(std::move(folder)), port_(FreePort()) {
        std::filesystem::create_directories(folder_);
        std::ofstream(folder_ + "/mosquitto.conf") << "listener " << port_ << " 127.0.0.1\n"
                                                   << "persistence false\nlog_dest none\n"
                                                   << extra;
    }
    bool Start() {
        process_ = std::make_unique<ChildProcess>(
            std::vector<std::string>{kMosquittoProgram, "-c", folder_ + "/mosquitto.conf"});
        return process_->running() && WaitFor([&] { return Accepting(port_); }, std::chrono::seconds(5));
    }
    void Stop() {
        if (process_)
            process_->Stop(SIGTERM);
        process_.reset();
    }
    // Stops the broker's process and lets it go on: a broker that stops answering for a while.
    bool Pause() { return process_ && process_->Pause(); }
    bool Resume() { return process_ && process_->Resume(); }
    ~Broker() { Stop(); }
    int port() const { return port_; }
    const std::string& folder() const { return folder_; }

private:
    std::string folder_;
    int port_;
    std::unique_ptr<ChildProcess> process_;
};

struct ReceivedMessage {
    std::string topic;
    std::string payload;
    bool retained = false;
};

// Subscribes to `filter` and keeps what arrives (QoS 1).
class Subscriber {
public:
    struct Options {
        std::string caFile;
        std::string user;
        std::string password;
    };
    Subscriber(int port, std::string filter, const Options& options = {}) : filter_(std::move(filter)) {
        mosquitto_lib_init();
        client_ = mosquitto_new(nullptr, true, this);
        const std::string& caFile = options.caFile;
        if (!options.user.empty())
            mosquitto_username_pw_set(client_, options.user.c_str(), options.password.c_str());
        if (!caFile.empty())
            mosquitto_tls_set(client_, caFile.c_str(), nullptr, nullptr, nullptr, nullptr);
        mosquitto_connect_callback_set(client_, [](mosquitto* m, void* self, int rc) {
            auto* s = static_cast<Subscriber*>(self);
            if (rc == 0)
                mosquitto_subscribe(m, nullptr, s->filter_.c_str(), 1);
        });
        mosquitto_subscribe_callback_set(client_, [](mosquitto*, void* self, int, int, const int*) {
            auto* s = static_cast<Subscriber*>(self);
            std::lock_guard lock(s->mutex_);
            s->subscribed_ = true;
        });
        mosquitto_message_callback_set(client_, [](mosquitto*, void* self, const mosquitto_message* message) {
            auto* s = static_cast<Subscriber*>(self);
            std::lock_guard lock(s->mutex_);
            s->messages_.push_back({message->topic,
                                    std::string(static_cast<const char*>(message->payload),
                                                static_cast<size_t>(message->payloadlen)),
                                    message->retain});
        });
        mosquitto_connect(client_, "127.0.0.1", port, 30);
        mosquitto_loop_start(client_);
        WaitFor(
            [&] {
                std::lock_guard lock(mutex_);
                return subscribed_;
            },
            std::chrono::seconds(5));
    }
    ~Subscriber() {
        mosquitto_disconnect(client_);
        mosquitto_loop_stop(client_, false);
        mosquitto_destroy(client_);
    }
    std::vector<ReceivedMessage> messages() {
        std::lock_guard lock(mutex_);
        return messages_;
    }
    std::vector<std::string> payloads(const std::string& topic) {
        std::vector<std::string> found;
        for (const ReceivedMessage& message : messages())
            if (message.topic == topic)
                found.push_back(message.payload);
        return found;
    }
    bool subscribed() {
        std::lock_guard lock(mutex_);
        return subscribed_;
    }

private:
    std::string filter_;
    mosquitto* client_ = nullptr;
    std::mutex mutex_;
    bool subscribed_ = false;
    std::vector<ReceivedMessage> messages_;
};

} // namespace calvora::testing
