// The main window driven offscreen against scripted POP3 servers: does each
// control reach the core, and does the core's answer reach the screen? The
// message boxes are answered by the test, told before the action.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QtTest/QTest>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/gui/messagemodel.h"
#include "app/gui/optRetrieve.h"
#include "app/gui/qDelete.h"
#include "app/gui/rmmain.h"
#include "app/gui/singleinstance.h"
#include "app/gui/vheader.h"
#include "app/listcommands.h"
#include "rules/gui/optsmain.h"
#include "rules/rulelist.h"
#include "settings/gui/general.h"
#include "settings/gui/which.h"
#include "settings/keys.h"
#include "support/fakeserver.h"
#include "support/guitest.h"
#include "support/pop3script.h"
#include "support/testdir.h"
#include "ui/displaytext.h"
#include "ui/elidedlabel.h"

namespace kelvane {
namespace {

using test::FakeServer;
using test::ReadFile;
using test::TempDir;

const std::string kUser = "bob";
const std::string kPassword = "pw-7";

struct Msg {
    std::string id, from, subject;
    int size = 100;
    std::string Block() const {
        return "Message-ID: <" + id + ">\r\nFrom: " + from + "\r\nSubject: " + subject + "\r\n";
    }
};
// Marked by the subject rule; the subject in UTF-8.
const Msg kSpam{"1@x", "Shop <deals@shop.example>", "FREE offer \xE2\x82\xAC"};
// Not marked; the subject in Latin-1.
const Msg kFriend{"2@x", "Ann <ann@friend.example>", "Caf\xE9?"};
// On the blacklist.
const Msg kKnown{"3@x", "promo@spam.example", "hello"};

FakeServer& Login(FakeServer& srv, std::size_t count) {
    return test::ScriptLogin(srv, kUser, kPassword, "+OK " + std::to_string(count) + " 1000");
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

class MainWindowTest : public ::testing::Test {
  protected:
    MainWindowTest() {
        test::WriteFile(prog.file("subj.lst"),
                        test::RuleFile(6, {"Contains", "free", "No", "Yes", "0"}));
        test::WriteFile(prog.file("known.lst"), "spam.example\r\n");
        test::WriteFile(prog.file("Kelvane.ini"), "[Known]\r\nQMonitor=1\r\n");
        SettingsStore user = SettingsStore::OpenUser(where);
        keys::Write(user, keys::Logfile, LogPath());
        keys::Write(user, keys::Launch, false);
        // The scripted deletions here keep no copies; those have tests of
        // their own.
        keys::Write(user, keys::KeepDeleted, false);
    }
    ~MainWindowTest() override { EXPECT_TRUE(boxes.Done()) << "a box told about was not shown"; }

    std::string LogPath() const { return home.file("log.txt"); }
    void Mailbox(int slot, const std::string& server) {
        SettingsStore user = SettingsStore::OpenUser(where);
        WriteMailboxSlot(user, slot, {server, kUser, kPassword});
    }
    template <typename Key, typename Value>
    void Setting(const Key& key, Value value) {
        SettingsStore user = SettingsStore::OpenUser(where);
        keys::Write(user, key, value);
    }
    void Start() {
        main = std::make_unique<TfrmMain>(where);
        main->FormCreate();
        options = new TfrmOptionsMain(where, main.get());
        retrieving = new TfrmRetrieving(main.get());
        general = new TfrmGeneral(where, main.get());
        main->SetMessageBoxes(&boxes);
        main->SetDialogs(*options, *retrieving, *general);
        tester = std::make_unique<QAbstractItemModelTester>(
            &main->Model(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    }
    std::string Status() const { return main->StatusText().toStdString(); }
    std::string Cell(int row, int column = 0, int role = Qt::DisplayRole) const {
        return main->Model().index(row, column).data(role).toString().toStdString();
    }
    std::string ExitCaption() const { return main->btExit->accessibleName().toStdString(); }
    // Replaces the event pump: each wait also runs body.
    void DuringWaits(std::function<void()> body) {
        main->Pop().SetEventPump([body] {
            QCoreApplication::processEvents();
            body();
        });
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

TEST_F(MainWindowTest, EmptyMailboxWithAndWithoutExitAfterCheck) {
    for (bool exitAfter : {false, true}) {
        SCOPED_TRACE(exitAfter ? "exit after check" : "stay");
        FakeServer srv;
        Session(srv, {});
        Mailbox(1, srv.Address());
        Start();
        Setting(keys::Exit, exitAfter);
        main->btList->click();
        ASSERT_TRUE(srv.Finish()) << srv.Report();

        EXPECT_EQ(main->isVisible(), !exitAfter);
        EXPECT_EQ(Status(), "Message Total: 0 Number Marked: 0");
        EXPECT_TRUE(main->btDelete->isHidden());
        EXPECT_TRUE(main->btList->isEnabled());
        EXPECT_FALSE(retrieving->isVisible());
        EXPECT_EQ(ReadFile(LogPath()).rfind(
                      "MAIL CHECK 0 msg(s) for \"bob\" on server " + srv.Address() + " at ", 0),
                  0u);
        std::remove(LogPath().c_str());
    }
}

TEST_F(MainWindowTest, ThreeMessagesArriveCountedAndMarkedWhileClicksDoNothing) {
    FakeServer srv;
    Session(srv, {kSpam, kFriend, kKnown});
    Mailbox(1, srv.Address());
    Start();
    std::vector<std::string> seen;
    QObject::connect(&main->Model(), &QAbstractItemModel::rowsInserted, [&](auto, int, int last) {
        seen.push_back(Status() + "|" + retrieving->lblMsg->text().toStdString() + "|" +
                       Cell(last, 0, Qt::AccessibleDescriptionRole));
    });
    // Nothing starts a second run or a deletion inside a wait.
    int tries = 0;
    DuringWaits([&] {
        if (!retrieving->isVisible()) return;
        ++tries;
        main->btList->click();
        main->btListClick();
        main->DeleteMessages();
    });
    main->btList->click();
    ASSERT_TRUE(srv.Finish()) << srv.Report();

    EXPECT_GT(tries, 0);
    EXPECT_EQ(seen, (std::vector<std::string>{
                        "Getting message 1 of 3 total waiting messages|Message 1 of 3|"
                        "marked for deletion",
                        "Getting message 2 of 3 total waiting messages|Message 2 of 3|",
                        "Getting message 3 of 3 total waiting messages|Message 3 of 3|"
                        "known spammer",
                    }));
    EXPECT_EQ(Status(), "Message Total: 3 Number Marked: 2");
    // UTF-8 when valid, Latin-1 otherwise.
    EXPECT_EQ(Cell(0), "FREE offer \xE2\x82\xAC");
    EXPECT_EQ(Cell(1), "Caf\xC3\xA9?");
    EXPECT_EQ(Cell(0, MessageListModel::Sender), "deals@shop.example");
    EXPECT_FALSE(main->btDelete->isHidden());
    EXPECT_TRUE(main->lblAd->isHidden());
    EXPECT_EQ(ExitCaption(), "Goodbye");
    EXPECT_FALSE(retrieving->isVisible());
    EXPECT_NE(ReadFile(prog.file("subj.lst")).find("5,1,1\r\n"), std::string::npos)
        << "the hit count was not saved";
}

// Another program may leave the store unreadable while the window is open
// (an administrator's run that replaced it): Check says so and starts
// nothing, and the window stays usable.
TEST_F(MainWindowTest, CheckWithAStoreThatCannotBeReadSaysSoAndStartsNothing) {
    Mailbox(1, "127.0.0.1:9");
    Start();
    std::filesystem::remove(where.userStore);
    std::filesystem::create_directory(where.userStore);
    boxes.Expect("error", "Failed to get data for 'Server1'");
    main->btList->click();
    EXPECT_FALSE(main->Busy());
    EXPECT_TRUE(main->btList->isEnabled());
    EXPECT_FALSE(retrieving->isVisible());
}

// OK in the general settings with a store that cannot be written tells so
// and keeps the dialog open, instead of letting the error escape the button.
TEST_F(MainWindowTest, GeneralSettingsOkWithAStoreThatCannotBeWrittenStaysOpen) {
    Start();
    general->show();
    std::filesystem::remove(where.userStore);
    std::filesystem::create_directory(where.userStore);
    QString told;
    QTimer::singleShot(0, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            told = box->text();
            box->accept();
        }
    });
    general->btOK->click();
    // The first key OK writes: the sound file filled in on showing.
    EXPECT_EQ(told.toStdString(), "Failed to set data for 'AlarmFile'");
    EXPECT_TRUE(general->isVisible());
}

// An error that escapes a handler (the dialog reads the store as it opens)
// is shown, and the program goes on.
TEST_F(MainWindowTest, AnErrorEscapingAHandlerIsShownAndTheProgramGoesOn) {
    Start();
    std::filesystem::remove(where.userStore);
    std::filesystem::create_directory(where.userStore);
    auto* app = static_cast<ui::Application*>(QCoreApplication::instance());
    std::vector<std::string> shown;
    app->SetErrorHandler([&](const std::string& text) { shown.push_back(text); });
    general->show();
    QCoreApplication::processEvents();
    app->SetErrorHandler(nullptr);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "Failed to get data for 'Which'");
    EXPECT_TRUE(main->btList->isEnabled());
}

TEST_F(MainWindowTest, CancelInTheMiddleOfARun) {
    FakeServer srv;
    Login(srv, 3);
    Top(srv, 1, kSpam);
    srv.Expect("LIST 2").AwaitClientClose();
    Mailbox(1, srv.Address());
    Start();
    // The user presses Cancel while the client waits for LIST 2's reply.
    DuringWaits([&] {
        if (ExitCaption() == "Cancel" && srv.Received().find("LIST 2") != std::string::npos)
            main->btExit->click();
    });
    boxes.Expect("error", "Operation has been canceled");
    main->btList->click();
    ASSERT_TRUE(srv.Finish()) << srv.Report();

    EXPECT_EQ(main->Model().rowCount(), 0);
    EXPECT_EQ(ExitCaption(), "Goodbye");
    EXPECT_TRUE(main->btList->isEnabled());
    EXPECT_FALSE(retrieving->isVisible());
    EXPECT_FALSE(main->Busy());
    const std::string log = ReadFile(LogPath());
    EXPECT_NE(log.find("OPERATION CANCELED FOR bob ON " + srv.Address()), std::string::npos);
    EXPECT_NE(log.find("ERROR Operation has been canceled FOR bob ON"), std::string::npos);
    EXPECT_EQ(log.find("MAIL CHECK"), std::string::npos);
}

// A refused login ends the run by itself: the progress window goes, the box
// names the mailbox beside the server's words, the status line (and what a
// screen reader hears of it) and the log say what failed, and the focus is
// back where a Space cannot end the program.
TEST_F(MainWindowTest, AFailedLoginEndsTheRunByItselfAndNamesTheMailbox) {
    FakeServer srv;
    srv.Send("+OK ready\r\n")
        .Expect("USER " + kUser)
        .Send("+OK\r\n")
        .Expect("PASS " + kPassword)
        .Send("-ERR [AUTH] Authentication failed.\r\n")
        .AwaitClientClose();
    Mailbox(1, srv.Address());
    Start();
    main->btList->setFocus();
    boxes.Expect("error", "Mailbox bob on server " + srv.Address() +
                              ":\n-ERR [AUTH] Authentication failed.");
    main->btList->click();
    EXPECT_FALSE(retrieving->isVisible());
    EXPECT_FALSE(main->Busy());
    EXPECT_EQ(ExitCaption(), "Goodbye");
    EXPECT_TRUE(main->btList->isEnabled());
    EXPECT_EQ(Status(), "-ERR [AUTH] Authentication failed.");
    EXPECT_EQ(main->pnlStatus->accessibleName().toStdString(), Status());
    EXPECT_NE(QApplication::focusWidget(), main->btExit);
    EXPECT_NE(ReadFile(LogPath()).find("ERROR -ERR [AUTH] Authentication failed. FOR bob ON "),
              std::string::npos);
    main->Pop().Close();
    ASSERT_TRUE(srv.Finish()) << srv.Report();
}

TEST(StartupTest, HelpAndVersionNeedNoDisplay) {
    for (const char* option : {"--help", "--version"}) {
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(name);
        program.setProcessEnvironment(env);
        program.start(KELVANE_GUI_PATH, {option});
        ASSERT_TRUE(program.waitForFinished(10000)) << option;
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << option;
        EXPECT_EQ(program.exitCode(), 0) << option << program.readAllStandardError().toStdString();
        EXPECT_TRUE(program.readAllStandardOutput().contains("Kelvane")) << option;
    }
}

TEST_F(MainWindowTest, ClosingTheWindowInAWaitCancelsWithoutQuitOrCheckLine) {
    FakeServer srv;
    Login(srv, 2);
    srv.Expect("LIST 1").AwaitClientClose();
    Mailbox(1, srv.Address());
    Start();
    DuringWaits([&] {
        if (main->isVisible() && srv.Received().find("LIST 1") != std::string::npos) main->close();
    });
    main->btList->click();
    ASSERT_TRUE(srv.Finish()) << srv.Report();
    EXPECT_FALSE(main->Busy());
    EXPECT_EQ(ReadFile(LogPath()).find("MAIL CHECK"), std::string::npos);
}

TEST_F(MainWindowTest, DoubleClickTogglesResetClearsAndTheMenuKeyOpensTheMenu) {
    FakeServer srv;
    Session(srv, {kSpam, kFriend, kKnown});
    Mailbox(1, srv.Address());
    Start();
    main->btList->click();
    ASSERT_TRUE(srv.Finish()) << srv.Report();
    QWidget* viewport = main->ListView1->viewport();
    const auto marks = [&] {
        std::string out;
        for (int r = 0; r < 3; ++r)
            out += "[" + Cell(r, 0, Qt::AccessibleDescriptionRole) + "]";
        return out;
    };

    auto* selection = main->ListView1->selectionModel();
    for (int r : {1, 2})
        selection->select(main->Model().index(r, 0),
                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, QPoint(1, viewport->height() - 2));
    EXPECT_EQ(marks(), "[marked for deletion][marked for deletion][]");
    // Space marks as the double click does.
    QTest::keyClick(main->ListView1, Qt::Key_Space);
    EXPECT_EQ(marks(), "[marked for deletion][][marked for deletion]");
    QTest::keyClick(main->ListView1, Qt::Key_Space);

    main->btResetAll->click();
    EXPECT_EQ(marks(), "[][][]");
    EXPECT_EQ(Status(), "Message Total: 3 Number Marked: 0");

    selection->clearSelection();
    boxes.Expect("info", std::string(kNothingSelectedText));
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, QPoint(1, viewport->height() - 2));

    // What Qt makes of the Menu key.
    QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, QPoint(0, 0),
                              main->ListView1->mapToGlobal(QPoint(0, 0)));
    QApplication::sendEvent(main->ListView1, &menuKey);
    ASSERT_TRUE(QTest::qWaitFor([&] { return main->PopupMenu1->isVisible(); }, 2000));
    std::string items;
    for (QAction* item : main->PopupMenu1->actions()) {
        items += item->isSeparator() ? "-" : item->text().remove('&').toStdString();
        items += item->isEnabled() && !item->isSeparator() ? "(on)|" : "|";
    }
    EXPECT_EQ(items,
              "Why was this e-mail marked?(on)|-|Add selected sender(s) to exceptions list(on)|"
              "Add selected message(s) to spam list(on)|-|View selected message(s) headers(on)|"
              "View body of one message(on)|");
    main->PopupMenu1->hide();
}

// ---------------------------------------------------------------- the context menu

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

// Hands the modal window of type W to answer, which closes it, as soon as it
// is up. Polls, since a network wait runs the event loop first.
template <typename W>
struct OnModal {
    explicit OnModal(std::function<void(W&)> answer) {
        QObject::connect(&timer, &QTimer::timeout, [this, answer] {
            if (auto* window = qobject_cast<W*>(QApplication::activeModalWidget())) {
                timer.stop();
                ++shown;
                answer(*window);
            }
        });
        timer.start(5);
    }
    QTimer timer;
    int shown = 0;
};

class ListMenuTest : public MainWindowTest {
  protected:
    void Select(std::initializer_list<int> rows) {
        ListView1()->selectionModel()->clearSelection();
        for (int r : rows)
            ListView1()->selectionModel()->select(
                main->Model().index(r, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    QTreeView* ListView1() const { return main->ListView1; }
    // Which commands are enabled, as "10101".
    std::string Enabled() const {
        std::string out;
        for (QAction* a : {main->Why1, main->AddtoExceptions1, main->AddtoSPAMlist1,
                           main->ViewHeaders1, main->ViewBody1})
            out += a->isEnabled() ? '1' : '0';
        return out;
    }
    // Reads the next viewer into title and lines and closes it with key.
    OnModal<TfrmViewHeader> Viewer(Qt::Key key = Qt::Key_Return) {
        return OnModal<TfrmViewHeader>([this, key](TfrmViewHeader& viewer) {
            EXPECT_TRUE(viewer.Memo1->isReadOnly());
            title = viewer.lblTitle->text().toStdString();
            for (const QString& line : viewer.Memo1->toPlainText().split('\n'))
                lines.push_back(line.toStdString());
            QTest::keyClick(viewer.Memo1, key);
            EXPECT_FALSE(viewer.isVisible()) << "the key did not close the viewer";
        });
    }
    std::string title;
    std::vector<std::string> lines;
};

// Lines as the viewer shows them (each line's bytes decoded on its own).
std::vector<std::string> Shown(const std::vector<std::string>& raw) {
    std::vector<std::string> out;
    for (const std::string& line : raw)
        out.push_back(ui::DisplayText(line).toStdString());
    return out;
}

TEST_F(ListMenuTest, HeadersOfTwoRowsFromTheMenuOnTheSelectionWithoutAConnection) {
    FakeServer srv;
    Session(srv, {kSpam, kFriend});
    Mailbox(1, srv.Address());
    Start();
    main->btList->click();
    ASSERT_TRUE(srv.Finish()) << srv.Report();

    // A right click on a selected row keeps the selection.
    Select({0, 1});
    const QPoint at = ListView1()->visualRect(main->Model().index(1, 0)).center();
    QTest::mouseClick(ListView1()->viewport(), Qt::RightButton, {}, at);
    EXPECT_EQ(ListView1()->selectionModel()->selectedRows().size(), 2);

    auto viewer = Viewer(Qt::Key_Escape);
    main->ViewHeaders1->trigger();
    EXPECT_EQ(viewer.shown, 1);
    EXPECT_EQ(title, "Contents of selected e-mail headers");
    const std::string stars(38, '*');
    EXPECT_EQ(lines,
              Shown({stars, "Subject : " + kSpam.subject + " Sender : deals@shop.example", stars,
                     "Message-ID: <1@x>", "From: " + kSpam.from, "Subject: " + kSpam.subject, stars,
                     "Subject : " + kFriend.subject + " Sender : ann@friend.example", stars,
                     "Message-ID: <2@x>", "From: " + kFriend.from, "Subject: " + kFriend.subject}));
    EXPECT_EQ(srv.Connections(), 1);
}

TEST_F(ListMenuTest, BodyOfRowTwoOfTwoSelectedIsFetchedIntoItsFileAndShownDecoded) {
    // Left by an earlier run: removed at start up to position 100.
    for (const char* name : {"msg_1.eml", "msg_100.eml", "msg_101.eml"})
        test::WriteFile(prog.file(name), "old");
    const std::string message = kFriend.Block() +
                                "MIME-Version: 1.0\r\nContent-Transfer-Encoding: base64\r\n\r\n"
                                "SGksCi5kb3QKdGhlcmU=\r\n.\r\n";  // "Hi,\n.dot\nthere"
    FakeServer srv;
    Session(srv, {kSpam, kFriend, kKnown});
    Fetch(srv, 3, 2, kFriend, message);
    Mailbox(1, srv.Address());
    Start();
    EXPECT_FALSE(std::filesystem::exists(prog.file("msg_100.eml")));
    EXPECT_TRUE(std::filesystem::exists(prog.file("msg_101.eml")));
    main->btList->click();

    // Inside the fetch's waits the menu offers nothing and the commands do
    // nothing: a window opened here would wait inside the wait.
    std::vector<std::string> during;
    bool inCommands = false;
    DuringWaits([&] {
        if (!main->Busy() || !retrieving->isVisible()) return;
        during.push_back(Status());
        main->PopupMenu1->popup(QPoint(0, 0));
        EXPECT_EQ(Enabled(), "00000");
        main->PopupMenu1->hide();
        inCommands = true;
        QTimer::singleShot(0, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!inCommands || !modal) return;
            ADD_FAILURE() << "a window opened in a wait";
            modal->close();
        });
        main->ViewHeader1Click();
        main->Why1Click();
        main->ViewMessages1Click();
        main->AddtoExceptions1Click();
        inCommands = false;
    });
    Select({1, 2});
    boxes.Expect("info", std::string(kMoreThanOneSelectedText));
    auto viewer = Viewer();
    main->ViewBody1->trigger();
    ASSERT_TRUE(srv.Finish()) << srv.Report();

    EXPECT_EQ(viewer.shown, 1);
    EXPECT_EQ(title, "Contents of e-mail");
    EXPECT_EQ(lines, (std::vector<std::string>{"Hi,", ".dot", "there"}));
    EXPECT_EQ(ReadFile(prog.file("msg_1.eml")), message) << "the server's bytes";
    EXPECT_NE(std::find(during.begin(), during.end(), "Retrieving 2"), during.end());
    EXPECT_FALSE(main->Pop().Info().Item(1).RetrieveMark);
    EXPECT_TRUE(main->btList->isEnabled());
    EXPECT_FALSE(retrieving->isVisible() || main->Busy());
}

// A body fetch that fails or is cancelled leaves the window as it was: no
// viewer and no message file, a box naming the mailbox (after a Cancel only
// that it was cancelled), the marks cleared, the list intact, the countdown
// running again, the exit button no longer a Cancel and the focus on the
// list. The status line says what failed.
TEST_F(ListMenuTest, AFailedOrCancelledBodyFetchLeavesTheListAsItWas) {
    enum class End { Refused, Reset, ClosedInBlock, Canceled };
    struct Row {
        const char* name;
        End end;
        std::string said;  // what the box says after the mailbox line
    };
    const Row rows[] = {
        {"RETR refused", End::Refused, "-ERR no such message"},
        {"connection reset in the body", End::Reset, "Connection reset by peer"},
        {"connection closed in the body", End::ClosedInBlock, std::string(kTextClosedInBlock)},
        {"Cancel during the fetch", End::Canceled, ""},
    };
    const std::string part = kFriend.Block() + "\r\nthe first half of the body\r\n";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeServer srv;
        Session(srv, {kSpam, kFriend});
        Login(srv, 2);
        Top(srv, 2, kFriend);
        srv.Expect("LIST 2").Send("+OK 2 100\r\n").Expect("RETR 2");
        switch (row.end) {
            case End::Refused:
                srv.Send("-ERR no such message\r\n").AwaitClientClose();
                break;
            case End::Reset:
                srv.Send("+OK\r\n" + part).Abort();
                break;
            case End::ClosedInBlock:
                srv.Send("+OK\r\n" + part).Close();
                break;
            case End::Canceled:
                srv.Send("+OK\r\n" + part).AwaitClientClose();
                break;
        }
        Mailbox(1, srv.Address());
        Start();
        main->btList->click();
        ASSERT_EQ(main->Model().rowCount(), 2);
        main->Pop().Info().Item(0).DeleteMark = true;  // left by a failed deletion
        const std::string statusBefore = Status();

        std::string exitDuring;
        bool pausedDuring = false;
        DuringWaits([&] {
            if (!main->Busy() || srv.Received().find("RETR 2") == std::string::npos) return;
            exitDuring = ExitCaption();
            pausedDuring = main->Timer().Paused();
            if (row.end == End::Canceled && retrieving->isVisible()) retrieving->btCancel->click();
        });
        if (row.end == End::Canceled)
            boxes.Expect("error", std::string(kTextCanceled));
        else
            boxes.Expect("error", "Mailbox bob on server " + srv.Address() + ":\n" + row.said);
        main->btList->setFocus();
        Select({1});
        auto viewer = Viewer();
        main->ViewBody1->trigger();
        EXPECT_TRUE(srv.Finish()) << srv.Report();

        EXPECT_EQ(viewer.shown, 0);
        EXPECT_FALSE(std::filesystem::exists(prog.file("msg_1.eml")));
        for (std::size_t i = 0; i < 2; ++i) {
            EXPECT_FALSE(main->Pop().Info().Item(i).RetrieveMark);
            EXPECT_FALSE(main->Pop().Info().Item(i).DeleteMark);
        }
        ASSERT_EQ(main->Model().rowCount(), 2);
        EXPECT_EQ(Cell(1), ui::DisplayText(kFriend.subject).toStdString());
        EXPECT_EQ(exitDuring, "Cancel");
        EXPECT_TRUE(pausedDuring);
        EXPECT_FALSE(main->Timer().Paused());
        EXPECT_FALSE(main->Busy() || retrieving->isVisible());
        EXPECT_EQ(ExitCaption(), "Goodbye");
        EXPECT_TRUE(main->btList->isEnabled());
        EXPECT_EQ(main->focusWidget(), ListView1());
        EXPECT_EQ(Status(), row.end == End::Canceled ? statusBefore : row.said);
        tester.reset();
        main.reset();
    }
}

TEST_F(ListMenuTest, FiftyThousandOctetsAreFetchedAtOnceAndOneMoreAsksFirst) {
    const Msg exact{"4@x", "a@b.example", "exact", 50000},
        above{"5@x", "c@d.example", "above", 50001};
    FakeServer srv;
    Session(srv, {exact, above});
    // The parser cannot read this one; the viewer shows why.
    Fetch(srv, 2, 1, exact,
          exact.Block() +
              "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=q\r\n\r\n"
              "no parts\r\n.\r\n");
    Mailbox(1, srv.Address());
    Start();
    main->btList->click();
    Select({0});
    auto viewer = Viewer();
    main->ViewMessages1Click();
    ASSERT_TRUE(srv.Finish()) << srv.Report();
    EXPECT_EQ(viewer.shown, 1);
    EXPECT_EQ(lines,
              (std::vector<std::string>{
                  "The following error has been occured while processing the message:",
                  "Cannot find boundary", "The original message will be stored as an attachment"}));

    Select({1});
    boxes.Expect("confirm",
                 "The message you have selected to view is quite large - 50001 bytes. Are you "
                 "sure you wish to download and view it?",
                 false);
    main->ViewMessages1Click();
    EXPECT_EQ(srv.Connections(), 2);
}

TEST_F(ListMenuTest, ReasonsForAMessageOnTheExceptionListLeaveItsMark) {
    test::WriteFile(prog.file("except.lst"), test::RuleFile(5, {"E-mail address", "Equals",
                                                                "deals@shop.example", "No", "0"}));
    FakeServer srv;
    Session(srv, {kSpam, kFriend});
    Mailbox(1, srv.Address());
    Start();
    main->btList->click();
    const std::string mark = Cell(0, 0, Qt::AccessibleDescriptionRole);

    Select({0, 1});
    boxes.Expect("info", std::string(kMoreThanOneSelectedText));
    auto viewer = Viewer();
    main->Why1->trigger();
    EXPECT_EQ(title, "Reasons that e-mail is marked or not marked");
    // The subject rule would match too; the exception ends the report.
    EXPECT_EQ(lines, Shown({"Message from deals@shop.example", "Subject of   " + kSpam.subject, "",
                            "Exception :  E-mail address Equals \"deals@shop.example\" "}));
    EXPECT_EQ(Cell(0, 0, Qt::AccessibleDescriptionRole), mark);
}

TEST_F(ListMenuTest, ThreeMessagesAddedAtOnceComeFirstInReverseOrderAndCancelWritesNothing) {
    FakeServer srv;
    Session(srv, {kSpam, kFriend, kKnown});
    Mailbox(1, srv.Address());
    Start();
    main->btList->click();

    Select({0, 1, 2});
    OnModal<TfrmMarkForDeletion> ok([](TfrmMarkForDeletion& dialog) {
        EXPECT_EQ(dialog.grid->model()->rowCount(), 249);
        EXPECT_EQ(dialog.grid->model()->index(2, 1).data().toString(), "promo@spam.example");
        EXPECT_TRUE(dialog.cbSubject->isChecked() && dialog.cbFrom->isChecked());
        dialog.btOK->click();
    });
    main->AddtoSPAMlist1->trigger();
    RuleList subjects(RuleKind::Subject), senders(RuleKind::Sender);
    subjects.Load(prog.file("subj.lst"));
    senders.Load(prog.file("from.lst"));
    EXPECT_EQ(subjects.Row(1),
              (std::vector<std::string>{"", "Equals", kKnown.subject, "Yes", "Yes", "1"}));
    EXPECT_EQ(subjects.Cell(rulecol::Subject::Matches, 2), kFriend.subject);
    EXPECT_EQ(subjects.Cell(rulecol::Subject::Matches, 3), kSpam.subject);
    EXPECT_EQ(subjects.Cell(rulecol::Subject::Matches, 4), "free");
    EXPECT_EQ(senders.Cell(rulecol::Sender::Matches, 1), "promo@spam.example");
    // The whole list judged afresh: the friend's message is caught now too.
    EXPECT_EQ(Status(), "Message Total: 3 Number Marked: 3");

    // Cancel writes nothing, and the marks set by hand give way all the same.
    const std::string saved = ReadFile(prog.file("subj.lst"));
    main->btResetAll->click();
    OnModal<TfrmMarkForDeletion> cancel(
        [](TfrmMarkForDeletion& dialog) { QTest::keyClick(&dialog, Qt::Key_Escape); });
    main->AddtoSPAMlist1Click();
    EXPECT_EQ(ok.shown + cancel.shown, 2);
    EXPECT_EQ(ReadFile(prog.file("subj.lst")), saved);
    EXPECT_EQ(Status(), "Message Total: 3 Number Marked: 3");

    Select({1});
    main->AddtoExceptions1->trigger();
    EXPECT_NE(ReadFile(prog.file("except.lst")).find("ann@friend.example"), std::string::npos);
    EXPECT_EQ(Status(), "Message Total: 3 Number Marked: 2");
}

TEST_F(MainWindowTest, ChooserCancelChecksNothingAndOkChecksTheChosenMailbox) {
    FakeServer srv;
    Session(srv, {});
    Mailbox(1, "pop.invalid");
    Mailbox(5, srv.Address());
    Start();
    const auto answerChooser = [](std::function<void(TfrmWhichMailbox&)> answer) {
        QTimer::singleShot(0, [answer] {
            auto* chooser = qobject_cast<TfrmWhichMailbox*>(QApplication::activeModalWidget());
            ASSERT_NE(chooser, nullptr);
            answer(*chooser);
        });
    };
    int entries = 0;
    std::string preselected;
    answerChooser([&](TfrmWhichMailbox& chooser) {
        entries = chooser.cbMailbox->count();
        preselected = chooser.cbMailbox->currentText().toStdString();
        chooser.btCancel->click();
    });
    main->btList->click();
    EXPECT_EQ(entries, 2);
    EXPECT_EQ(preselected, "1) Mailbox bob - Server pop.invalid");
    EXPECT_EQ(srv.Connections(), 0);
    EXPECT_EQ(ExitCaption(), "Goodbye");

    answerChooser([](TfrmWhichMailbox& chooser) {
        chooser.cbMailbox->setCurrentIndex(1);
        chooser.btOK->click();
    });
    main->btList->click();
    ASSERT_TRUE(srv.Finish()) << srv.Report();
    EXPECT_EQ(main->CurrentMailbox(), 5);
}

class DeletionTest : public MainWindowTest {
  protected:
    // Lists the three messages, then deletes the two marked ones; with
    // launch, the mail program is to take over from the list.
    void CheckThenDelete(FakeServer& srv, bool launch, const char* thenError = nullptr,
                         const std::string& mailer = {}) {
        // The list is left to the mail program only when there is one to start.
        const bool refill = !launch || mailer.empty();
        Session(srv, {kSpam, kFriend, kKnown});
        Login(srv, 3);
        for (int n : {1, 3}) {
            Top(srv, n, n == 1 ? kSpam : kKnown);
            srv.Expect("DELE " + std::to_string(n)).Send("+OK\r\n");
        }
        srv.Expect("QUIT").Send("+OK\r\n").AwaitClientClose();
        if (refill) Session(srv, {kFriend});
        Mailbox(1, srv.Address());
        {
            SettingsStore user = SettingsStore::OpenUser(where);
            keys::Write(user, keys::Mailer, mailer);
        }
        Start();
        Setting(keys::Launch, launch);
        main->btList->click();
        ASSERT_EQ(main->Model().rowCount(), 3);

        // Nothing drives the client again while the deletion talks to it.
        DuringWaits([&] {
            if (!main->Busy()) return;
            ++tries;
            main->btListClick();
            main->DeleteMessages();
            if (duringDeletion) duringDeletion();
        });
        boxes.Expect("confirm", "Really delete messages from server?", true);
        if (thenError) boxes.Expect("error", thenError);
        main->btDelete->click();
        ASSERT_TRUE(srv.Finish()) << srv.Report();
    }
    int tries = 0;
    std::function<void()> duringDeletion;
};

TEST_F(DeletionTest, TwoOfThreeDeletedAfterConfirmationThenRefilled) {
    FakeServer srv;
    CheckThenDelete(srv, false);
    EXPECT_GT(tries, 0);
    ASSERT_EQ(main->Model().rowCount(), 1);
    EXPECT_EQ(Cell(0), "Caf\xC3\xA9?");
    EXPECT_EQ(Status(), "There were 2 messages deleted");
    EXPECT_EQ(keys::Read(SettingsStore::OpenUser(where), keys::Count), "2");
    const std::string log = ReadFile(LogPath());
    EXPECT_NE(log.find("DELETE SPAM on "), log.rfind("DELETE SPAM on "));
    EXPECT_NE(log.find("   Sender:  promo@spam.example\r\n"), std::string::npos);
    EXPECT_EQ(ExitCaption(), "Goodbye");
    EXPECT_FALSE(main->Busy());
    EXPECT_FALSE(main->btDelete->isHidden());
}

// The store may fail between the confirmation and the total (a full disk,
// a store replaced meanwhile): the messages are gone from the server all the
// same, so the list is refilled, the window is free again and the total's
// failure is told on its own.
TEST_F(DeletionTest, ATotalThatCannotBeSavedStillEndsTheDeletion) {
    FakeServer srv;
    duringDeletion = [&] {
        if (srv.Received().find("DELE 3") == std::string::npos ||
            std::filesystem::is_directory(where.userStore))
            return;
        std::filesystem::remove(where.userStore);
        std::filesystem::create_directory(where.userStore);
    };
    CheckThenDelete(srv, false, "Failed to get data for 'Count'");
    ASSERT_EQ(main->Model().rowCount(), 1);
    EXPECT_EQ(Cell(0), "Caf\xC3\xA9?");
    EXPECT_EQ(Status(), "There were 2 messages deleted");
    EXPECT_EQ(ExitCaption(), "Goodbye");
    EXPECT_FALSE(main->Busy());
}

// With launch on but no mail program set, nothing could show the mail left
// on the server: the list is refilled instead of left empty.
TEST_F(DeletionTest, LaunchLeavesTheListToTheMailProgramOnlyWhenOneIsSet) {
    for (const std::string mailer : {"", "/bin/true"}) {
        SCOPED_TRACE(mailer);
        FakeServer srv;
        CheckThenDelete(srv, true, nullptr, mailer);
        EXPECT_EQ(main->Model().rowCount(), mailer.empty() ? 1 : 0);
        EXPECT_EQ(Status(), "There were 2 messages deleted");
    }
}

TEST(SingleInstanceTest, ASecondStartRaisesTheFirstAndEndsWithoutChecking) {
    TempDir runtime;
    SingleInstance first(runtime.path().c_str());
    ASSERT_TRUE(first.Acquire());
    TfrmMain window(Locations{runtime.path(), runtime.file("user.ini")});
    window.showMinimized();
    int asked = 0;
    ASSERT_TRUE(first.Listen([&] {
        ++asked;
        window.RestoreOrRaise();
    }));

    // The real program, started a second time; no mailbox would be reachable.
    QProcess second;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", runtime.path().c_str());
    env.insert("XDG_CONFIG_HOME", runtime.path().c_str());
    env.insert("QT_QPA_PLATFORM", "offscreen");
    second.setProcessEnvironment(env);
    second.start(KELVANE_GUI_PATH, {"--dir", runtime.path().c_str()});
    ASSERT_TRUE(QTest::qWaitFor([&] { return second.state() == QProcess::NotRunning; }, 10000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return asked == 1; }, 5000));
    EXPECT_FALSE(window.isMinimized());
}

}  // namespace
}  // namespace kelvane

int main(int argc, char** argv) {
    return kelvane::test::GuiTestMain(argc, argv);
}
