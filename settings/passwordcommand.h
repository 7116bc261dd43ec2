#pragma once

// Running the user's password command (a password manager or an OAuth 2.0
// token helper) at each check.

#include <string>

namespace kelvane {

struct CommandSecret {
    bool ok = false;
    std::string secret;  // the first line of standard output, without CR LF
    std::string detail;  // why it failed; never holds any of the output
};

// Runs command through /bin/sh -c in a process group of its own, with
// standard input closed, standard error left to the caller's. The whole
// group is killed when it outlasts timeOutSeconds; output beyond the first
// line is read and dropped, so a command that prints without end cannot
// block it.
CommandSecret RunPasswordCommand(const std::string& command, int timeOutSeconds);

}  // namespace kelvane
