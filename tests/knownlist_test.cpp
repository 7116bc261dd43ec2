#include "rules/knownlist.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "base/error.h"
#include "base/text.h"
#include "support/testdir.h"

namespace kelvane {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

std::vector<std::string> Entries(const KnownSpammerList& list) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < list.Count(); ++i)
        out.emplace_back(list.Entry(i));
    return out;
}

using Lines = std::vector<std::string>;

TEST(KnownListLines, LineEndsOfEveryKind) {
    struct Row {
        const char* name;
        std::string text;
        Lines lines;
    } rows[] = {
        {"crlf", "a\r\nb\r\n", {"a", "b"}},
        {"lf only", "a\nb\n", {"a", "b"}},
        {"cr only", "a\rb\r", {"a", "b"}},
        {"mixed", "a\r\nb\nc\rd", {"a", "b", "c", "d"}},
        {"no final break", "a\r\nb", {"a", "b"}},
        {"empty lines kept", "a\r\n\r\n\nb\r\n", {"a", "", "", "b"}},
        {"lf cr is two breaks", "a\n\rb", {"a", "", "b"}},
        {"only a break", "\r\n", {""}},
        {"empty", "", {}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const auto got = SplitKnownListLines(r.text);
        EXPECT_EQ(Lines(got.begin(), got.end()), r.lines);
    }
}

TEST(KnownListLoad, ReadsEveryLineSortedIgnoringCase) {
    TempDir dir;
    const std::string path = dir.file("known.lst");
    WriteFile(path, "b.com\nA@x.com\r\na@x.com\rB.com\r\n\r\nzeta.org");
    KnownSpammerList list;
    EXPECT_EQ(list.LoadUpKnownList(path), ReadStatus::Ok);
    // Ties keep their order in the file.
    EXPECT_EQ(Entries(list), (Lines{"", "A@x.com", "a@x.com", "b.com", "B.com", "zeta.org"}));
    EXPECT_TRUE(list.isInKnownList("spam@ZETA.org").found);
}

TEST(KnownListLoad, MissingFileEmptiesTheList) {
    TempDir dir;
    KnownSpammerList list;
    list.LoadFromText("old.com\r\n");
    EXPECT_EQ(list.LoadUpKnownList(dir.file("known.lst")), ReadStatus::Missing);
    EXPECT_EQ(list.Count(), 0u);
    EXPECT_FALSE(list.isInKnownList("x@old.com").found);
}

TEST(KnownListLookup, KindsAndValues) {
    const std::string long90 = std::string(85, 'l') + "@x.com";  // 91 bytes
    KnownSpammerList list;
    list.LoadFromText("spammer@bad.com\r\nevil.org\r\nMixed@Case.NET\r\ndup.com\r\ndup.com\r\n" +
                      long90 + "\r\n");
    struct Row {
        const char* name;
        std::string sender;
        bool found;
        std::string_view kind;
        std::string value;
    } rows[] = {
        {"address", "spammer@bad.com", true, kKnownKindEmail, "spammer@bad.com"},
        {"address other case", "SPAMMER@Bad.Com", true, kKnownKindEmail, "SPAMMER@Bad.Com"},
        {"listed domain", "anyone@EVIL.org", true, kKnownKindDomain, "EVIL.org"},
        {"bare domain as sender", "evil.org", true, kKnownKindEmail, "evil.org"},
        {"mixed case entry", "mixed@case.net", true, kKnownKindEmail, "mixed@case.net"},
        {"duplicate entry", "a@dup.com", true, kKnownKindDomain, "dup.com"},
        {"domain of listed address", "other@bad.com", false, {}, ""},
        {"subdomain", "a@mail.evil.org", false, {}, ""},
        {"after first at only", "a@b@evil.org", false, {}, ""},
        {"no at", "nobody", false, {}, ""},
        {"long entry by 80 bytes", long90.substr(0, 80), true, kKnownKindEmail,
         long90.substr(0, 80)},
        // The key is compared with the entry's first 80 bytes only, so the
        // whole entry is longer than anything it can equal.
        {"long entry whole", long90, false, {}, ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const KnownListHit hit = list.isInKnownList(r.sender);
        EXPECT_EQ(hit.found, r.found);
        if (!r.found) continue;
        EXPECT_EQ(hit.kind, r.kind);
        EXPECT_EQ(hit.value, r.value);
    }
}

// Random entries sharing long prefixes, with NUL and high bytes, so that
// ordering by leading bytes and by the whole text is tested where they meet.
class RandomEntries {
  public:
    std::string Next() {
        static constexpr std::string_view alphabet{"aAbB@.Z_\0\xff", 10};
        auto pick = [&](std::size_t n) {
            return std::uniform_int_distribution<std::size_t>(0, n)(rng_);
        };
        std::string s = kShared.substr(0, pick(20));
        const std::size_t tail = pick(pick(10) == 0 ? 100 : 4);
        for (std::size_t i = 0; i < tail; ++i)
            s += alphabet[pick(alphabet.size() - 1)];
        return s;
    }

  private:
    static inline const std::string kShared = "Spam-Domain.Example";
    std::mt19937 rng_{99};
};

TEST(KnownListLoad, OrderIsAStableSortOfWholeEntries) {
    RandomEntries gen;
    std::vector<std::string> lines;
    std::string text;
    for (int i = 0; i < 5000; ++i) {
        lines.push_back(gen.Next());
        text += lines.back() + "\n";
    }
    KnownSpammerList list;
    list.LoadFromText(text);
    std::stable_sort(lines.begin(), lines.end(), [](const std::string& a, const std::string& b) {
        return AsciiICompare(a, b) < 0;
    });
    EXPECT_EQ(Entries(list), lines);
}

// Binary search must agree with a plain scan of the entries cut to 80 bytes.
TEST(KnownListLookup, AgreesWithLinearScan) {
    RandomEntries gen;
    std::string text;
    for (int i = 0; i < 3000; ++i)
        text += gen.Next() + "\r\n";
    KnownSpammerList list;
    list.LoadFromText(text);
    auto scan = [&](std::string_view key) {
        if (key.empty()) return false;
        for (std::size_t i = 0; i < list.Count(); ++i)
            if (AsciiIEquals(key, list.Entry(i).substr(0, 80))) return true;
        return false;
    };
    int hits = 0;
    for (int i = 0; i < 5000; ++i) {
        std::string sender = gen.Next();
        if (i % 3 == 0) {
            sender = list.Entry(static_cast<std::size_t>(i) % list.Count()).substr(0, 80);
            for (char& ch : sender)
                ch = AsciiLower(ch);
        }
        const std::size_t at = sender.find('@');
        const bool expected = scan(sender) || (at != std::string::npos &&
                                               scan(std::string_view(sender).substr(at + 1)));
        ASSERT_EQ(list.isInKnownList(sender).found, expected) << testing::PrintToString(sender);
        hits += expected;
    }
    EXPECT_GT(hits, 1000);
}

TEST(KnownListRebuild, DropRules) {
    struct Row {
        const char* name;
        std::string text;
        Lines entries;  // sorted
    } rows[] = {
        {"neighbouring duplicate in other case", "a@x.com\r\nA@X.COM\r\n", {"a@x.com"}},
        {"duplicate far apart stays",
         "a@x.com\r\nb@y.com\r\na@x.com\r\n",
         {"a@x.com", "a@x.com", "b@y.com"}},
        {"dropped duplicate still sets previous", "x.com\r\nX.COM\r\nx.com\r\n", {"x.com"}},
        {"dropped numeric line sets previous",
         "d.com\r\n12@x.com\r\nd.com\r\n",
         {"d.com", "d.com"}},
        {"numeric local parts", "12345@spam.com\r\n@spam.com\r\n1_2@x.org\r\n_@y.org\r\n", {}},
        {"only the first at counts", "12@34@x.com\r\n", {}},
        {"kept lines",
         "a1@x.com\r\n123.com\r\n12ab@x.com\r\n",
         {"123.com", "12ab@x.com", "a1@x.com"}},
        {"empty first line dropped", "\r\na.com\r\n", {"a.com"}},
        {"empty middle line kept once", "a.com\r\n\r\n\r\nb.com\r\n", {"", "a.com", "b.com"}},
        {"last line without break taken", "b.com\r\na.com", {"a.com", "b.com"}},
        {"lf only text", "b.com\na.com\n", {"a.com", "b.com"}},
        {"empty text", "", {}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        KnownSpammerList list;
        list.LoadFromText("old.com\r\n");
        list.RebuildFromEditorText(r.text);
        EXPECT_EQ(Entries(list), r.entries);
    }
}

TEST(KnownListSave, RewritesAnExistingFileSorted) {
    TempDir dir;
    const std::string path = dir.file("known.lst");
    WriteFile(path, "old.com\r\n");
    KnownSpammerList list;
    list.RebuildAndSave("zeta.org\nAlpha.com\n42@x.com\nbeta.net", path);
    EXPECT_EQ(ReadFile(path), "Alpha.com\r\nbeta.net\r\nzeta.org\r\n");
    EXPECT_TRUE(list.isInKnownList("x@ALPHA.COM").found);

    list.RebuildAndSave("", path);
    EXPECT_EQ(ReadFile(path), "");
}

TEST(KnownListSave, NeverCreatesTheFile) {
    TempDir dir;
    const std::string path = dir.file("known.lst");
    KnownSpammerList list;
    list.RebuildAndSave("spam.com\r\n", path);
    EXPECT_FALSE(std::filesystem::exists(path));
    // The rebuilt list is in force even without a file.
    EXPECT_TRUE(list.isInKnownList("a@spam.com").found);
}

// Caps the size of files this process may write, as a full disk would.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &old_);
        rlimit lower = old_;
        lower.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &lower);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }

  private:
    rlimit old_{};
    void (*oldHandler_)(int);
};

