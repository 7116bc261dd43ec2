// The window of kept copies offscreen over a real store: does each copy
// reach the screen with its texts, and does each button write the copy's
// exact bytes where the user chose? File dialogs, boxes and the desktop are
// the test's.

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>
#include <QTreeView>
#include <QtTest/QTest>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/deletedstore.h"
#include "app/gui/deletedwindow.h"
#include "app/gui/rmmain.h"
#include "settings/keys.h"
#include "support/guitest.h"
#include "support/testdir.h"
#include "ui/desktop.h"
#include "ui/filedialogs.h"

namespace kelvane {
namespace {

using test::ReadFile;
using test::TempDir;

struct FakeDesktop : ui::Desktop {
    bool OpenFile(const QString& path) override {
        opened.push_back(path.toStdString());
        return answer;
    }
    bool StartProgram(const std::vector<std::string>&) override { return false; }
    std::vector<std::string> opened;
    bool answer = true;
};

// The bodies a careless copy would change: dot-stuffing, 8-bit bytes, a
// line longer than any buffer, CR LF as sent.
const std::string kFree =
    "From: Shop <deals@shop.example>\r\nSubject: FREE \xE2\x82\xAC\r\n\r\n"
    ".leading dot\r\n..two\r\n\xFF\xFE\x80 8-bit\r\n" +
    std::string(5000, 'x') + "\r\n";
const std::string kBig = "From: promo@spam.example\r\nSubject: huge\r\n\r\n";
constexpr std::time_t kMonday = 1'796'630'000;  // 7 Dec 2026, 09:53 UTC
const std::string kCafe = "From: Ann <ann@friend.example>\r\nSubject: Caf\xE9\r\n\r\nhi\r\n";

class DeletedWindowTest : public ::testing::Test {
  protected:
    DeletedWindowTest() {
        ui::SetFilePicker([this](QWidget*, const ui::FileRequest& r) -> std::optional<QString> {
            asked.push_back(r);
            if (picks.empty()) return std::nullopt;
            const std::string pick = picks.front();
            picks.erase(picks.begin());
            return QString::fromStdString(pick);
        });
        Keep(kFree, kMonday, "delete", {"Subject contains \"free\"", "Sender on the spam list"},
             "deals@shop.example", "FREE \xE2\x82\xAC", false);
        Keep(kBig, kMonday + 3600, "known-spammer", {"Known spammer: spam.example"},
             "promo@spam.example", "huge", true);
        Keep(kCafe, kMonday + 7300, "delete", {}, "ann@friend.example", "Caf\xE9", false);
    }
    ~DeletedWindowTest() override {
        ui::SetFilePicker({});
        EXPECT_TRUE(boxes.Done()) << "a box told about was not shown";
    }
    void Keep(const std::string& bytes, std::time_t when, const std::string& mark,
              std::vector<std::string> reasons, const std::string& sender,
              const std::string& subject, bool headersOnly) {
        DeletedStore store(DeletedStore::FolderIn(prog.path()), [when] { return when; });
        KeptMessage m;
        m.user = user;
        m.server = server;
        m.mark = mark;
        m.reasons = std::move(reasons);
        m.sender = sender;
        m.subject = subject;
        m.size = headersOnly ? 900000 : static_cast<std::int64_t>(bytes.size());
        m.headersOnly = headersOnly;
        store.Keep(bytes, m);
        ids.push_back(m.id);
    }
    void Open() {
        window = std::make_unique<TfrmDeleted>(where);
        window->SetMessageBoxes(&boxes);
        window->SetDesktop(&desktop);
        tester = std::make_unique<QAbstractItemModelTester>(
            window->lvDeleted->model(), QAbstractItemModelTester::FailureReportingMode::Fatal);
        window->show();
    }
    std::string Cell(int row, int column) const {
        return window->lvDeleted->model()->index(row, column).data().toString().toStdString();
    }
    // Selects these rows of the view and nothing else.
    void Select(std::initializer_list<int> rows) {
        QItemSelectionModel* selection = window->lvDeleted->selectionModel();
        selection->clear();
        for (int row : rows)
            selection->select(window->lvDeleted->model()->index(row, 0),
                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
        selection->setCurrentIndex(window->lvDeleted->model()->index(*rows.begin(), 0),
                                   QItemSelectionModel::NoUpdate);
    }
    std::string Details() const { return window->memReasons->toPlainText().toStdString(); }

    std::string user = "bob", server = "pop.example";  // the mailbox of the next Keep
    TempDir home, prog;
    Locations where{prog.path(), home.file("user.ini")};
    test::ScriptedBoxes boxes;
    FakeDesktop desktop;
    std::vector<std::string> ids;  // in the order kept: free, big, cafe
    std::vector<std::string> picks;
    std::vector<ui::FileRequest> asked;
    std::unique_ptr<TfrmDeleted> window;
    std::unique_ptr<QAbstractItemModelTester> tester;
};

TEST_F(DeletedWindowTest, ListsRestoresAndOpensTheExactBytes) {
    Open();
    ASSERT_EQ(window->windowTitle().toStdString(), "Deleted messages");
    ASSERT_EQ(window->stkList->currentWidget(), window->lvDeleted);
    ASSERT_EQ(window->lvDeleted->model()->rowCount(), 3);
    // Newest first, the 8-bit texts shown, headers-only said in words.
    struct Row {
        std::string id, mailbox, mark, from, subject, kept;
    };
    const std::vector<Row> expected = {
        {ids[2], "bob on pop.example", "Delete", "ann@friend.example", "Caf\xC3\xA9",
         "Whole message"},
        {ids[1], "bob on pop.example", "Known spammer", "promo@spam.example", "huge",
         "Headers only"},
        {ids[0], "bob on pop.example", "Delete", "deals@shop.example", "FREE \xE2\x82\xAC",
         "Whole message"},
    };
    for (int r = 0; r < 3; ++r) {
        SCOPED_TRACE(r);
        const Row& e = expected[static_cast<std::size_t>(r)];
        Select({r});
        ASSERT_EQ(window->Selected().size(), 1u);
        EXPECT_EQ(window->Selected()[0].id, e.id);
        EXPECT_EQ(Cell(r, DeletedModel::Mailbox), e.mailbox);
        EXPECT_EQ(Cell(r, DeletedModel::Mark), e.mark);
        EXPECT_EQ(Cell(r, DeletedModel::From), e.from);
        EXPECT_EQ(Cell(r, DeletedModel::Subject), e.subject);
        EXPECT_EQ(Cell(r, DeletedModel::Kept), e.kept);
    }

    Select({1});
    EXPECT_EQ(Details(),
              "Mark: Known spammer\nReasons:\n  Known spammer: spam.example\n\n"
              "Only the headers were kept: the message was larger than the limit for kept "
              "copies.");
    Select({2});
    EXPECT_EQ(Details(),
              "Mark: Delete\nReasons:\n  Subject contains \"free\"\n  Sender on the spam list");
    EXPECT_TRUE(window->btOpen->isEnabled());

    // One copy: a save dialog proposing ID.eml, the bytes as kept.
    picks = {home.file("chosen.eml")};
    window->btRestore->click();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_TRUE(asked[0].save);
    EXPECT_EQ(asked[0].filter.toStdString(), "E-mail messages (*.eml)");
    EXPECT_TRUE(asked[0].start.endsWith(QString::fromStdString(ids[0] + ".eml")));
    EXPECT_EQ(ReadFile(home.file("chosen.eml")), kFree);

    // Two copies: a folder, each as ID.eml.
    Select({0, 2});
    EXPECT_FALSE(window->btOpen->isEnabled());
    const std::string folder = home.file("out");
    std::filesystem::create_directory(folder);
    picks = {folder};
    window->btRestore->click();
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_TRUE(asked[1].folder);
    EXPECT_EQ(ReadFile(folder + "/" + ids[0] + ".eml"), kFree);
    EXPECT_EQ(ReadFile(folder + "/" + ids[2] + ".eml"), kCafe);

    // A copy that cannot be written is named; the other still comes back,
    // and the file in the way is untouched.
    std::filesystem::remove(folder + "/" + ids[0] + ".eml");
    std::filesystem::remove(folder + "/" + ids[2] + ".eml");
    std::filesystem::create_directory(folder + "/" + ids[0] + ".eml");
    picks = {folder};
    boxes.Expect("error", "1 of 2 messages could not be restored:\nCannot create file " + folder +
                              "/" + ids[0] + ".eml: Is a directory");
    window->btRestore->click();
    EXPECT_EQ(ReadFile(folder + "/" + ids[2] + ".eml"), kCafe);
    EXPECT_TRUE(std::filesystem::is_directory(folder + "/" + ids[0] + ".eml"));

    // Open, by Enter on the list: the desktop gets a file of the same bytes,
    // which the next start clears away.
    Select({1});
    window->lvDeleted->setFocus();
    QTest::keyClick(window->lvDeleted, Qt::Key_Return);
    ASSERT_EQ(desktop.opened.size(), 1u);
    EXPECT_EQ(ReadFile(desktop.opened[0]), kBig);
    desktop.answer = false;
    boxes.Expect("error", "Unable to open " + desktop.opened[0] +
                              " with a mail program: the desktop has none for .eml files.");
    window->btOpen->click();
    DeletedStore::CleanUpOpenedCopies(prog.path());
    EXPECT_FALSE(std::filesystem::exists(desktop.opened[0]));

    // A cancelled dialog writes nothing and says nothing.
    window->btRestore->click();
    EXPECT_EQ(asked.size(), 4u);

    // Sorting goes by the value, not the text: the smallest first.
    window->lvDeleted->sortByColumn(DeletedModel::Size, Qt::AscendingOrder);
    Select({0});
    EXPECT_EQ(window->Selected()[0].id, ids[2]);

    // Escape closes.
    QTest::keyClick(window->lvDeleted, Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible());
}

// What changed while the window was hidden shows when it is shown again;
// an empty store says so in words.
TEST_F(DeletedWindowTest, ShowingReadsTheStoreAgain) {
    Open();
    window->hide();
    DeletedStore(DeletedStore::FolderIn(prog.path())).Purge(0);
    window->show();
    EXPECT_EQ(window->lvDeleted->model()->rowCount(), 0);
    EXPECT_EQ(window->stkList->currentWidget(), window->lblEmpty);
    EXPECT_EQ(window->lblEmpty->text().toStdString(), "No deleted messages are kept.");
    EXPECT_FALSE(window->btRestore->isEnabled());
    window->hide();
    Keep(kCafe, kMonday + 9000, "delete", {}, "ann@friend.example", "again", false);
    window->show();
    EXPECT_EQ(window->stkList->currentWidget(), window->lvDeleted);
    EXPECT_EQ(Cell(0, DeletedModel::Subject), "again");
}

// The main window's menu opens the window with the countdown paused.
TEST_F(DeletedWindowTest, TheMainWindowsMenuOpensIt) {
    SettingsStore user = SettingsStore::OpenUser(where);
    keys::Write(user, keys::Launch, false);
    TfrmMain main(where);
    main.FormCreate();
    main.SetMessageBoxes(&boxes);
    int rows = -1;
    bool paused = false;
    QTimer::singleShot(0, [&] {
        auto* shown = qobject_cast<TfrmDeleted*>(QApplication::activeModalWidget());
        if (!shown) return;
        rows = shown->lvDeleted->model()->rowCount();
        paused = main.Timer().Paused();
        shown->reject();
    });
    main.btDeleted->trigger();
    EXPECT_EQ(rows, 3);
    EXPECT_TRUE(paused);
    EXPECT_FALSE(main.Timer().Paused());
}

// Not a test: scripts/screenshots.sh sets KELVANE_SCREENSHOTS to a folder and
// gets the window with a few copies.
TEST_F(DeletedWindowTest, Screenshots) {
    const char* out = std::getenv("KELVANE_SCREENSHOTS");
    if (!out) GTEST_SKIP() << "KELVANE_SCREENSHOTS not set";
    user = "ann.b";
    server = "pop.work.example";
    Keep("From: Lottery <info@lotto.example>\r\nSubject: You are a winner\r\n\r\n", kMonday + 90000,
         "delete", {"Subject contains \"winner\"", "From is not in the address book"},
         "info@lotto.example", "You are a winner", false);
    Keep("Subject: Cheap watches\r\n\r\n", kMonday + 101000, "delete",
         {"Sender domain ends with \".example\""}, "sale@store.example", "Cheap watches", false);
    QApplication::setStyle("Fusion");
    Open();
    window->resize(900, 420);
    Select({1});
    QTest::qWait(200);
    ASSERT_TRUE(window->grab().save(QString(out) + "/deleted-messages.png"));
}

}  // namespace
}  // namespace kelvane

int main(int argc, char** argv) {
    return kelvane::test::GuiTestMain(argc, argv);
}
