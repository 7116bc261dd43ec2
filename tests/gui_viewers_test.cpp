// The list's context menu offscreen against scripted POP3 servers: the
// header and body viewers, the reasons report and adding messages to the
// rule lists. Message boxes are answered by the test, told before the
// action; the viewers and the dialog are the real windows.

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QtTest/QTest>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/gui/messagemodel.h"
#include "app/gui/optRetrieve.h"
#include "app/gui/qDelete.h"
#include "app/gui/rmmain.h"
#include "app/gui/vheader.h"
#include "app/listcommands.h"
#include "rules/rulelist.h"
#include "settings/gui/general.h"
#include "settings/gui/optsmain.h"
#include "settings/keys.h"
#include "support/fakeserver.h"
#include "support/guitest.h"
#include "support/testdir.h"
#include "ui/displaytext.h"

namespace kelvane {
namespace {

using test::FakeServer;
using test::ReadFile;
using test::TempDir;
using Lines = std::vector<std::string>;

const std::string kUser = "bob";
const std::string kPassword = "pw-7";

struct Msg {
    std::string id, from, subject;
    int size = 100;
    std::string Block() const {
        return "Message-ID: <" + id + ">\r\nFrom: " + from + "\r\nSubject: " + subject + "\r\n";
    }
};
const Msg kSpam{"1@x", "Shop <deals@shop.example>", "FREE offer \xE2\x82\xAC"};
const Msg kFriend{"2@x", "Ann <ann@friend.example>", "Caf\xE9?"};
const Msg kKnown{"3@x", "promo@spam.example", "hello"};

FakeServer& Login(FakeServer& srv, std::size_t count) {
    return srv.Send("+OK ready\r\n")
        .Expect("USER " + kUser)
        .Send("+OK\r\n")
        .Expect("PASS " + kPassword)
        .Send("+OK\r\n")
        .Expect("STAT")
        .Send("+OK " + std::to_string(count) + " 1000\r\n");
}
FakeServer& Top(FakeServer& srv, int n, const Msg& m) {
    const std::string num = std::to_string(n);
    return srv.Expect("LIST " + num)
        .Send("+OK " + num + " " + std::to_string(m.size) + "\r\n")
        .Expect("TOP " + num + " 1")
        .Send("+OK\r\n" + m.Block() + "\r\nbody\r\n.\r\n");
}
FakeServer& Session(FakeServer& srv, const std::vector<Msg>& msgs) {
    Login(srv, msgs.size());
    for (std::size_t i = 0; i < msgs.size(); ++i)
        Top(srv, static_cast<int>(i) + 1, msgs[i]);
    return srv.Expect("QUIT").Send("+OK\r\n").AwaitClientClose();
}
// The body fetch of message n: the check that it is still the message
// listed, then RETR.
FakeServer& Fetch(FakeServer& srv, std::size_t count, int n, const Msg& m,
                  const std::string& message) {
    Login(srv, count);
    Top(srv, n, m);
    const std::string num = std::to_string(n);
    srv.Expect("LIST " + num).Send("+OK " + num + " " + std::to_string(m.size) + "\r\n");
    srv.Expect("RETR " + num).Send("+OK\r\n" + message);
    return srv.Expect("QUIT").Send("+OK\r\n").AwaitClientClose();
}

// Hands the modal window of type W to answer as soon as it is up; answer
// must close it. Polls, since a network wait runs the event loop first.
template <typename W>
class OnModal {
  public:
    explicit OnModal(std::function<void(W&)> answer) {
        QObject::connect(&timer_, &QTimer::timeout, [this, answer] {
            auto* window = qobject_cast<W*>(QApplication::activeModalWidget());
            if (!window) return;
            timer_.stop();
            ++shown;
            answer(*window);
            if (window->isVisible()) {
                ADD_FAILURE() << "the window did not close";
                window->reject();
            }
        });
        timer_.start(5);
    }
    int shown = 0;

