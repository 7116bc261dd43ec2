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
        "Rule lists, known.lst, Kelvane.ini and the default log live in the program\n"
        "folder: --dir when given, else the folder of this executable when you can\n"
        "write to it, else ${XDG_DATA_HOME:-~/.local/share}/Kelvane. Mailboxes and\n"
        "general settings are kept in the per-user store\n"
        "${XDG_CONFIG_HOME:-~/.config}/Brennick Corporation/Kelvane/10.ini."};
    app.require_subcommand(1);
    Options opts;
    app.add_option("--dir", opts.dir, "Program folder holding the rule set")
        ->check(CLI::ExistingDirectory);
    app.set_version_flag("--version", "kelvane-cli " KELVANE_VERSION);

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
