// The window of kept copies offscreen over a real store: does each copy
// reach the screen with its texts, and does each button write the copy's
// exact bytes where the user chose? Dialogs, boxes and desktop are the test's.

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QApplication>
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
#include "support/guitest.h"
#include "support/testdir.h"
#include "ui/desktop.h"
#include "ui/filedialogs.h"

namespace kelvane {
namespace {

using test::ReadFile;

struct FakeDesktop : ui::Desktop {
    bool OpenFile(const QString& path) override {
        opened.push_back(path.toStdString());
        return answer;
    }
    bool StartProgram(const std::vector<std::string>&) override { return false; }
    std::vector<std::string> opened;
    bool answer = true;
};

// What a careless copy would change: dot-stuffing, 8-bit bytes, a long line.
const std::string kFree =
    "From: deals@shop.example\r\nSubject: FREE\r\n\r\n.dot\r\n..two\r\n"
    "\xFF\xFE\x80\r\n" +
    std::string(5000, 'x') + "\r\n";
const std::string kBig = "From: promo@spam.example\r\nSubject: huge\r\n\r\n";
const std::string kCafe = "From: ann@friend.example\r\nSubject: Caf\xE9\r\n\r\nhi\r\n";
constexpr std::time_t kMonday = 1'796'630'000;  // 7 Dec 2026, 09:53 UTC

class DeletedWindowTest : public ::testing::Test {
  protected:
    DeletedWindowTest() {
        ui::SetFilePicker([this](QWidget*, const ui::FileRequest& r) -> std::optional<QString> {
            asked.push_back(r);
            if (pick.empty()) return std::nullopt;
            return QString::fromStdString(std::exchange(pick, {}));
        });
        Keep(kFree, kMonday, "delete", {"Subject contains \"free\"", "Sender on the spam list"});
        Keep(kBig, kMonday + 3600, "known-spammer", {"Known spammer: spam.example"}, true);
        Keep(kCafe, kMonday + 7300, "delete", {});
    }
    ~DeletedWindowTest() override {
        ui::SetFilePicker({});
        EXPECT_TRUE(boxes.Done()) << "a box told about was not shown";
    }
    // Sender and subject from the message's own two header lines.
    void Keep(const std::string& bytes, std::time_t when, const std::string& mark,
              std::vector<std::string> reasons, bool headersOnly = false) {
        KeptMessage m;
        m.user = user;
        m.server = server;
        m.mark = mark;
        m.reasons = std::move(reasons);
        m.sender = bytes.substr(6, bytes.find("\r\n") - 6);
        const std::size_t subject = bytes.find("Subject: ") + 9;
        m.subject = bytes.substr(subject, bytes.find("\r\n", subject) - subject);
        m.size = headersOnly ? 900000 : static_cast<std::int64_t>(bytes.size());
        m.headersOnly = headersOnly;
        DeletedStore(DeletedStore::FolderIn(prog.path()), [when] { return when; }).Keep(bytes, m);
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
    // A row's cells from Mailbox on, joined by "|".
    std::string Row(int row) const {
        std::string text;
        for (int c = DeletedModel::Mailbox; c < DeletedModel::ColumnCount; ++c)
            if (c != DeletedModel::Size)
                text += window->lvDeleted->model()->index(row, c).data().toString().toStdString() +
                        (c + 1 < DeletedModel::ColumnCount ? "|" : "");
        return text;
    }
    void Select(std::initializer_list<int> rows) {
        QItemSelectionModel* selection = window->lvDeleted->selectionModel();
        selection->clear();
        for (int row : rows)
            selection->select(window->lvDeleted->model()->index(row, 0),
                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    std::string SelectedIds() const {
        std::string text;
        for (const KeptMessage& m : window->Selected())
            text += m.id + " ";
        return text;
    }

    std::string user = "bob", server = "pop.example";  // the mailbox of the next Keep
    test::TempDir home, prog;
    Locations where{prog.path(), home.file("user.ini")};
    test::ScriptedBoxes boxes;
    FakeDesktop desktop;
    std::vector<std::string> ids;  // in the order kept: free, big, cafe
    std::string pick;              // the file dialog's answer; empty cancels
    std::vector<ui::FileRequest> asked;
    std::unique_ptr<TfrmDeleted> window;
    std::unique_ptr<QAbstractItemModelTester> tester;
};

TEST_F(DeletedWindowTest, ListsRestoresAndOpensTheExactBytes) {
    Open();
    ASSERT_EQ(window->stkList->currentWidget(), window->lvDeleted);
    // Newest first, the Latin-1 subject shown, headers-only said in words.
    EXPECT_EQ(SelectedIds(), ids[2] + " ");
    EXPECT_EQ(Row(0), "bob on pop.example|Delete|ann@friend.example|Caf\xC3\xA9|Whole message");
    EXPECT_EQ(Row(1), "bob on pop.example|Known spammer|promo@spam.example|huge|Headers only");
    EXPECT_EQ(Row(2), "bob on pop.example|Delete|deals@shop.example|FREE|Whole message");
    Select({1});
    EXPECT_EQ(window->memReasons->toPlainText().toStdString(),
              "Mark: Known spammer\nReasons:\n  Known spammer: spam.example\n\nOnly the headers "
              "were kept: the message was larger than the limit for kept copies.");

    // One copy: a save dialog proposing ID.eml, the bytes as kept.
    Select({2});
    pick = home.file("chosen.eml");
    window->btRestore->click();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_TRUE(asked[0].save && asked[0].filter == "E-mail messages (*.eml)");
    EXPECT_TRUE(asked[0].start.endsWith(QString::fromStdString("/" + ids[0] + ".eml")));
    EXPECT_EQ(ReadFile(home.file("chosen.eml")), kFree);

    // Two: a folder, each as ID.eml; the first cannot be written and is
    // named, the other still comes back.
    Select({0, 2});
    EXPECT_FALSE(window->btOpen->isEnabled());
    const std::string out = home.file("out"), blocked = out + "/" + ids[2] + ".eml";
    std::filesystem::create_directories(blocked);
    pick = out;
    boxes.Expect("error", "1 of 2 messages could not be restored:\nCannot create file " + blocked +
                              ": Is a directory");
    window->btRestore->click();
    EXPECT_TRUE(asked.at(1).folder);
    EXPECT_EQ(ReadFile(out + "/" + ids[0] + ".eml"), kFree);
    std::filesystem::remove(blocked);
    pick = out;
    window->btRestore->click();
    EXPECT_EQ(ReadFile(blocked), kCafe);

    // Open by Enter on the list: the desktop gets a file of the same bytes,
    // which the next start clears away; a desktop that cannot says so.
    Select({1});
    QTest::keyClick(window->lvDeleted, Qt::Key_Return);
    ASSERT_EQ(desktop.opened.size(), 1u);
    EXPECT_EQ(ReadFile(desktop.opened[0]), kBig);
    desktop.answer = false;
    boxes.Expect("error", "Unable to open " + desktop.opened[0] +
                              " with a mail program: the desktop has none for .eml files.");
    window->btOpen->click();
    DeletedStore::CleanUpOpenedCopies(prog.path());
    EXPECT_FALSE(std::filesystem::exists(desktop.opened[0]));

    // Sorting goes by the value, not the text: the smallest first.
    window->lvDeleted->sortByColumn(DeletedModel::Size, Qt::AscendingOrder);
    Select({0});
    EXPECT_EQ(SelectedIds(), ids[2] + " ");
}

// What changed while the window was hidden shows when it is shown again.
TEST_F(DeletedWindowTest, ShowingReadsTheStoreAgain) {
    Open();
    window->hide();
    DeletedStore(DeletedStore::FolderIn(prog.path())).Purge(0);
    window->show();
    EXPECT_EQ(window->stkList->currentWidget(), window->lblEmpty);
    EXPECT_FALSE(window->btRestore->isEnabled());
    window->hide();
    Keep(kCafe, kMonday, "delete", {});
    window->show();
    EXPECT_EQ(window->lvDeleted->model()->rowCount(), 1);
}

// The main window's menu opens the window with the countdown paused.
TEST_F(DeletedWindowTest, TheMainWindowsMenuOpensIt) {
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
    Keep("From: info@lotto.example\r\nSubject: You are a winner\r\n\r\n", kMonday + 90000, "delete",
         {"Subject contains \"winner\"", "From is not in the address book"});
    Keep("From: sale@store.example\r\nSubject: Cheap watches\r\n\r\n", kMonday + 101000, "delete",
         {"Sender domain ends with \".example\""});
    QApplication::setStyle("Fusion");
    const QPalette light = QApplication::style()->standardPalette();
    for (auto [name, palette] :
         {std::pair{"deleted-messages", light}, {"deleted-messages-dark", test::DarkPalette()}}) {
        QApplication::setPalette(palette);
        Open();
        window->resize(900, 420);
        Select({1});
        QTest::qWait(200);
        ASSERT_TRUE(window->grab().save(QString(out) + "/" + name + ".png"));
    }
}

}  // namespace
}  // namespace kelvane

int main(int argc, char** argv) {
    return kelvane::test::GuiTestMain(argc, argv);
}
