#pragma once

// Finding the user's mail program and first POP3 account on a Linux desktop,
// to spare a new user typing: the default Thunderbird profile's first POP3
// account, and the desktop's handler for "mailto" links. Every detection that
// finds nothing gives nothing and reports nothing.

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "mail/popsettings.h"
#include "settings/accounts.h"

namespace kelvane {

// Where the detections look; tests point them at folders they wrote.
struct DesktopPlaces {
    std::string home;
    std::string dataHome;               // ${XDG_DATA_HOME:-$HOME/.local/share}
    std::vector<std::string> dataDirs;  // ${XDG_DATA_DIRS:-/usr/local/share:/usr/share}
    // Run as: XDGMIME query default x-scheme-handler/mailto
    std::string xdgMime = "xdg-mime";

    static DesktopPlaces FromEnvironment();
};

struct FoundAccount {
    std::string server;  // host, ":port" added when not 110 or 995
    std::string userName;
    ConnectionSecurity security = ConnectionSecurity::None;
};

// The groups of a desktop-entry or profiles.ini text: group, key, value.
using KeyFile = std::map<std::string, std::map<std::string, std::string>>;
KeyFile ParseKeyFile(const std::string& text);

// The first of mail.accountmanager.accounts whose server is of type pop3,
// from a prefs.js text.
std::optional<FoundAccount> FirstPopAccount(const std::string& prefsJs);

// The default profile's folder from a profiles.ini text in folder: the
// Install section's Default, else the profile marked Default=1, else the
// only profile.
std::string DefaultProfileFolder(const std::string& profilesIni, const std::string& folder);

// The first POP3 account of the default Thunderbird profile (the usual,
// Flatpak and Snap places, in that order).
std::optional<FoundAccount> ThunderbirdPopAccount(const DesktopPlaces& places);

// Slot 1's server and user name from the mail program, only while its server
// is empty. True when something was filled in.
bool FillSlotOneFromMailClient(MailboxTable& table, const DesktopPlaces& places);

// An Exec line without its field codes (%u, %f, ...; "%%" is a percent sign).
std::string RemoveFieldCodes(const std::string& exec);

// The command of the desktop's mailto handler, or empty.
std::string GetMailPath(const DesktopPlaces& places);

// The program and its arguments of a mail program setting: a path that
// names an existing file is the program as a whole; otherwise the text is
// split at blanks, with double quotes and backslashes as a desktop Exec line
// has them. Empty when there is nothing to start.
std::vector<std::string> MailProgramArguments(const std::string& command);

}  // namespace kelvane
