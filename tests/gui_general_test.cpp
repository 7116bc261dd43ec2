// The general settings dialog offscreen: each row is a control and an action,
// the boxes it shows (told before the action) and what the store holds
// afterwards; a refusal also names the control that has the focus.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStyle>
#include <QTabWidget>
#include <QToolButton>
#include <QtTest/QTest>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "settings/gui/general.h"
#include "settings/gui/generalpages.h"
#include "settings/gui/mailboxpage.h"
#include "settings/gui/which.h"
#include "settings/keys.h"
#include "support/fakesecrets.h"
#include "support/guitest.h"
#include "support/testdir.h"
#include "ui/desktop.h"
#include "ui/filedialogs.h"
#include "ui/sound.h"

namespace kelvane {
namespace {

using test::TempDir;

struct FakeDesktop : ui::Desktop {
    bool OpenFile(const QString& path) override {
        calls.push_back("open " + path.toStdString());
        return true;
    }
    bool StartProgram(const std::vector<std::string>& argv) override {
        std::string call = "start";
        for (const std::string& a : argv)
            call += " " + a;
        calls.push_back(call);
        return true;
    }
    std::vector<std::string> calls;
};

struct FakeSound : ui::Sound {
    void Play(const QString& path, bool loop) override {
        calls.push_back((loop ? "loop " : "once ") + path.toStdString());
    }
    void Stop() override { calls.push_back("stop"); }
    void Beep() override { calls.push_back("beep"); }
    std::vector<std::string> calls;
};

const std::string kPin = "AB:" + std::string(62, '0');
// The choices of cbPasswordFrom and cbSignIn.
constexpr int kKeyring = 0, kCommand = 2, kXOAuth2 = 1;
const std::string kStoredPin = "ab" + std::string(62, '0');
constexpr const char* kAbsent = "<absent>";

class GeneralDialogTest : public ::testing::Test {
  public:
    GeneralDialogTest() {
        SettingsStore user = SettingsStore::OpenUser(where);
        keys::Write(user, keys::Launch, true);
        WriteMailboxSlot(user, 1, {"pop.one", "ann", "pw1"});
        test::WriteFile(prog.file("logfile.txt"), "a line\r\n");
        test::WriteFile(prog.file("harptune.wav"), "RIFF");
        ui::SetFilePicker([this](QWidget*, const ui::FileRequest& r) -> std::optional<QString> {
            asked.push_back(r.title.toStdString() + "|" + r.filter.toStdString());
            return QString::fromStdString(home.file("picked"));
        });
    }
    ~GeneralDialogTest() override {
        ui::SetFilePicker({});
        EXPECT_TRUE(boxes.Done()) << "a box told about was not shown";
    }
    void Open() {
        DesktopPlaces places;  // finds nothing
        places.xdgMime.clear();
        dialog = std::make_unique<TfrmGeneral>(where, nullptr, places);
        dialog->SetMessageBoxes(&boxes);
        dialog->SetDesktop(&desktop);
        dialog->SetSound(&sound);
        dialog->SetSecretStore(&secrets);
        dialog->show();
    }
    std::string Stored(const char* section, const std::string& key) const {
        return SettingsStore::OpenUser(where).ReadString(section, key, kAbsent);
    }
    template <typename T = QWidget>
    T* Control(const char* name) const {
        T* w = dialog->findChild<T*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    void Type(const char* name, const std::string& text) {
        Control<QLineEdit>(name)->setText(QString::fromStdString(text));
    }
    void Click(const char* name) { Control<QAbstractButton>(name)->click(); }
    void Choose(const char* name, int index) { Control<QComboBox>(name)->setCurrentIndex(index); }
    MailboxAccount StoredSlot(int n) const {
        MailboxTable table;
        readServerSettings(SettingsStore::OpenUser(where), table);
        return table.slot(n);
    }

    TempDir home, prog;
    Locations where{prog.path(), home.file("user.ini")};
    test::ScriptedBoxes boxes;
    FakeDesktop desktop;
    FakeSound sound;
    test::FakeSecrets secrets;
    std::vector<std::string> asked;  // the file dialogs, title and filter
    std::unique_ptr<TfrmGeneral> dialog;
};

struct Row {
    const char* name;
    std::function<void(GeneralDialogTest&)> act;
    std::map<std::string, std::string> store;  // "Section/Key" -> value (kAbsent)
    const char* focus = nullptr;               // a refusal: the focused control
};

TEST_F(GeneralDialogTest, ControlAndActionToWhatTheStoreHolds) {
    using T = GeneralDialogTest;
    const auto ok = [](T& t) { t.Click("btOK"); };
    const std::vector<Row> rows = {
        {"a mailbox row with its security and pin, made the default",
         [&](T& t) {
             t.Type("edServe2", "pop.two");
             t.Type("edName2", "bob");
             t.Type("edPass2", "pw2");
             t.Control<QComboBox>("cbSecurity2")->setCurrentIndex(2);
             t.Type("edFingerprint2", kPin);
             t.Click("rb2");
             ok(t);
         },
         {{"Server/Which", "2"},
          {"Server/Server2", "pop.two"},
          {"Server/Mailbox2", "bob"},
          {"Server/Security2", "2"},
          {"Server/Fingerprint2", kStoredPin}}},
        {"no password: refused, and nothing of the page or the interval written",
         [&](T& t) {
             t.Type("edServe1", "changed.one");
             t.Control<QSpinBox>("nMinutes")->setValue(30);
             t.Type("edServe3", "pop.three");
             t.Type("edName3", "cy");
             t.Type("edServe4", "pop.four");
             t.boxes.Expect("error", "Mailbox 3 - there is no password set");
             ok(t);
         },
         {{"Server/Server1", "pop.one"},
          {"Server/Server3", kAbsent},
          {"Server/Server4", kAbsent},
          {"General/Minutes", kAbsent}},
         "edPass3"},
        {"server without mailbox",
         [&](T& t) {
             t.Type("edServe4", "pop.four");
             t.boxes.Expect("error", "Mailbox 4 has a server pop.four but no mailbox");
             ok(t);
         },
         {{"Server/Server4", kAbsent}},
         "edName4"},
        {"mailbox without server",
         [&](T& t) {
             t.Type("edName5", "dee");
             t.boxes.Expect("error", "Mailbox 5 dee has a blank server");
             ok(t);
         },
         {{"Server/Mailbox5", kAbsent}},
         "edServe5"},
        {"a pin on a plain connection",
         [&](T& t) {
             t.Type("edFingerprint1", kPin);
             t.boxes.Expect("error", "Mailbox 1 - a pinned fingerprint needs TLS or STARTTLS");
             ok(t);
         },
         {{"Server/Fingerprint1", kAbsent}},
         "cbSecurity1"},
        {"a keyring slot: the typed password goes to the keyring, none into the file",
         [&](T& t) {
             t.Type("edServe2", "pop.two");
             t.Type("edName2", "bob");
             t.Choose("cbPasswordFrom2", kKeyring);
             t.Type("edPass2", "pw2");
             ok(t);
             EXPECT_EQ(t.secrets.items, (decltype(t.secrets.items){{{"pop.two", "bob"}, "pw2"}}));
             EXPECT_TRUE(t.Control<QLineEdit>("edPass2")->text().isEmpty());
         },
         {{"Server/Server2", "pop.two"},
          {"Server/Passwd2", ""},
          {"Server/PasswordStore2", "keyring"}}},
        {"no keyring answers: the password stays in the file, and the user is told",
         [&](T& t) {
             t.secrets.answers = false;
             t.Type("edServe2", "pop.two");
             t.Type("edName2", "bob");
             t.Choose("cbPasswordFrom2", kKeyring);
             t.Type("edPass2", "pw2");
             t.boxes.Expect("info", NoKeyringText(2));
             ok(t);
             EXPECT_EQ(t.StoredSlot(2).password, "pw2");
         },
         {{"Server/Server2", "pop.two"}, {"Server/PasswordStore2", kAbsent}}},
        {"keyring chosen for a new slot with no password: refused",
         [&](T& t) {
             t.Type("edServe3", "pop.three");
             t.Type("edName3", "cy");
             t.Choose("cbPasswordFrom3", kKeyring);
             t.boxes.Expect("error", "Mailbox 3 - there is no password set");
             ok(t);
         },
         {{"Server/Server3", kAbsent}},
         "edPass3"},
        {"a password command with OAuth 2.0 sign-in over TLS",
         [&](T& t) {
             t.Type("edServe2", "pop.two");
             t.Type("edName2", "bob");
             t.Type("edPass2", "left over");
             t.Choose("cbPasswordFrom2", kCommand);
             EXPECT_TRUE(t.Control("edPassCommand2")->isVisible());
             EXPECT_FALSE(t.Control("edPass2")->isVisible());
             t.Type("edPassCommand2", "oama access bob");
             t.Choose("cbSignIn2", kXOAuth2);
             t.Choose("cbSecurity2", 1);
             ok(t);
         },
         {{"Server/Passwd2", ""},
          {"Server/PasswordStore2", "command"},
          {"Server/PasswordCommand2", "oama access bob"},
          {"Server/Auth2", "xoauth2"},
          {"Server/Security2", "1"}}},
        {"OAuth 2.0 sign-in over a plain connection: refused",
         [&](T& t) {
             t.Choose("cbSignIn1", kXOAuth2);
             t.boxes.Expect("error",
                            "Mailbox 1 - OAuth 2.0 sign-in (XOAUTH2) needs TLS or STARTTLS: a "
                            "token never crosses a plain connection");
             ok(t);
         },
         {{"Server/Auth1", kAbsent}},
         "cbSecurity1"},
        {"a keyring slot shows no password and takes its item to a renamed server",
         [&](T& t) {
             SettingsStore user = SettingsStore::OpenUser(t.where);
             MailboxAccount a{"pop.two", "bob", ""};
             a.passwordSource = PasswordSource::Keyring;
             WriteMailboxSlot(user, 2, a);
             t.secrets.items[{"pop.two", "bob"}] = "pw2";
             t.dialog->ReadMailboxes();
             EXPECT_EQ(t.secrets.calls, 0);
             EXPECT_EQ(t.Control<QComboBox>("cbPasswordFrom2")->currentIndex(), kKeyring);
             EXPECT_TRUE(t.Control<QLineEdit>("edPass2")->text().isEmpty());
             t.Type("edServe2", "pop.two.example");
             ok(t);
             EXPECT_EQ(t.secrets.items,
                       (decltype(t.secrets.items){{{"pop.two.example", "bob"}, "pw2"}}));
         },
         {{"Server/Server2", "pop.two.example"},
          {"Server/Passwd2", ""},
          {"Server/PasswordStore2", "keyring"}}},
        {"renamed while no keyring answers: refused, the item cannot follow",
         [&](T& t) {
             SettingsStore user = SettingsStore::OpenUser(t.where);
             MailboxAccount a{"pop.two", "bob", ""};
             a.passwordSource = PasswordSource::Keyring;
             WriteMailboxSlot(user, 2, a);
             t.dialog->ReadMailboxes();
             t.secrets.answers = false;
             t.Type("edName2", "bobby");
             t.boxes.Expect("error",
                            "No keyring answered: the password of mailbox 2 cannot go with the "
                            "new server or user; type it again");
             ok(t);
         },
         {{"Server/Mailbox2", "bob"}},
         "edPass2"},
        {"deleting without confirmation in automatic mode warns",
         [&](T& t) {
             t.Click("rbAuto");
             t.Click("cbKill");
             t.boxes.Expect("warning", kOverDeleteWarning);
             ok(t);
         },
         {{"General/Automatic", "1"}, {"General/Kill", "1"}}},
        {"in manual mode it does not",
         [&](T& t) {
             t.Click("rbAuto");
             t.Click("rbManual");
             t.Click("cbKill");
             ok(t);
         },
         {{"General/Automatic", kAbsent}, {"General/Kill", "1"}}},
        {"a tray start changed asks for a restart; changed back it does not",
         [&](T& t) {
             t.Click("cbSysTray");
             t.Click("cbSysTray");
             t.Click("cbExit");
             ok(t);
             t.dialog->show();
             t.Click("cbSysTray");
             t.boxes.Expect("info", kRestartText);
             ok(t);
         },
         {{"General/SysTray", "1"}, {"General/Exit", "1"}}},
        {"showing fills the sound and log paths, stored with OK",
         ok,
         {{"General/AlarmFile", "PROG/harptune.wav"}, {"General/Logfile", "PROG/logfile.txt"}}},
        {"reset counter: Yes",
         [&](T& t) {
             t.boxes.Expect("confirm", "Really reset spam counter?", true);
             t.Click("btReset");
             ok(t);
         },
         {{"General/Count", "0"}}},
        {"reset counter: No",
         [&](T& t) {
             t.boxes.Expect("confirm", "Really reset spam counter?", false);
             t.Click("btReset");
             ok(t);
         },
         {{"General/Count", "7"}}},
        {"browse for the log file, a save dialog of text files",
         [&](T& t) {
             t.Click("btBrowseLog");
             ok(t);
             EXPECT_EQ(t.asked,
                       std::vector<std::string>{"Log file|Text files (*.txt);;All files (*)"});
         },
         {{"General/Logfile", "HOME/picked"}}},
        {"browse for the sound and the mail program",
         [&](T& t) {
             t.Click("btBrowseAlarm");
             t.Click("btBrowseMail");
             ok(t);
             EXPECT_EQ(t.asked,
                       (std::vector<std::string>{"Sound files|Sound files (*.wav);;All files (*)",
                                                 "Mail program|All files (*)"}));
         },
         {{"General/AlarmFile", "HOME/picked"}, {"General/Mailer", "HOME/picked"}}},
        {"Cancel restores every control; the next OK writes nothing changed",
         [&](T& t) {
             t.Type("edServe2", "pop.two");
             t.Click("cbConfirmation");
             t.Control<QComboBox>("cbSecurity1")->setCurrentIndex(1);
             t.Control<QSpinBox>("nTimeOut")->setValue(15);
             t.Click("btCancel");
             EXPECT_TRUE(t.Control<QLineEdit>("edServe2")->text().isEmpty());
             EXPECT_TRUE(t.Control<QCheckBox>("cbConfirmation")->isChecked());
             EXPECT_EQ(t.Control<QSpinBox>("nTimeOut")->value(), 60);
             t.dialog->show();
             ok(t);
         },
         {{"Server/Server2", ""},
          {"Server/Security1", kAbsent},
          {"General/Ask", kAbsent},
          {"General/TimeOut", kAbsent}}},
        {"Return in a field is OK",
         [&](T& t) {
             t.Type("edServe2", "pop.two");
             t.Type("edName2", "bob");
             t.Type("edPass2", "pw2");
             QTest::keyClick(t.Control("edPass2"), Qt::Key_Return);
         },
         {{"Server/Server2", "pop.two"}}},
        {"Escape is Cancel",
         [&](T& t) {
             t.Type("edServe2", "pop.two");
             QTest::keyClick(t.Control("edServe2"), Qt::Key_Escape);
             EXPECT_TRUE(t.Control<QLineEdit>("edServe2")->text().isEmpty());
         },
         {{"Server/Server2", kAbsent}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        {
            std::filesystem::remove(where.userStore);
            SettingsStore user = SettingsStore::OpenUser(where);
            keys::Write(user, keys::Launch, true);
            keys::Write(user, keys::Count, "7");
            WriteMailboxSlot(user, 1, {"pop.one", "ann", "pw1"});
        }
        asked.clear();
        secrets = test::FakeSecrets{};
        Open();
        row.act(*this);
        for (const auto& [where_key, value] : row.store) {
            const auto slash = where_key.find('/');
            std::string expected = value;
            for (const auto& [mark, folder] :
                 {std::pair{"PROG", prog.path()}, {"HOME", home.path()}})
                if (expected.rfind(mark, 0) == 0) expected = folder + expected.substr(4);
            EXPECT_EQ(Stored(where_key.substr(0, slash).c_str(), where_key.substr(slash + 1)),
                      expected)
                << where_key;
        }
        EXPECT_EQ(dialog->isVisible(), row.focus != nullptr);
        if (row.focus) {
            EXPECT_EQ(dialog->pcGeneral->currentWidget(), dialog->pgMailboxes);
            ASSERT_NE(dialog->focusWidget(), nullptr);
            EXPECT_EQ(dialog->focusWidget()->objectName().toStdString(), row.focus);
            // Cancel after a refusal: the store still holds the old values.
            dialog->reject();
            EXPECT_EQ(Control<QLineEdit>("edServe1")->text().toStdString(), "pop.one");
        }
        ASSERT_TRUE(boxes.Done());
        dialog.reset();
    }
}

TEST_F(GeneralDialogTest, LogFileSoundAndMailProgramButtons) {
    Open();
    Click("btView");
    boxes.Expect("confirm", "Really clear out log file?", true);
    Click("btClear");
    EXPECT_FALSE(std::filesystem::exists(prog.file("logfile.txt")));
    boxes.Expect("error", "Unable to open log file. ");
    Click("btView");

    // Test with repeat off stays "Test"; with repeat on it becomes "Stop".
    Control<QCheckBox>("cbRepeat")->setChecked(false);
    Click("btTest");
    EXPECT_EQ(Control<QPushButton>("btTest")->text(), "Test");
    Control<QCheckBox>("cbRepeat")->setChecked(true);
    Click("btTest");
    EXPECT_EQ(Control<QPushButton>("btTest")->text(), "Stop");
    Click("btTest");
    EXPECT_EQ(Control<QPushButton>("btTest")->text(), "Test");
    const std::string wav = prog.file("harptune.wav");
    EXPECT_EQ(sound.calls, (std::vector<std::string>{"once " + wav, "loop " + wav, "stop"}));

    boxes.Expect("error", ui::kNoMailerText);
    Click("btLaunchMail");
    Type("edMail", "mutt -f \"/my mail/box\"");
    Click("btLaunchMail");
    EXPECT_EQ(desktop.calls, (std::vector<std::string>{"open " + prog.file("logfile.txt"),
                                                       "start mutt -f /my mail/box"}));

    test::WriteFile(prog.file("Kelvane.hlp"), "<html></html>");
    Click("btHelp");
    // The dialog's topic: a page of its own, since desktops drop the anchor.
    const std::string opened = desktop.calls.back();
    ASSERT_TRUE(QString::fromStdString(opened).endsWith("/Kelvane-help-200.html")) << opened;
    EXPECT_NE(test::ReadFile(opened.substr(5)).find("url=Kelvane-help.html#topic-200\""),
              std::string::npos);
}

// OK in the chooser with no entry (the current mailbox has no server) waits
// for a choice, so a check never starts on a slot without a server.
TEST(WhichMailbox, OkWithoutAnEntryWaitsForAChoice) {
    MailboxTable table;
    table.slot(1) = {"pop.one", "ann", "pw"};
    table.slot(3) = {"pop.three", "cy", "pw"};
    TfrmWhichMailbox chooser(table, 2);
    chooser.show();
    EXPECT_EQ(chooser.cbMailbox->currentIndex(), -1);
    chooser.btOK->click();
    EXPECT_TRUE(chooser.isVisible());
    EXPECT_EQ(chooser.focusWidget(), chooser.cbMailbox);
    chooser.cbMailbox->setCurrentIndex(1);
    chooser.btOK->click();
    EXPECT_EQ(chooser.result(), QDialog::Accepted);
    EXPECT_EQ(chooser.Chosen(), 3);
}

// Not a test: scripts/screenshots.sh sets KELVANE_SCREENSHOTS to a folder and
// gets the mailbox page in the light and a dark palette.
TEST_F(GeneralDialogTest, Screenshots) {
    const char* out = std::getenv("KELVANE_SCREENSHOTS");
    if (!out) GTEST_SKIP() << "KELVANE_SCREENSHOTS not set";
    SettingsStore user = SettingsStore::OpenUser(where);
    WriteMailboxSlot(user, 2, {"pop.work.example", "ann.b", "pw", ConnectionSecurity::Tls, ""});
    WriteMailboxSlot(
        user, 3,
        {"mail.home.lan", "ann", "pw", ConnectionSecurity::StartTls, std::string(64, 'c')});
    QApplication::setStyle("Fusion");
    const QPalette light = QApplication::style()->standardPalette();
    const QPalette dark = test::DarkPalette();
    for (auto [name, palette] :
         {std::pair{"general-mailboxes", light}, {"general-mailboxes-dark", dark}}) {
        QApplication::setPalette(palette);
        Open();
        dialog->resize(900, 520);
        Control<QLineEdit>("edServe2")->setFocus();
        QTest::qWait(200);
        ASSERT_TRUE(dialog->grab().save(QString(out) + "/" + name + ".png"));
        dialog.reset();
    }
}

// The pages follow the radio pair and cbKill; every control has a name a
// screen reader can say.
TEST_F(GeneralDialogTest, PanelsFollowTheChoicesAndEveryControlIsNamed) {
    Open();
    QStringList tabs;
    for (int i = 0; i < dialog->pcGeneral->count(); ++i)
        tabs << dialog->pcGeneral->tabText(i);
    EXPECT_EQ(tabs.join(","), "Mailboxes,Connection,Automatic,Start Up,Logfile,Mail program");
    dialog->pcGeneral->setCurrentWidget(dialog->pgAutomatic);
    EXPECT_TRUE(Control("pnlManual")->isVisible());
    Click("rbAuto");
    EXPECT_FALSE(Control("pnlManual")->isVisible());
    EXPECT_TRUE(Control("pnlSound")->isVisible());
    EXPECT_FALSE(Control("cbCheckAll")->isVisible());
    Click("cbKill");
    EXPECT_FALSE(Control("pnlSound")->isVisible());
    EXPECT_TRUE(Control("cbCheckAll")->isVisible());

    for (QWidget* w : dialog->findChildren<QWidget*>()) {
        const bool control = qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w) ||
                             qobject_cast<QComboBox*>(w) || qobject_cast<QAbstractSpinBox*>(w);
        if (!control || w->objectName().startsWith("qt_") || w->parent()->inherits("QTabBar"))
            continue;
        EXPECT_FALSE(w->accessibleName().isEmpty()) << w->objectName().toStdString();
    }
    EXPECT_EQ(Control("edServe7")->accessibleName(), "POP Server 7");
    EXPECT_EQ(Control("edName12")->accessibleName(), "User Name/Mailbox 12");
    EXPECT_EQ(Control("Edit1")->accessibleName(), "Store results in log file:");
    EXPECT_EQ(Control("btView")->accessibleName(), "View log file");
    EXPECT_EQ(Control<QLineEdit>("edPass3")->echoMode(), QLineEdit::Password);
    EXPECT_EQ(Control<QComboBox>("cbSecurity1")->itemText(2), "STARTTLS");
}

// A first start that finds no mail program turns launching off, so a
// deletion refills the list; a stored choice is never touched.
TEST_F(GeneralDialogTest, FirstStartWithoutAMailProgramStoresLaunchOff) {
    std::filesystem::remove(where.userStore);
    Open();
    EXPECT_EQ(Stored("General", "Launch"), "0");
    EXPECT_FALSE(dialog->Settings().launch);
    dialog.reset();
    SettingsStore user = SettingsStore::OpenUser(where);
    keys::Write(user, keys::Launch, true);
    Open();
    EXPECT_TRUE(dialog->Settings().launch);
}

}  // namespace
}  // namespace kelvane

int main(int argc, char** argv) {
    return kelvane::test::GuiTestMain(argc, argv);
}
