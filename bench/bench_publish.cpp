// Publishing at the line's fastest: 960 readings a second with QoS 1 to a real local mosquitto, counted by a
// separate mosquitto_sub process. Reported as counters: the share of one core the publishing process used
// (the stream's own pacing, building each message and writing it to the spool on the caller's thread, the
// connection's thread), the part of it the connection's thread used, the pacing measured alone, the
// readings the subscriber got, those it missed and those out of order. The second benchmark stops the
// broker for 30 s in the middle of the stream.
// Run: build/release/bench/bench_publish (about 45 s; needs mosquitto and mosquitto-clients).
#include "publish/mqtt_publisher.h"
#include "publish/reading_message.h"
#include "tests/support/mqtt_broker.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <ctime>
#include <fstream>
#include <set>

namespace {

using namespace std::chrono_literals;
using calvora::LiveReading;
using calvora::MqttPublisher;
using calvora::PublishSettings;
using Clock = std::chrono::steady_clock;

constexpr int kRate = 960;

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// This thread's own CPU time: the caller's share, the rest of the process being the publisher's threads.
double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// mosquitto_sub with a persistent session, its lines in a file.
pid_t StartSubscriber(int port, const std::string& file) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, file.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    std::vector<std::string> arguments = {"/usr/bin/mosquitto_sub",
                                          "-h",
                                          "127.0.0.1",
                                          "-p",
                                          std::to_string(port),
                                          "-t",
                                          "bench/+/reading",
                                          "-q",
                                          "1",
                                          "-c",
                                          "-i",
                                          "bench-counter"};
    std::vector<char*> argv;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

struct Count {
    uint64_t received = 0;
    uint64_t missing = 0;
    uint64_t outOfOrder = 0;
    uint64_t firstMissing = 0;
};

Count CountSeq(const std::string& file, uint64_t sent) {
    std::ifstream in(file);
    std::string line;
    std::set<uint64_t> seen;
    uint64_t last = 0;
    Count count;
    while (std::getline(in, line)) {
        const size_t at = line.rfind("\"seq\":");
        if (at == std::string::npos)
            continue;
        const uint64_t seq = std::stoull(line.substr(at + 6));
        count.outOfOrder += seq < last;
        last = seq;
        seen.insert(seq);
        ++count.received;
    }
    for (uint64_t seq = 1; seq <= sent; ++seq) {
        if (!seen.count(seq) && count.missing++ == 0)
            count.firstMissing = seq;
    }
    return count;
}

// Streams readings at 960 a second for `seconds`, stopping the broker from `stopAt` for `stopFor`.
void Stream(benchmark::State& state, int seconds, int stopAt, int stopFor) {
    const std::string folder = "/tmp/calvora-bench-publish-" + std::to_string(::getpid());
    calvora::testing::Broker broker(
        folder + "/broker",
        "allow_anonymous true\nmax_queued_messages 0\npersistence true\npersistence_location " + folder +
            "/broker/\n");
    if (!broker.Start()) {
        state.SkipWithError("mosquitto cannot be started");
        return;
    }
    const pid_t subscriber = StartSubscriber(broker.port(), folder + "/received.txt");
    std::this_thread::sleep_for(300ms);
    PublishSettings settings;
    settings.target =
        calvora::ParseMqttUrl("mqtt://127.0.0.1:" + std::to_string(broker.port()) + "/bench").value();
    settings.spoolFolder = folder + "/spool";
    settings.retryMaxSeconds = 4;
    LiveReading reading;
    reading.reading.value = 1.2345;
    reading.reading.unit = u"V";
    // The stream's own pacing (a wake-up 960 times a second) costs something without any publishing; it is
    // measured alone and reported apart, as the reader thread it stands for runs anyway.
    const double idleStart = CpuSeconds();
    const auto idleFrom = Clock::now();
    for (int i = 0; i < kRate; ++i)
        std::this_thread::sleep_until(idleFrom + i * std::chrono::microseconds(1000000 / kRate));
    const double pacing =
        (CpuSeconds() - idleStart) / std::chrono::duration<double>(Clock::now() - idleFrom).count();
    uint64_t sent = 0;
    double cpu = 0;
    double callerCpu = 0;
    double wall = 0;
    for (auto _ : state) {
        auto publisher = MqttPublisher::Start(settings, "Multimeter").value();
        calvora::testing::WaitFor(
            [&] { return publisher->status().state == calvora::BrokerState::Connected; }, 5s);
        const double cpuStart = CpuSeconds();
        const double callerStart = ThreadCpuSeconds();
        const auto start = Clock::now();
        bool stopped = false;
        for (int i = 0; i < seconds * kRate; ++i) {
            std::this_thread::sleep_until(start + i * std::chrono::microseconds(1000000 / kRate));
            if (stopFor > 0 && !stopped && i == stopAt * kRate) {
                broker.Stop();
                stopped = true;
            }
            if (stopped && stopFor > 0 && i == (stopAt + stopFor) * kRate) {
                broker.Start();
                stopFor = 0;
            }
            publisher->PublishReading(reading);
            ++sent;
        }
        wall += std::chrono::duration<double>(Clock::now() - start).count();
        cpu += CpuSeconds() - cpuStart;
        callerCpu += ThreadCpuSeconds() - callerStart;
        publisher->Flush(30s);
    }
    std::this_thread::sleep_for(1s);
    kill(subscriber, SIGTERM);
    waitpid(subscriber, nullptr, 0);
    const Count count = CountSeq(folder + "/received.txt", sent);
    state.counters["cpu_percent_of_a_core"] = 100 * cpu / wall;
    state.counters["connection_thread_percent"] = 100 * (cpu - callerCpu) / wall;
    state.counters["pacing_alone_percent"] = 100 * pacing;
    state.counters["sent"] = double(sent);
    state.counters["received"] = double(count.received);
    state.counters["missing"] = double(count.missing);
    state.counters["out_of_order"] = double(count.outOfOrder);
    state.counters["first_missing"] = double(count.firstMissing);
    std::filesystem::remove_all(folder);
}

// Building one reading's message: the part of publishing done on the reading's own thread.
void BM_ReadingMessage(benchmark::State& state) {
    LiveReading reading;
    reading.reading.value = 1.2345;
    reading.reading.unit = u"V";
    reading.reading.functionName = u"VDC";
    uint64_t seq = 0;
    const auto now = std::chrono::system_clock::now();
    for (auto _ : state)
        benchmark::DoNotOptimize(calvora::ReadingMessage(reading, now, ++seq));
}
BENCHMARK(BM_ReadingMessage);

void BM_Publish960PerSecondQos1(benchmark::State& state) {
    Stream(state, 5, 0, 0);
}
BENCHMARK(BM_Publish960PerSecondQos1)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

void BM_Publish960PerSecondBrokerStopped30s(benchmark::State& state) {
    Stream(state, 36, 3, 30);
}
BENCHMARK(BM_Publish960PerSecondBrokerStopped30s)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

} // namespace
