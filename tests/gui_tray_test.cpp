// The real tray icon against a fake StatusNotifierWatcher on a private
// session bus: the wait for the tray host ends when the host is there, and
// the program started in the tray registers its icon with the watcher. Skipped without dbus-daemon
// or python3-dbus; failed instead when CI is set.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QFileInfo>
#include <QMenu>
#include <QProcess>
#include <QtTest/QTest>
#include <memory>
#include <string>

#include "settings/keys.h"
#include "settings/settingsstore.h"
#include "support/guitest.h"
#include "support/testdir.h"
#include "ui/tray.h"

#ifndef KELVANE_TEST_SOURCE_DIR
#define KELVANE_TEST_SOURCE_DIR "."
#endif

namespace kelvane {
namespace {

void SkipOrFail(const std::string& why) {
    if (::getenv("CI")) FAIL() << why;
    GTEST_SKIP() << why;
}

// A program of ours on the X display, with its settings in home.
QProcessEnvironment DisplayEnvironment(const test::TempDir& home, const QString& display) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", home.path().c_str());
    env.insert("XDG_RUNTIME_DIR", home.path().c_str());
    env.insert("DISPLAY", display);
    env.insert("QT_QPA_PLATFORM", "xcb");
    return env;
}

// The real program, set to start in the tray.
void StartInTray(QProcess& program, const test::TempDir& home, const QProcessEnvironment& env) {
    ::setenv("XDG_CONFIG_HOME", home.path().c_str(), 1);
    {
        SettingsStore user =
            SettingsStore::OpenUser(Locations{home.path(), Locations::DefaultUserStore()});
        keys::Write(user, keys::SysTray, true);
    }
    ::unsetenv("XDG_CONFIG_HOME");
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(KELVANE_GUI_PATH, {"--dir", home.path().c_str()});
}

TEST(RealTrayTest, WaitsForTheHostThenRegistersWithTheWatcher) {
    const QString python = "/usr/bin/python3";
    QProcess probe;
    probe.start(python, {"-c", "import dbus, gi.repository.GLib"});
    if (!QFileInfo::exists("/usr/bin/dbus-daemon") || !probe.waitForFinished(10000) ||
        probe.exitCode() != 0)
        return SkipOrFail("dbus-daemon or python3-dbus with python3-gi is missing");

    QProcess bus;
    bus.start("/usr/bin/dbus-daemon", {"--session", "--nofork", "--print-address=1"});
    ASSERT_TRUE(bus.waitForReadyRead(10000));
    const QByteArray address = bus.readLine().trimmed();
    ASSERT_FALSE(address.isEmpty());
    // Before anything of ours opens the session bus.
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address.constData(), 1);

    // No watcher yet: the wait goes on.
    bool ready = false;
    QObject context;
    ui::WaitForTrayHost(&context, 20000, [&] { ready = true; });
    QTest::qWait(600);
    EXPECT_FALSE(ready);

    QProcess watcher;
    watcher.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    watcher.start(python, {KELVANE_TEST_SOURCE_DIR "/support/fake_sni_watcher.py"});
    ASSERT_TRUE(watcher.waitForReadyRead(10000));
    EXPECT_EQ(watcher.readLine().trimmed().toStdString(), "ready");
    ASSERT_TRUE(QTest::qWaitFor([&] { return ready; }, 5000));

    // The real program, in the tray, on a private X display: there is no
    // tray offscreen.
    if (!QFileInfo::exists("/usr/bin/Xvfb")) return SkipOrFail("Xvfb is missing");
    QProcess x;
    x.start("/usr/bin/Xvfb", {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "800x600x24"});
    ASSERT_TRUE(x.waitForReadyRead(10000));
    const QString display = ":" + QString::fromLatin1(x.readLine().trimmed());
    test::TempDir home;
    QProcessEnvironment env = DisplayEnvironment(home, display);
    QProcess program;
    StartInTray(program, home, env);
    QByteArray said;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            said += watcher.readAll();
            return said.contains("item ");
        },
        15000))
        << said.toStdString();
    program.terminate();
    program.waitForFinished();
    x.terminate();
    x.waitForFinished();
    watcher.kill();
    watcher.waitForFinished();
    bus.kill();
    bus.waitForFinished();
}

// The X display's window tree, as xwininfo prints it: a window a line,
// its children below it indented further.
QByteArray WindowTree(const QString& display) {
    QProcess tree;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display);
    tree.setProcessEnvironment(env);
    tree.start("/usr/bin/xwininfo", {"-root", "-tree"});
    tree.waitForFinished(5000);
    return tree.readAllStandardOutput();
}

// Whether a window of class Kelvane sits inside trayer's panel.
bool DockedInPanel(const QByteArray& tree) {
    int panelIndent = -1;
    for (const QByteArray& line : tree.split('\n')) {
        const int indent = static_cast<int>(line.size() - line.trimmed().size());
        if (line.contains("(\"panel\" \"trayer\")")) {
            panelIndent = indent;
        } else if (panelIndent >= 0 && indent <= panelIndent) {
            panelIndent = -1;
        } else if (panelIndent >= 0 && line.contains("(\"kelvane\" \"Kelvane\")")) {
            return true;
        }
    }
    return false;
}

// An XEmbed tray (trayer) on a desktop whose session bus has no
// StatusNotifierWatcher: the wait for the tray host ends at once and the
// icon docks, long before the wait's bound.
TEST(RealTrayTest, AnXEmbedTrayEndsTheWaitAtOnce) {
    for (const char* tool :
         {"/usr/bin/dbus-daemon", "/usr/bin/Xvfb", "/usr/bin/trayer", "/usr/bin/xwininfo"})
        if (!QFileInfo::exists(tool)) return SkipOrFail(std::string(tool) + " is missing");
    QProcess bus;
    bus.start("/usr/bin/dbus-daemon", {"--session", "--nofork", "--print-address=1"});
    ASSERT_TRUE(bus.waitForReadyRead(10000));
    const QByteArray address = bus.readLine().trimmed();
    QProcess x;
    x.start("/usr/bin/Xvfb", {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "800x600x24"});
    ASSERT_TRUE(x.waitForReadyRead(10000));
    const QString display = ":" + QString::fromLatin1(x.readLine().trimmed());
    test::TempDir home;
    QProcessEnvironment env = DisplayEnvironment(home, display);
    env.insert("DBUS_SESSION_BUS_ADDRESS", address);
    QProcess trayer;
    trayer.setProcessEnvironment(env);
    trayer.start("/usr/bin/trayer", {"--edge", "top", "--widthtype", "pixel", "--width", "200"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return WindowTree(display).contains("panel"); }, 10000))
        << WindowTree(display).toStdString();
    QProcess program;
    StartInTray(program, home, env);
    // The wait's bound is 30 s; an XEmbed tray ends it at its first look.
    QByteArray tree;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            tree = WindowTree(display);
            return DockedInPanel(tree);
        },
        10000))
        << tree.toStdString();
    program.terminate();
    program.waitForFinished();
    trayer.terminate();
    trayer.waitForFinished();
    x.terminate();
    x.waitForFinished();
    bus.kill();
    bus.waitForFinished();
}

}  // namespace
}  // namespace kelvane

int main(int argc, char** argv) {
    return kelvane::test::GuiTestMain(argc, argv);
}
