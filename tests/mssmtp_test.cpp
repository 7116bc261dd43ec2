#include "mail/mssmtp.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/fakeserver.h"
#include "support/pop3script.h"

namespace kelvane {
namespace {

using test::FakeServer;

using test::kFastClock;

std::string HostName() {
    char name[512] = {};
    return ::gethostname(name, sizeof name - 1) == 0 ? name : "";
}

struct Exchange {
    std::string expect;  // empty: only send
    std::string reply;
};

const struct SessionCase {
    const char* name;
    std::vector<Exchange> script;
    const char* error;  // error text from Login or Logout, "*" for any; null for none
} kSessions[] = {
    {"multi-line greeting",
     {{"", "220-mx.example.com\r\n220 ready\r\n"},
      {"HELO " + HostName(), "250 hello\r\n"},
      {"QUIT", "221 bye\r\n"}},
     nullptr},
    {"bare HELO after a refused one",
     {{"", "220 ready\r\n"},
      {"HELO " + HostName(), "501 bad name\r\n"},
      {"HELO", "250 ok\r\n"},
      {"QUIT", "221 bye\r\n"}},
     nullptr},
    {"both HELO refused",
     {{"", "220 ready\r\n"}, {"HELO " + HostName(), "501 bad\r\n"}, {"HELO", "502 no\r\n"}},
     "502 no"},
    {"refused greeting", {{"", "554 go away\r\n"}}, "554 go away"},
    {"refused QUIT",
     {{"", "220 ready\r\n"}, {"HELO " + HostName(), "250 hi\r\n"}, {"QUIT", "500 what\r\n"}},
     "500 what"},
    {"closed after greeting", {{"", "220 ready\r\n"}, {"HELO " + HostName(), ""}}, "*"},
};

TEST(MsSmtp, Sessions) {
    for (const SessionCase& c : kSessions) {
        SCOPED_TRACE(c.name);
        FakeServer srv;
        for (const Exchange& e : c.script) {
            if (!e.expect.empty()) srv.Expect(e.expect);
            if (!e.reply.empty()) srv.Send(e.reply);
        }
        const bool closes = std::string(c.name) == "closed after greeting";
        if (closes)
            srv.Close();
        else
            srv.AwaitClientClose();

        TmsSMTP smtp;
        smtp.SetClock(&kFastClock);
        smtp.SetServer(srv.Address());
        std::string error;
        try {
            smtp.Open();
            smtp.Login();
            smtp.Logout();
        } catch (const KelvaneError& e) {
            error = e.what();
        }
        if (c.error && std::string(c.error) == "*")
            EXPECT_NE(error, "");
        else if (c.error)
            EXPECT_EQ(error, c.error);
        else
            EXPECT_EQ(error, "");
        smtp.Close();
        EXPECT_TRUE(srv.Finish()) << srv.Report();
    }
}

// A Cancel pressed after the last reply ends Logout with the cancel error
// before QUIT goes out.
TEST(MsSmtp, CancelBeforeQuit) {
    FakeServer srv;
    srv.Send("220 ready\r\n").Expect("HELO " + HostName()).Send("250 hi\r\n").AwaitClientClose();
    TmsSMTP smtp;
    smtp.SetClock(&kFastClock);
    smtp.SetServer(srv.Address());
    std::vector<std::string> events;
    smtp.OnCancel = [&events](TagSocket&) { events.push_back("Cancel"); };
    smtp.OnClosing = [&events](TagSocket&) { events.push_back("Closing"); };
    smtp.OnClosed = [&events](TagSocket&) { events.push_back("Closed"); };
    smtp.OnError = [&events](TagSocket&, const std::string& m) { events.push_back("Error:" + m); };
    bool armed = false;
    smtp.SetEventPump([&] {
        if (armed && !smtp.Canceling()) smtp.Cancel();
    });
    ASSERT_NO_THROW({
        smtp.Open();
        smtp.Login();
    });
    armed = true;
    EXPECT_THROW(smtp.Logout(), CancelError);
    EXPECT_FALSE(smtp.Connected());
    EXPECT_EQ(events, (std::vector<std::string>{"Cancel", "Closing", "Closed",
                                                "Error:" + std::string(kTextCanceled)}));
    EXPECT_TRUE(srv.Finish()) << srv.Report();
    EXPECT_EQ(srv.Received().find("QUIT"), std::string::npos);
}

TEST(MsSmtp, Defaults) {
    TmsSMTP smtp;
    EXPECT_EQ(smtp.ServiceName(), "smtp");
    EXPECT_EQ(smtp.DefaultPort(), 25);
    EXPECT_EQ(smtp.MailMessage(), nullptr);
}

TEST(MsSmtp, OpenNeedsAServer) {
    TmsSMTP smtp;
    std::vector<std::string> errors;
    smtp.OnError = [&errors](TagSocket&, const std::string& m) { errors.push_back(m); };
    try {
        smtp.Open();
        FAIL() << "no error";
    } catch (const TransportError& e) {
        EXPECT_EQ(e.Code(), kErrServerRequired);
    }
    EXPECT_EQ(errors, std::vector<std::string>{std::string(kTextServerRequired)});
}

}  // namespace
}  // namespace kelvane
