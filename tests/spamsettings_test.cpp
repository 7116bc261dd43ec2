#include "rules/spamsettings.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <functional>

#include "base/error.h"
#include "settings/keys.h"
#include "settings/settingsstore.h"
#include "support/testdir.h"

using namespace kelvane;
using kelvane::test::ReadFile;
using kelvane::test::TempDir;
using kelvane::test::WriteFile;
using ::testing::HasSubstr;

namespace {

const char kExample[] =
    "6,3\r\n1,0,What\r\n2,0,Matches\r\n3,0,Case\r\n4,0,Del?\r\n5,0,Hits\r\n"
    "1,1,Contains\r\n2,1,free\r\n3,1,No\r\n4,1,Yes\r\n5,1,12\r\n";

RuleList ExampleList() {
    RuleList list(RuleKind::Subject);
    list.ApplyDefaultHeadings();
    list.AppendRow({"", "Contains", "free", "No", "Yes", "12"});
    list.AppendRow({});  // the empty trailing row
    return list;
}

std::string ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const kelvane::StoreError& e) {
        return e.what();
    }
    return "(no error)";
}

}  // namespace

TEST(RuleListFile, ExampleByteForByte) {
    EXPECT_EQ(ExampleList().Serialize(), kExample);

    RuleList back = RuleList::Parse(RuleKind::Subject, kExample, "subj.lst");
    EXPECT_FALSE(back.Damaged());
    EXPECT_EQ(back.RowCount(), 3u);
    EXPECT_EQ(back.Cell(2, 1), "free");
    EXPECT_EQ(back.Cell(5, 1), "12");
    EXPECT_TRUE(back.ShowsCheckMark(1));
    EXPECT_EQ(back.Serialize(), kExample);
}