TEST(KnownListSave, FailedWriteKeepsFileAndList) {
    TempDir dir;
    const std::string path = dir.file("known.lst");
    WriteFile(path, "old.com\r\n");
    KnownSpammerList list;
    list.LoadUpKnownList(path);

    std::string text;
    for (int i = 0; i < 200; ++i)
        text += "spammer" + std::to_string(i) + "@new.com\r\n";
    try {
        FileSizeLimit limit(64);
        list.RebuildAndSave(text, path);
        ADD_FAILURE() << "no error";
    } catch (const StoreError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
    }
    EXPECT_EQ(ReadFile(path), "old.com\r\n");
    EXPECT_EQ(Entries(list), Lines{"old.com"});
    // No temporary file is left beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(KnownListSave, PathThatIsAFolderIsAnError) {
    TempDir dir;
    const std::string path = dir.file("known.lst");
    std::filesystem::create_directory(path);
    KnownSpammerList list;
    EXPECT_THROW(list.RebuildAndSave("spam.com\r\n", path), StoreError);
    EXPECT_TRUE(std::filesystem::is_directory(path));
}

TEST(KnownListLookup, BlankLineNamesNobody) {
    KnownSpammerList list;
    list.LoadFromText("spam.example\r\n\r\nbad@x.org\r\n");
    ASSERT_EQ(list.Count(), 3u);  // the blank entry stays in the file
    EXPECT_FALSE(list.isInKnownList("").found);
    EXPECT_FALSE(list.isInKnownList("joe@").found);
    EXPECT_TRUE(list.isInKnownList("anyone@spam.example").found);
    EXPECT_TRUE(list.isInKnownList("BAD@x.org").found);
}

}  // namespace
}  // namespace kelvane
