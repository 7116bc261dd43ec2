#pragma once

#include <string>

#include "mail/tlslayer.h"

namespace kelvane {

// What a POP3 client needs to know of the mailbox it logs in to.
struct PopSettings {
    std::string host;
    std::string userName;
    std::string password;
    // Send commands ahead of replies when the server offers it.
    bool pipelining = true;
    ConnectionSecurity security = ConnectionSecurity::None;
    std::string fingerprint = {};  // a pinned certificate, as stored; empty: the trust store judges
    int timeOut = 60;              // seconds, the limit of every network wait
};

}  // namespace kelvane
