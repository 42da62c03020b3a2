// Run by ctest under dbus-run-session: a session bus of its own, on which this test is the
// desktop's notification service.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QMutex>
#include <QMutexLocker>
#include <QObject>
#include <QStringList>
#include <QThread>
#include <QVariantMap>

#include "platform/DesktopNotify.h"

namespace {

// The notification service: records each Notify call. It lives on a thread and a bus connection
// of its own, so the call really travels over the bus while the test's thread waits for the answer.
class NotificationService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

  public:
    struct Call {
        QString appName;
        uint replacesId = 0;
        QString appIcon, summary, body;
        QStringList actions;
        QVariantMap hints;
        int expireTimeout = 0;
    };

    QList<Call> Calls() {
        QMutexLocker lock(&m_mutex);
        return m_calls;
    }

  public slots:
    uint Notify(const QString& appName, uint replacesId, const QString& appIcon, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap& hints,
                int expireTimeout) {
        QMutexLocker lock(&m_mutex);
        m_calls.push_back({appName, replacesId, appIcon, summary, body, actions, hints, expireTimeout});
        return static_cast<uint>(m_calls.size());
    }

  private:
    QMutex m_mutex;
    QList<Call> m_calls;
};

constexpr const char* kNoBusChild = "ZEZA_NOTIFY_NO_BUS_CHILD";

TEST(DesktopNotifyBus, DeliversTitleAndBodyToTheNotificationService) {
    if (std::getenv("ZEZA_NO_DBUS_RUN_SESSION"))
        GTEST_SKIP() << "dbus-run-session (Debian package dbus-daemon) is not installed";
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (!address || !*address) GTEST_SKIP() << "no session bus: run under dbus-run-session";
    QDBusConnectionInterface* names = QDBusConnection::sessionBus().interface();
    ASSERT_NE(names, nullptr);
    if (names->isServiceRegistered(QStringLiteral("org.freedesktop.Notifications")).value())
        GTEST_SKIP() << "a desktop's notification service runs on this bus: run under dbus-run-session";
    // No service yet: false at once, not a wait for the bus to start one.
    EXPECT_FALSE(zeza::SendDesktopNotification("none", "none"));

    QThread serviceThread;
    serviceThread.start();
    auto service = std::make_unique<NotificationService>();
    service->moveToThread(&serviceThread);
    QDBusConnection bus =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("service"));
    ASSERT_TRUE(bus.isConnected());
    ASSERT_TRUE(bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), service.get(),
                                   QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(bus.registerService(QStringLiteral("org.freedesktop.Notifications")));

    EXPECT_TRUE(zeza::SendDesktopNotification("估值提醒", "000001 某某基金 +2.50%\n第二行"));
    // Sent without waiting for an answer: the call arrives a moment later.
    for (int i = 0; i < 500 && service->Calls().isEmpty(); ++i) QThread::msleep(10);
    const QList<NotificationService::Call> calls = service->Calls();
    ASSERT_EQ(calls.size(), 1);
    const NotificationService::Call& c = calls[0];
    EXPECT_EQ(c.appName, QStringLiteral("Zeza"));
    EXPECT_EQ(c.replacesId, 0u);
    EXPECT_EQ(c.appIcon, QStringLiteral("zeza"));
    EXPECT_EQ(c.summary, QStringLiteral("估值提醒"));
    EXPECT_EQ(c.body, QStringLiteral("000001 某某基金 +2.50%\n第二行"));
    EXPECT_TRUE(c.actions.isEmpty());
    EXPECT_TRUE(c.hints.isEmpty());
    EXPECT_EQ(c.expireTimeout, -1);

    bus.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
    QDBusConnection::disconnectFromBus(QStringLiteral("service"));
    serviceThread.quit();
    serviceThread.wait();
}

TEST(DesktopNotifyBus, WithoutASessionBusFalseAtOnce) {
    // A child without any bus address, so this process's connection stays as it is.
    const std::string cmd =
        "env -u DBUS_SESSION_BUS_ADDRESS -u XDG_RUNTIME_DIR DISPLAY= " + std::string(kNoBusChild) +
        "=1 timeout 10 '" + QCoreApplication::applicationFilePath().toStdString() + "'";
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(std::system(cmd.c_str()), 0) << "the child found a bus, crashed or did not return false";
    EXPECT_LT(clock.elapsed(), 5000);
}

}  // namespace

int main(int argc, char** argv) {
    if (std::getenv(kNoBusChild)) {
        QCoreApplication app(argc, argv);
        return zeza::SendDesktopNotification("t", "b") ? 1 : 0;
    }
    testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}

#include "DesktopNotifyBusTest.moc"
