#pragma once

// The general settings the main window acts on, read from the store in one
// place: the window never reads another dialog's controls.

#include <string>

#include "settings/settingsstore.h"

namespace kelvane {

struct MainSettings {
    bool startInTray = false;
    bool automatic = false;
    int minutes = 10;        // the interval of automatic mode
    int defaultMailbox = 1;  // the general settings' default mailbox
    bool confirm = true;     // ask before deleting interactively
    bool launch = true;      // launch the mail program when mail is left
    bool exitAfterCheck = false;
    bool kill = false;  // the unattended run deletes without asking
    bool alarm = true;
    bool repeat = true;
    std::string mailer;
    std::string alarmFile;  // first 200 characters; empty means ours

    static MainSettings Read(const SettingsStore& user);
};

}  // namespace kelvane
