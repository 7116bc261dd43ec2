// The POP3 client against a real server: a private Dovecot started once for
// this executable (see support/dovecot.h). Each test has a user, so a
// mailbox, of its own.

#include "mail/mspop3.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "support/dovecot.h"

namespace kelvane {
namespace {

using test::Dovecot;
using test::RawPop;

struct DeleteCase {
    const char* name;
    std::vector<int> marks;    // positions marked for deletion out of four
    std::vector<int> remains;  // positions of the messages left afterwards
};

const DeleteCase kDeleteCases[] = {
    {"SecondAndFourth", {1, 3}, {0, 2}}, {"First", {0}, {1, 2, 3}},  {"Last", {3}, {0, 1, 2}},
    {"All", {0, 1, 2, 3}, {}},           {"None", {}, {0, 1, 2, 3}},
};

// Another session deletes one message between our header update and our
// deletion pass, so numbers after it shift down by one.
struct ShiftCase {
    const char* name;
    int otherDeletes;          // message number the other session deletes
    int mark;                  // position we mark, numbered as we listed them
    const char* error;         // the start of the error text; "" for none
    std::vector<int> remains;  // positions, as we listed them, left afterwards
};

const ShiftCase kShiftCases[] = {
    // Our message 2 is now number 1; number 2 is our message 3.
    {"ShiftedOntoAnother", 1, 1, "IDs are different", {1, 2}},
    // Number 3 no longer exists.
    {"ShiftedOffTheEnd", 1, 2, "-ERR", {1, 2}},
    // A deletion after ours leaves our numbers as they were.
    {"DeletedAfterOurs", 3, 0, "", {1}},
};

void PrintTo(const DeleteCase& c, std::ostream* os) {
    *os << c.name;
}
void PrintTo(const ShiftCase& c, std::ostream* os) {
    *os << c.name;
}

std::string DeleteUser(const DeleteCase& c) {
    return std::string("delete-") + c.name;
}
std::string ShiftUser(const ShiftCase& c) {
    return std::string("shift-") + c.name;
}

Dovecot& Server() {
    static Dovecot server([] {
        std::vector<test::MailUser> users = {"check", "empty", "wrongpw", "agree-strict",
                                             "agree-pipelined"};
        for (const auto& c : kDeleteCases)
            users.emplace_back(DeleteUser(c));
        for (const auto& c : kShiftCases)
            users.emplace_back(ShiftUser(c));
        return users;
    }());
    return server;
}

struct Message {
    std::string id;  // the Message-ID value
    std::vector<std::string> headerLines;
    std::string text;
};

// Message n of a test's mailbox: its own Message-ID, Subject and sender, and
// a body that grows with n so that no two sizes are equal.
Message MakeMessage(const std::string& tag, int n, const std::string& eol = "\n") {
    Message m;
    m.id = "<" + tag + "." + std::to_string(n) + "@kelvane.test>";
    const std::string num = std::to_string(n);
    m.headerLines = {
        "Return-Path: <sender" + num + "@example.org>",
        "From: Sender " + num + " <sender" + num + "@example.org>",
        "To: " + tag + "@example.com",
        "Subject: " + tag + " message " + num,
        "Date: Mon, 4 Mar 2024 10:" + std::string(n < 10 ? "0" : "") + num + ":00 +0100",
        "Message-ID: " + m.id,
        "MIME-Version: 1.0",
        "Content-Type: text/plain; charset=us-ascii",
    };
    for (const auto& h : m.headerLines)
        m.text += h + eol;
    m.text += eol;
    for (int line = 0; line <= n + 1; ++line)
        m.text += "Body line " + std::to_string(line) + " of message " + num + "." + eol;
    return m;
}

std::vector<Message> Deliver(const std::string& user, int count) {
    std::vector<Message> messages;
    for (int n = 0; n < count; ++n) {
        messages.push_back(MakeMessage(user, n));
        Server().AddMessage(user, messages.back().text);
    }
    return messages;
}

std::vector<std::string> Ids(const std::vector<Message>& messages, const std::vector<int>& at) {
    std::vector<std::string> ids;
    for (int i : at)
        ids.push_back(messages[static_cast<std::size_t>(i)].id);
    return ids;
}

std::vector<std::string> ListedIds(const TmsRemotePOP& pop) {
    std::vector<std::string> ids;
    for (std::size_t i = 0; i < pop.Info().Count(); ++i)
        ids.push_back(GetHeaderValue(pop.Info()[i].Headers, "Message-ID"));
    return ids;
}

// The size the server counts: every line end as CR LF.
std::size_t CrlfSize(const std::string& text) {
    std::size_t size = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) ++size;
        ++size;
    }
    return size;
}

