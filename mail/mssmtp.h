#pragma once

// The SMTP client of the main window. Nothing in the program sends mail, so
// only its session exists: connecting, the greeting with HELO, and QUIT.

#include <functional>
#include <string>

#include "mail/agsocket.h"
#include "mail/msmsg.h"
#include "mail/mspop3.h"

namespace kelvane {

class TmsSMTP : public TmsMailBase {
  public:
    using Notify = std::function<void(TmsSMTP& sender)>;
    using AddressRejectedNotify =
        std::function<void(TmsSMTP& sender, const std::string& address,
                           const std::string& serverReply, bool& proceed)>;

    TmsSMTP() : TmsMailBase("smtp", 25) {}

    // Not owned; whoever destroys the message sets it back to null.
    TmsMessage* MailMessage() const { return mailMessage_; }
    void SetMailMessage(TmsMessage* message) { mailMessage_ = message; }

    // Needs Server; clears the flags left from an earlier session.
    void Open() override;
    // Connects, reads the greeting and introduces itself with HELO.
    void Login() override;
    void Logout() override;

    Notify OnPrepare;
    Notify OnSending;
    Notify OnMailSent;
    AddressRejectedNotify OnAddressRejected;

  private:
    void CheckReply(int code);

    TmsMessage* mailMessage_ = nullptr;
};

}  // namespace kelvane
