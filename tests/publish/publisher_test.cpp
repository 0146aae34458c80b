// Readings published to a real mosquitto broker: order and completeness with QoS 1, the retained status and
// last will, a broker that goes away or refuses the password, TLS, and two meters side by side.
#include "protocol/text.h"
#include "publish/mqtt_publisher.h"
#include "tests/support/mqtt_broker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <poll.h>
#include <sys/wait.h>

namespace calvora {
namespace {

using namespace std::chrono_literals;
using testing::Broker;
using testing::Subscriber;
using testing::WaitFor;

LiveReading Reading(double value) {
    LiveReading live;
    live.reading.value = value;
    live.reading.fullScale = 4;
    live.reading.lowLimit = -4;
    live.reading.unit = u"V";
    return live;
}

// The seq of every reading message on `topic`, in arrival order.
std::vector<uint64_t> Sequence(Subscriber& subscriber, const std::string& topic) {
    std::vector<uint64_t> seq;
    for (const std::string& payload : subscriber.payloads(topic))
        seq.push_back(nlohmann::json::parse(payload)["seq"].get<uint64_t>());
    return seq;
}

std::vector<uint64_t> OneTo(uint64_t n) {
    std::vector<uint64_t> all(n);
    for (uint64_t i = 0; i < n; ++i)
        all[i] = i + 1;
    return all;
}

class PublisherTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testing::MosquittoInstalled())
            GTEST_SKIP() << "mosquitto is not installed (scripts/install-deps.sh installs it)";
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    PublishSettings Settings(int port, const std::string& url_tail = "/lab") {
        PublishSettings settings;
        settings.target = ParseMqttUrl("mqtt://127.0.0.1:" + std::to_string(port) + url_tail).value();
        settings.spoolFolder = folder_ + "/spool";
        settings.retryMaxSeconds = 1;
        return settings;
    }
    std::unique_ptr<MqttPublisher> Start(const PublishSettings& settings,
                                         const std::string& meter = "Multimeter") {
        auto started = MqttPublisher::Start(settings, meter, [this](const PublisherStatus& status) {
            std::lock_guard lock(statesMutex_);
            states_.push_back(status);
        });
        EXPECT_TRUE(started) << toUtf8(started.reason());
        return started ? std::move(started.value()) : nullptr;
    }
    bool Connected(MqttPublisher& publisher) {
        return WaitFor([&] { return publisher.status().state == BrokerState::Connected; }, 10s);
    }
    std::vector<PublisherStatus> States() {
        std::lock_guard lock(statesMutex_);
        return states_;
    }

    std::string folder_ = "/tmp/calvora-publish-test-" + std::to_string(::getpid());
    std::mutex statesMutex_;
    std::vector<PublisherStatus> states_;
};

TEST_F(PublisherTest, EveryReadingArrivesInOrderWithTheStatusRetainedAndOfflineAtTheEnd) {
    Broker broker(folder_ + "/broker");
    ASSERT_TRUE(broker.Start());
    Subscriber subscriber(broker.port(), "lab/#");
    ASSERT_TRUE(subscriber.subscribed());
    auto publisher = Start(Settings(broker.port()), "Bench meter");
    ASSERT_TRUE(publisher && Connected(*publisher));
    EXPECT_EQ(publisher->topic("reading"), "lab/Bench_meter/reading");
    for (int i = 0; i < 500; ++i)
        publisher->PublishReading(Reading(i));
    AlarmNotice notice;
    notice.event.limit = 2;
    notice.event.value = 2.5;
    notice.valueText = u"2.5000";
    publisher->PublishAlarm(notice);
    ASSERT_TRUE(WaitFor([&] { return subscriber.payloads("lab/Bench_meter/alarm").size() == 1; }, 10s));
    EXPECT_EQ(Sequence(subscriber, "lab/Bench_meter/reading"), OneTo(500));
    const auto first = nlohmann::json::parse(subscriber.payloads("lab/Bench_meter/reading").front());
    EXPECT_EQ(first["unit"], "V");
    EXPECT_EQ(first["time"].get<std::string>().size(), 24u); // 2026-12-09T14:05:20.123Z
    const auto alarm = nlohmann::json::parse(subscriber.payloads("lab/Bench_meter/alarm").front());
    EXPECT_EQ(alarm["kind"], "alarm");
    EXPECT_EQ(alarm["value"], 2.5);
    EXPECT_EQ(subscriber.payloads("lab/Bench_meter/status"), std::vector<std::string>{"online"});

    publisher.reset();
    ASSERT_TRUE(WaitFor([&] { return subscriber.payloads("lab/Bench_meter/status").size() == 2; }, 5s));
    // A newcomer is told the meter's state by the retained message.
    Subscriber late(broker.port(), "lab/+/status");
    ASSERT_TRUE(WaitFor([&] { return !late.messages().empty(); }, 5s));
    EXPECT_EQ(late.messages().front().payload, "offline");
    EXPECT_TRUE(late.messages().front().retained);
}

