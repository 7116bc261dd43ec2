#pragma once

// The desktop's services a window asks for: opening a file the way the
// desktop opens it, and starting a program. Behind one interface so the
// tests run the real windows without starting anything.

#include <QString>
#include <string>
#include <vector>

#include "settings/settingsstore.h"

namespace kelvane::ui {

class MessageBoxes;

class Desktop {
  public:
    virtual ~Desktop() = default;
    // The shell's "open" of a file; false when the desktop could not.
    virtual bool OpenFile(const QString& path) = 0;
    // Starts argv[0] with the rest as its arguments, not waiting for it.
    virtual bool StartProgram(const std::vector<std::string>& argv) = 0;
};

class QtDesktop : public Desktop {
  public:
    bool OpenFile(const QString& path) override;
    bool StartProgram(const std::vector<std::string>& argv) override;
};

// The program's own desktop, for windows not told another.
Desktop& SystemDesktop();

inline constexpr const char* kNoMailerText = "Mail program not specified in the general settings. ";
inline constexpr const char* kLaunchFailedText = "Unable to launch mail program. ";
inline constexpr const char* kHelpError = "Unable to open help file - Kelvane.hlp.";

// The launch of the mail program setting: true when it started; otherwise
// the box that says why.
bool LaunchMailProgram(Desktop& desktop, MessageBoxes& boxes, const std::string& mailer);

// Opens "Kelvane.hlp" (the program folder's, else the installed one) at the
// start, or at a topic (200 the general settings, 100 the spam settings);
// the error box when it cannot.
void OpenHelp(Desktop& desktop, MessageBoxes& boxes, const Locations& where, int topic = 0);

}  // namespace kelvane::ui
