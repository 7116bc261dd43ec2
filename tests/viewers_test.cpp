#include "app/viewers.h"

#include <gtest/gtest.h>

#include "support/fakeserver.h"
#include "support/pop3script.h"
#include "support/testdir.h"

using namespace kelvane;
using kelvane::test::FakeServer;
using kelvane::test::ReadFile;
using kelvane::test::TempDir;
using kelvane::test::WriteFile;

namespace {

using Lines = std::vector<std::string>;

// A saved file ends with the block's "." line and keeps the server's
// stuffed dots; neither is part of the message the user reads.
TEST(Viewers, SavedMessagesAreReadWithoutTheirFraming) {
    const std::string mime = "From: a@b.example\r\nMIME-Version: 1.0\r\n";
    struct Case {
        const char* name;
        std::string saved;
        Lines body;
    } cases[] = {
        {"plain, a stuffed dot",
         "From: a@b.example\r\n\r\nHi\r\n..signed\r\n.\r\n",
         {"Hi", ".signed"}},
        {"base64",
         mime + "Content-Transfer-Encoding: base64\r\n\r\nSGksCnRoZXJl\r\n.\r\n",
         {"Hi,", "there"}},
        {"quoted-printable",
         mime + "Content-Transfer-Encoding: quoted-printable\r\n\r\ncaf=E9 =\r\nau lait\r\n.\r\n",
         {"caf\xE9 au lait"}},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(dir.file("msg_0.eml"), c.saved);
        TmsMessage msg;
        LoadSavedMessage(msg, dir.file("msg_0.eml"));
        EXPECT_EQ(msg.Body, c.body);
    }
    TmsMessage msg;
    EXPECT_THROW(LoadSavedMessage(msg, dir.file("msg_9.eml")), KelvaneError);
}

struct StatusLog : CheckView {
    void Status(const std::string& text) override { seen.push_back(text); }
    Lines seen;
};

// A deletion that failed leaves delete marks on the records; fetching a
// body afterwards must not send them as DELE.
TEST(Viewers, FetchSavesTheServersBytesAndDeletesNothing) {
    const std::string head1 = "Message-ID: <1@x>\r\nSubject: one\r\n";
    const std::string head2 = "Message-ID: <2@x>\r\nSubject: two\r\n";
    const std::string message = head2 + "\r\n..dot\r\n.\r\n";
    FakeServer srv;
    const auto top = [&](int n, const std::string& head) {
        const std::string num = std::to_string(n);
        srv.Expect("LIST " + num).Send("+OK " + num + " 90\r\n");
        srv.Expect("TOP " + num + " 1").Send("+OK\r\n" + head + "\r\n.\r\n");
    };
    test::ScriptLogin(srv, "bob", "pw", "+OK 2 180");
    top(1, head1);
    top(2, head2);
    srv.Expect("QUIT").Send("+OK\r\n").AwaitClientClose();
    test::ScriptLogin(srv, "bob", "pw", "+OK 2 180");
    top(2, head2);
    srv.Expect("LIST 2").Send("+OK 2 90\r\n").Expect("RETR 2").Send("+OK\r\n" + message);
    srv.Expect("QUIT").Send("+OK\r\n").AwaitClientClose();

    TmsRemotePOP pop;
    pop.SetClock(&test::kFastClock);
    pop.SetServer(srv.Address());
    pop.SetUserName("bob");
    pop.SetPassword("pw");
    pop.UpdateInfo();
    pop.MarkForDelete(0);
    TempDir dir;
    StatusLog view;
    FetchMessage(pop, 1, dir.path(), view);

    ASSERT_TRUE(srv.Finish()) << srv.Report();
    EXPECT_EQ(ReadFile(dir.file("msg_1.eml")), message);
    EXPECT_EQ(view.seen, (Lines{"Retrieving 2", "Message 2 retrieved"}));
    for (std::size_t i = 0; i < 2; ++i)
        EXPECT_FALSE(pop.Info().Item(i).DeleteMark || pop.Info().Item(i).RetrieveMark);
    EXPECT_FALSE(pop.OnRetrieving || pop.OnUserMessageSave);
}

}  // namespace
