#pragma once

// Starting the desktop program at login: the XDG autostart entry
// ${XDG_CONFIG_HOME:-~/.config}/autostart/org.kelvane.Kelvane.desktop.
// kelvane-cli and the general settings dialog both switch it here.

#include <string>

namespace kelvane {

inline constexpr const char* kApplicationId = "org.kelvane.Kelvane";

// The entry's path from the environment.
std::string AutostartPath();

// What the entry's Exec starts: "kelvane" when the kelvane found first on
// PATH is the one in executableFolder (an installed program), the absolute
// path of executableFolder/kelvane when that exists elsewhere (a build tree
// or a portable copy), else "kelvane".
std::string AutostartProgram(const std::string& executableFolder);

// The entry's text for that program, the Exec value quoted as desktop
// entries require.
std::string AutostartEntry(const std::string& program);

// True when the entry exists and the desktop will run it: no Hidden=true,
// no X-GNOME-Autostart-enabled=false (the ways a desktop's own settings
// switch an entry off without removing it).
bool AutostartEnabled();

// Writes the entry (atomically) or removes it. A failure raises StoreError
// with the path and the system's reason.
void SetAutostart(bool on, const std::string& program = "kelvane");

}  // namespace kelvane