  private:
    QTimer timer_;
};

struct Viewed {
    std::string title;
    Lines lines;
};

// What a viewer showed; closed with key.
OnModal<TfrmViewHeader> ReadViewer(Viewed& seen, Qt::Key key = Qt::Key_Return) {
    return OnModal<TfrmViewHeader>([&seen, key](TfrmViewHeader& viewer) {
        EXPECT_EQ(viewer.windowTitle().toStdString(), "View Selected Headers");
        EXPECT_TRUE(viewer.Memo1->isReadOnly());
        seen.title = viewer.lblTitle->text().toStdString();
        for (const QString& line : viewer.Memo1->toPlainText().split('\n'))
            seen.lines.push_back(line.toStdString());
        QTest::keyClick(viewer.Memo1, key);
    });
}

// The lines as the viewer shows them.
Lines Shown(const Lines& lines) {
    Lines out;
    for (const std::string& line : lines)
        out.push_back(ui::DisplayText(line).toStdString());
    return out;
}

class ViewersTest : public ::testing::Test {
  protected:
    ViewersTest() {
        test::WriteFile(prog.file("subj.lst"),
                        test::RuleFile(6, {"Contains", "free", "No", "Yes", "0"}));
        test::WriteFile(prog.file("known.lst"), "spam.example\r\n");
        test::WriteFile(prog.file("Kelvane.ini"), "[Known]\r\nQMonitor=1\r\n");
        SettingsStore user = SettingsStore::OpenUser(where);
        keys::Write(user, keys::Logfile, home.file("log.txt"));
    }
    ~ViewersTest() override { EXPECT_TRUE(boxes.Done()) << "a box told about was not shown"; }

    // Starts the window and lists msgs from the first session of srv.
    void StartAndList(FakeServer& srv) {
        SettingsStore user = SettingsStore::OpenUser(where);
        WriteMailboxSlot(user, 1, {srv.Address(), kUser, kPassword});
        main = std::make_unique<TfrmMain>(where);
        main->FormCreate();
        options = new TfrmOptionsMain(where.programDir, main.get());
        retrieving = new TfrmRetrieving(main.get());
        general = new TfrmGeneral(where, main.get());
        main->SetMessageBoxes(&boxes);
        main->SetDialogs(*options, *retrieving, *general);
        tester = std::make_unique<QAbstractItemModelTester>(
            &main->Model(), QAbstractItemModelTester::FailureReportingMode::Fatal);
        main->btList->click();
    }
    void Select(std::initializer_list<int> rows) {
        auto* selection = main->ListView1->selectionModel();
        selection->clearSelection();
        for (int r : rows)
            selection->select(main->Model().index(r, 0),
                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    int SelectedCount() const {
        return static_cast<int>(main->ListView1->selectionModel()->selectedRows().size());
    }
    std::string Mark(int row) const {
        return main->Model()
            .index(row, 0)
            .data(Qt::AccessibleDescriptionRole)
            .toString()
            .toStdString();
    }
    std::string Status() const { return main->StatusText().toStdString(); }
    // Which of the menu's commands are enabled, as "10101".
    std::string Enabled() const {
        std::string out;
        for (QAction* a : {main->Why1, main->AddtoExceptions1, main->AddtoSPAMlist1,
                           main->ViewHeaders1, main->ViewBody1})
            out += a->isEnabled() ? '1' : '0';
        return out;
    }

    TempDir home, prog;
    Locations where{prog.path(), home.file("user.ini")};
    test::ScriptedBoxes boxes;
    std::unique_ptr<TfrmMain> main;
    TfrmOptionsMain* options = nullptr;
    TfrmRetrieving* retrieving = nullptr;
    TfrmGeneral* general = nullptr;
    std::unique_ptr<QAbstractItemModelTester> tester;
};

TEST_F(ViewersTest, HeadersOfTwoRowsFromTheMenuOnTheSelectionWithoutAConnection) {
    FakeServer srv;
    Session(srv, {kSpam, kFriend});
    StartAndList(srv);
    ASSERT_TRUE(srv.Finish()) << srv.Report();

    // A right click on a selected row keeps the selection and opens the menu.
    Select({0, 1});
    QWidget* viewport = main->ListView1->viewport();
    const QPoint at = main->ListView1->visualRect(main->Model().index(1, 0)).center();
    QTest::mouseClick(viewport, Qt::RightButton, {}, at);
    QContextMenuEvent click(QContextMenuEvent::Mouse, at, viewport->mapToGlobal(at));
    QApplication::sendEvent(viewport, &click);
    ASSERT_TRUE(QTest::qWaitFor([&] { return main->PopupMenu1->isVisible(); }, 2000));
    EXPECT_EQ(SelectedCount(), 2);
    EXPECT_EQ(Enabled(), "11111");
    main->PopupMenu1->hide();

    Viewed seen;
    auto viewer = ReadViewer(seen, Qt::Key_Escape);
    main->ViewHeaders1->trigger();
    EXPECT_EQ(viewer.shown, 1);
    EXPECT_EQ(seen.title, "Contents of selected e-mail headers");
    const std::string stars(38, '*');
    EXPECT_EQ(seen.lines,
              Shown({stars, "Subject : " + kSpam.subject + " Sender : deals@shop.example", stars,
                     "Message-ID: <1@x>", "From: " + kSpam.from, "Subject: " + kSpam.subject, stars,
                     "Subject : " + kFriend.subject + " Sender : ann@friend.example", stars,
                     "Message-ID: <2@x>", "From: " + kFriend.from, "Subject: " + kFriend.subject}));
    EXPECT_EQ(srv.Connections(), 1);
}

TEST_F(ViewersTest, BodyOfRowTwoOfTwoSelectedIsFetchedIntoItsFileAndShownDecoded) {
    // Left by an earlier run: removed at start up to position 100.
    for (int n : {1, 100, 101})
        test::WriteFile(prog.file("msg_" + std::to_string(n) + ".eml"), "old");
    const std::string message = kFriend.Block() +
                                "MIME-Version: 1.0\r\nContent-Transfer-Encoding: base64\r\n\r\n"
                                "SGksCi5kb3QKdGhlcmU=\r\n.\r\n";  // "Hi,\n.dot\nthere"
    FakeServer srv;
    Session(srv, {kSpam, kFriend, kKnown});
    Fetch(srv, 3, 2, kFriend, message);
    StartAndList(srv);
    EXPECT_FALSE(std::filesystem::exists(prog.file("msg_100.eml")));
    EXPECT_TRUE(std::filesystem::exists(prog.file("msg_101.eml")));

    // Inside the fetch's waits no other command may read or drive the
    // client: the menu offers none, and the handlers do nothing.
    std::vector<std::string> during;
    bool inHandlers = false;
    main->Pop().SetEventPump([&] {
        QCoreApplication::processEvents();
        if (!main->Busy() || !retrieving->isVisible()) return;
        if (during.empty() || during.back() != Status()) during.push_back(Status());
        main->PopupMenu1->popup(QPoint(0, 0));
        if (Enabled() != "00000") ADD_FAILURE() << "enabled in a wait: " << Enabled();
        main->PopupMenu1->hide();
        // A window opened here would wait inside the wait.
        inHandlers = true;
        QTimer::singleShot(0, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!inHandlers || !modal) return;
            ADD_FAILURE() << "a window opened in a wait";
            modal->close();
        });
        main->ViewHeader1Click();
        main->Why1Click();
        main->ViewMessages1Click();
        main->AddtoExceptions1Click();
        inHandlers = false;
    });
    Select({1, 2});
    boxes.Expect("info", std::string(kMoreThanOneSelectedText));
    Viewed seen;
    auto viewer = ReadViewer(seen);
    main->ViewBody1->trigger();
    ASSERT_TRUE(srv.Finish()) << srv.Report();

