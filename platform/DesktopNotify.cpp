#include "platform/DesktopNotify.h"

#include <utility>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QString>
#include <QStringList>
#include <QVariantMap>

namespace zeza {

namespace {

DesktopNotifyHook g_hook;

}  // namespace

bool SendDesktopNotification(const std::string& titleUtf8, const std::string& bodyUtf8) {
    if (g_hook) return g_hook(titleUtf8, bodyUtf8);
    // Asked of the bus itself, not of the tray: Qt's tray only uses the bus where a status
    // notifier host runs, and alerts must arrive on every desktop.
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return false;
    const QString service = QStringLiteral("org.freedesktop.Notifications");
    // Without the service a call would wait for the bus to try starting one.
    QDBusConnectionInterface* names = bus.interface();
    if (!names || !names->isServiceRegistered(service).value()) return false;
    QDBusMessage call = QDBusMessage::createMethodCall(
        service, QStringLiteral("/org/freedesktop/Notifications"), service, QStringLiteral("Notify"));
    call << QStringLiteral("Zeza") << 0u << QStringLiteral("zeza") << QString::fromStdString(titleUtf8)
         << QString::fromStdString(bodyUtf8) << QStringList() << QVariantMap() << -1;
    // Sent without waiting for the answer: a service that hangs never holds the window.
    return bus.send(call);
}

void SetDesktopNotifyHookForTesting(DesktopNotifyHook hook) {
    g_hook = std::move(hook);
}

}  // namespace zeza
