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
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", home.path().c_str());
    env.insert("XDG_RUNTIME_DIR", home.path().c_str());
    env.insert("DISPLAY", display);
    env.insert("QT_QPA_PLATFORM", "xcb");
    {
        ::setenv("XDG_CONFIG_HOME", home.path().c_str(), 1);
        SettingsStore user =
            SettingsStore::OpenUser(Locations{home.path(), Locations::DefaultUserStore()});
        keys::Write(user, keys::SysTray, true);
        ::unsetenv("XDG_CONFIG_HOME");
    }
    QProcess program;
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(KELVANE_GUI_PATH, {"--dir", home.path().c_str()});
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

}  // namespace
}  // namespace kelvane

int main(int argc, char** argv) {
    return kelvane::test::GuiTestMain(argc, argv);
}
