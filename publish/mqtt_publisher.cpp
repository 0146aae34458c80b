#include "publish/mqtt_publisher.h"

#include "protocol/text.h"
#include "publish/reading_message.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mosquitto.h>
#include <poll.h>
#include <unistd.h>

namespace calvora {

namespace {

// Messages handed to the library and not yet acknowledged; past this, the rest wait in the spool, so a slow
// broker costs disk, not memory.
constexpr size_t kWindow = 512;
constexpr auto kConnectTimeout = std::chrono::seconds(10);
constexpr int kKeepAliveSeconds = 30;
// Waiting messages are handed to the library in batches this far apart: a wake-up of the connection's
// thread (and the library's writes) for each of 960 readings a second cost more than the rest of
// publishing together. A backlog (after an outage) goes at once.
constexpr auto kBatchPeriod = std::chrono::milliseconds(25);
constexpr uint64_t kBacklog = 64;
// Messages held in memory while the disk refuses the spool (about a minute at the line's fastest); beyond
// them a message is lost and counted.
constexpr size_t kMemoryMessages = 65536;
constexpr auto kDrainOnClose = std::chrono::seconds(2);
constexpr auto kOfflineOnClose = std::chrono::seconds(1);

std::once_flag libraryReady;

std::string DefaultClientId() {
    char host[64] = {};
    ::gethostname(host, sizeof host - 1);
    return "calvora-" + std::string(host) + '-' + std::to_string(::getpid());
}

} // namespace

std::string StatusText(const PublisherStatus& status, const std::string& meter, const MqttTarget& target) {
    std::string text = "MQTT " + meter + ": ";
    switch (status.state) {
    case BrokerState::Connecting:
        text += "connecting to " + target.describe();
        break;
    case BrokerState::Connected:
        text += "connected to " + target.describe();
        break;
    case BrokerState::Unreachable:
        text += "cannot reach " + target.describe() + " (" + status.reason + ")";
        break;
    case BrokerState::Refused:
        text += target.describe() + " refused the connection (" + status.reason + ")";
        break;
    }
    if (status.state != BrokerState::Connected && status.state != BrokerState::Connecting)
        text += ", retrying in " + std::to_string(status.retrySeconds) + " s";
    if (status.spooled > 0)
        text += "; " + std::to_string(status.spooled) + " messages spooled";
    if (status.dropped > 0)
        text += "; " + std::to_string(status.dropped) + " oldest dropped from the full spool";
    if (status.lost > 0)
        text += "; " + std::to_string(status.lost) + " lost";
    return text;
}

Outcome<std::unique_ptr<MqttPublisher>> MqttPublisher::Start(const PublishSettings& settings,
                                                             std::string meter, StatusObserver observer) {
    if (settings.qos != 0 && settings.qos != 1)
        return Failure(u"The QoS must be 0 or 1.");
    const std::string folder =
        (settings.spoolFolder.empty() ? Spool::DefaultFolder() : settings.spoolFolder) + '/' +
        TopicSafe(meter);
    Outcome<Spool> spool = Spool::Open(folder, settings.spoolBytes);
    if (!spool)
        return spool.failure();
    std::call_once(libraryReady, [] { mosquitto_lib_init(); });
    std::unique_ptr<MqttPublisher> publisher(
        new MqttPublisher(settings, std::move(meter), std::move(spool.value()), std::move(observer)));
    if (!publisher->client_)
        return Failure(u"The MQTT client cannot be made.");
    if (settings.target.tls) {
        const char* file = settings.target.caFile.empty() ? nullptr : settings.target.caFile.c_str();
        if (mosquitto_tls_set(publisher->client_, file, file ? nullptr : "/etc/ssl/certs", nullptr, nullptr,
                              nullptr) != MOSQ_ERR_SUCCESS)
            return Failure(u"The certificate authority file " + fromUtf8(settings.target.caFile) +
                           u" cannot be read.");
    }
    publisher->connection_ = std::thread([p = publisher.get()] { p->RunConnection(); });
    return publisher;
}

MqttPublisher::MqttPublisher(const PublishSettings& settings, std::string meter, Spool spool,
                             StatusObserver observer)
    : settings_(settings), meter_(std::move(meter)), observer_(std::move(observer)),
      spool_(std::move(spool)) {
    base_ = settings_.target.prefix + '/' + TopicSafe(meter_);
    readingTopic_ = topic("reading");
    const std::string id =
        (settings_.target.clientId.empty() ? DefaultClientId() : settings_.target.clientId) + '/' +
        TopicSafe(meter_);
    client_ = mosquitto_new(id.c_str(), true, this);
    if (!client_)
        return;
    mosquitto_threaded_set(client_, true);
    mosquitto_int_option(client_, MOSQ_OPT_SEND_MAXIMUM, 100);
    const std::string statusTopic = topic("status");
    mosquitto_will_set(client_, statusTopic.c_str(), 7, "offline", 1, true);
    if (!settings_.target.user.empty())
        mosquitto_username_pw_set(client_, settings_.target.user.c_str(),
                                  settings_.target.password.empty() ? nullptr
                                                                    : settings_.target.password.c_str());
    mosquitto_connect_callback_set(client_, &MqttPublisher::OnConnect);
    mosquitto_disconnect_callback_set(client_, &MqttPublisher::OnDisconnect);
    mosquitto_publish_callback_set(client_, &MqttPublisher::OnPublish);
    status_.spooled = spool_.count();
    status_.dropped = spool_.dropped();
}

MqttPublisher::~MqttPublisher() {
    if (connection_.joinable()) {
        // The connection's thread sends what it can for a moment, says "offline" and disconnects; without a
        // broker what waits stays in the spool for the next run.
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        connection_.join();
    }
    spool_.Tidy();
    if (client_)
        mosquitto_destroy(client_);
}

std::string MqttPublisher::topic(const char* leaf) const {
    return base_ + '/' + leaf;
}

uint64_t MqttPublisher::lastSeq() const {
    std::lock_guard lock(sendMutex_);
    return seq_;
}

PublisherStatus MqttPublisher::status() const {
    std::lock_guard lock(mutex_);
    PublisherStatus status = status_;
    // A live connection always has the next batch waiting a few milliseconds: not worth a word.
    const uint64_t waiting = spool_.count() + unspooled_.size();
    status.spooled = connected_ && waiting < kBacklog ? 0 : waiting;
    status.dropped = spool_.dropped();
    return status;
}

void MqttPublisher::PublishReading(const LiveReading& reading, std::chrono::system_clock::time_point time) {
    std::lock_guard send(sendMutex_);
    Append({readingTopic_, ReadingMessage(reading, time, ++seq_), settings_.qos});
}

void MqttPublisher::PublishAlarm(const AlarmNotice& notice, std::chrono::system_clock::time_point time) {
    std::lock_guard send(sendMutex_);
    Append({topic("alarm"), AlarmMessage(notice, time), settings_.qos});
}

// Every message goes to disk first: only what the broker acknowledged may be forgotten. A disk that refuses
// it (full, gone) does not cost the reading while memory holds it: it then waits in memory instead.
void MqttPublisher::Append(const SpooledMessage& message) {
    bool notify = false;
    {
        std::lock_guard lock(mutex_);
        const uint64_t dropped = spool_.dropped();
        if (!unspooled_.empty() || !spool_.Append(message)) {
            if (unspooled_.size() < kMemoryMessages) {
                notify = unspooled_.empty();
                unspooled_.push_back(message);
            } else {
                ++status_.lost;
                notify = status_.lost == 1;
            }
        }
        notify = notify || spool_.dropped() != dropped;
        if (notify)
            status_.reason = spool_.lastError().empty() ? status_.reason : spool_.lastError();
    }
    if (notify)
        Notify();
}

// Called with mutex_ held, on the connection's thread. A QoS 1 message the library could not send yet
// stays with it and goes when the connection is back; one it refused outright is counted lost.
int MqttPublisher::SendLocked(const SpooledMessage& message, bool retained,
                              std::optional<SpoolPosition> end) {
    int mid = 0;
    const int rc =
        mosquitto_publish(client_, &mid, message.topic.c_str(), static_cast<int>(message.payload.size()),
                          message.payload.data(), message.qos, retained);
    const bool kept = rc == MOSQ_ERR_SUCCESS || (rc == MOSQ_ERR_NO_CONN && message.qos == 1);
    if (!kept && !retained)
        ++status_.lost;
    inFlight_.push_back({mid, !kept, end.has_value(), end.value_or(SpoolPosition{})});
    if (!kept)
        PopAcknowledgedLocked();
    return mid;
}

void MqttPublisher::PopAcknowledgedLocked() {
    while (!inFlight_.empty() && inFlight_.front().acknowledged) {
        if (inFlight_.front().spooled)
            acknowledged_ = inFlight_.front().end;
        inFlight_.pop_front();
    }
}

void MqttPublisher::SendDue() {
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(mutex_);
    if (!connected_ || (now < nextSend_ && spool_.count() + unspooled_.size() < kBacklog))
        return;
    nextSend_ = now + kBatchPeriod;
    while (inFlight_.size() < kWindow) {
        if (std::optional<SpoolEntry> entry = spool_.Next()) {
            SendLocked(entry->message, false, entry->end);
        } else if (!unspooled_.empty()) {
            SendLocked(unspooled_.front(), false, std::nullopt);
            unspooled_.pop_front();
        } else {
            break;
        }
    }
}

// The broker's confirmations of this turn, noted on disk in one write.
void MqttPublisher::RecordAcknowledged() {
    bool done = false;
    {
        std::lock_guard lock(mutex_);
        if (acknowledged_) {
            spool_.Acknowledge(*acknowledged_);
            acknowledged_.reset();
        }
        done = flushing_ > 0 && spool_.empty() && unspooled_.empty() && inFlight_.empty();
    }
    if (done)
        changed_.notify_all();
}

bool MqttPublisher::Flush(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    ++flushing_;
    const bool sent = changed_.wait_for(lock, timeout, [&] {
        return spool_.empty() && unspooled_.empty() && inFlight_.empty() && !acknowledged_;
    });
    --flushing_;
    return sent;
}

void MqttPublisher::SetState(BrokerState state, std::string reason, int retrySeconds) {
    {
        std::lock_guard lock(mutex_);
        status_.state = state;
        status_.reason = std::move(reason);
        status_.retrySeconds = retrySeconds;
    }
    Notify();
}

void MqttPublisher::Notify() {
    if (observer_)
        observer_(status());
}

int MqttPublisher::LoopTimeoutMs() {
    std::lock_guard lock(mutex_);
    if (!connected_ || closing_ == Closing::Disconnecting)
        return 100;
    const auto wait =
        std::chrono::ceil<std::chrono::milliseconds>(nextSend_ - std::chrono::steady_clock::now()).count();
    return static_cast<int>(std::clamp<int64_t>(wait, 1, kBatchPeriod.count()));
}

// One turn of a live connection, polling its socket directly: the library's own loop would also wake for a
// byte its publish call writes to an internal pipe, once per message.
int MqttPublisher::ConnectedTurn(int timeoutMs) {
    const int socket = mosquitto_socket(client_);
    if (socket < 0)
        return MOSQ_ERR_NO_CONN;
    pollfd fd{socket, static_cast<short>(POLLIN | (mosquitto_want_write(client_) ? POLLOUT : 0)), 0};
    if (::poll(&fd, 1, timeoutMs) < 0 && errno != EINTR)
        return MOSQ_ERR_ERRNO;
    int rc = MOSQ_ERR_SUCCESS;
    if (fd.revents & (POLLIN | POLLERR | POLLHUP))
        rc = mosquitto_loop_read(client_, 1);
    if (rc == MOSQ_ERR_SUCCESS && mosquitto_want_write(client_))
        rc = mosquitto_loop_write(client_, 1);
    if (rc == MOSQ_ERR_SUCCESS)
        rc = mosquitto_loop_misc(client_);
    return rc;
}

bool MqttPublisher::AfterTurn(int rc) {
    RecordAcknowledged();
    const auto now = std::chrono::steady_clock::now();
    bool stopping = false;
    bool connected = false;
    bool drained = false;
    bool offlineSaid = true;
    {
        std::lock_guard lock(mutex_);
        stopping = stopping_;
        connected = connected_;
        drained = spool_.empty() && unspooled_.empty() && inFlight_.empty();
        for (const InFlight& message : inFlight_)
            offlineSaid = offlineSaid && (message.mid != offlineMid_ || message.acknowledged);
    }
    if (stopping && closing_ == Closing::No) {
        if (!connected)
            return false;
        closing_ = Closing::Draining;
        closingUntil_ = now + kDrainOnClose;
    }
    switch (closing_) {
    case Closing::No:
        SendDue();
        return true;
    case Closing::Draining:
        if (!connected)
            return false;
        if (!drained && now < closingUntil_) {
            SendDue();
            return true;
        }
        {
            std::lock_guard lock(mutex_);
            offlineMid_ = SendLocked({topic("status"), "offline", 1}, true, std::nullopt);
        }
        closing_ = Closing::SayingOffline;
        closingUntil_ = now + kOfflineOnClose;
        return true;
    case Closing::SayingOffline:
        if (connected && !offlineSaid && now < closingUntil_)
            return true;
        mosquitto_disconnect(client_);
        closing_ = Closing::Disconnecting;
        return true;
    case Closing::Disconnecting:
        // The loop runs on until the broker has the DISCONNECT, so no last will follows.
        return rc == MOSQ_ERR_SUCCESS && ++turnsClosing_ <= 20;
    }
    return false;
}

void MqttPublisher::RunConnection() {
    int delay = 1;
    SetState(BrokerState::Connecting, {}, 0);
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (stopping_)
                return;
            refused_.clear();
        }
        int rc = mosquitto_connect_async(client_, settings_.target.host.c_str(), settings_.target.port,
                                         kKeepAliveSeconds);
        int savedErrno = errno;
        const auto attempt = std::chrono::steady_clock::now();
        bool timedOut = false;
        while (rc == MOSQ_ERR_SUCCESS) {
            bool connected = false;
            {
                std::lock_guard lock(mutex_);
                connected = connected_;
            }
            // The library's loop runs the connection up (and TLS's handshake); a live one is polled here.
            rc = connected ? ConnectedTurn(LoopTimeoutMs()) : mosquitto_loop(client_, LoopTimeoutMs(), 1);
            savedErrno = errno;
            if (!AfterTurn(rc))
                return;
            std::lock_guard lock(mutex_);
            if (connected_) {
                delay = 1;
            } else if (everConnected_ == false &&
                       std::chrono::steady_clock::now() - attempt > kConnectTimeout) {
                timedOut = true;
                break;
            }
            if (!connected_ && !refused_.empty())
                break;
        }
        mosquitto_disconnect(client_);
        std::string reason;
        {
            std::lock_guard lock(mutex_);
            if (stopping_)
                return;
            connected_ = false;
            everConnected_ = false;
            reason = refused_;
        }
        BrokerState state = BrokerState::Refused;
        if (reason.empty()) {
            state = BrokerState::Unreachable;
            if (timedOut)
                reason = "no answer";
            else if (rc == MOSQ_ERR_ERRNO)
                reason = std::strerror(savedErrno);
            else
                reason = mosquitto_strerror(rc);
        }
        SetState(state, reason, delay);
        std::unique_lock lock(mutex_);
        if (changed_.wait_for(lock, std::chrono::seconds(delay), [&] { return stopping_; }))
            return;
        delay = std::min(delay * 2, std::max(1, settings_.retryMaxSeconds));
    }
}

