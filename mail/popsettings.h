#pragma once

#include <string>

#include "mail/tlslayer.h"

namespace kelvane {

// How a session signs in: USER and PASS, or SASL XOAUTH2 with an OAuth 2.0
// access token in place of the password.
enum class SignIn { UserPass, XOAuth2 };

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
    SignIn signIn = SignIn::UserPass;
    int slot = 0;  // the mailbox slot it was read from, for messages; 0: none
};

}  // namespace kelvane
