// Subcommands of calvora-cli. Each cmd_*.cpp registers one or more commands at
// static-initialisation time, so adding a command never touches main.cpp.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <string>

namespace calvora::cli {

// Exit codes shared by every subcommand.
enum ExitCode : int { ExitOk = 0, ExitFailure = 1, ExitUsage = 2 };

// Runs a parsed subcommand and returns its exit code.
using CommandRunner = std::function<int()>;

struct CommandDefinition {
    std::string name;
    std::string description;
    int order = 0; // position in --help
    // Declares the subcommand's options on `sub` and returns what runs it.
    std::function<CommandRunner(CLI::App& sub)> setup;
};

bool registerCommand(CommandDefinition definition);

// Adds every registered command to `app`; returns the runner of the one that was parsed, or null.
class InstalledCommands {
public:
    explicit InstalledCommands(CLI::App& app);
    CommandRunner selected() const;

private:
    std::vector<std::pair<CLI::App*, CommandRunner>> commands_;
};

} // namespace calvora::cli
