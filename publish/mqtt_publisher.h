// One meter's readings published to an MQTT broker. Every message is first written to the bounded spool on
// disk; the connection's own thread sends them from there in batches (one wake-up every few milliseconds
// instead of one per reading) and marks them acknowledged as the broker confirms them. So a broker that is
// away, or a program that is killed, loses nothing: what was not acknowledged is sent (again) later, in
// order. The connection comes back by itself with a doubling delay. Readings and alarms may be handed in
// from any one thread.
#pragma once

#include "measure/alarm_actions.h"
#include "protocol/outcome.h"
#include "protocol/reading_decoder.h"
#include "publish/mqtt_target.h"
#include "publish/spool.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

struct mosquitto;
struct mosquitto_message;

namespace calvora {

struct PublishSettings {
    MqttTarget target;
    int qos = 1;
    std::string
        spoolFolder; // each meter spools in a folder of its own below it; empty: Spool::DefaultFolder()
    uint64_t spoolBytes = Spool::kDefaultBytes;
    int retryMaxSeconds = 30; // the longest wait between two connection attempts
};

enum class BrokerState { Connecting, Connected, Unreachable, Refused };

struct PublisherStatus {
    BrokerState state = BrokerState::Connecting;
    std::string reason;   // why it is unreachable or refused
    int retrySeconds = 0; // the wait before the next attempt
    uint64_t spooled = 0; // messages waiting on disk to be sent (not the next batch of a live connection)
    uint64_t dropped = 0; // messages the spool's bound threw away, oldest first
    uint64_t lost = 0;    // messages neither sent nor spooled (the disk refused them)
};

// "MQTT Multimeter: connected to mqtt://host:1883/calvora" and the like; never the password.
std::string StatusText(const PublisherStatus& status, const std::string& meter, const MqttTarget& target);

class MqttPublisher {
public:
    // Called on the publisher's threads whenever the state or the spool's counts change.
    using StatusObserver = std::function<void(const PublisherStatus&)>;

    // Opens the spool and starts connecting; fails only when the settings or the spool cannot work.
    static Outcome<std::unique_ptr<MqttPublisher>> Start(const PublishSettings& settings, std::string meter,
                                                         StatusObserver observer = {});
    // Sends what it can within a moment, leaves the rest in the spool, says "offline" and disconnects.
    ~MqttPublisher();
    MqttPublisher(const MqttPublisher&) = delete;
    MqttPublisher& operator=(const MqttPublisher&) = delete;

    void PublishReading(const LiveReading& reading,
                        std::chrono::system_clock::time_point time = std::chrono::system_clock::now());
    void PublishAlarm(const AlarmNotice& notice,
                      std::chrono::system_clock::time_point time = std::chrono::system_clock::now());

    // Waits until nothing is spooled or waiting for the broker's acknowledgement; false when time ran out.
    bool Flush(std::chrono::milliseconds timeout);

    PublisherStatus status() const;
    const std::string& meter() const { return meter_; }
    // PREFIX/<meter>/leaf
    std::string topic(const char* leaf) const;
    uint64_t lastSeq() const;

private:
    // A message handed to the library and not yet confirmed; `end` is its place in the spool, if any.
    struct InFlight {
        int mid = 0;
        bool acknowledged = false;
        bool spooled = false;
        SpoolPosition end;
    };
    // The connection thread's way out when the publisher is destroyed while connected.
    enum class Closing { No, Draining, SayingOffline, Disconnecting };

    MqttPublisher(const PublishSettings& settings, std::string meter, Spool spool, StatusObserver observer);
    void Append(const SpooledMessage& message);
    // On the connection's thread: hands the library what waits in the spool, when it is time.
    void SendDue();
    int SendLocked(const SpooledMessage& message, bool retained, std::optional<SpoolPosition> end);
    // On the connection's thread after each turn of the library's loop; false: the thread is done.
    bool AfterTurn(int rc);
    void RecordAcknowledged();
    void PopAcknowledgedLocked();
    int LoopTimeoutMs();
    int ConnectedTurn(int timeoutMs);
    void RunConnection();
    void SetState(BrokerState state, std::string reason, int retrySeconds);
    void Notify();

    static void OnConnect(mosquitto*, void* self, int rc);
    static void OnDisconnect(mosquitto*, void* self, int rc);
    static void OnPublish(mosquitto*, void* self, int mid);

    PublishSettings settings_;
    std::string meter_;
    std::string base_; // PREFIX/<meter>
    std::string readingTopic_;
    StatusObserver observer_;
    mosquitto* client_ = nullptr;

    mutable std::mutex sendMutex_; // keeps messages in seq order between callers; taken before mutex_
    uint64_t seq_ = 0;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    Spool spool_;
    PublisherStatus status_;
    bool connected_ = false;
    bool everConnected_ = false; // this attempt reached the broker
    std::string refused_;        // the broker's answer to this attempt when it refused it
    bool stopping_ = false;      // the destructor asks the connection's thread to finish
    std::deque<InFlight> inFlight_;
    // Messages the disk refused: kept in memory, after every spooled one, until sent. While any wait here
    // new messages join them, so the broker still gets them in seq order.
    std::deque<SpooledMessage> unspooled_;
    std::optional<SpoolPosition> acknowledged_; // confirmed by the broker, not yet noted in the spool
    int flushing_ = 0;                          // callers waiting in Flush
    bool sayOnline_ = false;                    // the connection is new: "online" goes first

    // Only the connection's thread touches these.
    std::chrono::steady_clock::time_point nextSend_;
    Closing closing_ = Closing::No;
    std::chrono::steady_clock::time_point closingUntil_;
    int offlineMid_ = -1;
    int turnsClosing_ = 0;

    std::thread connection_;
};

} // namespace calvora
