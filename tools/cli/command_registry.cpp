#include "tools/cli/command_registry.h"

#include <algorithm>
#include <vector>

namespace calvora::cli {

namespace {
std::vector<CommandDefinition>& registry() {
    static std::vector<CommandDefinition> definitions;
    return definitions;
}
} // namespace

bool registerCommand(CommandDefinition definition) {
    registry().push_back(std::move(definition));
    return true;
}

InstalledCommands::InstalledCommands(CLI::App& app) {
    auto definitions = registry();
    std::stable_sort(definitions.begin(), definitions.end(),
                     [](const auto& a, const auto& b) { return a.order < b.order; });
    for (auto& definition : definitions) {
        CLI::App* sub = app.add_subcommand(definition.name, definition.description);
        commands_.emplace_back(sub, definition.setup(*sub));
    }
}

CommandRunner InstalledCommands::selected() const {
    for (const auto& [sub, runner] : commands_) {
        if (sub->parsed())
            return runner;
    }
    return {};
}

} // namespace calvora::cli
