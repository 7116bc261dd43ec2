// kelvane-cli autostart ...: starting the desktop program at login.

#include <CLI/CLI.hpp>
#include <iostream>

#include "base/fileio.h"
#include "cli/commands.h"
#include "settings/autostart.h"

namespace kelvane::cli {

void RegisterAutostartCommands(CLI::App& app, Command& command) {
    CLI::App* autostart = app.add_subcommand(
        "autostart", "Start the desktop program kelvane when you log in, or stop doing so");
    autostart->require_subcommand(1);
    autostart
        ->add_subcommand("on",
                         "Write the login entry "
                         "${XDG_CONFIG_HOME:-~/.config}/autostart/"
                         "org.kelvane.Kelvane.desktop"
                         " (with the start-in-tray setting kelvane comes up in the "
                         "tray)")
        ->callback([&command] {
            command = [](const Options&) {
                SetAutostart(true, AutostartProgram(ExecutableFolder()));
                return kOk;
            };
        });
    autostart->add_subcommand("off", "Remove the login entry")->callback([&command] {
        command = [](const Options&) {
            SetAutostart(false);
            return kOk;
        };
    });
    autostart->add_subcommand("status", "Print on or off")->callback([&command] {
        command = [](const Options&) {
            std::cout << (AutostartEnabled() ? "on" : "off") << "\n";
            return kOk;
        };
    });
}

}  // namespace kelvane::cli
