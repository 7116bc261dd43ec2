// The notifier and the network and sleep rules against python3-dbusmock's
// notification_daemon, networkmanager and logind on private buses.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <vector>

#include "app/gui/desktopbus.h"
#include "app/gui/networkwatch.h"
#include "app/gui/notifier.h"
#include "support/guitest.h"

namespace kelvane {
namespace {

QString Python() {
    for (const char* p : {"/usr/bin/python3", "python3"})
        if (QProcess::execute(p, {"-c", "import dbusmock"}) == 0) return p;
    return {};
}

class DesktopBus : public ::testing::Test {
  protected:
    void SetUp() override {
        python_ = Python();
        if (python_.isEmpty() || QStandardPaths::findExecutable("dbus-daemon").isEmpty()) {
            if (getenv("CI")) FAIL() << "dbus-daemon or python3-dbusmock is missing";
            GTEST_SKIP() << "dbus-daemon or python3-dbusmock is missing, so skipped";
        }
        session_ = StartBus();
        system_ = StartBus();
        ::setenv("DBUS_SESSION_BUS_ADDRESS", session_.toUtf8().constData(), 1);
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", system_.toUtf8().constData(), 1);
    }
    void TearDown() override {
        for (auto& p : processes_) {
            p->kill();
            p->waitForFinished();
        }
    }

    QString StartBus() {
        auto p = std::make_unique<QProcess>();
        p->start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        p->waitForReadyRead(5000);
        const QString address = QString::fromUtf8(p->readLine()).trimmed();
        processes_.push_back(std::move(p));
        return address;
    }

    // Starts a dbusmock template and waits for its name on its bus.
    void StartMock(const QString& tmpl, const QString& name, QDBusConnection bus) {
        auto p = std::make_unique<QProcess>();
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p->start(python_, {"-m", "dbusmock", "--template", tmpl, "-l", log_.filePath(tmpl)});
        processes_.push_back(std::move(p));
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return bus.interface()->isServiceRegistered(name).value(); }, 10000))
            << tmpl.toStdString();
    }

    static void Call(QDBusConnection bus, const QString& service, const QString& path,
                     const QString& method, const QVariantList& args) {
        QDBusMessage m =
            QDBusMessage::createMethodCall(service, path, "org.freedesktop.DBus.Mock", method);
        m.setArguments(args);
        const QDBusMessage reply = bus.call(m);
        ASSERT_NE(reply.type(), QDBusMessage::ErrorMessage) << reply.errorMessage().toStdString();
    }

    QString Log(const QString& tmpl) {
        QFile f(log_.filePath(tmpl));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

    QString python_, session_, system_;
    QTemporaryDir log_;
    std::vector<std::unique_ptr<QProcess>> processes_;
};

TEST_F(DesktopBus, NotificationReplacesTheLastAndItsClickShowsTheWindow) {
    QDBusConnection bus = kelvane::DesktopBus(QDBusConnection::SessionBus);
    StartMock("notification_daemon", "org.freedesktop.Notifications", bus);
    DesktopNotifier notifier(bus);
    int shown = 0;
    notifier.SetOnActivated([&] { ++shown; });

    notifier.Show("4 junk messages deleted from ann on pop.example.com");
    ASSERT_TRUE(QTest::qWaitFor([&] { return notifier.LastId() != 0; }, 5000));
    const uint first = notifier.LastId();
    notifier.Show("1 junk message deleted from ann on pop.example.com");
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return Log("notification_daemon").count("Notify") == 2; }, 5000));
    const QString log = Log("notification_daemon");
    EXPECT_TRUE(
        log.contains("Notify \"Kelvane\" 0 \"org.kelvane.Kelvane\" \"Kelvane\" \"4 junk "
                     "messages deleted from ann on pop.example.com\" [\"default\""))
        << log.toStdString();
    EXPECT_TRUE(log.contains("\"desktop-entry\": \"org.kelvane.Kelvane\"")) << log.toStdString();
    EXPECT_TRUE(log.contains(QString("Notify \"Kelvane\" %1 ").arg(first))) << log.toStdString();

    const QString path = "/org/freedesktop/Notifications";
    const QString iface = "org.freedesktop.Notifications";
    Call(bus, iface, path, "EmitSignal",
         {iface, "ActionInvoked", "us",
          QVariantList{QVariant::fromValue(uint(first + 7)), QString("default")}});
    Call(bus, iface, path, "EmitSignal",
         {iface, "ActionInvoked", "us",
          QVariantList{QVariant::fromValue(notifier.LastId()), QString("default")}});
    EXPECT_TRUE(QTest::qWaitFor([&] { return shown > 0; }, 5000));
    QTest::qWait(100);
    EXPECT_EQ(shown, 1);  // not for another program's notification
}

