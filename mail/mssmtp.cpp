#include "mail/mssmtp.h"

namespace kelvane {

void TmsSMTP::CheckReply(int code) {
    if (code / 100 != 2) throw ServerError(LastReply());
}

void TmsSMTP::Open() {
    if (Server().empty()) RaiseErrorId(kErrServerRequired);
    ResetState();
    TmsMailBase::Open();
}

void TmsSMTP::Login() {
    Connect();
    CheckReply(ReadMultiReply());
    SendLine("HELO " + LocalHost());
    // Some servers refuse a host name they cannot resolve but take a bare HELO.
    if (ReadMultiReply() / 100 == 2) return;
    SendLine("HELO");
    CheckReply(ReadMultiReply());
}

void TmsSMTP::Logout() {
    // A Cancel pressed since the last reply ends the session here with the
    // cancel error; SendLine would only find the socket closed by it.
    PumpEvents();
    if (Canceling()) RaiseCancel();
    SendLine("QUIT");
    CheckReply(ReadMultiReply());
}

}  // namespace kelvane
