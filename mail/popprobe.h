#pragma once

// A look at a POP3 server's certificate before the user trusts it: connects
// the way the mailbox would (TLS from the first byte or STLS), takes any
// certificate, and leaves with QUIT. No user name or password is sent.

#include <functional>

#include "mail/popsettings.h"
#include "mail/tlslayer.h"

namespace kelvane {

// Throws TransportError when the connection fails and KelvaneError with the
// server's reply when it refuses (empty when it closed first,
// kTextEmptyReply for an empty line); account.security must not be None.
CertificateInfo ProbeCertificate(const PopSettings& account,
                                 const std::function<void()>& pump = {});

}  // namespace kelvane
