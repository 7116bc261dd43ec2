// The folder of kept copies on its own: age by the copies' clock, an index
// rebuilt from the files and never the reverse, and kelvane-cli deleted.

#include "app/deletedstore.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/testdir.h"

namespace kelvane {
namespace {

using test::ReadFile;
using test::TempDir;
using Lines = std::vector<std::string>;

constexpr std::time_t kDay = 86400;
constexpr std::time_t kStart = 1'800'000'000;

KeptMessage Meta(const std::string& subject) {
    KeptMessage m;
    m.user = "bob";
    m.server = "pop.example";
    m.mark = "delete";
    m.subject = subject;
    m.sender = "a@b.example";
    m.size = 42;
    m.reasons = {"Subject contains \"free\"", "tab\there"};
    return m;
}

Lines Subjects(DeletedStore& store) {
    Lines out;
    for (const KeptMessage& m : store.List())
        out.push_back(m.subject);
    return out;
}

std::size_t FilesIn(const std::string& dir) {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir))
        ++n;
    return n;
}

TEST(DeletedStore, PurgeGoesByTheCopiesClock) {
    TempDir dir;
    std::time_t now = kStart;
    DeletedStore store(DeletedStore::FolderIn(dir.path()), [&] { return now; });
    KeptMessage a = Meta("old"), b = Meta("newer"), c = Meta("newest");
    store.Keep("Subject: old\r\n\r\n", a);
    now += 10 * kDay;
    store.Keep("Subject: newer\r\n\r\n", b);
    now += kDay;
    store.Keep("Subject: newest\r\n\r\n", c);
    EXPECT_EQ(Subjects(store), (Lines{"newest", "newer", "old"}));

    struct stat st {};
    ASSERT_EQ(::stat(DeletedStore::FolderIn(dir.path()).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat(a.path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(FilesIn(dir.file("Deleted/tmp")), 0u);
    EXPECT_EQ(FilesIn(dir.file("Deleted/new")), 0u);

    now = kStart + 29 * kDay;  // the oldest is 29 days old
    EXPECT_EQ(store.Purge(30), 0);
    now = kStart + 30 * kDay;
    EXPECT_EQ(store.Purge(30), 1);
    EXPECT_EQ(Subjects(store), (Lines{"newest", "newer"}));
    EXPECT_EQ(store.Purge(0), 2);
    EXPECT_EQ(Subjects(store), Lines{});
}

// The files are the user's mail; what only the index knew may be lost, the
// copies never. IDs stay what they were.
TEST(DeletedStore, DamagedIndexIsRebuiltFromTheFiles) {
    TempDir dir;
    DeletedStore store(DeletedStore::FolderIn(dir.path()), [] { return kStart; });
    KeptMessage a = Meta("FREE offer"), b = Meta("second");
    store.Keep("From: Shop <deals@shop.example>\r\nSubject: FREE offer\r\n\r\nbody\r\n", a);
    store.Keep("Subject: second\r\n\r\n", b);
    const std::string index = dir.file("Deleted/kelvane-index");
    std::string text = ReadFile(index);
    // b's line cut in half, as a kill in mid-write leaves it; a line of junk.
    text.resize(text.size() - 20);
    test::WriteFile(index, "garbage\tline\n" + text);

    const auto listed = store.List();
    ASSERT_EQ(listed.size(), 2u);
    for (const KeptMessage& m : listed) {
        if (m.id == a.id) {
            // Its line was whole: everything it said stays.
            EXPECT_EQ(m.mark, "delete");
            EXPECT_EQ(m.reasons, a.reasons);
        } else {
            // Described from the file: the mailbox and mark are lost.
            EXPECT_EQ(m.id, b.id);
            EXPECT_EQ(m.subject, "second");
            EXPECT_EQ(m.mark, "");
        }
    }
    // A file gone behind the store's back leaves the index, not the reverse.
    std::filesystem::remove(a.path);
    ASSERT_EQ(store.List().size(), 1u);
    EXPECT_EQ(store.List()[0].id, b.id);
    EXPECT_NE(ReadFile(index).find(b.id), std::string::npos);
    EXPECT_EQ(ReadFile(index).find(a.id), std::string::npos);
}

TEST(DeletedCli, ListRestoreAndAnUnknownId) {
    TempDir home, prog, out;
    DeletedStore store(DeletedStore::FolderIn(prog.path()));
    KeptMessage a = Meta("one\tsubject"), b = Meta("two");
    b.headersOnly = true;
    const std::string body = "Subject: one\r\n\r\n.\r\n\xff\r\n";
    store.Keep(body, a);
    store.Keep("Subject: two\r\n\r\n", b);

    const auto list = test::RunCli({"--dir", prog.path(), "deleted", "list"}, home.path());
    EXPECT_EQ(list.status, 0) << list.err;
    const auto first = list.out.substr(0, list.out.find('\n'));
    // Newest first; copies of one second in the order kept.
    EXPECT_EQ(first.substr(0, b.id.size()), b.id);
    EXPECT_TRUE(first.ends_with("\tbob on pop.example\tdelete\ta@b.example\ttwo\t42\theaders-only"))
        << first;
    EXPECT_NE(list.out.find("\tone subject\t42\n"), std::string::npos) << list.out;

    const auto r = test::RunCli(
        {"--dir", prog.path(), "deleted", "restore", "no-such-id", a.id, "--to", out.path()},
        home.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no-such-id"), std::string::npos) << r.err;
    EXPECT_EQ(ReadFile(out.file(a.id + ".eml")), body);
}

}  // namespace
}  // namespace kelvane
