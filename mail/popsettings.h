#pragma once

#include <string>

namespace kelvane {

// What a POP3 client needs to know of the mailbox it logs in to.
struct PopSettings {
    std::string host;
    std::string userName;
    std::string password;
    // Send commands ahead of replies when the server offers it.
    bool pipelining = true;
};

}  // namespace kelvane