void MqttPublisher::OnConnect(mosquitto*, void* self, int rc) {
    auto* p = static_cast<MqttPublisher*>(self);
    if (rc != 0) {
        std::lock_guard lock(p->mutex_);
        p->refused_ = mosquitto_connack_string(rc);
        return;
    }
    {
        std::lock_guard lock(p->mutex_);
        p->connected_ = true;
        p->everConnected_ = true;
        // QoS 0 messages the lost connection still held are gone and will never be confirmed.
        if (p->settings_.qos == 0) {
            for (InFlight& message : p->inFlight_)
                message.acknowledged = true;
            p->PopAcknowledgedLocked();
        }
        p->SendLocked({p->topic("status"), "online", 1}, true, std::nullopt);
    }
    p->SetState(BrokerState::Connected, {}, 0);
    p->changed_.notify_all();
}

void MqttPublisher::OnDisconnect(mosquitto*, void* self, int) {
    auto* p = static_cast<MqttPublisher*>(self);
    {
        std::lock_guard lock(p->mutex_);
        p->connected_ = false;
    }
    p->changed_.notify_all();
}

// Only on the connection's thread, inside the library's loop; the spool hears of it after the turn.
void MqttPublisher::OnPublish(mosquitto*, void* self, int mid) {
    auto* p = static_cast<MqttPublisher*>(self);
    std::lock_guard lock(p->mutex_);
    for (InFlight& message : p->inFlight_) {
        if (message.mid == mid && !message.acknowledged) {
            message.acknowledged = true;
            break;
        }
    }
    p->PopAcknowledgedLocked();
}

} // namespace calvora