TEST(RuleListFile, CellTextSurvivesSaveAndLoad) {
    struct Case {
        const char* name;
        std::string text;
        std::string line;  // as written to the file
    } cases[] = {
        {"line break", "two\r\nlines", "2,1,two\t\blines\r\n"},
        {"lone CR and LF", "a\rb\nc", "2,1,a\tb\bc\r\n"},
        {"commas", "a,b,,c,", "2,1,a,b,,c,\r\n"},
        {"leading blanks", "  x", "2,1,  x\r\n"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RuleList list(RuleKind::Subject);
        list.SetCell(2, 1, c.text);
        list.Save(dir.file("subj.lst"));
        EXPECT_THAT(ReadFile(dir.file("subj.lst")), HasSubstr(c.line));
        RuleList back(RuleKind::Subject);
        back.Load(dir.file("subj.lst"));
        EXPECT_EQ(back.Cell(2, 1), c.text);
        EXPECT_FALSE(back.Damaged());
    }
}

TEST(RuleListFile, AcceptsEveryLineEnd) {
    for (const char* end : {"\n", "\r", "\r\n"}) {
        std::string text = std::string("6,3") + end + "1,1,Contains" + end + "2,1,free" + end;
        RuleList list = RuleList::Parse(RuleKind::Subject, text, "subj.lst");
        EXPECT_FALSE(list.Damaged());
        EXPECT_EQ(list.Cell(1, 1), "Contains");
        EXPECT_EQ(list.Cell(2, 1), "free");
    }
}

TEST(RuleListFile, MissingFileGivesFreshListAndLoadReplacesMemory) {
    TempDir dir;
    RuleList list(RuleKind::Subject);
    list.AppendRow({"", "Contains", "free"});
    list.AppendRow({"", "Equals", "win"});
    list.Load(dir.file("subj.lst"));
    EXPECT_EQ(list.RowCount(), 2u);
    EXPECT_TRUE(list.RowIsEmpty(0));
    EXPECT_TRUE(list.RowIsEmpty(1));
    EXPECT_FALSE(list.Damaged());

    // Cells edited in memory but absent from the file come back empty.
    WriteFile(dir.file("subj.lst"), "6,3\r\n1,1,Contains\r\n");
    list.SetCell(2, 1, "edited");
    list.Load(dir.file("subj.lst"));
    EXPECT_EQ(list.Cell(1, 1), "Contains");
    EXPECT_EQ(list.Cell(2, 1), "");
}

TEST(RuleListFile, ColumnsBeyondTheListAreDropped) {
    RuleList subj = RuleList::Parse(RuleKind::Subject, "8,2\r\n5,1,3\r\n6,1,x\r\n7,1,y\r\n", "s");
    EXPECT_FALSE(subj.Damaged());
    EXPECT_EQ(subj.Cell(5, 1), "3");
    EXPECT_EQ(subj.Serialize(),
              RuleList::Parse(RuleKind::Subject, subj.Serialize(), "s").Serialize());
    EXPECT_THAT(subj.Serialize(), ::testing::Not(HasSubstr("6,1,x")));
    RuleList exc = RuleList::Parse(RuleKind::Exception, "6,2\r\n4,1,7\r\n5,1,x\r\n", "e");
    EXPECT_EQ(exc.Cell(4, 1), "7");
    EXPECT_THAT(exc.Serialize(), ::testing::StartsWith("5,2\r\n"));
    EXPECT_THAT(exc.Serialize(), ::testing::Not(HasSubstr("5,1,x")));
}

TEST(RuleListFile, EmptyHeadingRowIsWrittenWithDefaults) {
    EXPECT_THAT(RuleList(RuleKind::Sender).Serialize(),
                HasSubstr("1,0,What\r\n2,0,Condition\r\n3,0,Matches\r\n4,0,Del?\r\n5,0,Hits\r\n"));
    EXPECT_THAT(RuleList(RuleKind::Exception).Serialize(),
                HasSubstr("0,0,What\r\n1,0,Condition\r\n2,0,Matches\r\n3,0,Case?\r\n4,0,Hits\r\n"));
    RuleList own(RuleKind::Header);
    own.SetCell(1, 0, "Rule");
    EXPECT_EQ(own.Serialize(), "6,2\r\n1,0,Rule\r\n");
}

TEST(RuleList, RemoveAdjacentDuplicates) {
    using Rows = std::vector<std::vector<std::string>>;
    struct Case {
        const char* name;
        Rows rows;
        Rows expected;
    } cases[] = {
        {"equal hits: lower goes",
         {{"", "Contains", "a", "No", "Yes", "1"}, {"", "Contains", "a", "No", "Yes", "1"}},
         {{"", "Contains", "a", "No", "Yes", "1"}}},
        {"different hits: both stay",
         {{"", "Contains", "a", "No", "Yes", "1"}, {"", "Contains", "a", "No", "Yes", "2"}},
         {{"", "Contains", "a", "No", "Yes", "1"}, {"", "Contains", "a", "No", "Yes", "2"}}},
        {"case differs: both stay",
         {{"", "Contains", "a"}, {"", "Contains", "A"}},
         {{"", "Contains", "a"}, {"", "Contains", "A"}}},
        {"not neighbours: all stay",
         {{"", "Equals", "a"}, {"", "Equals", "b"}, {"", "Equals", "a"}},
         {{"", "Equals", "a"}, {"", "Equals", "b"}, {"", "Equals", "a"}}},
        {"run of three",
         {{"", "Equals", "a"}, {"", "Equals", "a"}, {"", "Equals", "a"}, {}},
         {{"", "Equals", "a"}, {}}},
        {"empty rows collapse", {{"", "Equals", "a"}, {}, {}, {}}, {{"", "Equals", "a"}, {}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RuleList list(RuleKind::Subject);
        for (const auto& r : c.rows)
            list.AppendRow(r);
        list.RemoveAdjacentDuplicates();
        ASSERT_EQ(list.RowCount(), c.expected.size() + 1);
        for (std::size_t r = 0; r < c.expected.size(); ++r) {
            auto want = c.expected[r];
            want.resize(6);
            EXPECT_EQ(list.Row(r + 1), want) << "row " << r + 1;
        }
    }
    // Row 1 is never compared with the heading row.
    RuleList list(RuleKind::Subject);
    list.SetCell(1, 0, "What");
    list.SetCell(1, 1, "What");
    EXPECT_EQ(list.RemoveAdjacentDuplicates(), 0u);
}

TEST(RuleList, AppendFillsTheOneEmptyRow) {
    RuleList subj(RuleKind::Subject);
    subj.AppendRow({"", "Contains", "a"});
    EXPECT_EQ(subj.RowCount(), 2u);
    subj.AppendRow({"", "Contains", "b"});
    EXPECT_EQ(subj.RowCount(), 3u);
    EXPECT_EQ(subj.Cell(2, 2), "b");

    // Insert at row 1 never reuses: the old rows move down.
    subj.InsertRow(1, {"", "Equals", "c"});
    EXPECT_EQ(subj.Cell(2, 1), "c");
    EXPECT_EQ(subj.Cell(2, 2), "a");
    EXPECT_THROW(subj.InsertRow(1, std::vector<std::string>(7)), std::invalid_argument);

    RuleList exc(RuleKind::Exception);
    exc.AppendRow({"E-mail address", "Equals", "a@x"});
    EXPECT_EQ(exc.RowCount(), 2u);

    // A started exception ("What" set, "Condition" empty) is kept.
    RuleList started(RuleKind::Exception);
    started.SetCell(0, 1, "Subject");
    started.AppendRow({"E-mail address", "Equals", "a@x"});
    EXPECT_EQ(started.RowCount(), 3u);
    EXPECT_EQ(started.Cell(0, 1), "Subject");
}

TEST(RuleList, IncrementHits) {
    struct Case {
        const char* before;
        const char* after;
    } cases[] = {{"", "1"},    {"12", "13"},
                 {"abc", "1"}, {"12x", "1"},
                 {" 7 ", "8"}, {"99999999999999999999", "1"},
                 {"-3", "-2"}, {"9223372036854775807", "9223372036854775807"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.before);
        RuleList subj(RuleKind::Subject);
        subj.SetCell(5, 1, c.before);
        subj.IncrementHits(1);
        EXPECT_EQ(subj.Cell(5, 1), c.after);
    }
    RuleList exc(RuleKind::Exception);
    exc.SetCell(4, 1, "4");
    exc.IncrementHits(1);
    EXPECT_EQ(exc.Cell(4, 1), "5");
    EXPECT_THROW(exc.IncrementHits(0), std::out_of_range);
    EXPECT_THROW(exc.IncrementHits(2), std::out_of_range);
}

TEST(RuleList, DeleteAndMoveRows) {
    RuleList list(RuleKind::Subject);
    list.AppendRow({"", "Equals", "a"});
    list.DeleteRow(1);  // the only rule row is emptied, not removed
    EXPECT_EQ(list.RowCount(), 2u);
    EXPECT_TRUE(list.RowIsEmpty(1));

    list.AppendRow({"", "Equals", "a"});
    list.AppendRow({"", "Equals", "b"});
    list.AppendRow({"", "Equals", "c"});
    EXPECT_FALSE(list.MoveRowUp(1));
    EXPECT_FALSE(list.MoveRowDown(3));
    EXPECT_TRUE(list.MoveRowDown(1));
    EXPECT_TRUE(list.MoveRowUp(3));
    list.DeleteRow(1);
    EXPECT_EQ(list.RowCount(), 3u);
    EXPECT_EQ(list.Cell(2, 1), "c");
    EXPECT_EQ(list.Cell(2, 2), "a");
}

TEST(RuleListFile, DamagedFilesKeepTheGoodCellsAndTheFile) {
    struct Case {
        const char* name;
        std::string text;
        const char* warning;
        std::size_t rows;
    } cases[] = {
        {"non-numeric column", "6,3\r\n1,1,Contains\r\nx,1,free\r\n", "line 3: column \"x\"", 3},
        {"negative row", "6,3\r\n1,1,Contains\r\n2,-1,free\r\n", "row \"-1\" is negative", 3},
        {"row beyond declared", "6,3\r\n1,1,Contains\r\n2,3,free\r\n", "row 3 is beyond the 3", 3},
        {"column beyond declared", "3,3\r\n1,1,Contains\r\n4,1,Yes\r\n", "column 4 is beyond", 3},
        {"huge index", "6,3\r\n1,1,Contains\r\n2,99999999999999999999999,x\r\n", "beyond", 3},
        {"absurd declared size", "2000000000,2000000000\r\n1,1,Contains\r\n1,1999999,x\r\n",
         "declares 2000000000 rows", 3},
        {"empty first line", "\r\n1,1,Contains\r\n", "line 1: \"\" is not", 3},
        {"size line missing", "1,1,Contains\r\n2,4,free\r\n", "size was taken from the cells", 6},
        {"no text field", "6,3\r\n1,1,Contains\r\n2,1\r\n", "line 3: \"2,1\" is not", 3},
        {"empty file", "", "subj.lst: the file is empty", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        WriteFile(dir.file("subj.lst"), c.text);
        SpamSettings s;
        auto warnings = s.readSettings(dir.path());
        ASSERT_FALSE(warnings.empty());
        EXPECT_THAT(warnings[0], HasSubstr(c.warning));
        EXPECT_THAT(warnings[0], ::testing::StartsWith("subj.lst"));
        EXPECT_TRUE(s.SubjectRule.Damaged());
        EXPECT_EQ(s.SubjectRule.RowCount(), c.rows);
        if (!c.text.empty()) {
            EXPECT_EQ(s.SubjectRule.Cell(1, 1), "Contains");
        }

        // The automatic save after a check leaves the damaged file alone,
        // and writes only hit counts: no list file is created.
        s.SubjectRule.IncrementHits(1);
        s.Savesettings(dir.path(), SaveMode::Automatic);
        EXPECT_EQ(ReadFile(dir.file("subj.lst")), c.text);
        EXPECT_FALSE(std::filesystem::exists(dir.file("from.lst")));

        s.Savesettings(dir.path(), SaveMode::Explicit);
        EXPECT_FALSE(s.SubjectRule.Damaged());
        EXPECT_NE(ReadFile(dir.file("subj.lst")), c.text);
        SpamSettings again;
        EXPECT_TRUE(again.readSettings(dir.path()).empty());
    }
}

TEST(RuleListFile, WarningsPerFileAreCapped) {
    std::string text = "6,2\r\n";
    for (int i = 0; i < 100; ++i)
        text += "x,1,bad\r\n";
    RuleList list = RuleList::Parse(RuleKind::Subject, text, "subj.lst");
    ASSERT_EQ(list.Warnings().size(), RuleList::kMaxWarnings + 1);
    EXPECT_EQ(list.Warnings().back(), "subj.lst: 80 more damaged lines skipped");
}

TEST(SpamSettings, UnreadableListStopsTheLoad) {
    TempDir dir;
    SpamSettings s;
    s.ExceptionRule.AppendRow({"Subject", "Equals", "old"});
    s.Limits.largerBytes = 77;
    WriteFile(dir.file("subj.lst"), kExample);
    std::filesystem::create_directory(dir.file("from.lst"));
    EXPECT_EQ(ErrorOf([&] { s.readSettings(dir.path()); }),
              "File " + dir.file("from.lst") + " not found");
    EXPECT_EQ(s.SubjectRule.Cell(2, 1), "free");   // reached before
    EXPECT_EQ(s.ExceptionRule.Cell(2, 1), "old");  // not reached
    EXPECT_EQ(s.Limits.largerBytes, 77);
}

TEST(SpamSettings, FailedSaveLeavesTheOldFileWhole) {
    TempDir dir;
    WriteFile(dir.file("subj.lst"), kExample);
    SpamSettings s;
    s.readSettings(dir.path());
    for (int i = 0; i < 100; ++i)
        s.SubjectRule.AppendRow({"", "Contains", "more text"});

    // A file-size limit makes the write itself fail, which works as root too.
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 1000;
    setrlimit(RLIMIT_FSIZE, &small);
    const std::string error = ErrorOf([&] { s.Savesettings(dir.path(), SaveMode::Explicit); });
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(error, "Unable to write to " + dir.file("subj.lst"));
    EXPECT_EQ(ReadFile(dir.file("subj.lst")), kExample);
    // The small files were still written.
    EXPECT_TRUE(std::filesystem::exists(dir.file("except.lst")));
    EXPECT_TRUE(std::filesystem::exists(dir.file("Kelvane.ini")));
}

TEST(SpamSettings, UnwritableFolderIsReported) {
    TempDir dir;
    WriteFile(dir.file("plain"), "x");
    SpamSettings s;
    EXPECT_EQ(ErrorOf([&] { s.Savesettings(dir.file("plain"), SaveMode::Explicit); }),
              "Unable to write to " + dir.file("plain") + "/subj.lst");
}

// A cron check runs while the user edits the lists by hand: the check adds
// only its own hits, to the rules still there unchanged, and leaves every
// edit, the lists it credited nothing and Kelvane.ini alone.
TEST(SpamSettings, CheckAddsOnlyItsHitsToTheFilesAsTheyAreNow) {
    TempDir dir;
    const std::string subj = dir.file("subj.lst");
    RuleList list = ExampleList();  // "free", 12 hits
    list.InsertRow(2, {"", "Contains", "win", "No", "Yes", "3"});
    list.Save(subj);
    SpamSettings s;
    s.readSettings(dir.path());
    s.SubjectRule.IncrementHits(1);
    s.SubjectRule.IncrementHits(1);
    s.SubjectRule.IncrementHits(2);

    list.InsertRow(1, {"", "Starts with", "ad", "No", "Yes", "0"});
    list.SetCell(2, 3, "winner");  // "win" edited: its new hit is not this rule's
    list.Save(subj);
    const std::string except = test::RuleFile(5, {"E-mail address", "Equals", "a@b.c", "No"});
    WriteFile(dir.file("except.lst"), except);

    s.Savesettings(dir.path(), SaveMode::Automatic);
    s.Savesettings(dir.path(), SaveMode::Automatic);  // adds nothing twice
    RuleList back(RuleKind::Subject);
    back.Load(subj);
    EXPECT_EQ(back.Row(1), (std::vector<std::string>{"", "Starts with", "ad", "No", "Yes", "0"}));
    EXPECT_EQ(back.Row(2), (std::vector<std::string>{"", "Contains", "free", "No", "Yes", "14"}));
    EXPECT_EQ(back.Row(3), (std::vector<std::string>{"", "Contains", "winner", "No", "Yes", "3"}));
    EXPECT_EQ(ReadFile(dir.file("except.lst")), except);
    EXPECT_FALSE(std::filesystem::exists(dir.file("Kelvane.ini")));
}

TEST(SpamSettings, IniKeysDefaultsAndRoundTrip) {
    TempDir dir;
    SpamSettings fresh;
    fresh.Limits.smallerBytes = 1;  // must be replaced by the default
    fresh.KnownSpammers = true;
    fresh.readSettings(dir.path());
    EXPECT_FALSE(fresh.Limits.smallerEnabled);
    EXPECT_EQ(fresh.Limits.smallerBytes, 5);
    EXPECT_TRUE(fresh.Limits.smallerCheck);
    EXPECT_FALSE(fresh.Limits.largerEnabled);
    EXPECT_EQ(fresh.Limits.largerBytes, 20000);
    EXPECT_TRUE(fresh.Limits.largerCheck);
    EXPECT_FALSE(fresh.KnownSpammers);

    SpamSettings s;
    s.Limits = {true, 100, false, true, 99999999, false};
    s.KnownSpammers = true;
    s.Savesettings(dir.path(), SaveMode::Explicit);
    SettingsStore ini = SettingsStore::OpenProgram(dir.file("Kelvane.ini"));
    EXPECT_EQ(ini.ReadString("Smaller", "Num", ""), "100");
    EXPECT_EQ(ini.ReadString("Larger", "QLarger", ""), "1");
    EXPECT_EQ(ini.ReadString("Known", "QMonitor", ""), "1");

    SpamSettings back;
    back.readSettings(dir.path());
    EXPECT_TRUE(back.Limits.smallerEnabled);
    EXPECT_EQ(back.Limits.smallerBytes, 100);
    EXPECT_FALSE(back.Limits.smallerCheck);
    EXPECT_TRUE(back.Limits.largerEnabled);
    EXPECT_EQ(back.Limits.largerBytes, 99999999);
    EXPECT_FALSE(back.Limits.largerCheck);
    EXPECT_TRUE(back.KnownSpammers);
}