class PopDovecot : public ::testing::Test {
  protected:
    void SetUp() override {
        KELVANE_REQUIRE_DOVECOT();
        pop.SetServer(Server().Address());
        pop.SetTimeOut(20);
    }

    void LogIn(const std::string& user) {
        pop.SetUserName(user);
        pop.SetPassword(Server().Password(user));
    }

    TmsRemotePOP pop;
};

TEST_F(PopDovecot, CheckListsEveryMessageInServerOrder) {
    const std::string user = "check";
    std::vector<Message> messages = Deliver(user, 3);
    // A file with CR LF line ends is served as it is.
    messages.push_back(MakeMessage(user, 3, "\r\n"));
    Server().AddMessage(user, messages.back().text);
    LogIn(user);

    pop.UpdateInfo();

    ASSERT_EQ(pop.Info().Count(), messages.size());
    EXPECT_EQ(pop.MessageCount(), 4);
    RawPop raw(Server().Port(), user, Server().Password(user));
    for (std::size_t i = 0; i < messages.size(); ++i) {
        SCOPED_TRACE("message " + std::to_string(i + 1));
        const TmsRemoteInfoItem& item = pop.Info()[i];
        const std::string listed = raw.Command("LIST " + std::to_string(i + 1));
        EXPECT_EQ(listed, "+OK " + std::to_string(i + 1) + " " + std::to_string(item.Size));
        EXPECT_EQ(static_cast<std::size_t>(item.Size), CrlfSize(messages[i].text));
        // The header block exactly: no empty line, no body line, no dot.
        EXPECT_EQ(item.Headers.Lines(), messages[i].headerLines);
        EXPECT_EQ(GetHeaderValue(item.Headers, "Subject"), user + " message " + std::to_string(i));
        EXPECT_FALSE(item.DeleteMark);
    }
    raw.Quit();
    // A check reads and never deletes.
    EXPECT_EQ(Server().MessageIds(user), Ids(messages, {0, 1, 2, 3}));
}

TEST_F(PopDovecot, EmptyMailboxGivesNoRecords) {
    LogIn("empty");
    pop.UpdateInfo();
    EXPECT_EQ(pop.MessageCount(), 0);
    EXPECT_TRUE(pop.Info().Empty());
    EXPECT_FALSE(pop.Connected());
}

class PopDovecotDelete : public PopDovecot, public ::testing::WithParamInterface<DeleteCase> {};

TEST_P(PopDovecotDelete, RemovesExactlyTheMarkedMessages) {
    const DeleteCase& c = GetParam();
    const std::string user = DeleteUser(c);
    const std::vector<Message> messages = Deliver(user, 4);
    LogIn(user);
    pop.UpdateInfo();
    ASSERT_EQ(pop.Info().Count(), 4u);

    for (int pos : c.marks)
        pop.MarkForDelete(pos);
    pop.ProcessMarks();

    EXPECT_EQ(Server().MessageIds(user), Ids(messages, c.remains)) << Server().Log();
    pop.UpdateInfo();
    EXPECT_EQ(ListedIds(pop), Ids(messages, c.remains));
}

INSTANTIATE_TEST_SUITE_P(Marks, PopDovecotDelete, ::testing::ValuesIn(kDeleteCases),
                         [](const auto& info) { return std::string(info.param.name); });

