// Automatic mode of the main window, offscreen, on a minute clock the test
// ticks by hand, with the tray and the sound replaced by recorders: the
// countdown and its captions, the unattended walk (stopping at mail, or
// deleting everywhere), and switching the mode from the tray.

#include <gtest/gtest.h>

#include <QAction>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QRadioButton>
#include <QToolButton>
#include <memory>
#include <string>
#include <vector>

#include "app/gui/countdown.h"
#include "app/gui/messagemodel.h"
#include "app/gui/optRetrieve.h"
#include "app/gui/rmmain.h"
#include "rules/gui/optsmain.h"
#include "settings/gui/general.h"
#include "settings/keys.h"
#include "support/fakeserver.h"
#include "support/guitest.h"
#include "support/pop3script.h"
#include "support/testdir.h"

namespace kelvane {
namespace {

using test::FakeServer;
using test::ReadFile;
using test::TempDir;

class FakeClock : public MinuteClock {
  public:
    void Start() override { running = true; }
    void Stop() override { running = false; }
    bool Running() const override { return running; }
    void Tick() {
        if (running && OnTick) OnTick();
    }
    bool running = false;
};

class FakeTray : public ui::TrayIcon {
  public:
    bool Available() const override { return true; }
    void Show() override { shown = true; }
    void SetHint(const QString& text) override { hint = text.toStdString(); }
    void SetAnimated(bool on) override { animated = on; }
    void ShowHammer() override {}
    void SetMenu(QMenu*) override {}
    void SetMenuEnabled(bool on) override {
        if (!on) ++suppressed;
    }
    bool shown = false, animated = false;
    int suppressed = 0;
    std::string hint;
};

class FakeSound : public ui::Sound {
  public:
    void Play(const QString& file, bool loop) override {
        played.push_back(QFileInfo(file).fileName().toStdString() + (loop ? " looping" : ""));
    }
    void Stop() override { ++stops; }
    void Beep() override { played.push_back("beep"); }
    std::vector<std::string> played;
    int stops = 0;
};

// The network as the test says; a postponed run starts when Online() is called.
class FakeGate : public RunGate {
  public:
    bool MayRunNow() const override { return online; }
    void Postpone() override { ++postponed; }
    void SetNextRunDue(const QDateTime&) override {}
    void Online() {
        online = true;
        if (postponed > 0 && onRunDue_) onRunDue_();
    }
    bool online = true;
    int postponed = 0;
};

class FakeNotifier : public Notifier {
  public:
    void Show(const QString& body) override { shown.push_back(body.toStdString()); }
    std::vector<std::string> shown;
};

struct Msg {
    std::string id, from, subject;
};
const Msg kSpam{"1@x", "deals@shop.example", "FREE offer"};
const Msg kFriend{"2@x", "ann@friend.example", "Lunch"};

FakeServer& Login(FakeServer& srv, const std::string& user, std::size_t count) {
    return test::ScriptLogin(srv, user, "pw", "+OK " + std::to_string(count) + " 1000");
}
FakeServer& Top(FakeServer& srv, int n, const Msg& m) {
    const std::string num = std::to_string(n);
    return srv.Expect("LIST " + num)
        .Send("+OK " + num + " 100\r\n")
        .Expect("TOP " + num + " 1")
        .Send("+OK\r\nMessage-ID: <" + m.id + ">\r\nFrom: " + m.from + "\r\nSubject: " + m.subject +
              "\r\n\r\nbody\r\n.\r\n");
}
FakeServer& Session(FakeServer& srv, const std::string& user, const std::vector<Msg>& msgs) {
    Login(srv, user, msgs.size());
    for (std::size_t i = 0; i < msgs.size(); ++i)
        Top(srv, static_cast<int>(i) + 1, msgs[i]);
    return srv.Expect("QUIT").Send("+OK\r\n").AwaitClientClose();
}
// Deletes message 1 (the spam) of the listed ones, then lists what is left.
FakeServer& DeleteFirst(FakeServer& srv, const std::string& user, const std::vector<Msg>& msgs) {
    Login(srv, user, msgs.size());
    Top(srv, 1, msgs[0]);
    srv.Expect("DELE 1").Send("+OK\r\n").Expect("QUIT").Send("+OK\r\n").AwaitClientClose();
    return Session(srv, user, {msgs.begin() + 1, msgs.end()});
}

class AutomaticTest : public ::testing::Test {
  protected:
    AutomaticTest() {
        test::WriteFile(prog.file("subj.lst"),
                        test::RuleFile(6, {"Contains", "free", "No", "Yes", "0"}));
        test::WriteFile(prog.file("harptune.wav"), "RIFF");
        Set(keys::Logfile, LogPath());
        Set(keys::Launch, false);
        Set(keys::Automatic, true);
        Set(keys::SysTray, true);
        Set(keys::Minutes, 10);
        // These scripted deletions keep no copies; those have tests of their own.
        Set(keys::KeepDeleted, false);
    }
    ~AutomaticTest() override { EXPECT_TRUE(boxes.Done()) << "a box told about was not shown"; }
    template <typename Key, typename Value>
    void Set(const Key& key, Value value) {
        SettingsStore user = SettingsStore::OpenUser(where);
        keys::Write(user, key, value);
    }
    void Mailbox(int slot, const std::string& server, const std::string& user) {
        SettingsStore store = SettingsStore::OpenUser(where);
        WriteMailboxSlot(store, slot, {server, user, "pw"});
    }
    std::string LogPath() const { return home.file("log.txt"); }
    void Start() {
        TfrmMain::Platform platform;
        auto ownClock = std::make_unique<FakeClock>();
        auto ownSound = std::make_unique<FakeSound>();
        clock = ownClock.get();
        sound = ownSound.get();
        platform.clock = std::move(ownClock);
        platform.sound = std::move(ownSound);
        platform.makeTray = [this] {
            auto t = std::make_unique<FakeTray>();
            tray = t.get();
            return t;
        };
        platform.trayWaitMs = 0;
        auto ownGate = std::make_unique<FakeGate>();
        auto ownNotifier = std::make_unique<FakeNotifier>();
        gate = ownGate.get();
        notifier = ownNotifier.get();
        platform.gate = std::move(ownGate);
        platform.notifier = std::move(ownNotifier);
        main = std::make_unique<TfrmMain>(where, std::move(platform));
        main->FormCreate();
        auto* options = new TfrmOptionsMain(where, main.get());
        auto* retrieving = new TfrmRetrieving(main.get());
        general = new TfrmGeneral(where, main.get());
        main->SetMessageBoxes(&boxes);
        main->SetDialogs(*options, *retrieving, *general);
    }
    std::string Caption() const { return main->windowTitle().toStdString(); }