TEST_F(PublisherTest, ABrokerThatGoesAwayLosesNoReading) {
    Broker broker(folder_ + "/broker");
    ASSERT_TRUE(broker.Start());
    auto publisher = Start(Settings(broker.port()));
    ASSERT_TRUE(publisher && Connected(*publisher));
    uint64_t sent = 0;
    auto publish = [&](int n) {
        for (int i = 0; i < n; ++i) {
            publisher->PublishReading(Reading(double(sent)));
            ++sent;
            std::this_thread::sleep_for(1ms); // a reading stream, not one burst
        }
    };
    {
        Subscriber watcher(broker.port(), "lab/#");
        publish(100);
        broker.Stop();
        ASSERT_TRUE(WaitFor([&] { return publisher->status().state == BrokerState::Unreachable; }, 5s));
    }
    publish(300); // while the broker is away: into the spool
    EXPECT_GT(publisher->status().spooled, 0u);
    ASSERT_TRUE(broker.Start());
    Subscriber subscriber(broker.port(), "lab/#");
    publish(100);
    ASSERT_TRUE(Connected(*publisher));
    ASSERT_TRUE(publisher->Flush(10s));
    publish(50);
    ASSERT_TRUE(publisher->Flush(10s));
    // The broker kept nothing (no persistence): the subscriber sees the readings from the restart on, and
    // those must be whole and in order from the first one the spool took. The broker's acknowledgement of
    // the last one may come before the subscriber has it.
    ASSERT_TRUE(WaitFor(
        [&] {
            const std::vector<uint64_t> got = Sequence(subscriber, "lab/Multimeter/reading");
            return !got.empty() && got.back() == sent;
        },
        10s));
    const std::vector<uint64_t> seq = Sequence(subscriber, "lab/Multimeter/reading");
    ASSERT_FALSE(seq.empty());
    EXPECT_LE(seq.front(), 101u);
    std::vector<uint64_t> expected;
    for (uint64_t i = seq.front(); i <= sent; ++i)
        expected.push_back(i);
    EXPECT_EQ(seq, expected);
    EXPECT_EQ(publisher->status().spooled, 0u);
    const auto states = States();
    EXPECT_TRUE(std::any_of(states.begin(), states.end(),
                            [](const PublisherStatus& s) { return s.state == BrokerState::Unreachable; }));
}

