#include "measure/command_launcher.h"

#include "protocol/text.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace calvora {

Outcome<pid_t> CommandLauncher::Start(const std::string& command, const CommandEnvironment& environment) {
    Reap();
    // The program's environment without the names given, then those names with their values.
    std::vector<std::string> variables;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        const std::string_view name = text.substr(0, text.find('='));
        if (std::none_of(environment.begin(), environment.end(),
                         [name](const auto& variable) { return variable.first == name; }))
            variables.emplace_back(text);
    }
    for (const auto& [name, value] : environment)
        variables.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& variable : variables)
        envp.push_back(variable.data());
    envp.push_back(nullptr);

    std::string shell = "/bin/sh";
    std::string flag = "-c";
    std::string text = command;
    char* argv[] = {shell.data(), flag.data(), text.data(), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
    pid_t pid = -1;
    const int error = posix_spawn(&pid, shell.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        return Failure(u"cannot run the alarm command: " + fromUtf8(std::strerror(error)));
    running_.push_back(pid);
    return pid;
}

size_t CommandLauncher::Reap() {
    std::erase_if(running_, [](pid_t pid) {
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        // Gone (reaped) or not ours any more (collected by someone else): either way not running.
        return done == pid || (done < 0 && errno == ECHILD);
    });
    return running_.size();
}

bool CommandLauncher::WaitAll(std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (Reap() > 0) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

} // namespace calvora