    TempDir home, prog;
    Locations where{prog.path(), home.file("user.ini")};
    test::ScriptedBoxes boxes;
    std::unique_ptr<TfrmMain> main;
    TfrmGeneral* general = nullptr;
    FakeClock* clock = nullptr;
    FakeSound* sound = nullptr;
    FakeTray* tray = nullptr;
    FakeGate* gate = nullptr;
    FakeNotifier* notifier = nullptr;
};

TEST_F(AutomaticTest, CountdownFromTenRunsAtTheTenthTickAndStartsAgain) {
    FakeServer srv;
    Session(srv, "bob", {});
    Mailbox(1, srv.Address(), "bob");
    Start();
    ASSERT_NE(tray, nullptr);
    EXPECT_FALSE(main->isVisible());
    EXPECT_EQ(main->btExit->accessibleName().toStdString(), "Hide");
    EXPECT_TRUE(tray->shown && tray->animated);
    EXPECT_EQ(Caption(), "Kelvane - next e-mail check in 10 minutes");
    std::vector<std::string> captions;
    for (int i = 1; i <= 9; ++i) {
        clock->Tick();
        captions.push_back(Caption());
    }
    EXPECT_EQ(captions.front(), "Kelvane - next e-mail check in 9 minutes");
    EXPECT_EQ(captions[7], "Kelvane - next e-mail check in 2 minutes");
    EXPECT_EQ(captions.back(), "Kelvane - next e-mail check in 1 minute");
    EXPECT_EQ(tray->hint, captions.back());
    EXPECT_EQ(main->lblTitle->text().toStdString(), captions.back());
    EXPECT_EQ(srv.Connections(), 0);

    clock->Tick();
    ASSERT_TRUE(srv.Finish()) << srv.Report();
    EXPECT_EQ(srv.Connections(), 1);
    EXPECT_EQ(main->Timer().Left(), 10);
    EXPECT_TRUE(clock->running);
    EXPECT_FALSE(main->isVisible()) << "an empty mailbox brings nothing up";
    EXPECT_NE(ReadFile(LogPath()).find("MAIL CHECK 0 msg(s) for \"bob\""), std::string::npos);
    EXPECT_TRUE(notifier->shown.empty()) << "nothing happened, nothing to tell";
}

// Offline when the run falls due: no connection and no box, one log line;
// the run comes once the network is back, and the countdown starts again.
TEST_F(AutomaticTest, ARunFallingDueOfflineIsPostponedUntilTheNetworkIsBack) {
    Set(keys::Minutes, 1);
    FakeServer srv;
    Session(srv, "bob", {kSpam});
    Mailbox(1, srv.Address(), "bob");
    Start();
    gate->online = false;
    clock->Tick();
    EXPECT_EQ(srv.Connections(), 0);
    EXPECT_EQ(gate->postponed, 1);
    EXPECT_NE(ReadFile(LogPath()).find("Automatic check postponed: offline at "),
              std::string::npos);

    gate->Online();
    ASSERT_TRUE(srv.Finish()) << srv.Report();
    EXPECT_EQ(main->Timer().Left(), 1);
    ASSERT_EQ(notifier->shown.size(), 1u) << "the walk stopped at mail";
    EXPECT_EQ(notifier->shown[0].rfind("1 message waiting in bob on ", 0), 0u)
        << notifier->shown[0];
}

// Mailboxes 1 and 3 live on one server. The walk stops at 3, which has mail;
// the list, the client and the current number then belong to mailbox 3, so
// deleting the rows shown logs in as 3's user.
TEST_F(AutomaticTest, WalkWithoutKillStopsAtMailboxThreeAndDeletesThereOnly) {
    Set(keys::Minutes, 1);
    FakeServer srv, unvisited;
    Session(srv, "ann", {});
    Session(srv, "bob", {kSpam, kFriend});
    DeleteFirst(srv, "bob", {kSpam, kFriend});
    Mailbox(1, srv.Address(), "ann");
    Mailbox(3, srv.Address(), "bob");
    Mailbox(5, unvisited.Address(), "carl");
    Start();
    // The stored interval as it is: one minute to the first run.
    clock->Tick();

    EXPECT_EQ(Caption(), "MailBox bob - 2 messages");
    EXPECT_TRUE(main->isVisible());
    EXPECT_TRUE(main->Label1->isHidden());
    EXPECT_EQ(sound->played, std::vector<std::string>{"harptune.wav looping"});
    EXPECT_EQ(main->CurrentMailbox(), 3);
    EXPECT_EQ(main->Model().rowCount(), 2);
    EXPECT_GE(tray->suppressed, 2) << "the tray menu stays shut during each header pass";
    EXPECT_EQ(unvisited.Connections(), 0);

    // Automatic mode asks nothing.
    main->btDelete->click();
    ASSERT_TRUE(srv.Finish()) << srv.Report();
    EXPECT_GT(sound->stops, 0) << "a command stops the alarm";
    EXPECT_EQ(main->Model().rowCount(), 1);
    EXPECT_EQ(main->StatusText().toStdString(), "There were 1 messages deleted");
    EXPECT_NE(ReadFile(LogPath()).find(" Mailbox: bob\r\n"), std::string::npos);
    EXPECT_EQ(unvisited.Connections(), 0);
}

TEST_F(AutomaticTest, WalkWithKillDeletesInEveryMailboxWithoutBringingTheWindowUp) {
    Set(keys::Kill, true);
    Set(keys::Minutes, 1);
    FakeServer one, two;
    Session(one, "ann", {kSpam, kFriend});
    DeleteFirst(one, "ann", {kSpam, kFriend});
    Session(two, "bob", {kSpam});
    Login(two, "bob", 1);
    Top(two, 1, kSpam);
    two.Expect("DELE 1").Send("+OK\r\n").Expect("QUIT").Send("+OK\r\n").AwaitClientClose();
    Session(two, "bob", {});
    Mailbox(1, one.Address(), "ann");
    Mailbox(4, two.Address(), "bob");
    Start();
    clock->Tick();
    ASSERT_TRUE(one.Finish()) << one.Report();
    ASSERT_TRUE(two.Finish()) << two.Report();

    EXPECT_FALSE(main->isVisible());
    EXPECT_TRUE(sound->played.empty());
    EXPECT_EQ(keys::Read(SettingsStore::OpenUser(where), keys::Count), "2");
    EXPECT_EQ(tray->hint, "Kelvane - next e-mail check in 1 minute");
    EXPECT_EQ(main->Timer().Left(), 1);
    EXPECT_TRUE(clock->running);
    // The last mailbox is empty now: the client holds the default one again.
    EXPECT_EQ(main->CurrentMailbox(), 1);
    ASSERT_EQ(notifier->shown.size(), 1u) << "one notification for the whole walk";
    EXPECT_NE(notifier->shown[0].find("1 junk message deleted from ann on "), std::string::npos)
        << notifier->shown[0];
    EXPECT_NE(notifier->shown[0].find("1 junk message deleted from bob on "), std::string::npos);
}

TEST_F(AutomaticTest, TheAlarmLoopsOnlyWithRepeatAndBeepsForAMissingFile) {
    struct Row {
        const char* file;  // empty: ours
        bool repeat;
        std::string played;
    } rows[] = {
        {"", true, "harptune.wav looping"},
        {"", false, "harptune.wav"},
        {"/nonexistent/alarm.wav", true, "beep"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.played);
        Set(keys::AlarmFile, std::string(row.file));
        Set(keys::Repeat, row.repeat);
        Start();
        main->playAlarmSound(true);
        EXPECT_EQ(sound->played, std::vector<std::string>{row.played});
        const int stops = sound->stops;
        main->btResetAll->click();
        EXPECT_GT(sound->stops, stops) << "a command stops the alarm";
    }
}

TEST_F(AutomaticTest, SwitchingOffAndOnFromTheTrayRestartsTheCountdownAndLogsBoth) {
    Start();
    for (int i = 0; i < 3; ++i)
        clock->Tick();
    ASSERT_EQ(main->Timer().Left(), 7);

    main->DisableAutomatic1->trigger();
    EXPECT_FALSE(clock->running);
    EXPECT_FALSE(keys::Read(SettingsStore::OpenUser(where), keys::Automatic));
    EXPECT_TRUE(general->rbManual->isChecked());
    EXPECT_TRUE(main->DisableAutomatic1->isChecked());
    EXPECT_FALSE(main->EnableAutomatic1->isChecked());
    EXPECT_FALSE(tray->animated);
    EXPECT_EQ(Caption(), "Kelvane");

    main->EnableAutomatic1->trigger();
    EXPECT_TRUE(clock->running);
    EXPECT_TRUE(general->rbAuto->isChecked());
    EXPECT_TRUE(main->EnableAutomatic1->isChecked());
    EXPECT_EQ(main->Timer().Left(), 10);
    EXPECT_EQ(Caption(), "Kelvane - next e-mail check in 10 minutes");
    const std::string log = ReadFile(LogPath());
    const auto off = log.find("Automatic mode disabled at ");
    ASSERT_NE(off, std::string::npos) << log;
    EXPECT_NE(log.find("Automatic mode enabled at ", off), std::string::npos) << log;
}

}  // namespace
}  // namespace kelvane

int main(int argc, char** argv) {
    return kelvane::test::GuiTestMain(argc, argv);
}