TEST_F(DesktopBus, WithoutANotificationServerNothingHappens) {
    DesktopNotifier notifier(kelvane::DesktopBus(QDBusConnection::SessionBus));
    notifier.Show("4 junk messages deleted from ann on pop.example.com");
    QTest::qWait(300);
    EXPECT_EQ(notifier.LastId(), 0u);
}

TEST_F(DesktopBus, APostponedRunStartsWhenTheNetworkIsBackAndAfterASleepAcrossItsTime) {
    QDBusConnection system = kelvane::DesktopBus(QDBusConnection::SystemBus);
    StartMock("networkmanager", "org.freedesktop.NetworkManager", system);
    StartMock("logind", "org.freedesktop.login1", system);
    QDateTime clock = QDateTime::fromString("2026-12-08T10:00:00", Qt::ISODate);
    NetworkWatch watch(
        system, [&] { return clock; }, NetworkWatchDelays{200, 400});
    int runs = 0;
    watch.SetOnRunDue([&] { ++runs; });
    const QString nm = "org.freedesktop.NetworkManager";
    const QString nmPath = "/org/freedesktop/NetworkManager";

    Call(system, nm, nmPath, "SetGlobalConnectionState", {uint(20)});
    ASSERT_TRUE(QTest::qWaitFor([&] { return watch.NetworkState() == 20u; }, 5000));
    EXPECT_FALSE(watch.MayRunNow());
    watch.Postpone();
    Call(system, nm, nmPath, "SetGlobalConnectionState", {uint(60)});
    QTest::qWait(500);
    EXPECT_EQ(runs, 0);  // a local network only is still offline
    Call(system, nm, nmPath, "SetGlobalConnectionState", {uint(70)});
    EXPECT_TRUE(QTest::qWaitFor([&] { return runs == 1; }, 5000));
    EXPECT_TRUE(watch.MayRunNow());

    // A sleep that does not reach the next run's time starts nothing.
    const QString login = "org.freedesktop.login1";
    const QString loginPath = "/org/freedesktop/login1";
    auto sleep = [&](bool going) {
        Call(system, login, loginPath, "EmitSignal",
             {"org.freedesktop.login1.Manager", "PrepareForSleep", "b", QVariantList{going}});
    };
    watch.SetNextRunDue(clock.addSecs(600));
    sleep(true);
    clock = clock.addSecs(300);
    sleep(false);
    QTest::qWait(800);
    EXPECT_EQ(runs, 1);
    // One across it starts the run soon after resume.
    sleep(true);
    clock = clock.addSecs(3600);
    sleep(false);
    EXPECT_TRUE(QTest::qWaitFor([&] { return runs == 2; }, 5000));
    QTest::qWait(500);
    EXPECT_EQ(runs, 2);
}

TEST_F(DesktopBus, WithoutNetworkManagerTheTimerAloneDecides) {
    NetworkWatch watch(kelvane::DesktopBus(QDBusConnection::SystemBus));
    QTest::qWait(200);
    EXPECT_TRUE(watch.MayRunNow());
    EXPECT_FALSE(watch.NetworkState().has_value());
}

TEST(NetworkWatchDelays, StayWithinWhatUsersAreTold) {
    EXPECT_LE(NetworkWatchDelays{}.afterOnlineMs, 10000);
    EXPECT_LE(NetworkWatchDelays{}.afterResumeMs, 30000);
}

}  // namespace
}  // namespace kelvane

int main(int argc, char** argv) {
    return kelvane::test::GuiTestMain(argc, argv);
}
