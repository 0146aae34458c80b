// calvora-cli: the headless face of the Calvora core (decode captures, inspect and convert
// recordings, record from a receiver). Exit codes: 0 success, 1 runtime failure, 2 bad usage or input.
#include "tools/cli/command_registry.h"
#include "tools/cli/output.h"

#include <iostream>

int main(int argc, char** argv) {
    CLI::App app{"Calvora command-line tool for the wireless true-RMS multimeter", "calvora-cli"};
    app.set_version_flag("--version", std::string("calvora-cli ") + CALVORA_VERSION);
    app.require_subcommand(1);
    calvora::cli::InstalledCommands commands(app);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return calvora::cli::ExitUsage;
    }
    auto runner = commands.selected();
    return calvora::cli::FinishStandardOutput(runner ? runner() : calvora::cli::ExitUsage);
}