    EXPECT_EQ(viewer.shown, 1);
    EXPECT_EQ(seen.title, "Contents of e-mail");
    EXPECT_EQ(seen.lines, (Lines{"Hi,", ".dot", "there"}));
    EXPECT_EQ(ReadFile(prog.file("msg_1.eml")), message) << "the server's bytes";
    EXPECT_NE(std::find(during.begin(), during.end(), "Retrieving 2"), during.end());
    EXPECT_FALSE(main->Pop().Info().Item(1).RetrieveMark);
    EXPECT_FALSE(retrieving->isVisible());
    EXPECT_TRUE(main->btList->isEnabled());
    EXPECT_FALSE(main->Busy());
}

TEST_F(ViewersTest, FiftyThousandOctetsAreFetchedAtOnceAndOneMoreAsksFirst) {
    Msg exact{"4@x", "a@b.example", "exact", 50000};
    Msg above{"5@x", "c@d.example", "above", 50001};
    // The parser cannot read this one: the viewer shows why.
    const std::string message =
        exact.Block() +
        "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=q\r\n\r\nno parts\r\n.\r\n";
    FakeServer srv;
    Session(srv, {exact, above});
    Fetch(srv, 2, 1, exact, message);
    StartAndList(srv);

    Select({0});
    Viewed seen;
    {
        auto viewer = ReadViewer(seen);
        main->ViewMessages1Click();
        ASSERT_TRUE(srv.Finish()) << srv.Report();
        EXPECT_EQ(viewer.shown, 1);
    }
    EXPECT_EQ(seen.lines, (Lines{"The following error has been occured while processing the "
                                 "message:",
                                 "Cannot find boundary",
                                 "The original message will be stored as an attachment"}));

    Select({1});
    boxes.Expect("confirm",
                 "The message you have selected to view is quite large - 50001 bytes. Are you "
                 "sure you wish to download and view it?",
                 false);
    auto none = ReadViewer(seen);
    main->ViewMessages1Click();
    EXPECT_EQ(none.shown, 0);
    EXPECT_EQ(srv.Connections(), 2);
}

TEST_F(ViewersTest, ReasonsForAMessageOnTheExceptionListAndItsMarkUnchanged) {
    test::WriteFile(prog.file("except.lst"), test::RuleFile(5, {"E-mail address", "Equals",
                                                                "deals@shop.example", "No", "0"}));
    FakeServer srv;
    Session(srv, {kSpam, kFriend});
    StartAndList(srv);
    ASSERT_TRUE(srv.Finish()) << srv.Report();
    const std::string mark = Mark(0);

    Select({0, 1});
    boxes.Expect("info", std::string(kMoreThanOneSelectedText));
    Viewed seen;
    auto viewer = ReadViewer(seen);
    main->Why1->trigger();
    EXPECT_EQ(seen.title, "Reasons that e-mail is marked or not marked");
    // The subject rule would match too; the exception ends the report.
    EXPECT_EQ(seen.lines,
              Shown({"Message from deals@shop.example", "Subject of   " + kSpam.subject, "",
                     "Exception :  E-mail address Equals \"deals@shop.example\" "}));
    EXPECT_EQ(Mark(0), mark);
}

TEST_F(ViewersTest, ThreeMessagesAddedAtOnceComeFirstInReverseOrderAndCancelWritesNothing) {
    FakeServer srv;
    Session(srv, {kSpam, kFriend, kKnown});
    StartAndList(srv);
    ASSERT_TRUE(srv.Finish()) << srv.Report();

    Select({0, 1, 2});
    OnModal<TfrmMarkForDeletion> ok([](TfrmMarkForDeletion& dialog) {
        EXPECT_EQ(dialog.windowTitle().toStdString(), "Mark e-mail for deletion");
        EXPECT_EQ(dialog.lblTitle->text().toStdString(), "Mark these messages to delete");
        QAbstractItemModel* grid = dialog.grid->model();
        EXPECT_EQ(grid->rowCount(), 249);
        EXPECT_EQ(grid->headerData(1, Qt::Horizontal).toString().toStdString(), "From");
        EXPECT_EQ(grid->index(2, 1).data().toString().toStdString(), "promo@spam.example");
        EXPECT_EQ(grid->index(3, 0).data().toString().toStdString(), "");
        EXPECT_TRUE(dialog.cbSubject->isChecked() && dialog.cbFrom->isChecked());
        dialog.btOK->click();
    });
    main->AddtoSPAMlist1->trigger();
    EXPECT_EQ(ok.shown, 1);
    RuleList subjects(RuleKind::Subject), senders(RuleKind::Sender);
    subjects.Load(prog.file("subj.lst"));
    senders.Load(prog.file("from.lst"));
    using S = rulecol::Subject;
    EXPECT_EQ(subjects.Row(1), (Lines{"", "Equals", kKnown.subject, "Yes", "Yes", "1"}));
    EXPECT_EQ(subjects.Cell(S::Matches, 2), kFriend.subject);
    EXPECT_EQ(subjects.Cell(S::Matches, 3), kSpam.subject);
    EXPECT_EQ(subjects.Cell(S::Matches, 4), "free");
    EXPECT_EQ(senders.Row(1),
              (Lines{"", "E-mail address", "Equals", "promo@spam.example", "Yes", "1"}));
    EXPECT_EQ(senders.Cell(rulecol::Sender::Matches, 3), "deals@shop.example");
    // The whole list judged afresh: the friend's message is now caught too.
    EXPECT_EQ(Status(), "Message Total: 3 Number Marked: 3");

    // Cancel writes nothing, and the marks set by hand give way all the same.
    const std::string saved = ReadFile(prog.file("subj.lst"));
    main->btResetAll->click();
    OnModal<TfrmMarkForDeletion> cancel(
        [](TfrmMarkForDeletion& dialog) { QTest::keyClick(&dialog, Qt::Key_Escape); });
    main->AddtoSPAMlist1Click();
    EXPECT_EQ(cancel.shown, 1);
    EXPECT_EQ(ReadFile(prog.file("subj.lst")), saved);
    EXPECT_EQ(Status(), "Message Total: 3 Number Marked: 3");

    Select({1});
    main->AddtoExceptions1->trigger();
    EXPECT_NE(ReadFile(prog.file("except.lst")).find("ann@friend.example"), std::string::npos);
    EXPECT_EQ(Status(), "Message Total: 3 Number Marked: 2");
}

}  // namespace
}  // namespace kelvane

int main(int argc, char** argv) {
    return kelvane::test::GuiTestMain(argc, argv);
}