// A disk that refuses the spool (here its folder is gone and a file stands in its way) must not cost a
// reading while the broker takes them: they wait in memory and arrive whole and in order.
TEST_F(PublisherTest, ASpoolTheDiskRefusesLosesNoReadingWhileTheBrokerIsUp) {
    Broker broker(folder_ + "/broker");
    ASSERT_TRUE(broker.Start());
    Subscriber subscriber(broker.port(), "lab/#");
    ASSERT_TRUE(subscriber.subscribed());
    PublishSettings settings = Settings(broker.port());
    settings.spoolBytes = 16 * 1024; // segments of 1 KB: a new one is needed every few readings
    auto publisher = Start(settings);
    ASSERT_TRUE(publisher && Connected(*publisher));
    std::filesystem::remove_all(settings.spoolFolder);
    std::ofstream(settings.spoolFolder) << "in the way";
    for (int i = 0; i < 200; ++i) {
        publisher->PublishReading(Reading(double(i)));
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_TRUE(publisher->Flush(10s));
    ASSERT_TRUE(WaitFor([&] { return subscriber.payloads("lab/Multimeter/reading").size() >= 200; }, 10s));
    EXPECT_EQ(Sequence(subscriber, "lab/Multimeter/reading"), OneTo(200));
    EXPECT_EQ(publisher->status().lost, 0u);
}

// A publisher killed mid-stream (SIGKILL, nothing flushed) and a new one on the same spool: every reading
// the killed one accepted arrives, and only a tail it had not seen acknowledged arrives twice.
TEST_F(PublisherTest, AKilledPublisherLosesNothingAndRepeatsAtMostItsUnacknowledgedTail) {
    Broker broker(folder_ + "/broker"); // started after the fork, so the child has no thread of the parent's
    int accepted[2];
    int go[2];
    ASSERT_EQ(::pipe(accepted), 0);
    ASSERT_EQ(::pipe(go), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        char byte = 0;
        if (::read(go[0], &byte, 1) != 1)
            ::_exit(2);
        auto started = MqttPublisher::Start(Settings(broker.port()), "Multimeter");
        if (!started || !Connected(*started.value()))
            ::_exit(3);
        for (uint64_t seq = 1; seq < 1000000; ++seq) {
            started.value()->PublishReading(Reading(double(seq)));
            if (::write(accepted[1], &seq, sizeof seq) != sizeof seq)
                ::_exit(4);
            std::this_thread::sleep_for(200us);
        }
        ::_exit(0);
    }
    ::close(accepted[1]);
    ASSERT_TRUE(broker.Start());
    Subscriber subscriber(broker.port(), "lab/#");
    ASSERT_TRUE(subscriber.subscribed());
    ASSERT_EQ(::write(go[1], "g", 1), 1);
    // The last seq the child's PublishReading returned for, read from the pipe until it passes `until`.
    uint64_t last = 0;
    auto readAccepted = [&](uint64_t until, int waitMs) {
        pollfd fd{accepted[0], POLLIN, 0};
        uint64_t seq = 0;
        while (last<until&& ::poll(&fd, 1, waitMs)> 0 && ::read(accepted[0], &seq, sizeof seq) == sizeof seq)
            last = seq;
    };
    readAccepted(1000, 10000);
    ASSERT_GE(last, 1000u);
    // The broker stops answering: what the child sends from here on is not acknowledged when it dies.
    ASSERT_TRUE(broker.Pause());
    readAccepted(last + 300, 10000);
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    readAccepted(UINT64_MAX, 0);
    ::close(accepted[0]);
    ::close(go[0]);
    ::close(go[1]);
    ASSERT_TRUE(broker.Resume());

    auto publisher = Start(Settings(broker.port()));
    ASSERT_TRUE(publisher && Connected(*publisher));
    ASSERT_TRUE(publisher->Flush(10s));
    std::vector<uint64_t> seq;
    ASSERT_TRUE(WaitFor(
        [&] {
            seq = Sequence(subscriber, "lab/Multimeter/reading");
            return !seq.empty() && seq.back() >= last;
        },
        10s));
    // What arrived is 1..M from the killed run, then the replay k..L (k <= M + 1) in order: nothing lost,
    // and the repeated ones M - k + 1 at most the readings that can be awaiting acknowledgement.
    size_t split = 1;
    while (split < seq.size() && seq[split] == seq[split - 1] + 1)
        ++split;
    const std::vector<uint64_t> firstRun(seq.begin(), seq.begin() + static_cast<std::ptrdiff_t>(split));
    const std::vector<uint64_t> replay(seq.begin() + static_cast<std::ptrdiff_t>(split), seq.end());
    EXPECT_EQ(firstRun, OneTo(split));
    if (!replay.empty()) {
        std::vector<uint64_t> expected;
        for (uint64_t i = replay.front(); i <= replay.back(); ++i)
            expected.push_back(i);
        EXPECT_EQ(replay, expected);
        EXPECT_LE(replay.front(), split + 1);
        EXPECT_LE(split + 1 - replay.front(), 600u) << "repeated beyond the unacknowledged tail";
    }
    EXPECT_GE(seq.back(), last);
    publisher.reset();
    EXPECT_TRUE(std::filesystem::is_empty(folder_ + "/spool/Multimeter"));
}

TEST_F(PublisherTest, AWrongPasswordIsSaidAndRetriedWithNothingLost) {
    const std::string passwords = folder_ + "/broker/passwords";
    Broker broker(folder_ + "/broker", "allow_anonymous false\npassword_file " + passwords + "\n");
    ASSERT_EQ(std::system(("mosquitto_passwd -c -b " + passwords + " ann right").c_str()), 0);
    ASSERT_EQ(std::system(("mosquitto_passwd -b " + passwords + " watcher w").c_str()), 0);
    ASSERT_TRUE(broker.Start());
    PublishSettings settings = Settings(broker.port());
    settings.target.user = "ann";
    settings.target.password = "wrong-secret";
    auto publisher = Start(settings);
    ASSERT_TRUE(publisher);
    ASSERT_TRUE(WaitFor([&] { return publisher->status().state == BrokerState::Refused; }, 10s));
    for (int i = 0; i < 20; ++i)
        publisher->PublishReading(Reading(i));
    EXPECT_EQ(publisher->status().spooled, 20u);
    const std::string text = StatusText(publisher->status(), "Multimeter", settings.target);
    EXPECT_NE(text.find("refused the connection (Connection Refused: not authorised.)"), std::string::npos)
        << text;
    EXPECT_EQ(text.find("wrong-secret"), std::string::npos) << text;
    for (const PublisherStatus& state : States())
        EXPECT_EQ(state.reason.find("wrong-secret"), std::string::npos);

    // The administrator gives the user that password: a later attempt gets through and sends the spool.
    broker.Stop();
    ASSERT_EQ(std::system(("mosquitto_passwd -b " + passwords + " ann wrong-secret").c_str()), 0);
    ASSERT_TRUE(broker.Start());
    Subscriber subscriber(broker.port(), "lab/#", {.caFile = {}, .user = "watcher", .password = "w"});
    ASSERT_TRUE(subscriber.subscribed());
    ASSERT_TRUE(Connected(*publisher));
    ASSERT_TRUE(publisher->Flush(10s));
    ASSERT_TRUE(WaitFor([&] { return Sequence(subscriber, "lab/Multimeter/reading").size() == 20; }, 5s));
    EXPECT_EQ(Sequence(subscriber, "lab/Multimeter/reading"), OneTo(20));
}

TEST_F(PublisherTest, TwoMetersPublishUnderTheirOwnTopicsWithTheirOwnSequenceAndQos) {
    Broker broker(folder_ + "/broker");
    ASSERT_TRUE(broker.Start());
    Subscriber subscriber(broker.port(), "lab/#");
    auto supply = Start(Settings(broker.port()), "Supply voltage");
    PublishSettings atMostOnce = Settings(broker.port());
    atMostOnce.qos = 0;
    auto current = Start(atMostOnce, "Current");
    ASSERT_TRUE(supply && current && Connected(*supply) && Connected(*current));
    for (int i = 0; i < 60; ++i) {
        supply->PublishReading(Reading(12));
        if (i % 3 == 0)
            current->PublishReading(Reading(0.5));
    }
    ASSERT_TRUE(supply->Flush(10s) && current->Flush(10s));
    ASSERT_TRUE(WaitFor([&] { return subscriber.payloads("lab/Current/reading").size() == 20; }, 5s));
    ASSERT_TRUE(WaitFor([&] { return subscriber.payloads("lab/Supply_voltage/reading").size() == 60; }, 5s));
    EXPECT_EQ(Sequence(subscriber, "lab/Supply_voltage/reading"), OneTo(60));
    EXPECT_EQ(Sequence(subscriber, "lab/Current/reading"), OneTo(20));
    for (const std::string& payload : subscriber.payloads("lab/Current/reading"))
        EXPECT_EQ(nlohmann::json::parse(payload)["value"], 0.5);
}

// A certificate authority and a broker certificate for 127.0.0.1 signed by it, made with openssl. The key is
// made readable to all: a broker started by root reads it after dropping to its own user.
bool MakeCertificates(const std::string& folder, const std::string& name) {
    const std::string d = folder + '/' + name;
    std::filesystem::create_directories(d);
    std::ofstream(d + "/san.ext") << "subjectAltName=IP:127.0.0.1,DNS:localhost\n";
    const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes ";
    const std::string commands =
        "cd " + d + " && openssl req -x509" + ec + "-keyout ca.key -out ca.crt -days 2 -subj /CN=" + name +
        " && openssl req" + ec + "-keyout server.key -out server.csr -subj /CN=localhost" +
        " && openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -out server.crt" +
        " -days 2 -extfile san.ext && chmod 0644 server.key";
    return std::system(("(" + commands + ") >/dev/null 2>&1").c_str()) == 0;
}

TEST_F(PublisherTest, TlsWithTheBrokersCertificateAuthorityAndNotWithAnother) {
    ASSERT_TRUE(MakeCertificates(folder_, "right") && MakeCertificates(folder_, "other"));
    const std::string d = folder_ + "/right/";
    Broker broker(folder_ + "/broker", "allow_anonymous true\ncafile " + d + "ca.crt\ncertfile " + d +
                                           "server.crt\nkeyfile " + d + "server.key\n");
    ASSERT_TRUE(broker.Start());
    Subscriber subscriber(broker.port(), "lab/#", {.caFile = d + "ca.crt", .user = {}, .password = {}});
    ASSERT_TRUE(subscriber.subscribed());

    PublishSettings settings;
    settings.target = ParseMqttUrl("mqtts://127.0.0.1:" + std::to_string(broker.port()) + "/lab").value();
    settings.spoolFolder = folder_ + "/spool";
    settings.retryMaxSeconds = 1;
    settings.target.caFile = folder_ + "/other/ca.crt";
    {
        auto stranger = Start(settings, "Stranger");
        ASSERT_TRUE(stranger);
        ASSERT_TRUE(WaitFor([&] { return stranger->status().state == BrokerState::Unreachable; }, 10s));
        stranger->PublishReading(Reading(1));
        EXPECT_EQ(stranger->status().spooled, 1u);
    }
    settings.target.caFile = d + "ca.crt";
    auto publisher = Start(settings);
    ASSERT_TRUE(publisher && Connected(*publisher));
    for (int i = 0; i < 10; ++i)
        publisher->PublishReading(Reading(i));
    ASSERT_TRUE(WaitFor([&] { return Sequence(subscriber, "lab/Multimeter/reading").size() == 10; }, 5s));
    EXPECT_EQ(Sequence(subscriber, "lab/Multimeter/reading"), OneTo(10));
    EXPECT_TRUE(subscriber.payloads("lab/Stranger/reading").empty());

    settings.target.caFile = folder_ + "/missing.crt";
    const auto missing = MqttPublisher::Start(settings, "Missing");
    ASSERT_FALSE(missing);
    EXPECT_NE(toUtf8(missing.reason()).find("missing.crt"), std::string::npos);
}

} // namespace
} // namespace calvora
