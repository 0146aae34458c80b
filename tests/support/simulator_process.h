// calvora-sim and calvora-cli as separate processes, for end-to-end tests.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace calvora::testing {

inline std::string BuildPath(const std::string& relative) {
    const char* build = std::getenv("CALVORA_BUILD_DIR");
    return std::string(build ? build : ".") + "/" + relative;
}

// Polls `done` every few milliseconds until it holds or `bound` passes.
inline bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// One running program with pipes on its standard input and output.
class ChildProcess {
public:
    // With `mergeErrors` the program's standard error comes through ReadLine too.
    explicit ChildProcess(std::vector<std::string> arguments, bool mergeErrors = false) {
        int input[2];
        int output[2];
        if (pipe2(input, O_CLOEXEC) != 0 || pipe2(output, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, input[0], 0);
        posix_spawn_file_actions_adddup2(&actions, output[1], 1);
        if (mergeErrors)
            posix_spawn_file_actions_adddup2(&actions, output[1], 2);
        std::vector<char*> argv;
        for (auto& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(input[0]);
        ::close(output[1]);
        stdin_ = input[1];
        stdout_ = output[0];
    }
    ~ChildProcess() {
        if (stdin_ >= 0)
            ::close(stdin_);
        if (stdout_ >= 0)
            ::close(stdout_);
        Stop(SIGTERM);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool running() const { return pid_ > 0; }

    // The first line the program prints, or empty after `bound`.
    std::string ReadLine(std::chrono::milliseconds bound) {
        const auto deadline = std::chrono::steady_clock::now() + bound;
        while (pending_.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
            pollfd entry{stdout_, POLLIN, 0};
            if (poll(&entry, 1, 50) <= 0)
                continue;
            char buffer[256];
            const ssize_t n = ::read(stdout_, buffer, sizeof buffer);
            if (n <= 0)
                break;
            pending_.append(buffer, static_cast<size_t>(n));
        }
        const size_t end = pending_.find('\n');
        if (end == std::string::npos)
            return {};
        std::string line = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        return line;
    }
    bool Write(const std::string& text) {
        return ::write(stdin_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    }
    bool Signal(int signal) { return pid_ > 0 && kill(pid_, signal) == 0; }
    // Stops the program (SIGSTOP) and returns once it is stopped; false when it did not stop.
    bool Pause() {
        int status = 0;
        return Signal(SIGSTOP) &&
               WaitFor(
                   [&] { return waitpid(pid_, &status, WNOHANG | WUNTRACED) == pid_ && WIFSTOPPED(status); },
                   std::chrono::milliseconds(5000));
    }
    bool Resume() { return Signal(SIGCONT); }
    // Sends `signal` and reaps the process; returns its exit status (-1 when killed after 5 s).
    int Stop(int signal) {
        if (pid_ <= 0)
            return exitStatus_;
        if (signal != 0)
            kill(pid_, signal);
        int status = 0;
        if (!WaitFor([&] { return waitpid(pid_, &status, WNOHANG) == pid_; },
                     std::chrono::milliseconds(5000))) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
        }
        pid_ = -1;
        exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return exitStatus_;
    }
    // Waits for the program to end by itself within `bound`; its exit status, -1 otherwise.
    int Wait(std::chrono::milliseconds bound) {
        if (pid_ <= 0)
            return exitStatus_;
        int status = 0;
        if (!WaitFor([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, bound))
            return -1;
        pid_ = -1;
        exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return exitStatus_;
    }

private:
    pid_t pid_ = -1;
    int stdin_ = -1;
    int stdout_ = -1;
    int exitStatus_ = -1;
    std::string pending_;
};

// calvora-sim with `arguments`; devicePath() is the pseudo-terminal it serves. With `mergeErrors` its
// notes on standard error follow the device path through process().ReadLine.
class SimulatorProcess {
public:
    explicit SimulatorProcess(std::vector<std::string> arguments, bool mergeErrors = false)
        : process_(WithProgram(std::move(arguments)), mergeErrors),
          devicePath_(process_.ReadLine(std::chrono::seconds(5))) {
        // The kernel gives a pseudo-terminal's number to the next one as soon as it is free. Holding the
        // slave side keeps it taken until the test ends: a program reopening a pulled receiver's path then
        // finds nothing there, never another test's simulator.
        if (!devicePath_.empty())
            numberHeld_ = ::open(devicePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    }
    ~SimulatorProcess() {
        process_.Stop(SIGTERM);
        if (numberHeld_ >= 0)
            ::close(numberHeld_);
    }
    SimulatorProcess(const SimulatorProcess&) = delete;
    SimulatorProcess& operator=(const SimulatorProcess&) = delete;
    const std::string& devicePath() const { return devicePath_; }
    ChildProcess& process() { return process_; }

private:
    static std::vector<std::string> WithProgram(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), BuildPath("tools/sim/calvora-sim"));
        return arguments;
    }
    ChildProcess process_;
    std::string devicePath_;
    int numberHeld_ = -1;
};

// The counts calvora-sim reports on SIGUSR2 and on exit:
// "calvora-sim: sent N live frames, M stored-log records".
struct SimulatorSent {
    unsigned long long liveFrames = 0;
    unsigned long long storedRecords = 0;
};

inline bool ParseSimulatorSent(const std::string& line, SimulatorSent& sent) {
    return std::sscanf(line.c_str(), "calvora-sim: sent %llu live frames, %llu stored-log records",
                       &sent.liveFrames, &sent.storedRecords) == 2;
}

// Reads lines until one carries the counts; false after `bound`.
inline bool ReadSimulatorSent(ChildProcess& simulator, SimulatorSent& sent, std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (std::chrono::steady_clock::now() < deadline) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        const std::string line = simulator.ReadLine(left);
        if (line.empty())
            return false;
        if (ParseSimulatorSent(line, sent))
            return true;
    }
    return false;
}

} // namespace calvora::testing
