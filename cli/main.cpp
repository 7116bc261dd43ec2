// kelvane-cli: the filter's engine for scripts and cron.

#include <CLI/CLI.hpp>
#include <clocale>
#include <iostream>
#include <string>

#include "base/error.h"
#include "cli/commands.h"

int main(int argc, char** argv) {
    // Log time stamps follow the user's regional settings.
    std::setlocale(LC_TIME, "");
    using namespace kelvane::cli;
    CLI::App app{
        "kelvane-cli: the Kelvane junk-mail filter for scripts and cron.\n"
        "Rule lists, known.lst and Kelvane.ini are read from the program folder\n"
        "(the folder of this executable, or --dir); mailboxes and general\n"
        "settings from the per-user store under $XDG_CONFIG_HOME."};
    app.require_subcommand(1);
    Options opts;
    app.add_option("--dir", opts.dir, "Program folder holding the rule set")
        ->check(CLI::ExistingDirectory);
    app.set_version_flag("--version", "kelvane-cli 0.1");

    Command command;
    RegisterCommands(app, opts, command);

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
        return kUsageError;
    }
    try {
        return command(opts);
    } catch (const kelvane::KelvaneError& e) {
        std::cerr << e.what() << "\n";
        return kFailed;
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return kFailed;
    }
}