class PopDovecotShift : public PopDovecot, public ::testing::WithParamInterface<ShiftCase> {};

TEST_P(PopDovecotShift, DeletesNothingButTheMessageListed) {
    const ShiftCase& c = GetParam();
    const std::string user = ShiftUser(c);
    const std::vector<Message> messages = Deliver(user, 3);
    LogIn(user);
    pop.UpdateInfo();
    ASSERT_EQ(pop.Info().Count(), 3u);

    RawPop other(Server().Port(), user, Server().Password(user));
    other.Command("DELE " + std::to_string(c.otherDeletes));
    other.Quit();

    pop.MarkForDelete(c.mark);
    const std::string error = c.error;
    if (error.empty()) {
        pop.ProcessMarks();
    } else {
        try {
            pop.ProcessMarks();
            ADD_FAILURE() << "ProcessMarks did not fail";
        } catch (const KelvaneError& e) {
            EXPECT_TRUE(std::string(e.what()).starts_with(error)) << e.what();
        }
        // A QUIT now would commit any DELE the failed pass had sent.
        pop.Disconnect();
    }

    EXPECT_EQ(Server().MessageIds(user), Ids(messages, c.remains)) << Server().Log();
}

INSTANTIATE_TEST_SUITE_P(OtherSession, PopDovecotShift, ::testing::ValuesIn(kShiftCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Pipelined or command by command, a check and a deletion give the same
// records and leave the same messages. Enough messages that the window of
// commands in flight is refilled many times.
TEST_F(PopDovecot, PipelinedAndStrictAgree) {
    constexpr int kCount = 1500;
    struct Outcome {
        std::vector<std::int64_t> sizes;
        std::vector<std::vector<std::string>> headers;
        std::vector<std::string> left;
    } seen[2];
    std::vector<Message> messages;
    for (int n = 0; n < kCount; ++n)
        messages.push_back(MakeMessage("agree", n));
    for (const bool pipelining : {false, true}) {
        SCOPED_TRACE(pipelining ? "pipelined" : "strict");
        const std::string user = pipelining ? "agree-pipelined" : "agree-strict";
        for (const Message& m : messages)
            Server().AddMessage(user, m.text);
        LogIn(user);
        pop.SetPipelining(pipelining);

        pop.UpdateInfo();
        EXPECT_EQ(pop.ServerPipelines(), pipelining);
        Outcome& out = seen[pipelining];
        for (std::size_t i = 0; i < pop.Info().Count(); ++i) {
            out.sizes.push_back(pop.Info()[i].Size);
            out.headers.push_back(pop.Info()[i].Headers.Lines());
            if (i % 3 == 1) pop.MarkForDelete(static_cast<int>(i));
        }
        pop.ProcessMarks();
        out.left = Server().MessageIds(user);
    }
    ASSERT_EQ(seen[1].sizes.size(), static_cast<std::size_t>(kCount));
    EXPECT_EQ(seen[1].sizes, seen[0].sizes);
    EXPECT_EQ(seen[1].headers, seen[0].headers);
    EXPECT_EQ(seen[1].left, seen[0].left);
    EXPECT_EQ(seen[1].left.size(), static_cast<std::size_t>(kCount - kCount / 3));
}

TEST_F(PopDovecot, RefusedLoginGivesTheServerReply) {
    struct Case {
        const char* name;
        std::string user, password;
    };
    const Case cases[] = {
        {"wrong password", "wrongpw", "not-" + Server().Password("wrongpw")},
        {"unknown user", "nobody-here", "whatever"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TmsRemotePOP client;
        client.SetServer(Server().Address());
        client.SetTimeOut(20);
        client.SetUserName(c.user);
        client.SetPassword(c.password);
        try {
            client.UpdateInfo();
            ADD_FAILURE() << "the login was accepted";
        } catch (const ServerError& e) {
            EXPECT_EQ(std::string(e.what()), "-ERR [AUTH] Authentication failed.");
        }
        EXPECT_TRUE(client.Info().Empty());
    }
}

}  // namespace
}  // namespace kelvane
