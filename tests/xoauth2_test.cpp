// Signing in with an OAuth 2.0 access token (SASL XOAUTH2) against the
// scripted server: the exact AUTH line, the refusal that comes as a
// continuation, and never a USER or PASS as a fallback.

#include <gtest/gtest.h>

#include <string>

#include "mail/mspop3.h"
#include "support/fakeserver.h"
#include "support/pop3script.h"

namespace kelvane {
namespace {

using test::FakeServer;

const std::string kToken = "ya29.tok-XYZ";
// base64("user=bob\x01auth=Bearer ya29.tok-XYZ\x01\x01"), worked out apart
// from the client's encoder.
const std::string kAuthLine = "AUTH XOAUTH2 dXNlcj1ib2IBYXV0aD1CZWFyZXIgeWEyOS50b2stWFlaAQE=";

TEST(XOAuth2, Exchanges) {
    struct Case {
        const char* name;
        std::string capa;                // the CAPA reply, ending with the dot line
        std::string authReply;           // empty: AUTH is never sent
        std::string afterEmptyResponse;  // empty: no continuation is answered
        std::string error;               // empty: signed in
    } cases[] = {
        {"signed in", "+OK\r\nUSER\r\nSASL PLAIN XOAUTH2\r\n.", "+OK welcome", "", ""},
        {"refused with a continuation", "+OK\r\nSASL XOAUTH2\r\n.",
         "+ eyJzdGF0dXMiOiI0MDEiLCJzY2hlbWVzIjoiYmVhcmVyIn0=", "-ERR Authentication failed",
         "-ERR Authentication failed"},
        {"refused at once", "+OK\r\nSASL XOAUTH2\r\n.", "-ERR [AUTH] token expired", "",
         "-ERR [AUTH] token expired"},
        {"no XOAUTH2 offered", "+OK\r\nSASL PLAIN LOGIN\r\n.", "", "",
         "The server of mailbox 3 does not offer XOAUTH2 sign-in"},
        {"no SASL at all", "+OK\r\nUSER\r\nPIPELINING\r\n.", "", "",
         "The server of mailbox 3 does not offer XOAUTH2 sign-in"},
        {"CAPA refused", "-ERR unknown command", "", "",
         "The server of mailbox 3 does not offer XOAUTH2 sign-in"},
        {"malformed continuation", "+OK\r\nSASL XOAUTH2\r\n.", "+ {not base64}", "",
         "The server of mailbox 3 sent a malformed XOAUTH2 challenge"},
        {"unexpected reply", "+OK\r\nSASL XOAUTH2\r\n.", "* go on", "",
         "The server of mailbox 3 answered the XOAUTH2 sign-in unexpectedly"},
        {"continuation, then success", "+OK\r\nSASL XOAUTH2\r\n.", "+ ", "+OK",
         "The server of mailbox 3 answered the XOAUTH2 sign-in unexpectedly"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeServer srv;
        srv.SetLockstep(true);
        srv.Send("+OK POP3 ready\r\n").Expect("CAPA").Send(c.capa + "\r\n");
        if (!c.authReply.empty()) srv.Expect(kAuthLine).Send(c.authReply + "\r\n");
        if (!c.afterEmptyResponse.empty()) srv.Expect("").Send(c.afterEmptyResponse + "\r\n");
        if (c.error.empty()) srv.Expect("STAT").Send("+OK 0 0\r\n").Expect("QUIT").Send("+OK\r\n");
        srv.AwaitClientClose();

        TmsRemotePOP pop;
        pop.SetClock(&test::kFastClock);
        pop.SetServer(srv.Address());
        pop.SetUserName("bob");
        pop.SetPassword(kToken);
        pop.SetSignIn(SignIn::XOAuth2);
        pop.SetMailboxNumber(3);
        std::string error;
        try {
            pop.UpdateInfo();
        } catch (const KelvaneError& e) {
            error = e.what();
        }
        EXPECT_EQ(error, c.error);
        EXPECT_FALSE(pop.Connected());
        EXPECT_TRUE(srv.Finish()) << srv.Report();
        // A refused token never turns into a password login.
        EXPECT_EQ(srv.Received().find("USER"), std::string::npos);
        EXPECT_EQ(srv.Received().find("PASS"), std::string::npos);
        EXPECT_EQ(error.find(kToken), std::string::npos);
    }
}

}  // namespace
}  // namespace kelvane
